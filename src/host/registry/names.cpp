#include "host/registry/names.h"

#include <cstring>

namespace hostreg {

namespace {

unsigned char FoldByRule(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 0x20);
  // Code page 1252: à..þ fold onto À..Þ (÷ has no capital), and three pairs
  // that live elsewhere.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
    return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;  // š
    case 0x9C: return 0x8C;  // œ
    case 0x9E: return 0x8E;  // ž
    case 0xFF: return 0x9F;  // ÿ
    default: return c;
  }
}

// As a table: loading a large registry folds many names.
struct FoldTable {
  unsigned char folded[256];
  FoldTable() {
    for (int c = 0; c < 256; ++c)
      folded[c] = FoldByRule(static_cast<unsigned char>(c));
  }
};
const FoldTable kFold;

}  // namespace

unsigned char FoldCase(unsigned char c) { return kFold.folded[c]; }

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const unsigned char* pa = reinterpret_cast<const unsigned char*>(a.data());
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(b.data());
  for (size_t i = a.size(); i-- > 0;) {  // names differ most at their ends
    if (pa[i] != pb[i] && kFold.folded[pa[i]] != kFold.folded[pb[i]])
      return false;
  }
  return true;
}

int CompareNames(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int ca = FoldCase(static_cast<unsigned char>(*a));
    const int cb = FoldCase(static_cast<unsigned char>(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

int CompareNames(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int ca = FoldCase(static_cast<unsigned char>(a[i]));
    const int cb = FoldCase(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

uint32_t NameHash(std::string_view name) {
  uint32_t h = 2166136261u;  // FNV-1a over the folded bytes
  for (unsigned char c : name) h = (h ^ kFold.folded[c]) * 16777619u;
  return h;
}

std::string AnsiName(const std::string& name) {
  if (std::memchr(name.data(), kForeignMark, name.size()) == nullptr)
    return name;
  std::string shown;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == kForeignMark) {
      shown += '?';
      i += kForeignLength - 1;
    } else {
      shown += name[i];
    }
  }
  return shown;
}

}  // namespace hostreg
