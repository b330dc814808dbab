// Loading a .reg file's statements after its header as the registry editor
// imports them into an empty registry: keys under HKEY_LOCAL_MACHINE are
// added to the key tree with where their lines are, deleted keys are taken
// out with their trees, and no value is kept (see RegSource). Statements
// the editor skips are noted as warnings.
#ifndef REGSWITCH_HOST_FORMATS_REG_REG_LOADER_H
#define REGSWITCH_HOST_FORMATS_REG_REG_LOADER_H

#include <cstddef>
#include <string>
#include <vector>

#include "host/formats/reg/reg_text.h"
#include "host/registry/key_tree.h"

namespace hostreg {

// The lines Windows' importer skips, as "NAME:LINE: skipped, as Windows'
// importer would: why". A file with many keeps the first kMaxWarnings and
// counts the rest.
class SkipNotes {
 public:
  static constexpr size_t kMaxWarnings = 100;
  explicit SkipNotes(const std::string& name) : name_(name) {}
  void Add(size_t line, const std::string& why);
  // The notes, with a last line for those left out.
  std::vector<std::string> Lines() const;

 private:
  const std::string name_;
  std::vector<std::string> lines_;
  size_t more_ = 0;
};

// Reads from the line behind the header, line `firstLine`. A NUL in the
// text stops it: returns where the NUL is, else kNoSection.
size_t LoadRegLines(RegText& text, size_t firstLine, size_t from,
                    KeyTree& keys, SkipNotes& notes);

// The first NUL in [from, to) of the text, or kNoSection.
size_t FindNul(const RegText& text, size_t from, size_t to);

}  // namespace hostreg

#endif
