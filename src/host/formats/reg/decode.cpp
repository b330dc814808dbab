#include "host/formats/reg/decode.h"

#include "host/formats/reg/line_reader.h"
#include "host/formats/reg/text.h"
#include "host/formats/reg/value_line.h"
#include "host/registry/names.h"

namespace hostreg {

namespace {

// Adds a value, or replaces the one of the same name: the later line wins,
// as it does on import.
void Merge(std::vector<SpannedValue>& values, SpannedValue&& value) {
  for (SpannedValue& existing : values) {
    if (NamesEqual(existing.value.name, value.value.name)) {
      existing = std::move(value);
      return;
    }
  }
  values.push_back(std::move(value));
}

}  // namespace

void DecodeSections(const RegText& text, const std::vector<size_t>& sections,
                    std::vector<SpannedValue>& values, size_t& insertAt) {
  const std::string name;  // the file was checked: nothing is refused
  LineReader lines(name, text.Text(), false);
  const std::string_view t = text.Text();
  for (size_t section : sections) {
    lines.Seek(section);
    Line line;
    lines.Next(line);  // the key line
    insertAt = line.end;
    while (lines.Next(line)) {
      size_t at = line.begin;
      while (at < line.textEnd && IsBlank(t[at])) ++at;
      if (at == line.textEnd || t[at] == ';') continue;
      if (t[at] == '[') break;  // the next section
      SpannedValue value;
      Line last;
      ParseValueLine(text, lines, line, last, value.value.name,
                     value.value.type, value.value.data);
      value.begin = line.begin;
      value.end = last.end;
      insertAt = last.end;
      Merge(values, std::move(value));
    }
  }
}

std::string_view RegSource::Name(uint64_t at, size_t length,
                                 std::string& scratch) const {
  return text_->Name(static_cast<size_t>(at), length, scratch);
}

void RegSource::LoadValues(uint32_t keyId, std::vector<Value>& values) const {
  const std::vector<size_t> sections = text_->sections().All(keyId);
  if (sections.empty()) return;
  std::vector<SpannedValue> spanned;
  size_t insertAt;
  DecodeSections(*text_, sections, spanned, insertAt);
  values.reserve(spanned.size());
  for (SpannedValue& value : spanned) values.push_back(std::move(value.value));
}

}  // namespace hostreg
