#include "host/formats/reg/reg_text.h"

#include <algorithm>
#include <cstring>

#include "host/formats/reg/codepage.h"

namespace hostreg {

namespace {

// How far the narrow copy is made before the file's pages behind it go.
constexpr size_t kStretch = 8 << 20;
constexpr uint64_t kNone48 = 0xFFFFFFFFFFFFull;

}  // namespace

void SectionTable::Add(uint32_t keyId, size_t at) {
  const uint32_t chunk = keyId >> kChunkBits;
  while (low_.size() <= chunk) {
    low_.push_back(std::make_unique<uint32_t[]>(kChunk));
    high_.push_back(std::make_unique<uint16_t[]>(kChunk));
    std::fill_n(low_.back().get(), kChunk, 0xFFFFFFFFu);
    std::fill_n(high_.back().get(), kChunk, 0xFFFF);
  }
  if (First(keyId) != kNoSection) {
    more_[keyId].push_back(at);
    return;
  }
  low_[chunk][keyId & (kChunk - 1)] = static_cast<uint32_t>(at);
  high_[chunk][keyId & (kChunk - 1)] =
      static_cast<uint16_t>(static_cast<uint64_t>(at) >> 32);
}

size_t SectionTable::First(uint32_t keyId) const {
  const uint32_t chunk = keyId >> kChunkBits;
  if (chunk >= low_.size()) return kNoSection;
  const uint64_t at =
      static_cast<uint64_t>(high_[chunk][keyId & (kChunk - 1)]) << 32 |
      low_[chunk][keyId & (kChunk - 1)];
  return at == kNone48 ? kNoSection : static_cast<size_t>(at);
}

std::vector<size_t> SectionTable::All(uint32_t keyId) const {
  std::vector<size_t> all;
  const size_t first = First(keyId);
  if (first == kNoSection) return all;
  all.push_back(first);
  auto more = more_.find(keyId);
  if (more != more_.end())
    all.insert(all.end(), more->second.begin(), more->second.end());
  return all;
}

RegText::RegText(std::shared_ptr<const FileBytes> bytes, bool utf16)
    : bytes_(std::move(bytes)), contents_(bytes_->View()), utf16_(utf16) {
  if (!utf16_) return;
  const size_t units = (contents_.size() - 2) / 2;
  narrowBytes_.reset(new char[units]);
  const unsigned char* p =
      reinterpret_cast<const unsigned char*>(contents_.data()) + 2;
  for (size_t i = 0; i < units; i += kStretch) {
    const size_t n = std::min(kStretch, units - i);
    NarrowUnits(p + 2 * i, n, narrowBytes_.get() + i);
    if (n == kStretch) ReleaseBefore(i + n - 1);
  }
  narrow_ = std::string_view(narrowBytes_.get(), units);
}

uint16_t RegText::UnitAt(size_t at) const {
  return ReadUnit(contents_.data() + FileOffset(at));
}

std::string_view RegText::Name(size_t at, size_t length,
                               std::string& scratch) const {
  const std::string_view text = Text();
  // Names of foreign characters are rare; the rest read as they are.
  if (!utf16_ ||
      std::memchr(text.data() + at, kForeignByte, length) == nullptr)
    return text.substr(at, length);
  scratch.clear();
  for (size_t i = at; i < at + length; ++i) {
    const uint16_t unit = UnitAt(i);
    if (text[i] != kForeignByte ||
        unit == static_cast<unsigned char>(kForeignByte))
      scratch += text[i];
    else
      AppendForeign(scratch, unit);
  }
  return scratch;
}

std::string RegText::Shown(size_t begin, size_t end) const {
  if (!utf16_) return std::string(Text().substr(begin, end - begin));
  std::vector<uint16_t> units;
  for (size_t i = begin; i < end; ++i) units.push_back(UnitAt(i));
  return Utf8Of(units);
}

bool RegText::SameText(size_t a, size_t b, size_t length) const {
  if (!utf16_)
    return std::memcmp(contents_.data() + a, contents_.data() + b, length) == 0;
  return std::memcmp(contents_.data() + FileOffset(a),
                     contents_.data() + FileOffset(b), 2 * length) == 0;
}

}  // namespace hostreg
