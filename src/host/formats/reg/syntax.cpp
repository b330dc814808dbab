#include "host/formats/reg/syntax.h"

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

}  // namespace hostreg
