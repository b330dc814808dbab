#include "host/formats/reg/text.h"

namespace hostreg {

namespace {

constexpr std::array<signed char, 256> MakeHexTable() {
  std::array<signed char, 256> value{};
  for (int c = 0; c < 256; ++c) value[c] = -1;
  for (int d = 0; d < 10; ++d) value['0' + d] = static_cast<signed char>(d);
  for (int d = 0; d < 6; ++d) {
    value['a' + d] = static_cast<signed char>(10 + d);
    value['A' + d] = static_cast<signed char>(10 + d);
  }
  return value;
}

}  // namespace

const std::array<signed char, 256> kHexDigitValue = MakeHexTable();

bool ParseHexNumber(std::string_view digits, size_t maxDigits,
                    uint32_t& value) {
  if (digits.empty() || digits.size() > maxDigits) return false;
  value = 0;
  for (char c : digits) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    value = value * 16 + static_cast<uint32_t>(d);
  }
  return true;
}

bool StartsWithWord(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (UpperAscii(text[i]) != UpperAscii(word[i])) return false;
  return true;
}

}  // namespace hostreg
