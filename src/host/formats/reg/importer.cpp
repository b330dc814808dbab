#include "host/formats/reg/importer.h"

#include <cstring>

namespace hostreg {

namespace {

template <class U>
size_t LineOf(U units, size_t at) {
  LineReader<U> lines(units);
  Line line;
  while (lines.Next(line) && line.end <= at) {
  }
  return line.number;
}

}  // namespace

size_t LineAt(const RegText& text, size_t at) {
  return text.Visit([&](auto u) { return LineOf(u, at); });
}

std::string NulError(const std::string& name, const RegText& text,
                     size_t nul) {
  return name + ":" + std::to_string(LineAt(text, nul)) +
         ": a NUL byte; this is not a text registry export";
}

void SkipNotes::Add(size_t line, const std::string& why) {
  if (lines_.size() == kMaxWarnings) {
    ++more_;
    return;
  }
  lines_.push_back(name_ + ":" + std::to_string(line) +
                   ": skipped, as Windows' importer would: " + why);
}

std::vector<std::string> SkipNotes::Lines() const {
  std::vector<std::string> all = lines_;
  if (more_ > 0)
    all.push_back(name_ + ": " + std::to_string(more_) +
                  " more lines skipped, as Windows' importer would");
  return all;
}

size_t FindNul(const RegText& text, size_t from, size_t to) {
  if (!text.utf16()) {
    const Units8 t = text.Narrow();
    const void* at = std::memchr(t.p + from, 0, to - from);
    return at == nullptr ? kNoSection
                         : static_cast<size_t>(
                               static_cast<const unsigned char*>(at) - t.p);
  }
  // Four units at a time: a word with a zero unit has a lane that borrows.
  const Units16 t = text.Wide();
  size_t i = from;
  for (; i + 4 <= to; i += 4) {
    uint64_t w;
    std::memcpy(&w, t.p + 2 * i, 8);
    if (((w - 0x0001000100010001ull) & ~w & 0x8000800080008000ull) != 0) break;
  }
  for (; i < to; ++i)
    if (t[i] == 0) return i;
  return kNoSection;
}

}  // namespace hostreg
