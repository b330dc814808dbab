// A key's values, read from its sections of an already checked .reg file.
#ifndef REGSWITCH_HOST_FORMATS_REG_DECODE_H
#define REGSWITCH_HOST_FORMATS_REG_DECODE_H

#include <cstddef>
#include <memory>
#include <vector>

#include "host/formats/reg/reg_text.h"
#include "host/registry/key_source.h"

namespace hostreg {

// A value and the lines that give it, as Text() offsets: from the start of
// its first line to the end of its last, line ending included.
struct SpannedValue {
  Value value;
  size_t begin = 0;
  size_t end = 0;
};

// The values in the sections (key lines) at `sections`, as an import
// leaves them: a name given twice keeps the later line. `insertAt` becomes
// the end of the last section's last line, where a new value goes.
void DecodeSections(const RegText& text, const std::vector<size_t>& sections,
                    std::vector<SpannedValue>& values, size_t& insertAt);

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
