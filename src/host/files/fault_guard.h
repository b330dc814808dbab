// Reading a mapped file that another program shortens raises SIGBUS.
#ifndef REGSWITCH_HOST_FILES_FAULT_GUARD_H
#define REGSWITCH_HOST_FILES_FAULT_GUARD_H

#include <signal.h>

#include <string>

namespace hostreg {

// While one lives, that fault ends the process with a message naming the
// file and exit status `status`, instead of a crash.
class MappedFileFaultGuard {
 public:
  MappedFileFaultGuard(const std::string& path, int status);
  ~MappedFileFaultGuard();
  MappedFileFaultGuard(const MappedFileFaultGuard&) = delete;
  MappedFileFaultGuard& operator=(const MappedFileFaultGuard&) = delete;

 private:
  struct sigaction previous_;
};

}  // namespace hostreg

#endif
