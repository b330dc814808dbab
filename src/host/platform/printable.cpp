#include "host/platform/printable.h"

namespace hostreg {

namespace {

// The character of the valid UTF-8 sequence at text[at], and its length;
// 0 for a byte that starts none (a stray continuation byte, an overlong or
// cut form, a surrogate, or beyond U+10FFFF).
size_t Decode(std::string_view text, size_t at, uint32_t& character) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) {
    character = lead;
    return 1;
  }
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > text.size()) return 0;
  uint32_t c = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    c = c << 6 | (next & 0x3F);
  }
  static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    return 0;
  character = c;
  return length;
}

}  // namespace

bool EscapedOnTerminal(uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x061C || c == 0x200E ||
         c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

std::string EscapeOf(uint32_t c) {
  if (c == '\n') return "\\n";
  if (c == '\r') return "\\r";
  if (c == '\t') return "\\t";
  static const char kHex[] = "0123456789abcdef";
  std::string out = c < 0x100 ? "\\x" : "\\u";
  for (int shift = c < 0x100 ? 4 : 12; shift >= 0; shift -= 4)
    out += kHex[(c >> shift) & 0xF];
  return out;
}

std::string Printable(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    uint32_t c = 0;
    const size_t length = Decode(text, at, c);
    if (length == 0) {
      shown += EscapeOf(static_cast<unsigned char>(text[at]));
      ++at;
      continue;
    }
    if (EscapedOnTerminal(c))
      shown += EscapeOf(c);
    else
      shown.append(text.substr(at, length));
    at += length;
  }
  return shown;
}

}  // namespace hostreg
