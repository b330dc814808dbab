#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <dirent.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "host/platform/platform.h"
#include "host/platform/signals.h"

namespace hostreg {

RealPlatform::RealPlatform(int faultStatus) { signals::Install(faultStatus); }

RealPlatform::~RealPlatform() { signals::Uninstall(); }

// A file it makes is the run's own: readable and writable by its owner.
int RealPlatform::Open(const char* path, int flags) {
  return ::open(path, flags, 0600);
}

int RealPlatform::Close(int fd) { return ::close(fd); }

long RealPlatform::Read(int fd, void* buffer, size_t size) {
  return ::read(fd, buffer, size);
}

long RealPlatform::ReadAt(int fd, void* buffer, size_t size, uint64_t offset) {
  return ::pread(fd, buffer, size, static_cast<off_t>(offset));
}

long RealPlatform::Write(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
}

long RealPlatform::WriteAt(int fd, const void* data, size_t size,
                           uint64_t offset) {
  return ::pwrite(fd, data, size, static_cast<off_t>(offset));
}

int RealPlatform::Resize(int fd, uint64_t size) {
  return ::ftruncate(fd, static_cast<off_t>(size));
}

long RealPlatform::Copy(int from, long long* offset, int to, size_t size) {
  loff_t at = *offset;
  const long n = ::copy_file_range(from, &at, to, nullptr, size, 0);
  *offset = at;
  return n;
}

int RealPlatform::Sync(int fd) { return ::fsync(fd); }

int RealPlatform::Stat(int fd, struct stat* status) {
  return ::fstat(fd, status);
}

int RealPlatform::StatPath(const char* path, struct stat* status) {
  return ::stat(path, status);
}

int RealPlatform::Rename(const char* from, const char* to) {
  return ::rename(from, to);
}

int RealPlatform::RenameNoReplace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (::link(from, to) != 0) return -1;
  return ::unlink(from);
}

int RealPlatform::Remove(const char* path) { return ::unlink(path); }

bool RealPlatform::ResolvePath(const char* path, std::string& resolved) {
  char buffer[PATH_MAX];
  if (::realpath(path, buffer) == nullptr) return false;
  resolved = buffer;
  return true;
}

int RealPlatform::MakeTemporary(std::string& pattern) {
  return signals::MakeListedTemporary(pattern);
}

void RealPlatform::ForgetTemporary(const std::string& path) {
  signals::UnlistTemporary(path);
}

int RealPlatform::SetOwner(int fd, uid_t owner, gid_t group) {
  return ::fchown(fd, owner, group);
}

int RealPlatform::SetMode(int fd, mode_t mode) { return ::fchmod(fd, mode); }

int RealPlatform::MayWrite(const char* path) {
  return ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS);
}

int RealPlatform::SyncFolder(const char* folder) {
  const int dir = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  const int result = ::fsync(dir);
  ::close(dir);
  return result;
}

bool RealPlatform::ListFolder(const char* folder,
                              std::vector<std::string>& names) {
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return true;
}

// The names come as one list of strings each ended by a zero.
bool RealPlatform::CopyAttributes(int from, int to, std::string& which) {
  const ssize_t size = ::flistxattr(from, nullptr, 0);
  if (size < 0) return errno == ENOTSUP;  // none on this file system
  std::vector<char> list(static_cast<size_t>(size) + 1, '\0');
  const ssize_t got = ::flistxattr(from, list.data(), list.size());
  if (got < 0) return false;
  for (size_t at = 0; at < static_cast<size_t>(got);) {
    which = list.data() + at;
    at += which.size() + 1;
    const ssize_t length = ::fgetxattr(from, which.c_str(), nullptr, 0);
    if (length < 0) return false;
    std::vector<char> value(static_cast<size_t>(length) + 1);
    const ssize_t read = ::fgetxattr(from, which.c_str(), value.data(),
                                     value.size());
    if (read < 0 ||
        ::fsetxattr(to, which.c_str(), value.data(),
                    static_cast<size_t>(read), 0) != 0)
      return false;
  }
  which.clear();
  return true;
}

int RealPlatform::Lock(int fd, int operation) { return ::flock(fd, operation); }

// The query sees classic POSIX locks of other processes too, but never
// this process's own.
int RealPlatform::LockHolder(int fd, long& process) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) return -1;
  if (lock.l_type == F_UNLCK) return 0;
  process = lock.l_pid > 0 ? lock.l_pid : 0;
  return 1;
}

void RealPlatform::Sleep(unsigned milliseconds) {
  struct timespec pause;
  pause.tv_sec = milliseconds / 1000;
  pause.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
  ::nanosleep(&pause, nullptr);
}

const char* RealPlatform::Map(int fd, size_t size, const std::string& name) {
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) return nullptr;
  const char* at = static_cast<const char*>(map);
  if (!signals::WatchMapping(at, size, name)) {
    ::munmap(map, size);
    errno = ENOMEM;
    return nullptr;
  }
  return at;
}

void RealPlatform::Unmap(const char* at, size_t size) {
  signals::UnwatchMapping(at);
  ::munmap(const_cast<char*>(at), size);
}

void RealPlatform::Release(const char* at, size_t size) {
  ::madvise(const_cast<char*>(at), size, MADV_DONTNEED);
}

void RealPlatform::DeferStops() { signals::DeferStops(); }

int RealPlatform::PendingStop() const { return signals::PendingStop(); }

void RealPlatform::EndByPendingStop() { signals::EndByPendingStop(); }

long ReadFully(Platform& platform, int fd, char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    const long n = platform.Read(fd, buffer + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<long>(got);
}

long ReadFullyAt(Platform& platform, int fd, char* buffer, size_t size,
                 uint64_t offset) {
  size_t got = 0;
  while (got < size) {
    const long n = platform.ReadAt(fd, buffer + got, size - got, offset + got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<long>(got);
}

int WriteFully(Platform& platform, int fd, std::string_view data) {
  size_t written = 0;
  while (written < data.size()) {
    const long n =
        platform.Write(fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    written += static_cast<size_t>(n);
  }
  return 0;
}

int WriteFullyAt(Platform& platform, int fd, std::string_view data,
                 uint64_t offset) {
  size_t written = 0;
  while (written < data.size()) {
    const long n = platform.WriteAt(fd, data.data() + written,
                                    data.size() - written, offset + written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    written += static_cast<size_t>(n);
  }
  return 0;
}

bool RealPlatform::FreeSpace(const char* path, uint64_t& bytes) {
  struct statvfs fs;
  if (::statvfs(path, &fs) != 0) return false;
  bytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  return true;
}

std::string Reason(int code) { return std::strerror(code); }

}  // namespace hostreg
