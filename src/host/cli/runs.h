// The two runs the command line leads to, once its options are checked.
#ifndef REGSWITCH_HOST_CLI_RUNS_H
#define REGSWITCH_HOST_CLI_RUNS_H

#include <ostream>

#include "host/cli/options.h"
#include "host/platform/platform.h"
#include "host/session/messages.h"

namespace hostreg {

// On registry files (--registry, --user, their merges), or on none.
int RunOnFiles(const Options& options, Platform& platform, std::ostream& out,
               Messages& messages);

// On the registry of a disk image: the image locked, the Windows folder
// found in it, SYSTEM.DAT (and, for a merge, USER.DAT) read out, the
// session run over those bytes, and what it saved written back. Exit status 2, the image untouched, for
// an image that cannot be read or used and for a save that cannot be made.
int RunOnImage(const Options& options, Platform& platform, std::ostream& out,
               Messages& messages);

}  // namespace hostreg

#endif
