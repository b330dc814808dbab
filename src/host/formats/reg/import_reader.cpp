#include "host/formats/reg/import_reader.h"

#include "host/formats/reg/line_reader.h"
#include "host/formats/reg/reg_file.h"

namespace hostreg {

namespace {

// The statement's path as names, or why Windows would open no key there.
void ReadPath(const RegText& text, const Statement& st, ImportStatement& out) {
  // A deletion must name its root right after the '-'.
  if (st.kind == StatementKind::kDeleteKey &&
      !(st.pathBegin < st.pathEnd && (text.UnitAt(st.pathBegin) == 'H' ||
                                      text.UnitAt(st.pathBegin) == 'h'))) {
    out.why = "a deletion that names no HKEY_ root";
    return;
  }
  KeyPath path;
  out.why = ParseKeyPath(text, st.pathBegin, st.pathEnd, out.root, path);
  if (out.why != nullptr) return;
  for (const auto& part : path) {
    out.path.emplace_back();
    text.AppendName(out.path.back(), part.first, part.second);
  }
}

template <class U>
bool ReadAll(const RegText& text, U units, size_t from,
             const std::function<bool(const ImportStatement&)>& visit) {
  LineReader<U> lines(units);
  lines.Seek(from, 2);
  StatementReader<U, std::string> reader(text, lines);
  Statement st;
  ImportStatement out;
  while (reader.Next(st, out.name, out.data)) {
    out.kind = st.kind;
    out.line = st.first.number;
    out.why = st.why;
    out.type = st.type;
    out.path.clear();
    if (st.kind == StatementKind::kKey || st.kind == StatementKind::kDeleteKey)
      ReadPath(text, st, out);
    if (!visit(out)) return false;
  }
  return true;
}

}  // namespace

bool ReadImport(const std::string& name,
                std::shared_ptr<const FileBytes> bytes,
                const std::function<bool(const ImportStatement&)>& visit,
                SkipNotes& notes, std::string& error) {
  RegHead head;
  std::shared_ptr<RegText> text =
      OpenRegText(name, std::move(bytes), head, notes, error);
  if (!text) return false;
  // The editor refuses a file with a NUL anywhere before importing any of
  // it, so nothing of such a file is applied.
  if (const size_t nul = FindNul(*text, 0, text->size()); nul != kNoSection) {
    error = name + ":" + std::to_string(LineAt(*text, nul)) +
            ": a NUL byte; this is not a text registry export";
    return false;
  }
  if (!head.imported) return true;
  return text->Visit([&](auto units) {
    return ReadAll(*text, units, head.bodyStart, visit);
  });
}

}  // namespace hostreg
