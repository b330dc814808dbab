// Text that goes into a message as it is shown on a terminal.
#ifndef REGSWITCH_HOST_PLATFORM_PRINTABLE_H
#define REGSWITCH_HOST_PLATFORM_PRINTABLE_H

#include <string>
#include <string_view>

namespace hostreg {

// `text` with its control characters written as escapes (\n, \r, \t,
// \x1b...), so that a file name holding a newline cannot forge a
// "FILE:LINE:" line of its own, nor one holding ESC move the cursor.
std::string Printable(std::string_view text);

}  // namespace hostreg

#endif
