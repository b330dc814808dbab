#include "host/formats/reg/reg_text.h"

#include <algorithm>
#include <cstring>

#include "host/formats/reg/codepage.h"

namespace hostreg {

RegText::RegText(std::shared_ptr<const FileBytes> bytes, Encoding encoding,
                 size_t bomSize)
    : bytes_(std::move(bytes)),
      contents_(bytes_->View()),
      encoding_(encoding),
      bom_(bomSize),
      units_((contents_.size() - bomSize) / (encoding == Encoding::kUtf16 ? 2 : 1)) {}

Units8 RegText::Narrow() const {
  return {reinterpret_cast<const unsigned char*>(contents_.data()) + bom_,
          units_};
}

Units16 RegText::Wide() const {
  return {reinterpret_cast<const unsigned char*>(contents_.data()) + bom_,
          units_};
}

uint16_t RegText::UnitAt(size_t at) const {
  return utf16() ? Wide()[at] : Narrow()[at];
}

bool RegText::Append(std::string& out, size_t begin, size_t end,
                     bool name) const {
  if (encoding_ == Encoding::kAnsi) {
    out.append(contents_.data() + bom_ + begin, end - begin);
    return true;
  }
  std::vector<uint16_t> units;
  if (utf16()) {
    // Written as ASCII in one pass, as nearly all text is; taken back
    // otherwise.
    const Units16 wide = Wide();
    const size_t old = out.size();
    out.resize(old + (end - begin));
    uint16_t high = 0;
    for (size_t i = begin; i < end; ++i) {
      const uint16_t unit = wide[i];
      high |= unit;
      out[old + (i - begin)] = static_cast<char>(unit);
    }
    if (high < 0x80) return true;
    out.resize(old);
    for (size_t i = begin; i < end; ++i) units.push_back(wide[i]);
  } else {
    AppendUtf8Units(Narrow().p + begin, end - begin, units);
  }
  bool exact = true;
  for (uint16_t unit : units) {
    const int byte = ByteOf1252(unit);
    if (byte >= 0) {
      out += static_cast<char>(byte);
    } else if (name) {
      AppendForeign(out, unit);
    } else {
      out += '?';  // what RegQueryValueExA gives for it
      exact = false;
    }
  }
  return exact;
}

void RegText::AppendName(std::string& out, size_t begin, size_t end) const {
  Append(out, begin, end, true);
}

bool RegText::AppendData(std::string& out, size_t begin, size_t end) const {
  return Append(out, begin, end, false);
}

std::string_view RegText::Name(size_t at, size_t length,
                               std::string& scratch) const {
  if (encoding_ == Encoding::kAnsi)
    return std::string_view(contents_.data() + bom_ + at, length);
  scratch.clear();
  AppendName(scratch, at, at + length);
  return scratch;
}

size_t RegText::CharCount(size_t begin, size_t end) const {
  if (encoding_ != Encoding::kUtf8) return end - begin;
  // As Windows decodes it, a byte that starts no valid sequence one U+FFFD.
  std::vector<uint16_t> units;
  AppendUtf8Units(Narrow().p + begin, end - begin, units);
  return units.size();
}

// Eight bytes at a time: key lines share most of their bytes.
size_t RegText::SharedUnits(size_t a, size_t b, size_t length) const {
  const char* pa = contents_.data() + FileOffset(a);
  const char* pb = contents_.data() + FileOffset(b);
  const size_t bytes = width() * length;
  size_t i = 0;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__  // the lowest byte comes first
  for (; i + 8 <= bytes; i += 8) {
    uint64_t wa, wb;
    std::memcpy(&wa, pa + i, 8);
    std::memcpy(&wb, pb + i, 8);
    if (wa != wb) {
      i += static_cast<size_t>(__builtin_ctzll(wa ^ wb)) / 8;
      return i / width();
    }
  }
#endif
  while (i < bytes && pa[i] == pb[i]) ++i;
  return i / width();
}

}  // namespace hostreg
