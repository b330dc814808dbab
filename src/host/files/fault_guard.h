// Signals that end a run: reading a mapped file that another program
// shortens raises SIGBUS, and a user may stop a run while it saves. Neither
// may leave a crash or a temporary file behind.
#ifndef REGSWITCH_HOST_FILES_FAULT_GUARD_H
#define REGSWITCH_HOST_FILES_FAULT_GUARD_H

#include <signal.h>

#include <string>

namespace hostreg {

// While one lives, that fault ends the process with a message naming the
// file and exit status `status`, instead of a crash, and removes the
// temporary file of a save under way.
class MappedFileFaultGuard {
 public:
  MappedFileFaultGuard(const std::string& path, int status);
  ~MappedFileFaultGuard();
  MappedFileFaultGuard(const MappedFileFaultGuard&) = delete;
  MappedFileFaultGuard& operator=(const MappedFileFaultGuard&) = delete;

 private:
  struct sigaction previous_;
};

// A save's temporary file, removed when SIGINT, SIGTERM, SIGHUP or SIGQUIT
// ends the process while it exists (the signal then ends the process as it
// would have). A file too large for the user's limit fails its write
// instead of raising SIGXFSZ, so that the save fails as any other.
class TemporaryFileCleanup {
 public:
  static constexpr int kSignals = 5;

  TemporaryFileCleanup();
  ~TemporaryFileCleanup();
  TemporaryFileCleanup(const TemporaryFileCleanup&) = delete;
  TemporaryFileCleanup& operator=(const TemporaryFileCleanup&) = delete;

  // mkstemp(3) with `pattern`, the file to be removed from the moment it
  // exists: the fd, or -1 with errno set.
  int Create(std::string& pattern);
  // The file is gone (renamed or removed): nothing left to remove.
  void Forget();

 private:
  struct sigaction previous_[kSignals];
};

}  // namespace hostreg

#endif
