#include "host/files/system_calls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace hostreg {

namespace {

int SystemOpen(const char* path, int flags) { return ::open(path, flags); }
long SystemRead(int fd, void* buffer, size_t size) {
  return ::read(fd, buffer, size);
}
long SystemWrite(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
}
long SystemCopy(int from, long long* offset, int to, size_t size) {
  loff_t at = *offset;
  const long n = ::copy_file_range(from, &at, to, nullptr, size, 0);
  *offset = at;
  return n;
}

void SystemSleep(unsigned milliseconds) {
  struct timespec pause;
  pause.tv_sec = milliseconds / 1000;
  pause.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
  ::nanosleep(&pause, nullptr);
}
int SystemStat(int fd, struct stat* status) { return ::fstat(fd, status); }

const SystemCalls kRealCalls = {SystemOpen, SystemRead,  SystemWrite,
                                SystemCopy, ::fsync,     ::rename,
                                ::flock,    SystemSleep, SystemStat};

}  // namespace

const SystemCalls& RealSystemCalls() { return kRealCalls; }

long ReadFully(const SystemCalls& calls, int fd, char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    const long n = calls.read(fd, buffer + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<long>(got);
}

int WriteFully(const SystemCalls& calls, int fd, std::string_view data) {
  size_t written = 0;
  while (written < data.size()) {
    const long n =
        calls.write(fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    written += static_cast<size_t>(n);
  }
  return 0;
}

std::string Reason(int code) { return std::strerror(code); }

}  // namespace hostreg
