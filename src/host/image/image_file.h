// The disk image file itself: whether a running emulator has it open, and
// whether the run may write it.
#ifndef REGSWITCH_HOST_IMAGE_IMAGE_FILE_H
#define REGSWITCH_HOST_IMAGE_IMAGE_FILE_H

#include <string>

#include "host/platform/platform.h"

namespace hostreg {

// What holds a POSIX or open file description lock on the file at `fd`
// ("process 1234", "another program"), or "" when nothing does. QEMU locks
// the images of the machine it runs this way.
std::string OtherProgramsLock(Platform& platform, int fd);

// Whether the run may write the image open at `fd`: refused, as a careful
// editor does, when its owner has no write permission (also for root), or
// when this user may not write it. False and what to do otherwise.
bool MayWriteImage(Platform& platform, int fd, std::string& error);

}  // namespace hostreg

#endif
