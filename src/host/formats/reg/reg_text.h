// A loaded .reg file's text, kept as it was read: keys and values refer
// into it, and saving splices changes into its bytes.
//
// The parser reads the text in place in whichever encoding it has: 8-bit
// (code page 1252, or UTF-8 after its byte-order mark) one byte a unit, or
// UTF-16LE after its byte-order mark two bytes a unit. Places in the text
// are unit numbers counted from the end of the byte-order mark.
#ifndef REGSWITCH_HOST_FORMATS_REG_REG_TEXT_H
#define REGSWITCH_HOST_FORMATS_REG_REG_TEXT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/files/file_bytes.h"

namespace hostreg {

constexpr size_t kNoSection = static_cast<size_t>(-1);

enum class Encoding { kAnsi, kUtf8, kUtf16 };

// The text as units: bytes, or UTF-16 code units read little-endian.
struct Units8 {
  const unsigned char* p;
  size_t n;
  uint16_t operator[](size_t i) const { return p[i]; }
  size_t size() const { return n; }
};
struct Units16 {
  const unsigned char* p;
  size_t n;
  uint16_t operator[](size_t i) const {
    return static_cast<uint16_t>(p[2 * i] | p[2 * i + 1] << 8);
  }
  size_t size() const { return n; }
};

class RegText {
 public:
  RegText(std::shared_ptr<const FileBytes> bytes, Encoding encoding,
          size_t bomSize);

  // The file's own bytes.
  std::string_view Contents() const { return contents_; }
  const FileBytes* Bytes() const { return bytes_.get(); }
  Encoding encoding() const { return encoding_; }
  bool utf16() const { return encoding_ == Encoding::kUtf16; }
  // Whether hex(1), hex(2) and hex(7) data are UTF-16, as in a file the
  // editor reads as Unicode.
  bool WideStrings() const { return encoding_ != Encoding::kAnsi; }
  size_t size() const { return units_; }
  Units8 Narrow() const;
  Units16 Wide() const;
  // Calls `f` with the text's units view.
  template <class F>
  auto Visit(F&& f) const {
    return utf16() ? f(Wide()) : f(Narrow());
  }
  uint16_t UnitAt(size_t at) const;
  // Where unit `at` is in the file.
  size_t FileOffset(size_t at) const { return bom_ + width() * at; }
  size_t width() const { return utf16() ? 2 : 1; }
  // Lets the file's pages before unit `at` go from memory.
  void ReleaseBefore(size_t at) const { bytes_->Release(0, FileOffset(at)); }
  // Adds the file's bytes up to unit `at` to its checksum (see FileBytes).
  void ChecksumTo(size_t at) const { bytes_->ChecksumTo(FileOffset(at)); }

  // Text as the registry holds it: code page 1252 bytes; a character 1252
  // has no byte for is a mark in a name (see kForeignMark) and '?' in data.
  void AppendName(std::string& out, size_t begin, size_t end) const;
  // False when a character had no byte and became '?'.
  bool AppendData(std::string& out, size_t begin, size_t end) const;
  std::string_view Name(size_t at, size_t length, std::string& scratch) const;
  // How many characters a stretch holds (UTF-16 units).
  size_t CharCount(size_t begin, size_t end) const;
  // How many leading units of two stretches of `length` units are the same.
  size_t SharedUnits(size_t a, size_t b, size_t length) const;

 private:
  bool Append(std::string& out, size_t begin, size_t end, bool name) const;

  std::shared_ptr<const FileBytes> bytes_;
  std::string_view contents_;
  Encoding encoding_;
  size_t bom_;
  size_t units_;
};

}  // namespace hostreg

#endif
