// Code page 1252 (Windows' Western code page, what the "A" calls see),
// UTF-16 (Version 5.00 files) and UTF-8 (what a terminal shows).
#ifndef REGSWITCH_HOST_FORMATS_REG_CODEPAGE_H
#define REGSWITCH_HOST_FORMATS_REG_CODEPAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostreg {

uint16_t UnitOf1252(unsigned char byte);
// The 1252 byte of a UTF-16 unit, or -1 when it has none.
int ByteOf1252(uint16_t unit);

// The UTF-16LE unit at `p`.
inline uint16_t ReadUnit(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint16_t ReadUnit(const char* p) {
  return ReadUnit(reinterpret_cast<const unsigned char*>(p));
}
void AppendUnit(std::string& out, uint16_t unit);

// The UTF-16 units of UTF-8 text; a byte that starts no valid sequence
// reads as U+FFFD, as Windows reads it.
void AppendUtf8Units(const unsigned char* p, size_t count,
                     std::vector<uint16_t>& units);

// A name's character that 1252 has no byte for, as the registry holds it
// (kForeignMark and four hex digits).
void AppendForeign(std::string& out, uint16_t unit);

// The UTF-16 units of text in the registry's bytes: 1252 bytes, with names'
// foreign characters held as marks.
std::vector<uint16_t> UnitsOf(const std::string& text);
std::string Utf16Bytes(const std::string& text);
// Value data in 1252 bytes as UTF-16; data holds no marks, whatever bytes
// it carries.
std::string Utf16OfData(const std::string& data);
// UTF-8, pairing surrogates; a lone one becomes U+FFFD.
std::string Utf8Of(const std::vector<uint16_t>& units);
// UTF-16 string data as RegQueryValueExA returns it: 1252 bytes, '?' for
// what has no byte (and then `exact`, if given, is set false).
std::string AnsiOfUtf16(const std::string& bytes, bool* exact = nullptr);
// Whether a name holds half a UTF-16 surrogate pair, which no UTF-8 text
// can hold.
bool HasLoneSurrogate(const std::string& name);

}  // namespace hostreg

#endif
