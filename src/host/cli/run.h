// The host program: command-line options, loading and saving the registry
// file, and the front end's WinMain in between.
#ifndef REGSWITCH_HOST_PROGRAM_H
#define REGSWITCH_HOST_PROGRAM_H

#include <signal.h>

#include <cstddef>
#include <ostream>
#include <string>

namespace hostreg {

struct RunReport {
  size_t openHandlesAtEnd = 0;
  bool saved = false;
};

// While one lives, the fault that reading a mapped registry file raises when
// another program has shortened it (SIGBUS) ends the process with a message
// that names the file and exit status 2, instead of a crash.
class MappedFileFaultGuard {
 public:
  explicit MappedFileFaultGuard(const std::string& path);
  ~MappedFileFaultGuard();
  MappedFileFaultGuard(const MappedFileFaultGuard&) = delete;
  MappedFileFaultGuard& operator=(const MappedFileFaultGuard&) = delete;

 private:
  struct sigaction previous_;
};

// Exit status 0 for every run the front end completes; 2 for usage errors
// and for files that cannot be read, parsed or saved.
int RunHostProgram(int argc, const char* const* argv, std::ostream& out,
                   std::ostream& err, RunReport* report = nullptr);

}  // namespace hostreg

#endif
