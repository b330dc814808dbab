// A key's values, read from its sections of an already loaded .reg file.
#ifndef REGSWITCH_HOST_FORMATS_REG_DECODE_H
#define REGSWITCH_HOST_FORMATS_REG_DECODE_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "host/formats/reg/reg_text.h"
#include "host/registry/key_source.h"

namespace hostreg {

// A value and the lines that set it, in units: from the start of its first
// line to the end of its last, line ending included.
struct SpannedValue {
  Value value;
  size_t begin = 0;
  size_t end = 0;
};

struct KeyValues {
  std::vector<SpannedValue> values;
  // Where a new value goes: behind the last statement of the key's last
  // section, after every line that could undo it.
  size_t insertAt = kNoSection;
};

// The value of that name among `values`, or null. Names are unique there,
// as DecodeSections keeps one value for each.
const SpannedValue* Named(const KeyValues& values, const std::string& name);

// The values in the sections (key lines) at `sections`, as an import
// leaves them: statements in file order, a value set twice keeps the later
// one, one deleted is gone, skipped lines do nothing.
void DecodeSections(const RegText& text, const std::vector<size_t>& sections,
                    KeyValues& out);

// The registry's source over a loaded .reg file.
class RegSource : public KeySource {
 public:
  explicit RegSource(std::shared_ptr<const RegText> text)
      : text_(std::move(text)) {}
  std::string_view Name(uint64_t at, size_t length,
                        std::string& scratch) const override;
  void LoadValues(uint32_t keyId, std::vector<Value>& values) const override;

 private:
  std::shared_ptr<const RegText> text_;
};

}  // namespace hostreg

#endif
