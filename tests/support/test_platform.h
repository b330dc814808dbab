// A platform for the tests: the real calls, any of which a test may take
// over with a function of its own, which holds whatever state it needs
// (a count, a file to change meanwhile) in what it captures.
#ifndef REGSWITCH_TESTS_SUPPORT_TEST_PLATFORM_H
#define REGSWITCH_TESTS_SUPPORT_TEST_PLATFORM_H

#include <functional>
#include <string>

#include "host/platform/platform.h"

namespace regtest {

class TestPlatform : public hostreg::RealPlatform {
 public:
  std::function<int(const char* path, int flags)> open;
  std::function<long(int fd, void* buffer, size_t size)> read;
  std::function<long(int fd, void* buffer, size_t size, uint64_t offset)>
      readAt;
  std::function<long(int fd, const void* data, size_t size)> write;
  std::function<long(int from, long long* offset, int to, size_t size)> copy;
  std::function<int(int fd)> sync;
  std::function<int(int fd, struct stat* status)> stat;
  std::function<int(const char* path, struct stat* status)> statPath;
  std::function<int(const char* from, const char* to)> rename;
  std::function<int(const char* from, const char* to)> renameNoReplace;
  std::function<int(int fd, int operation)> lock;
  std::function<void(unsigned milliseconds)> sleep;
  std::function<long(int fd, const void* data, size_t size, uint64_t offset)>
      writeAt;
  std::function<int(const Launch& launch, long& pid)> spawn;
  std::function<int(const char* path)> mayWrite;
  std::function<bool(int from, int to, std::string& which)> copyAttributes;

  int Open(const char* path, int flags) override {
    return open ? open(path, flags) : RealPlatform::Open(path, flags);
  }
  long Read(int fd, void* buffer, size_t size) override {
    return read ? read(fd, buffer, size) : RealPlatform::Read(fd, buffer, size);
  }
  long ReadAt(int fd, void* buffer, size_t size, uint64_t offset) override {
    return readAt ? readAt(fd, buffer, size, offset)
                  : RealPlatform::ReadAt(fd, buffer, size, offset);
  }
  long Write(int fd, const void* data, size_t size) override {
    return write ? write(fd, data, size) : RealPlatform::Write(fd, data, size);
  }
  long Copy(int from, long long* offset, int to, size_t size) override {
    return copy ? copy(from, offset, to, size)
                : RealPlatform::Copy(from, offset, to, size);
  }
  int Sync(int fd) override { return sync ? sync(fd) : RealPlatform::Sync(fd); }
  int Stat(int fd, struct stat* status) override {
    return stat ? stat(fd, status) : RealPlatform::Stat(fd, status);
  }
  int StatPath(const char* path, struct stat* status) override {
    return statPath ? statPath(path, status)
                    : RealPlatform::StatPath(path, status);
  }
  int Rename(const char* from, const char* to) override {
    return rename ? rename(from, to) : RealPlatform::Rename(from, to);
  }
  int RenameNoReplace(const char* from, const char* to) override {
    return renameNoReplace ? renameNoReplace(from, to)
                           : RealPlatform::RenameNoReplace(from, to);
  }
  int Lock(int fd, int operation) override {
    return lock ? lock(fd, operation) : RealPlatform::Lock(fd, operation);
  }
  long WriteAt(int fd, const void* data, size_t size,
               uint64_t offset) override {
    return writeAt ? writeAt(fd, data, size, offset)
                   : RealPlatform::WriteAt(fd, data, size, offset);
  }
  int Spawn(const Launch& launch, long& pid) override {
    return spawn ? spawn(launch, pid) : RealPlatform::Spawn(launch, pid);
  }
  int MayWrite(const char* path) override {
    return mayWrite ? mayWrite(path) : RealPlatform::MayWrite(path);
  }
  bool CopyAttributes(int from, int to, std::string& which) override {
    return copyAttributes ? copyAttributes(from, to, which)
                          : RealPlatform::CopyAttributes(from, to, which);
  }
  void Sleep(unsigned milliseconds) override {
    if (sleep) sleep(milliseconds);
    else RealPlatform::Sleep(milliseconds);
  }
};

}  // namespace regtest

#endif
