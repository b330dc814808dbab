// A loaded .reg file's text, kept as it was read: keys and values refer
// into it, and saving splices changes into its bytes.
//
// A UTF-16 file is read through a narrow copy with one byte per UTF-16 code
// unit (see NarrowUnits). Offsets in the copy map onto the file as
// 2 + 2 * offset, so both formats share the parser and the splicing.
#ifndef REGSWITCH_HOST_FORMATS_REG_REG_TEXT_H
#define REGSWITCH_HOST_FORMATS_REG_REG_TEXT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/files/file_bytes.h"

namespace hostreg {

constexpr size_t kNoSection = static_cast<size_t>(-1);

// Where each key's lines start: the offset of every key line that names
// it, by key number. Most keys have one; a large export has a million, so
// the first is kept in six bytes in chunks that never move.
class SectionTable {
 public:
  void Add(uint32_t keyId, size_t at);
  size_t First(uint32_t keyId) const;
  std::vector<size_t> All(uint32_t keyId) const;

 private:
  static constexpr uint32_t kChunkBits = 14;
  static constexpr uint32_t kChunk = 1u << kChunkBits;
  std::vector<std::unique_ptr<uint32_t[]>> low_;
  std::vector<std::unique_ptr<uint16_t[]>> high_;
  std::unordered_map<uint32_t, std::vector<size_t>> more_;
};

class RegText {
 public:
  // Makes the narrow copy of a UTF-16 file as it goes, letting the file's
  // pages go behind it.
  RegText(std::shared_ptr<const FileBytes> bytes, bool utf16);

  // What the parser reads: the file itself, or a UTF-16 file's narrow copy.
  std::string_view Text() const { return utf16_ ? narrow_ : contents_; }
  // The file's own bytes.
  std::string_view Contents() const { return contents_; }
  const FileBytes* Bytes() const { return bytes_.get(); }
  bool utf16() const { return utf16_; }
  // The UTF-16 unit behind Text() offset `at`.
  uint16_t UnitAt(size_t at) const;
  // Where Text() offset `at` is in the file.
  size_t FileOffset(size_t at) const { return utf16_ ? 2 + 2 * at : at; }
  // Lets the file's pages before Text() offset `at` go from memory.
  void ReleaseBefore(size_t at) const { bytes_->Release(0, FileOffset(at)); }

  // Text as the registry holds it (names' foreign characters as marks) and
  // the same stretch as the file holds it.
  std::string_view Name(size_t at, size_t length, std::string& scratch) const;
  // The stretch as UTF-8 or 1252 text, for messages.
  std::string Shown(size_t begin, size_t end) const;
  // Whether two equally long stretches hold the same characters: in a
  // UTF-16 file the units themselves, as the narrow copy folds all foreign
  // ones into one byte.
  bool SameText(size_t a, size_t b, size_t length) const;

  SectionTable& sections() { return sections_; }
  const SectionTable& sections() const { return sections_; }

 private:
  std::shared_ptr<const FileBytes> bytes_;
  std::string_view contents_;
  bool utf16_;
  // Every byte of the narrow copy is written, so it is allocated without
  // being cleared first.
  std::unique_ptr<char[]> narrowBytes_;
  std::string_view narrow_;
  SectionTable sections_;
};

}  // namespace hostreg

#endif
