// Reading .reg text line by line, and keeping the first reason to refuse it
// as "NAME:LINE: why".
#ifndef REGSWITCH_HOST_FORMATS_REG_LINE_READER_H
#define REGSWITCH_HOST_FORMATS_REG_LINE_READER_H

#include <cstddef>
#include <string>
#include <string_view>

namespace hostreg {

// Where a line begins and ends in the text.
struct Line {
  size_t begin = 0;    // first byte
  size_t textEnd = 0;  // before the line ending
  size_t end = 0;      // after the line ending
  size_t number = 0;   // 1-based
};

class LineReader {
 public:
  // With `findNul`, a line that holds a NUL byte is refused: the file is no
  // text. `name` is used in messages only.
  LineReader(const std::string& name, std::string_view text, bool findNul)
      : name_(name), text_(text), findNul_(findNul) {}

  // Reading goes on from the line that starts at `at`.
  void Seek(size_t at) { pos_ = at; }
  // False at the end of the text, or after refusing a line.
  bool Next(Line& line);

  // Keeps the first reason to refuse the text; returns false.
  bool Fail(size_t lineNumber, const std::string& why);
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  void FindNulAhead(size_t from);

  const std::string& name_;
  const std::string_view text_;
  const bool findNul_;
  size_t pos_ = 0;
  size_t lineNumber_ = 0;
  // NUL bytes are looked for a stretch ahead of the line read, so that the
  // file is read once, front to back.
  size_t nulCheckedTo_ = 0;
  size_t firstNul_ = std::string::npos;
  std::string error_;
};

}  // namespace hostreg

#endif
