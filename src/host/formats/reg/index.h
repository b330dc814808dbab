// A .reg file that is a run's registry, indexed as the editor would import
// it into an empty registry: the keys under the registry's root go into its
// key tree, each with where its key lines are, deleted keys are taken out
// with their trees, and no value is kept (a key's values are decoded from
// its sections when something first looks at them; see decode.h). Lines of
// other roots stay text.
#ifndef REGSWITCH_HOST_FORMATS_REG_INDEX_H
#define REGSWITCH_HOST_FORMATS_REG_INDEX_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "host/formats/reg/importer.h"
#include "host/formats/reg/reg_text.h"
#include "host/registry/key_tree.h"

namespace hostreg {

// Where each key's lines start: the offset of every key line that names
// it, by key number. Most keys have one; a large export has a million, so
// the first is kept in six bytes in chunks that never move.
class SectionTable {
 public:
  void Add(uint32_t keyId, size_t at);
  size_t First(uint32_t keyId) const;
  std::vector<size_t> All(uint32_t keyId) const;

 private:
  static constexpr uint32_t kChunkBits = 14;
  static constexpr uint32_t kChunk = 1u << kChunkBits;
  std::vector<std::unique_ptr<uint32_t[]>> low_;
  std::vector<std::unique_ptr<uint16_t[]>> high_;
  std::unordered_map<uint32_t, std::vector<size_t>> more_;
};

struct RegIndex {
  SectionTable sections;
  // Where a section for a key without any goes: before the file's first
  // key line; or, in a file without one, at the end, where a value
  // continued up to the end of the file would take the first line appended
  // as its own (`tailContinued`).
  size_t firstKeyLine = kNoSection;
  bool tailContinued = false;
};

// Indexes the text from the line behind the header, line 2, at `from`,
// the importer's notes going to `notes`. A NUL byte stops it: returns where
// it is, else kNoSection.
size_t IndexRegText(const RegText& text, size_t from, KeyTree& keys,
                    RegIndex& index, SkipNotes& notes);

}  // namespace hostreg

#endif
