#include "host/image/mtools.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/platform/platform.h"

extern char** environ;

namespace hostreg {

namespace {

// The child's pipes and image are moved this high before it starts, so
// that putting them at 1, 2 and 3 in the child overwrites none of them.
constexpr int kHighFd = 10;
constexpr int kImageFdInChild = 3;

int MoveHigh(int fd) {
  if (fd < 0 || fd >= kHighFd) return fd;
  const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, kHighFd);
  ::close(fd);
  return high;
}

bool Pipe(int ends[2]) {
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  ends[0] = MoveHigh(ends[0]);
  ends[1] = MoveHigh(ends[1]);
  if (ends[0] >= 0 && ends[1] >= 0) return true;
  const int code = errno;
  for (int i = 0; i < 2; ++i)
    if (ends[i] >= 0) ::close(ends[i]);
  errno = code;
  return false;
}

// This process's environment without the user's mtools settings, with
// the check of the volume's geometry off (images of any size are not the
// floppies it is meant for) and messages in English.
std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string var = *e;
    if (var.compare(0, 6, "MTOOLS") != 0 && var.compare(0, 7, "LC_ALL=") != 0)
      env.push_back(var);
  }
  env.push_back("MTOOLS_SKIP_CHECK=1");
  env.push_back("LC_ALL=C");
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(&word[0]);
  pointers.push_back(nullptr);
  return pointers;
}

// In the child: a session of its own, so that no terminal's signal and no
// end of ours stops it; no terminal to ask questions on; the image as fd 3.
[[noreturn]] void StartChild(char* const argv[], char* const envp[], int image,
                             int out, int report) {
  ::setsid();
  const int null = ::open("/dev/null", O_RDONLY);
  if (null > 0) {
    ::dup2(null, 0);
    ::close(null);
  }
  ::dup2(out, 1);
  ::dup2(out, 2);
  ::dup2(image, kImageFdInChild);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  ::close_range(kImageFdInChild + 1, ~0U, CLOSE_RANGE_CLOEXEC);
  ::execvpe(argv[0], argv, envp);
  const int code = errno;
  ssize_t ignored = ::write(report, &code, sizeof code);
  (void)ignored;
  ::_exit(127);
}

// Reads the child's output to its end. A stop signal ends a command that
// only reads at once.
void Collect(pid_t pid, int from, bool writes, const Platform& stop,
             Mtools::Result& result) {
  char buffer[4096];
  for (;;) {
    if (!writes && stop.PendingStop() != 0 && !result.stopped) {
      ::kill(pid, SIGKILL);
      result.stopped = true;
    }
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got > 0) {
      result.output.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      return;
    }
  }
}

int Wait(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  for (char& c : text)
    if (c == '\n') c = ';';
  return text;
}

}  // namespace

Mtools::Mtools(int imageFd, const std::string& workFolder,
               const Platform& stop)
    : imageFd_(::fcntl(imageFd, F_DUPFD_CLOEXEC, kHighFd)),
      workFolder_(workFolder),
      stop_(stop) {}

Mtools::~Mtools() {
  if (imageFd_ >= 0) ::close(imageFd_);
}

bool Mtools::Available(std::string& error) {
  const char* path = std::getenv("PATH");
  const std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  for (const char* command : {"mattrib", "mcopy", "mdel", "mren"}) {
    bool found = false;
    for (size_t at = 0; at <= folders.size() && !found;) {
      const size_t end = std::min(folders.find(':', at), folders.size());
      const std::string folder = end > at ? folders.substr(at, end - at) : ".";
      found = ::access((folder + "/" + command).c_str(), X_OK) == 0;
      at = end + 1;
    }
    if (!found) {
      error = std::string("mtools is missing (Debian package mtools): no ") +
              command + " on PATH";
      return false;
    }
  }
  return true;
}

std::string Mtools::VolumePath(const std::string& dosPath) {
  std::string path = "::" + dosPath;
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

Mtools::Result Mtools::Run(const char* command, const FatVolume& volume,
                           const std::vector<std::string>& args,
                           bool writes) const {
  std::vector<std::string> words{command, "-i",
                                 "/proc/self/fd/" +
                                     std::to_string(kImageFdInChild) + "@@" +
                                     std::to_string(volume.offset)};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<std::string> env = ChildEnvironment();
  const std::vector<char*> argv = Pointers(words);
  const std::vector<char*> envp = Pointers(env);
  Result result;
  int out[2], report[2];
  if (imageFd_ < 0 || !Pipe(out)) {
    result.status = errno;
    return result;
  }
  if (!Pipe(report)) {
    result.status = errno;
    ::close(out[0]);
    ::close(out[1]);
    return result;
  }
  const pid_t pid = ::fork();
  if (pid == 0)
    StartChild(argv.data(), envp.data(), imageFd_, out[1], report[1]);
  const int forkError = errno;
  ::close(out[1]);
  ::close(report[1]);
  if (pid > 0) Collect(pid, out[0], writes, stop_, result);
  int code = pid > 0 ? 0 : forkError;
  if (pid > 0 && ::read(report[0], &code, sizeof code) != sizeof code) code = 0;
  ::close(out[0]);
  ::close(report[0]);
  const int status = pid > 0 ? Wait(pid) : -1;
  result.ran = code == 0;
  result.status = result.ran ? status : code;
  return result;
}

std::string Mtools::Failure(const char* command, const Result& result) {
  if (result.ran) return std::string(command) + ": " + Trimmed(result.output);
  if (result.status == ENOENT)
    return "mtools is missing (Debian package mtools): cannot run " +
           std::string(command);
  return std::string("cannot run ") + command + ": " + Reason(result.status);
}

VolumeFiles::Lookup Mtools::Find(const FatVolume& volume,
                                 const std::string& path, std::string& reason) {
  const Result result = Run("mattrib", volume, {VolumePath(path)}, false);
  if (result.ran && result.status == 0) return Lookup::kFound;
  if (result.ran && result.output.find("not found") != std::string::npos)
    return Lookup::kMissing;
  reason = Failure("mattrib", result);
  return Lookup::kBroken;
}

VolumeFiles::Lookup Mtools::Read(const FatVolume& volume,
                                 const std::string& path, size_t limit,
                                 std::string& bytes, std::string& reason) {
  const std::string copy = workFolder_ + "/READ.TMP";
  const Result result =
      Run("mcopy", volume, {"-n", VolumePath(path), copy}, false);
  if (!result.ran || result.status != 0) {
    if (result.ran && result.output.find("not found") != std::string::npos)
      return Lookup::kMissing;
    reason = Failure("mcopy", result);
    return Lookup::kBroken;
  }
  struct stat st;
  Lookup found = Lookup::kMissing;
  if (::lstat(copy.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<size_t>(st.st_size) <= limit) {
    std::ifstream in(copy, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    bytes = text.str();
    found = Lookup::kFound;
  }
  ::unlink(copy.c_str());
  return found;
}

}  // namespace hostreg
