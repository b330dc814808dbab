#include "host/formats/reg/decode.h"

#include "host/formats/reg/importer.h"
#include "host/registry/names.h"

namespace hostreg {

const SpannedValue* KeyValues::Named(const std::string& name) const {
  for (const SpannedValue& value : values)
    if (NamesEqual(value.value.name, name)) return &value;
  return nullptr;
}

namespace {

// One section: its key line, then the statements up to the next key line
// or deletion, which ends it.
class SectionSink {
 public:
  using Out = std::string;

  explicit SectionSink(KeyValues& out) : out_(out) {}

  bool Passed(const Statement& st) {
    const bool keyStatement = st.kind == StatementKind::kKey ||
                              st.kind == StatementKind::kDeleteKey;
    if (keyLineSeen_ && keyStatement) return false;
    keyLineSeen_ = true;
    if (st.kind != StatementKind::kNothing && !st.endedByFile)
      out_.insertAt = st.last.end;
    return true;
  }
  bool Reaches(const Statement&, KeyRoot) { return true; }
  bool OpenKey(const Statement&, KeyRoot, const KeyPath&) { return true; }
  bool DeleteKey(const Statement&, KeyRoot, const KeyPath&) { return true; }
  void SetValue(const Statement& st, const Out& name, const Out& data) {
    SpannedValue* was = Find(name);
    if (was == nullptr) {
      out_.values.emplace_back();
      was = &out_.values.back();
    }
    was->value.name = name;
    was->value.type = st.type;
    was->value.data = data;
    was->begin = st.first.begin;
    was->end = st.last.end;
  }
  void DeleteValue(const Statement&, const Out& name) {
    if (SpannedValue* was = Find(name))
      out_.values.erase(out_.values.begin() + (was - out_.values.data()));
  }

 private:
  SpannedValue* Find(const std::string& name) {
    const SpannedValue* named = out_.Named(name);
    return named == nullptr ? nullptr
                            : &out_.values[named - out_.values.data()];
  }

  KeyValues& out_;
  bool keyLineSeen_ = false;
};

}  // namespace

namespace {

// Reads one statement, to see where it ends.
class OneStatement {
 public:
  using Out = Discard;
  bool Passed(const Statement& st) {
    if (read_) return false;
    read_ = true;
    end = st.last.end;
    return true;
  }
  bool Reaches(const Statement&, KeyRoot) { return true; }
  bool OpenKey(const Statement&, KeyRoot, const KeyPath&) { return true; }
  bool DeleteKey(const Statement&, KeyRoot, const KeyPath&) { return true; }
  void SetValue(const Statement&, const Out&, const Out&) {}
  void DeleteValue(const Statement&, const Out&) {}

  size_t end = 0;

 private:
  bool read_ = false;
};

}  // namespace

size_t StatementEnd(const RegText& text, size_t begin) {
  OneStatement sink;
  Import(text, sink, nullptr, false, begin, 1);
  return sink.end;
}

void DecodeSections(const RegText& text, const std::vector<size_t>& sections,
                    KeyValues& out) {
  for (size_t section : sections) {
    SectionSink sink(out);
    Import(text, sink, nullptr, false, section, 1);
  }
}

std::string_view RegSource::Name(uint64_t at, size_t length,
                                 std::string& scratch) const {
  return text_->Name(static_cast<size_t>(at), length, scratch);
}

void RegSource::LoadValues(uint32_t keyId, std::vector<Value>& values) const {
  const std::vector<size_t> sections = index_->sections.All(keyId);
  if (sections.empty()) return;
  KeyValues decoded;
  DecodeSections(*text_, sections, decoded);
  values.reserve(decoded.values.size());
  for (SpannedValue& value : decoded.values) {
    value.value.place = value.begin;
    values.push_back(std::move(value.value));
  }
}

}  // namespace hostreg
