// The registry file as a run holds it: locked from load to save so that
// runs on one file take turns, and fingerprinted, so that a save can tell
// whether another program changed the file meanwhile.
#ifndef REGSWITCH_HOST_FILES_LOCKED_FILE_H
#define REGSWITCH_HOST_FILES_LOCKED_FILE_H

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "host/files/system_calls.h"

namespace hostreg {

class LockedFile {
 public:
  // A run that may save takes the lock alone; runs that only read share it.
  enum class Access { kRead, kWrite };
  struct Waiting {
    unsigned limitMilliseconds;
    // Called once, when the wait has lasted a second.
    std::function<void()> notice;
  };

  explicit LockedFile(const SystemCalls& calls) : calls_(calls) {}
  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // Opens the file and takes its flock(2) lock, waiting while another run
  // holds it, up to the limit; then notes which version of the file it is.
  // Where the file system has no locks the run goes on without one, and the
  // check below still guards the save. False, and `error` names the file,
  // when it cannot be opened or read, or the wait ran out.
  bool Acquire(const std::string& path, Access access, const Waiting& waiting,
               std::string& error);

  // Whether `path` still names the version of the file that was locked: the
  // same file (device and inode), size, modification and change times, and
  // the same bytes (by a checksum of them all, as the times of some file
  // systems are too coarse to show a change). False and why otherwise.
  bool Unchanged(std::string& error) const;

 private:
  struct Version {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified = {};
    struct timespec changed = {};
    uint64_t checksum = 0;
  };

  bool Open(std::string& error);
  int Lock(Access access, const Waiting& waiting, std::string& error);
  bool StillAtPath() const;
  bool Stat(Version& version) const;
  bool Checksum(uint64_t& checksum) const;

  const SystemCalls& calls_;
  std::string path_;
  int fd_ = -1;
  Version version_;
};

}  // namespace hostreg

#endif
