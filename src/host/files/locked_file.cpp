#include "host/files/locked_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace hostreg {

namespace {

// Polling for the lock: flock(2) cannot wait for a bounded time itself.
constexpr unsigned kFirstStep = 2;
constexpr unsigned kLongestStep = 100;
constexpr unsigned kNoticeAfter = 1000;
// Each time the lock is won on a file that another run has meanwhile
// replaced, the new file is locked instead; a program that replaces it
// without end is given up on.
constexpr int kMostReplacements = 1000;

// Reading the file again for the check before a save; not zero-filled.
constexpr size_t kCheckBlock = 1 << 20;

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

LockedFile::~LockedFile() {
  if (fd_ >= 0) platform_.Close(fd_);
}

// Without blocking, so that a FIFO or a device named by mistake is refused
// instead of waiting for a writer.
bool LockedFile::Open(std::string& error) {
  fd_ = platform_.Open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    error = path_ + ": cannot open: " + Reason(errno);
    return false;
  }
  struct stat st;
  if (platform_.Stat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    platform_.Close(fd_);
    fd_ = -1;
    error = path_ + ": not a regular file";
    return false;
  }
  return true;
}

// 0 when the lock is held or the file system has none; EWOULDBLOCK when
// the wait ran out.
int LockedFile::Lock(Access access, const Waiting& waiting,
                     std::string& error) {
  const int operation = (access == Access::kWrite ? LOCK_EX : LOCK_SH) | LOCK_NB;
  unsigned waited = 0;
  unsigned step = kFirstStep;
  bool noticed = false;
  for (;;) {
    if (platform_.Lock(fd_, operation) == 0) return 0;
    if (errno == EINTR) continue;
    // No locks on this file system (ENOLCK, EOPNOTSUPP; EBADF for an
    // exclusive lock through NFS on a file opened to read).
    if (errno != EWOULDBLOCK) return 0;
    if (waited >= waiting.limitMilliseconds) {
      error = path_ + ": another run (or program) has held a lock on the file "
              "for " + std::to_string((waited + 500) / 1000) +
              " seconds; nothing was changed";
      return EWOULDBLOCK;
    }
    if (!noticed && waited >= kNoticeAfter && waiting.notice) {
      waiting.notice();
      noticed = true;
    }
    platform_.Sleep(step);
    waited += step;
    step = std::min(step * 2, kLongestStep);
  }
}

bool LockedFile::StillAtPath() const {
  struct stat named, held;
  return platform_.StatPath(path_.c_str(), &named) == 0 &&
         platform_.Stat(fd_, &held) == 0 && named.st_dev == held.st_dev &&
         named.st_ino == held.st_ino;
}

bool LockedFile::Acquire(const std::string& path, Access access,
                         const Waiting& waiting, std::string& error) {
  path_ = path;
  for (int replaced = 0;; ++replaced) {
    if (!Open(error) || Lock(access, waiting, error) != 0) return false;
    // The run we waited for renamed its new file over this one: that file
    // is the registry now.
    if (StillAtPath()) break;
    platform_.Close(fd_);
    fd_ = -1;
    if (replaced == kMostReplacements) {
      error = path_ + ": another program keeps replacing the file";
      return false;
    }
  }
  if (!Stat(version_)) {
    error = path_ + ": cannot read: " + Reason(errno);
    return false;
  }
  return true;
}

bool LockedFile::OpenUnlocked(const std::string& path, std::string& error) {
  path_ = path;
  if (!Open(error)) return false;
  if (Stat(version_)) return true;
  error = path_ + ": cannot read: " + Reason(errno);
  return false;
}

bool LockedFile::ReadHead(size_t count, std::string& head,
                          std::string& error) {
  head.assign(count, '\0');
  const long got = ReadFullyAt(platform_, fd_, &head[0], count, 0);
  if (got < 0) {
    error = path_ + ": cannot read: " + Reason(errno);
    return false;
  }
  head.resize(static_cast<size_t>(got));
  return true;
}

// A file that tells no size (an empty one, or one of /proc), or that
// cannot be mapped, is read to its end.
std::shared_ptr<const FileBytes> LockedFile::Read(bool map,
                                                  const std::string& name,
                                                  std::string& error) {
  const size_t size = static_cast<size_t>(version_.size);
  if (map && size > 0) bytes_ = FileBytes::Map(platform_, fd_, size, name);
  if (bytes_) return bytes_;
  std::string contents(size + 1, '\0');  // one more, to find the end at once
  size_t got = 0;
  for (;;) {
    if (got == contents.size()) contents.resize(got + 65536);
    const long n = platform_.ReadAt(fd_, &contents[got], contents.size() - got,
                                    got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = path_ + ": cannot read: " + Reason(errno);
      return nullptr;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  contents.resize(got);
  bytes_ = std::make_shared<const FileBytes>(std::move(contents));
  return bytes_;
}

void LockedFile::Seal() {
  if (!bytes_) return;
  checksum_ = bytes_->FullChecksum();
  sealed_ = true;
}

bool LockedFile::Stat(Version& version) const {
  struct stat st;
  if (platform_.Stat(fd_, &st) != 0) return false;
  version.device = st.st_dev;
  version.inode = st.st_ino;
  version.size = st.st_size;
  version.modified = st.st_mtim;
  version.changed = st.st_ctim;
  return true;
}

bool LockedFile::Same(const Version& v) const {
  return v.device == version_.device && v.inode == version_.inode &&
         v.size == version_.size && SameTime(v.modified, version_.modified) &&
         SameTime(v.changed, version_.changed);
}

bool LockedFile::ChecksumNow(uint64_t& checksum) const {
  if (bytes_ && bytes_->mapped()) {
    checksum = bytes_->ChecksumOfFile();
    return true;
  }
  std::unique_ptr<char[]> block(new char[kCheckBlock]);
  Checksum sum;
  for (uint64_t at = 0;;) {
    const long got = platform_.ReadAt(fd_, block.get(), kCheckBlock, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    sum.Add(std::string_view(block.get(), static_cast<size_t>(got)));
    at += static_cast<uint64_t>(got);
  }
  checksum = sum.Value();
  return true;
}

bool LockedFile::SameVersion(std::string& error) const {
  Version now;
  if (StillAtPath() && Stat(now) && Same(now)) return true;
  error = "changed by another program during the run";
  return false;
}

bool LockedFile::Unchanged(std::string& error) const {
  error = "changed by another program during the run";
  Version now;
  if (!StillAtPath() || !Stat(now) || !Same(now)) return false;
  uint64_t checksum = 0;
  if (!ChecksumNow(checksum)) {
    error = "cannot read it again to check it: " + Reason(errno);
    return false;
  }
  // Stat again after reading, for a write while the bytes were read.
  Version after;
  if (!sealed_ || checksum != checksum_ || !Stat(after) || !Same(after))
    return false;
  error.clear();
  return true;
}

}  // namespace hostreg
