#include "host/formats/reg/decode.h"

#include "host/formats/reg/line_reader.h"
#include "host/formats/reg/statement.h"
#include "host/registry/names.h"

namespace hostreg {

const SpannedValue* Named(const KeyValues& values, const std::string& name) {
  for (const SpannedValue& value : values.values)
    if (NamesEqual(value.value.name, name)) return &value;
  return nullptr;
}

namespace {

// One section: its key line, then statements up to the next line that
// opens, fails to open or deletes a key.
template <class U>
void DecodeSection(const RegText& text, U units, size_t at, KeyValues& out) {
  LineReader<U> lines(units);
  lines.Seek(at, 1);
  StatementReader<U, std::string> reader(text, lines);
  Statement st;
  std::string name, data;
  reader.Next(st, name, data);  // the key line
  out.insertAt = st.last.end;
  while (reader.Next(st, name, data)) {
    if (st.kind == StatementKind::kKey || st.kind == StatementKind::kDeleteKey)
      return;
    if (st.kind == StatementKind::kNothing) continue;
    if (!st.endedByFile) out.insertAt = st.last.end;
    const SpannedValue* named = Named(out, name);
    SpannedValue* was =
        named != nullptr ? &out.values[named - out.values.data()] : nullptr;
    if (st.kind == StatementKind::kDeleteValue && was != nullptr) {
      out.values.erase(out.values.begin() + (was - out.values.data()));
    } else if (st.kind == StatementKind::kSetValue) {
      if (was == nullptr) {
        out.values.emplace_back();
        was = &out.values.back();
      }
      was->value.name = name;
      was->value.type = st.type;
      was->value.data = data;
      was->begin = st.first.begin;
      was->end = st.last.end;
    }
  }
}

}  // namespace

void DecodeSections(const RegText& text, const std::vector<size_t>& sections,
                    KeyValues& out) {
  for (size_t section : sections)
    text.Visit([&](auto units) {
      DecodeSection(text, units, section, out);
      return 0;
    });
}

std::string_view RegSource::Name(uint64_t at, size_t length,
                                 std::string& scratch) const {
  return text_->Name(static_cast<size_t>(at), length, scratch);
}

void RegSource::LoadValues(uint32_t keyId, std::vector<Value>& values) const {
  const std::vector<size_t> sections = text_->sections().All(keyId);
  if (sections.empty()) return;
  KeyValues decoded;
  DecodeSections(*text_, sections, decoded);
  values.reserve(decoded.values.size());
  for (SpannedValue& value : decoded.values)
    values.push_back(std::move(value.value));
}

}  // namespace hostreg
