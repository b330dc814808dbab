#include "host/formats/reg/splice.h"

#include <algorithm>
#include <vector>

#include "host/formats/changes.h"
#include "host/formats/reg/codepage.h"
#include "host/formats/reg/decode.h"
#include "host/formats/reg/line_reader.h"
#include "host/formats/reg/render.h"

namespace hostreg {

namespace {

// Text put in place of [begin, end) of the text (units), in the registry's bytes.
// Where edits meet, those that extend a section go before new sections, so
// that new values never land in a section inserted ahead of them.
struct Edit {
  size_t begin;
  size_t end;
  std::string text;
  bool newSection = false;
};

class Splicer {
 public:
  Splicer(const RegText& text, const RegIndex& index,
          const Registry& registry, const ChangeSet& changes,
          const std::string& eol)
      : text_(text),
        index_(index),
        registry_(registry),
        changes_(changes),
        eol_(eol) {}

  void Run(Rendering& out);

 private:
  void EditKey(const KeyChanges& changed);
  // The statement that gave a loaded value, in place of `line`.
  void Replace(const Value& value, const std::string& line) {
    const size_t begin = static_cast<size_t>(value.place);
    const size_t end = StatementEnd(text_, begin);
    edits_.push_back({begin, end, line + EndingAt(end)});
  }
  void AppendTail();
  size_t FirstSection(const Key& key) const;
  std::string BreakBefore(size_t at) const;
  std::string EndingAt(size_t end) const { return EndingBefore(text_, end); }
  std::string Line(const Value& value) const {
    return FormatValueLine(value, eol_, text_.WideStrings());
  }
  // Text in the registry's bytes as the file's encoding writes it.
  std::string Encoded(const std::string& text) const {
    switch (text_.encoding()) {
      case Encoding::kUtf16: return Utf16Bytes(text);
      case Encoding::kUtf8: return Utf8Of(UnitsOf(text));
      case Encoding::kAnsi: break;
    }
    return text;
  }

  const RegText& text_;
  const RegIndex& index_;
  const Registry& registry_;
  const ChangeSet& changes_;
  const std::string& eol_;
  std::vector<Edit> edits_;
};

void Splicer::Run(Rendering& out) {
  for (const KeyChanges& changed : changes_.keys) EditKey(changed);
  AppendTail();
  std::stable_sort(edits_.begin(), edits_.end(),
                   [](const Edit& a, const Edit& b) {
                     if (a.begin != b.begin) return a.begin < b.begin;
                     // New lines before a value rewritten right behind
                     // them (its place is where new values go when the end
                     // of the file ends it).
                     const bool aInserts = a.begin == a.end;
                     const bool bInserts = b.begin == b.end;
                     if (aInserts != bInserts) return aInserts;
                     return !a.newSection && b.newSection;
                   });
  const std::string_view file = text_.Contents();
  size_t copied = 0;
  for (const Edit& edit : edits_) {
    const size_t begin = text_.FileOffset(edit.begin);
    if (begin > copied) out.pieces.push_back(file.substr(copied, begin - copied));
    out.Add(Encoded(edit.text));
    copied = text_.FileOffset(edit.end);
  }
  if (copied < file.size()) out.pieces.push_back(file.substr(copied));
}

// A changed value replaces the lines that gave it, which each value knows
// from loading; new values go together after the key's last line, which
// takes reading the key's sections again.
void Splicer::EditKey(const KeyChanges& changed) {
  const Key& key = *changed.key;
  const std::vector<Value>& values = registry_.values().Of(key);
  std::string added;
  // A deleted value's last statement becomes its deletion: no later one
  // sets it, and earlier ones are undone by it.
  if (const std::vector<Value>* gone = registry_.values().Removed(key)) {
    for (const Value& value : *gone) {
      const std::string line = FormatValueDeletion(value.name);
      if (value.place == Value::kNoPlace) added += line + eol_;
      else Replace(value, line);
    }
  }
  for (size_t index : changed.values) {
    const Value& value = values[index];
    if (value.added) added += Line(value) + eol_;
    else if (value.place != Value::kNoPlace) Replace(value, Line(value));
  }
  if (added.empty()) return;
  const uint32_t id = registry_.keys().IdOf(key);
  KeyValues loaded;
  if (index_.sections.First(id) != kNoSection)
    DecodeSections(text_, index_.sections.All(id), loaded);
  const size_t insertAt = loaded.insertAt;
  const std::string keyLine = KeyLineOf(registry_.keys(), key);
  if (insertAt != kNoSection) {
    // A file that ends without a line break gets one first.
    edits_.push_back({insertAt, insertAt, BreakBefore(insertAt) + added});
  } else if (const size_t below = FirstSection(key); below != kNoSection) {
    // A key that had no section of its own gets one, just before the
    // first section below it.
    edits_.push_back({below, below, keyLine + eol_ + added + eol_, true});
  } else if (index_.firstKeyLine != kNoSection) {
    // Nor any below it (HKEY_LOCAL_MACHINE in an export without its keys):
    // before the first key line, where no key is open yet.
    const size_t at = index_.firstKeyLine;
    edits_.push_back({at, at, keyLine + eol_ + added + eol_, true});
  } else {
    // A file without key lines: at its end. A value continued up to the end
    // takes the first line appended, so that one is a key line to spare.
    const size_t end = text_.size();
    const std::string spare = index_.tailContinued ? keyLine + eol_ : "";
    edits_.push_back({end, end,
                      BreakBefore(end) + spare + eol_ + keyLine + eol_ + added,
                      true});
  }
}

// Deleted keys and new ones go after everything else, in that order: the
// deletions then undo every line that made those keys, and nothing can
// undo the new keys after them. Neither touches a key that the run kept,
// so the edits above stay as they are.
void Splicer::AppendTail() {
  const bool utf16 = text_.WideStrings();
  const std::string tail =
      FormatStructuralChanges(registry_, changes_, false, eol_, utf16) +
      FormatStructuralChanges(registry_, changes_, true, eol_, utf16);
  if (tail.empty()) return;
  const size_t end = text_.size();
  bool spared = false;  // an edit at the end already took the spare line
  for (const Edit& edit : edits_) spared = spared || edit.begin == end;
  const std::string spare =
      index_.tailContinued && !spared
          ? "[" + registry_.keys().Name(registry_.keys().Root()) + "]" + eol_
          : "";
  edits_.push_back({end, end, (spared ? "" : BreakBefore(end)) + spare + tail,
                    true});
}

// The earliest place in the file that belongs to the key or a key below it.
size_t Splicer::FirstSection(const Key& key) const {
  const KeyTree& keys = registry_.keys();
  size_t first = index_.sections.First(keys.IdOf(key));
  for (const Key* sub = keys.FirstSubkey(key); sub != nullptr;
       sub = keys.NextSibling(*sub))
    first = std::min(first, FirstSection(*sub));
  return first;
}

// What must come before a line inserted at `at`: nothing after a line
// ending; after a last line without one, a line break.
std::string Splicer::BreakBefore(size_t at) const {
  return EndingAt(at).empty() ? eol_ : std::string();
}

}  // namespace

void SpliceChanges(const RegText& text, const RegIndex& index,
                   const Registry& registry, const ChangeSet& changes,
                   const std::string& eol, Rendering& out) {
  Splicer(text, index, registry, changes, eol).Run(out);
}

}  // namespace hostreg
