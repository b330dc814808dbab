// The host program: command-line options, loading and saving the registry
// file, and the front end's WinMain in between.
#ifndef REGSWITCH_HOST_PROGRAM_H
#define REGSWITCH_HOST_PROGRAM_H

#include <cstddef>
#include <ostream>

namespace hostreg {

struct RunReport {
  size_t openHandlesAtEnd = 0;
  bool saved = false;
};

// Exit status 0 for every run the front end completes; 2 for usage errors
// and for files that cannot be read, parsed or saved.
int RunHostProgram(int argc, const char* const* argv, std::ostream& out,
                   std::ostream& err, RunReport* report = nullptr);

}  // namespace hostreg

#endif
