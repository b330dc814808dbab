// Finding where lines end (CR or LF) in .reg text, 16 bytes at a time, and,
// for the stretch ahead of a whole file's reader, in one pass with the NUL
// bytes that make the editor refuse the file.
#ifndef REGSWITCH_HOST_FORMATS_REG_LINE_ENDS_H
#define REGSWITCH_HOST_FORMATS_REG_LINE_ENDS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/formats/reg/reg_text.h"

namespace hostreg {

// The first CR or LF unit at or after `from`; the text's size when none.
// In UTF-16 text only a whole unit 000D or 000A counts.
size_t NextLineEnd(Units8 text, size_t from);
size_t NextLineEnd(Units16 text, size_t from);

// The line ends of a stretch of the text, one bit a unit, for a reader that
// goes front to back: it holds the last kSpan units scanned.
class LineEndMap {
 public:
  static constexpr size_t kSpan = 16 << 20;

  // Marks the line ends in [from, to), which carries on where the last
  // scan ended; the first NUL unit there, or kNoSection.
  size_t Scan(Units8 text, size_t from, size_t to);
  size_t Scan(Units16 text, size_t from, size_t to);
  // The first line end at or after `from` (which is at most kSpan / 2 behind
  // the last scan's end) that lies within what was scanned; kNoSection
  // when there is none there.
  size_t Next(size_t from) const;
  size_t scannedTo() const { return to_; }

 private:
  template <class U>
  size_t ScanUnits(U text, size_t from, size_t to);
  uint64_t& Word(size_t at) { return bits_[(at / 64) % bits_.size()]; }
  uint64_t Word(size_t at) const { return bits_[(at / 64) % bits_.size()]; }

  std::vector<uint64_t> bits_;
  size_t to_ = 0;
};

}  // namespace hostreg

#endif
