// The host program: its command line read and checked, then the run it
// asks for, over registry files or a disk image, through one registry
// session.
#ifndef REGSWITCH_HOST_CLI_RUN_H
#define REGSWITCH_HOST_CLI_RUN_H

#include <ostream>

#include "host/platform/platform.h"

namespace hostreg {

// The exit status of a usage error, and of a file or image that cannot be
// read, parsed or saved (it is then as it was).
constexpr int kExitFailure = 2;

// Exit status 0 for every run the front end completes, else kExitFailure.
int RunHostProgram(int argc, const char* const* argv, std::ostream& out,
                   std::ostream& err, Platform& platform);

}  // namespace hostreg

#endif
