// Text that goes into a message as it is shown on a terminal.
#ifndef REGSWITCH_HOST_PLATFORM_PRINTABLE_H
#define REGSWITCH_HOST_PLATFORM_PRINTABLE_H

#include <cstdint>
#include <string>
#include <string_view>

namespace hostreg {

// Whether a character is written as an escape rather than itself: the C0
// and C1 controls, DEL, and the marks and overrides that turn the
// direction of the text around (U+061C, U+200E/F, U+202A..E, U+2066..9),
// so that no name can forge a line of its own, move the cursor or make
// a message read other than it is.
bool EscapedOnTerminal(uint32_t character);

// The escape for such a character: \n, \r, \t, \xNN below U+0100, \uNNNN
// above.
std::string EscapeOf(uint32_t character);

// UTF-8 `text` with those characters escaped, and each byte that starts
// no valid UTF-8 sequence as \xNN.
std::string Printable(std::string_view text);

}  // namespace hostreg

#endif
