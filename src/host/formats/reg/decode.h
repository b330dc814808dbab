// A key's values, read from its sections of an indexed .reg file: the
// importer's reading of the statements after each of its key lines, up to
// the next line that opens, fails to open or deletes a key.
#ifndef REGSWITCH_HOST_FORMATS_REG_DECODE_H
#define REGSWITCH_HOST_FORMATS_REG_DECODE_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "host/formats/reg/index.h"
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
  // As an import leaves them: a value set twice keeps the later one, one
  // deleted is gone. Names are unique.
  std::vector<SpannedValue> values;
  // Where a new value goes: behind the last statement of the key's last
  // section, after every line that could undo it.
  size_t insertAt = kNoSection;

  // The value of that name, or null.
  const SpannedValue* Named(const std::string& name) const;
};

// The values in the sections (key lines) at `sections`, in file order.
void DecodeSections(const RegText& text, const std::vector<size_t>& sections,
                    KeyValues& out);

// Where the statement that starts at `begin` ends, line ending included.
size_t StatementEnd(const RegText& text, size_t begin);

// The registry's source over an indexed .reg file. Each value it gives
// says where its statement starts (Value::place).
class RegSource : public KeySource {
 public:
  RegSource(std::shared_ptr<const RegText> text,
            std::shared_ptr<const RegIndex> index)
      : text_(std::move(text)), index_(std::move(index)) {}
  std::string_view Name(uint64_t at, size_t length,
                        std::string& scratch) const override;
  void LoadValues(uint32_t keyId, std::vector<Value>& values) const override;

 private:
  std::shared_ptr<const RegText> text_;
  std::shared_ptr<const RegIndex> index_;
};

}  // namespace hostreg

#endif
