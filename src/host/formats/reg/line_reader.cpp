#include "host/formats/reg/line_reader.h"

#include <algorithm>
#include <cstring>

namespace hostreg {

namespace {
constexpr size_t kNulLookahead = 8 << 20;
}  // namespace

bool LineReader::Next(Line& line) {
  if (pos_ >= text_.size() || failed()) return false;
  line.begin = pos_;
  const void* nl = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
  if (nl == nullptr) {
    line.textEnd = line.end = text_.size();
  } else {
    line.textEnd =
        static_cast<size_t>(static_cast<const char*>(nl) - text_.data());
    line.end = line.textEnd + 1;
  }
  if (line.textEnd > line.begin && text_[line.textEnd - 1] == '\r')
    --line.textEnd;
  line.number = ++lineNumber_;
  pos_ = line.end;
  if (findNul_) FindNulAhead(line.end);
  if (firstNul_ < line.end)
    return Fail(line.number, "a NUL byte; this is not a text registry export");
  return true;
}

void LineReader::FindNulAhead(size_t from) {
  if (firstNul_ != std::string::npos || nulCheckedTo_ >= from) return;
  const size_t to = std::min(text_.size(), from + kNulLookahead);
  const void* nul =
      std::memchr(text_.data() + nulCheckedTo_, '\0', to - nulCheckedTo_);
  if (nul != nullptr)
    firstNul_ =
        static_cast<size_t>(static_cast<const char*>(nul) - text_.data());
  nulCheckedTo_ = to;
}

bool LineReader::Fail(size_t lineNumber, const std::string& why) {
  if (error_.empty())
    error_ = name_ + ":" + std::to_string(lineNumber) + ": " + why;
  return false;
}

}  // namespace hostreg
