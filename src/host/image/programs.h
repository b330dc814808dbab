// The programs an image run starts (mtools, qemu-img, qemu-nbd): each a
// process with an argument vector and no shell, in a session of its own,
// its standard output and error captured as one.
#ifndef REGSWITCH_HOST_IMAGE_PROGRAMS_H
#define REGSWITCH_HOST_IMAGE_PROGRAMS_H

#include <string>
#include <vector>

#include "host/platform/platform.h"

namespace hostreg {

struct ProgramResult {
  bool ran = false;      // false: it could not be started (`status` the errno)
  int status = -1;       // its exit status
  bool stopped = false;  // ended early by a stop signal
  std::string output;    // standard output and error, as one
};

// This process's environment with the variables starting with one of
// `drop` left out and `add` added, and messages in English.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& drop,
                                          const std::vector<std::string>& add);

// Runs `argv` with standard input from /dev/null and `extra` as its
// descriptors 3, 4, ... `stoppable`: a stop signal ends it at once (a
// command that only reads); otherwise it runs to its end, even when this
// process ends meanwhile.
ProgramResult RunProgram(Platform& platform,
                         const std::vector<std::string>& argv,
                         const std::vector<std::string>& env,
                         const std::vector<int>& extra, bool stoppable);

// The output on one line, without trailing blanks.
std::string OneLine(std::string text);

}  // namespace hostreg

#endif
