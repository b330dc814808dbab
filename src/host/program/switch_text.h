// What WinMain makes of switch text that a person may not have meant: the
// host program warns, and WinMain reads the text as it always does.
#ifndef REGSWITCH_HOST_PROGRAM_SWITCH_TEXT_H
#define REGSWITCH_HOST_PROGRAM_SWITCH_TEXT_H

#include <string>
#include <vector>

namespace hostreg {

// A line each: a value read as off although it says something (/DMA:on,
// /DMA:01, /DMA:yes), or read as on although it says more (/DMA:1x), and a
// switch given twice with different values (the one WinMain takes named).
// None for a text with a help switch, which runs no switch at all.
std::vector<std::string> SwitchTextWarnings(const std::string& tail);

}  // namespace hostreg

#endif
