// The run on a disk image (--image): the image locked, the Windows
// installation found in it, its SYSTEM.DAT copied out, the ordinary run
// made on the copy, and the copy written back only when that run saved it.
#ifndef REGSWITCH_HOST_CLI_IMAGE_RUN_H
#define REGSWITCH_HOST_CLI_IMAGE_RUN_H

#include <ostream>

#include "host/cli/options.h"
#include "host/cli/run.h"
#include "host/files/system_calls.h"

namespace hostreg {

// Exit status 2, the image untouched, for an image that cannot be read or
// used (another format, no FAT partition, no Windows folder, no
// SYSTEM.DAT, a file system mtools cannot read, a broken SYSTEM.DAT) and
// for a save that cannot be made; otherwise as the run on a registry file.
int RunOnImage(const Options& options, std::ostream& out, std::ostream& err,
               const SystemCalls& calls, RunReport* report);

}  // namespace hostreg

#endif
