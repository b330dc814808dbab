// A file as a run holds it: opened once (without blocking, and only if it
// is a regular file), locked from before it is read until after it is
// saved so that runs on one file take turns, read through that one
// descriptor, and told apart from any later version of it, so that a save
// can tell whether another program changed the file meanwhile.
#ifndef REGSWITCH_HOST_FILES_LOCKED_FILE_H
#define REGSWITCH_HOST_FILES_LOCKED_FILE_H

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "host/files/file_bytes.h"
#include "host/platform/platform.h"

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

  explicit LockedFile(Platform& platform) : platform_(platform) {}
  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // Opens the file and takes its flock(2) lock, waiting while another run
  // holds it, up to the limit. Where the file system has no locks the run
  // goes on without one, and the check below still guards the save. False,
  // and `error` names the file, when it cannot be opened or the wait ran
  // out.
  bool Acquire(const std::string& path, Access access, const Waiting& waiting,
               std::string& error);
  // Opens the file without a lock, for a file the run reads once and
  // never saves (a merge's .reg file).
  bool OpenUnlocked(const std::string& path, std::string& error);

  // The file's first `count` bytes (fewer for a shorter file).
  bool ReadHead(size_t count, std::string& head, std::string& error);
  // The whole file, mapped when `map` and it can be (the fault's message
  // names it `name`), else read whole.
  std::shared_ptr<const FileBytes> Read(bool map, const std::string& name,
                                        std::string& error);
  // Once the bytes are loaded: they are the version the check below
  // compares against, by the checksum the loader took as it read them
  // (completed now over whatever it passed by).
  void Seal();

  // Whether the path still names the version of the file that was read:
  // the same file (device and inode), size, modification and change times,
  // and the same bytes (by their checksum, as the times of some file
  // systems are too coarse to show a change). False and why otherwise.
  bool Unchanged(std::string& error) const;
  // The same without the bytes: the same file, size and times, for a file
  // whose caller checks the parts it depends on itself (a disk image).
  bool SameVersion(std::string& error) const;

  const std::string& path() const { return path_; }
  int fd() const { return fd_; }
  // The size the file had when it was opened.
  size_t size() const { return static_cast<size_t>(version_.size); }
  // What Read gave; null before.
  const FileBytes* bytes() const { return bytes_.get(); }

 private:
  struct Version {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified = {};
    struct timespec changed = {};
  };

  bool Open(std::string& error);
  int Lock(Access access, const Waiting& waiting, std::string& error);
  bool StillAtPath() const;
  bool Stat(Version& version) const;
  bool Same(const Version& version) const;
  bool ChecksumNow(uint64_t& checksum) const;

  Platform& platform_;
  std::string path_;
  int fd_ = -1;
  Version version_;
  std::shared_ptr<const FileBytes> bytes_;
  bool sealed_ = false;
  uint64_t checksum_ = 0;
};

}  // namespace hostreg

#endif
