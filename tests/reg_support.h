// Helpers for the registry file tests: both export formats written as
// readable text in the test (loading them: support/loaded.h).
#ifndef REGSWITCH_REG_SUPPORT_H
#define REGSWITCH_REG_SUPPORT_H

#include <cstdint>
#include <string>

#include "support/loaded.h"

namespace regtest {

// UTF-8 text as a Version 5.00 file's bytes: byte-order mark and UTF-16LE.
inline std::string Utf16(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  auto unit = [&](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>((u >> 8) & 0xFF);
  };
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = c;
    size_t n = 1;
    if (c >= 0xF0) { cp = c & 0x07; n = 4; }
    else if (c >= 0xE0) { cp = c & 0x0F; n = 3; }
    else if (c >= 0xC0) { cp = c & 0x1F; n = 2; }
    for (size_t k = 1; k < n; ++k)
      cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

// The same registry in both formats: "REGEDIT4" or the Version 5.00 header,
// a blank line, then `body` (written with \r\n or \n as the test wants).
inline std::string Reg4(const std::string& body, const char* eol = "\r\n") {
  return std::string("REGEDIT4") + eol + eol + body;
}
inline std::string Reg5(const std::string& body, const char* eol = "\r\n") {
  return Utf16(std::string("Windows Registry Editor Version 5.00") + eol +
               eol + body);
}

}  // namespace regtest

#endif
