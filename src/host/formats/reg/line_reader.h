// Reading .reg text line by line, as the registry editor splits it: a line
// ends at CR LF, at LF or at a CR alone.
#ifndef REGSWITCH_HOST_FORMATS_REG_LINE_READER_H
#define REGSWITCH_HOST_FORMATS_REG_LINE_READER_H

#include <cstddef>
#include <cstring>
#include <string>

#include "host/formats/reg/reg_text.h"

namespace hostreg {

// Where a line begins and ends in the text, in units.
struct Line {
  size_t begin = 0;    // first unit
  size_t textEnd = 0;  // before the line ending
  size_t end = 0;      // after the line ending
  size_t number = 0;   // 1-based
};

// Finds line ends with memchr: the next CR and the next LF are each looked
// for again only once reading has passed them, so a file with one kind of
// line ending is scanned once for each.
template <class U>
class EndFinder {
 public:
  explicit EndFinder(U text) : text_(text) {}
  size_t Find(size_t from) {
    if (!found_ || cr_ < from) cr_ = Search(0x0D, from);
    if (!found_ || lf_ < from) lf_ = Search(0x0A, from);
    found_ = true;
    return cr_ < lf_ ? cr_ : lf_;
  }
  void Reset() { found_ = false; }

 private:
  // The first unit `c` at or after `from`; the text's size when none.
  size_t Search(unsigned char c, size_t from) const;

  U text_;
  size_t cr_ = 0, lf_ = 0;
  bool found_ = false;
};

template <>
inline size_t EndFinder<Units8>::Search(unsigned char c, size_t from) const {
  const void* at = std::memchr(text_.p + from, c, text_.n - from);
  return at == nullptr ? text_.n
                       : static_cast<size_t>(
                             static_cast<const unsigned char*>(at) - text_.p);
}

// In UTF-16 text, a byte 0A or 0D found with memchr is a line end when it
// is a unit's low byte and its high byte is zero; other hits (units such as
// U+0A0D) are passed over.
template <>
inline size_t EndFinder<Units16>::Search(unsigned char c, size_t from) const {
  const unsigned char* p = text_.p;
  const size_t bytes = 2 * text_.n;
  for (size_t at = 2 * from; at < bytes;) {
    const void* hit = std::memchr(p + at, c, bytes - at);
    if (hit == nullptr) break;
    const size_t byte =
        static_cast<size_t>(static_cast<const unsigned char*>(hit) - p);
    if (byte % 2 == 0 && p[byte + 1] == 0) return byte / 2;
    at = byte + 1;
  }
  return text_.n;
}

// The line ending that ends just before `at`: CR LF, LF or CR; empty when
// the unit there ends no line (or `at` is 0).
inline std::string EndingBefore(const RegText& text, size_t at) {
  if (at == 0) return std::string();
  const uint16_t last = text.UnitAt(at - 1);
  if (last == '\n')
    return at >= 2 && text.UnitAt(at - 2) == '\r' ? "\r\n" : "\n";
  return last == '\r' ? "\r" : std::string();
}

template <class U>
class LineReader {
 public:
  explicit LineReader(U text) : text_(text), ends_(text) {}

  // Reading goes on from the line that starts at `at`, which is line
  // number `number`.
  void Seek(size_t at, size_t number) {
    pos_ = at;
    lineNumber_ = number - 1;
    ends_.Reset();
  }
  // False at the end of the text.
  bool Next(Line& line) {
    if (pos_ >= text_.size()) return false;
    line.begin = pos_;
    line.textEnd = ends_.Find(pos_);
    line.end = line.textEnd;
    if (line.end < text_.size()) {
      if (text_[line.end] == '\r' && line.end + 1 < text_.size() &&
          text_[line.end + 1] == '\n')
        ++line.end;
      ++line.end;
    }
    line.number = ++lineNumber_;
    pos_ = line.end;
    return true;
  }
  size_t position() const { return pos_; }
  const U& text() const { return text_; }

 private:
  U text_;
  EndFinder<U> ends_;
  size_t pos_ = 0;
  size_t lineNumber_ = 0;
};

}  // namespace hostreg

#endif
