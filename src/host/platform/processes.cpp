// RealPlatform's processes and local sockets.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/platform/platform.h"
#include "host/platform/signals.h"

namespace hostreg {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(&word[0]);
  pointers.push_back(nullptr);
  return pointers;
}

// In the child: the descriptors put in place (moved above every number
// they go to first, so that none overwrites another), the rest closed on
// exec; an exec that fails tells its errno through `report`.
[[noreturn]] void StartChild(const Platform::Launch& launch, char* const argv[],
                             std::vector<char*> envp, int report) {
  if (launch.ownSession) ::setsid();
  std::string listenPid = "LISTEN_PID=" + std::to_string(::getpid());
  if (launch.listenPid) envp.insert(envp.end() - 1, &listenPid[0]);
  signals::ForgetInChild();
  const int count = static_cast<int>(launch.fds.size());
  int above = std::max(count, report + 1);
  for (const int fd : launch.fds) above = std::max(above, fd + 1);
  std::vector<int> moved(launch.fds.size(), -1);
  for (int i = 0; i < count; ++i) {
    const int fd =
        launch.fds[i] >= 0 ? launch.fds[i] : ::open("/dev/null", O_RDWR);
    moved[i] = fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, above);
  }
  for (int i = 0; i < count; ++i)
    if (moved[i] >= 0) ::dup2(moved[i], i);
  ::close_range(static_cast<unsigned>(count), ~0U, CLOSE_RANGE_CLOEXEC);
  ::execvpe(argv[0], argv, envp.data());
  const int code = errno;
  ssize_t ignored = ::write(report, &code, sizeof code);
  (void)ignored;
  ::_exit(127);
}

bool LocalAddress(const char* path, struct sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::strcpy(address.sun_path, path);
  return true;
}

}  // namespace

int RealPlatform::Spawn(const Launch& launch, long& pid) {
  std::vector<std::string> argv = launch.argv, env = launch.env;
  const std::vector<char*> args = Pointers(argv);
  const std::vector<char*> envp = Pointers(env);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;
  const pid_t child = ::fork();
  if (child == 0) StartChild(launch, args.data(), envp, report[1]);
  const int forkError = errno;
  ::close(report[1]);
  int code = child > 0 ? 0 : forkError;
  if (child > 0) {
    long got;
    do got = ::read(report[0], &code, sizeof code);
    while (got < 0 && errno == EINTR);
    if (got != sizeof code) code = 0;
  }
  ::close(report[0]);
  if (child > 0 && code != 0) {
    int ignored;
    while (::waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
    }
  }
  pid = child;
  return code;
}

int RealPlatform::Detach(const std::function<int()>& work, long& pid) {
  const pid_t child = ::fork();
  if (child < 0) return errno;
  if (child == 0) {
    ::setsid();
    signals::ForgetInChild();
    ::_exit(work());
  }
  pid = child;
  return 0;
}

int RealPlatform::Wait(long pid, int& status) {
  int raw = 0;
  while (::waitpid(static_cast<pid_t>(pid), &raw, 0) < 0)
    if (errno != EINTR) return -1;
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return 0;
}

int RealPlatform::Kill(long pid, int signal) {
  return ::kill(static_cast<pid_t>(pid), signal);
}

int RealPlatform::Pipe(int ends[2]) { return ::pipe2(ends, O_CLOEXEC); }

bool RealPlatform::OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  const std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  for (size_t at = 0; at <= folders.size();) {
    const size_t end = std::min(folders.find(':', at), folders.size());
    const std::string folder = end > at ? folders.substr(at, end - at) : ".";
    if (::access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    at = end + 1;
  }
  return false;
}

int RealPlatform::Listen(const char* path) {
  struct sockaddr_un address;
  if (!LocalAddress(path, address)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<struct sockaddr*>(&address),
             sizeof address) == 0 &&
      ::listen(fd, 4) == 0)
    return fd;
  const int code = errno;
  ::close(fd);
  errno = code;
  return -1;
}

int RealPlatform::Connect(const char* path) {
  struct sockaddr_un address;
  if (!LocalAddress(path, address)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int result;
  do result = ::connect(fd, reinterpret_cast<struct sockaddr*>(&address),
                        sizeof address);
  while (result != 0 && errno == EINTR);
  if (result == 0) return fd;
  const int code = errno;
  ::close(fd);
  errno = code;
  return -1;
}

}  // namespace hostreg
