// The program's own code run on the host: its front end's WinMain over a
// machine (our registry and where the about box goes). It sits above both
// the program's code and the registry that is the seam's host side, so
// that neither needs the other to link.
#ifndef REGSWITCH_HOST_PROGRAM_PROGRAM_H
#define REGSWITCH_HOST_PROGRAM_PROGRAM_H

#include <string>

#include "host/registry/machine.h"

namespace hostreg {

// WinMain over the machine, with `tail` as Windows would give it: a
// writable string ending in a zero byte.
void RunCommandLine(Machine& machine, const std::string& tail);

// Whether WinMain would open a key for this switch text: a tweak's switch
// and no help switch. Such a run needs a registry to work on.
bool NeedsRegistry(const std::string& tail);

// Whether the text holds a help or a tweak switch anywhere, in any case, as
// WinMain looks for them.
bool HoldsSwitch(const std::string& text);

}  // namespace hostreg

#endif
