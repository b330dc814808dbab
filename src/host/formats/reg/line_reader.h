// Reading .reg text line by line, as the registry editor splits it: a line
// ends at CR LF, at LF or at a CR alone.
#ifndef REGSWITCH_HOST_FORMATS_REG_LINE_READER_H
#define REGSWITCH_HOST_FORMATS_REG_LINE_READER_H

#include <algorithm>
#include <cstddef>
#include <string>

#include "host/formats/reg/line_ends.h"
#include "host/formats/reg/reg_text.h"

namespace hostreg {

// Where a line begins and ends in the text, in units.
struct Line {
  size_t begin = 0;    // first unit
  size_t textEnd = 0;  // before the line ending
  size_t end = 0;      // after the line ending
  size_t number = 0;   // 1-based
};

// Finds line ends: in the stretch a whole file's reader has scanned ahead
// (see LineEndMap), from its map of them; elsewhere by scanning the text.
template <class U>
class EndFinder {
 public:
  EndFinder(U text, const LineEndMap* map) : text_(text), map_(map) {}
  size_t Find(size_t from) const {
    if (map_ != nullptr) {
      if (from < map_->scannedTo()) {
        const size_t end = map_->Next(from);
        if (end != kNoSection) return end;
      }
      from = std::max(from, map_->scannedTo());
    }
    return NextLineEnd(text_, from);
  }

 private:
  U text_;
  const LineEndMap* map_;
};

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
  // `map`: the line ends scanned ahead, or null.
  explicit LineReader(U text, const LineEndMap* map = nullptr)
      : text_(text), ends_(text, map) {}

  // Reading goes on from the line that starts at `at`, which is line
  // number `number`.
  void Seek(size_t at, size_t number) {
    pos_ = at;
    lineNumber_ = number - 1;
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
