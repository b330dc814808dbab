#include "host/formats/reg/index.h"

#include <algorithm>

namespace hostreg {

namespace {

constexpr uint64_t kNone48 = 0xFFFFFFFFFFFFull;

// Keys of the registry's root resolved by KeyPathCache, so that the long
// prefix a key line shares with the one before costs nothing.
class IndexSink {
 public:
  using Out = Discard;

  IndexSink(const RegText& text, KeyTree& keys, RegIndex& index)
      : keys_(keys),
        index_(index),
        cache_(text, keys),
        held_(RootNamed(keys.Name(keys.Root()))) {}

  bool Passed(const Statement& st) {
    index_.tailContinued = st.endedByFile;
    if ((st.kind == StatementKind::kKey ||
         st.kind == StatementKind::kDeleteKey) &&
        index_.firstKeyLine == kNoSection)
      index_.firstKeyLine = st.first.begin;
    return true;
  }
  bool Reaches(const Statement&, KeyRoot) { return true; }
  bool OpenKey(const Statement& st, KeyRoot root, const KeyPath& path) {
    if (root != held_) {
      cache_.Forget();
      return true;
    }
    Key* key = cache_.Resolve(path);
    index_.sections.Add(keys_.IdOf(*key), st.first.begin);
    return true;
  }
  bool DeleteKey(const Statement&, KeyRoot root, const KeyPath& path) {
    if (root != held_) return true;
    cache_.Forget();
    if (Key* key = cache_.Find(path)) keys_.DeleteTree(*key);
    return true;
  }
  void SetValue(const Statement&, const Out&, const Out&) {}
  void DeleteValue(const Statement&, const Out&) {}

 private:
  KeyTree& keys_;
  RegIndex& index_;
  KeyPathCache cache_;
  const KeyRoot held_;  // the root the registry holds; others stay text
};

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

size_t IndexRegText(const RegText& text, size_t from, KeyTree& keys,
                    RegIndex& index, SkipNotes& notes) {
  keys.BeginLoading();
  IndexSink sink(text, keys, index);
  size_t nul = kNoSection;
  const ImportEnd end = Import(text, sink, &notes, true, from, 2, &nul);
  return end == ImportEnd::kNul ? nul : kNoSection;
}

}  // namespace hostreg
