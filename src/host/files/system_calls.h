// The system calls that reading and replacing files make, as a table the
// caller passes in: the host program passes the real ones, and the fault
// tests pass calls that fail on purpose.
#ifndef REGSWITCH_HOST_FILES_SYSTEM_CALLS_H
#define REGSWITCH_HOST_FILES_SYSTEM_CALLS_H

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace hostreg {

struct SystemCalls {
  int (*open)(const char* path, int flags);
  long (*read)(int fd, void* buffer, size_t size);
  long (*write)(int fd, const void* data, size_t size);
  // copy_file_range(2) from `from` at `*offset` to `to` at its position.
  long (*copy)(int from, long long* offset, int to, size_t size);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
  // flock(2); the runs' lock on the registry file.
  int (*lock)(int fd, int operation);
  // Waits a while before the next try for the lock.
  void (*sleep)(unsigned milliseconds);
  // fstat(2) of the registry file, which tells one version of it from
  // another.
  int (*fstat)(int fd, struct stat* status);
};

const SystemCalls& RealSystemCalls();

// Reads until `size` bytes are in or the file ends, retrying interrupted
// reads: the count read, or -1 with errno set.
long ReadFully(const SystemCalls& calls, int fd, char* buffer, size_t size);

// Writes all of `data`, retrying interrupted and short writes: 0, or the
// error (ENOSPC for a write that makes no progress).
int WriteFully(const SystemCalls& calls, int fd, std::string_view data);

// The text of an errno value.
std::string Reason(int code);

}  // namespace hostreg

#endif
