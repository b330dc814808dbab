// Small pieces of reading .reg text as the registry editor reads it:
// blanks, hex digits and numbers in the forms its C library accepts.
#ifndef REGSWITCH_HOST_FORMATS_REG_SYNTAX_H
#define REGSWITCH_HOST_FORMATS_REG_SYNTAX_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/win32_types.h"

namespace hostreg {

// The types whose hex(N) data a file read as Unicode carries as UTF-16.
constexpr bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

inline bool IsBlank(uint16_t c) { return c == ' ' || c == '\t'; }

// Each byte's hex digit value, or -1.
extern const std::array<signed char, 256> kHexDigitValue;
inline int HexDigit(uint16_t c) {
  return c < 256 ? kHexDigitValue[c] : -1;
}

// A number read as wcstoul(s, &end, 16) reads it: blanks, a sign, "0x",
// hex digits. `end` is where reading stopped, `from` itself when no digit
// was read; `overflow` when the digits did not fit 32 bits.
struct HexNumber {
  uint32_t value = 0;
  size_t end = 0;
  bool overflow = false;
};

template <class U>
HexNumber ReadHexNumber(const U& text, size_t from, size_t limit) {
  HexNumber n;
  n.end = from;
  size_t at = from;
  while (at < limit && (IsBlank(text[at]) || text[at] == '\v' ||
                        text[at] == '\f'))
    ++at;
  bool negative = false;
  if (at < limit && (text[at] == '+' || text[at] == '-'))
    negative = text[at++] == '-';
  if (at + 2 < limit && text[at] == '0' &&
      (text[at + 1] == 'x' || text[at + 1] == 'X') && HexDigit(text[at + 2]) >= 0)
    at += 2;
  uint64_t value = 0;
  size_t digits = 0;
  for (; at < limit && HexDigit(text[at]) >= 0; ++at, ++digits) {
    value = value * 16 + static_cast<uint64_t>(HexDigit(text[at]));
    if (value > 0xFFFFFFFFull) {
      n.overflow = true;
      value = 0xFFFFFFFFull;
    }
  }
  if (digits == 0) return n;
  n.end = at;
  n.value = static_cast<uint32_t>(value);
  if (negative && !n.overflow) n.value = 0u - n.value;
  return n;
}

}  // namespace hostreg

#endif
