#include "host/files/locked_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "host/files/read_file.h"

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

constexpr size_t kChecksumBlock = 1 << 20;

// The round and the final mix of xxHash64: fast enough to check every byte
// of a large export at memory speed, and any change of a byte shows.
constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ULL;

uint64_t Rotate(uint64_t x, int bits) { return x << bits | x >> (64 - bits); }

uint64_t Round(uint64_t lane, uint64_t word) {
  return Rotate(lane + word * kPrime2, 31) * kPrime1;
}

uint64_t Checksum(const char* data, size_t size, uint64_t seed) {
  uint64_t lane[4] = {seed + kPrime1 + kPrime2, seed + kPrime2, seed,
                      seed - kPrime1};
  size_t at = 0;
  for (; at + 32 <= size; at += 32) {
    for (int i = 0; i < 4; ++i) {
      uint64_t word;
      std::memcpy(&word, data + at + 8 * i, 8);
      lane[i] = Round(lane[i], word);
    }
  }
  uint64_t hash = Rotate(lane[0], 1) + Rotate(lane[1], 7) +
                  Rotate(lane[2], 12) + Rotate(lane[3], 18) + size;
  for (; at < size; ++at)
    hash = Rotate(hash ^ (static_cast<unsigned char>(data[at]) * kPrime3), 11) *
           kPrime1;
  hash ^= hash >> 33;
  hash *= kPrime2;
  hash ^= hash >> 29;
  hash *= kPrime3;
  return hash ^ (hash >> 32);
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

LockedFile::~LockedFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool LockedFile::Open(std::string& error) {
  struct stat st;
  fd_ = OpenRegularFile(calls_, path_, st, error);
  return fd_ >= 0;
}

// 0 when the lock is held or the file system has none; EWOULDBLOCK while
// another run holds it.
int LockedFile::Lock(Access access, const Waiting& waiting,
                     std::string& error) {
  const int operation = (access == Access::kWrite ? LOCK_EX : LOCK_SH) | LOCK_NB;
  unsigned waited = 0;
  unsigned step = kFirstStep;
  bool noticed = false;
  for (;;) {
    if (calls_.lock(fd_, operation) == 0) return 0;
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
    calls_.sleep(step);
    waited += step;
    step = std::min(step * 2, kLongestStep);
  }
}

bool LockedFile::StillAtPath() const {
  struct stat named, held;
  return ::stat(path_.c_str(), &named) == 0 && calls_.fstat(fd_, &held) == 0 &&
         named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

bool LockedFile::Acquire(const std::string& path, Access access,
                         const Waiting& waiting, std::string& error) {
  path_ = path;
  for (int replaced = 0;; ++replaced) {
    if (!Open(error) || Lock(access, waiting, error) != 0) return false;
    // The run we waited for renamed its new file over this one: that file
    // is the registry now.
    if (StillAtPath()) break;
    ::close(fd_);
    fd_ = -1;
    if (replaced == kMostReplacements) {
      error = path_ + ": another program keeps replacing the file";
      return false;
    }
  }
  if (!Stat(version_) || !Checksum(version_.checksum)) {
    error = path_ + ": cannot read: " + Reason(errno);
    return false;
  }
  return true;
}

bool LockedFile::Stat(Version& version) const {
  struct stat st;
  if (calls_.fstat(fd_, &st) != 0) return false;
  version.device = st.st_dev;
  version.inode = st.st_ino;
  version.size = st.st_size;
  version.modified = st.st_mtim;
  version.changed = st.st_ctim;
  return true;
}

bool LockedFile::Checksum(uint64_t& checksum) const {
  if (::lseek(fd_, 0, SEEK_SET) != 0) return false;
  std::vector<char> block(kChecksumBlock);
  checksum = 0;
  for (;;) {
    const long got = ReadFully(calls_, fd_, block.data(), block.size());
    if (got < 0) return false;
    checksum = hostreg::Checksum(block.data(), static_cast<size_t>(got),
                                 checksum);
    if (static_cast<size_t>(got) < block.size()) return true;
  }
}

bool LockedFile::Unchanged(std::string& error) const {
  const auto same = [this](const Version& v) {
    return v.device == version_.device && v.inode == version_.inode &&
           v.size == version_.size &&
           SameTime(v.modified, version_.modified) &&
           SameTime(v.changed, version_.changed);
  };
  error = "changed by another program during the run";
  Version now;
  if (!StillAtPath() || !Stat(now) || !same(now)) return false;
  if (!Checksum(now.checksum)) {
    error = "cannot read it again to check it: " + Reason(errno);
    return false;
  }
  // Stat again after reading, for a write while the bytes were read.
  Version after;
  if (now.checksum != version_.checksum || !Stat(after) || !same(after))
    return false;
  error.clear();
  return true;
}

}  // namespace hostreg
