// Small pieces of reading .reg text: blanks, hex digits and numbers, ASCII
// words without regard to case.
#ifndef REGSWITCH_HOST_FORMATS_REG_TEXT_H
#define REGSWITCH_HOST_FORMATS_REG_TEXT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace hostreg {

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Each byte's hex digit value, or -1: loading checks every byte of every
// hex line, so this is a table rather than comparisons.
extern const std::array<signed char, 256> kHexDigitValue;
inline int HexDigit(char c) {
  return kHexDigitValue[static_cast<unsigned char>(c)];
}

// `digits` as a hex number of 1 to `maxDigits` digits; false for anything
// else.
bool ParseHexNumber(std::string_view digits, size_t maxDigits,
                    uint32_t& value);

// Code page 1252 folds no byte outside ASCII onto an ASCII one, so against
// an ASCII word (dword:, a root's name) folding ASCII letters decides.
inline char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}
// Whether `text` starts with the ASCII `word`, without regard to case.
bool StartsWithWord(std::string_view text, std::string_view word);

}  // namespace hostreg

#endif
