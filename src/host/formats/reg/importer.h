// The one reading of a .reg file's statements as Windows' registry editor
// imports them: key lines open a key (a line naming none Windows would open
// skips the values up to the next key line with it), deletions close the
// open key and take a tree out, values go to the open key, and every line
// the editor passes over is noted and changes nothing. Every rule of that
// reading, and every note it gives, is written here once.
//
// What an import does with a statement is up to its sink: indexing a .reg
// file that is a run's registry (index.h), decoding one key's values from
// its sections (decode.h), or applying a merge to registries (merge/).
#ifndef REGSWITCH_HOST_FORMATS_REG_IMPORTER_H
#define REGSWITCH_HOST_FORMATS_REG_IMPORTER_H

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "host/formats/reg/key_line.h"
#include "host/formats/reg/line_reader.h"
#include "host/formats/reg/reg_text.h"
#include "host/formats/reg/statement.h"

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

// The first NUL in [from, to) of the text, or kNoSection.
size_t FindNul(const RegText& text, size_t from, size_t to);

// The number of the line that holds unit `at`.
size_t LineAt(const RegText& text, size_t at);

// "NAME:LINE: a NUL byte; ...": the editor refuses a file with a NUL
// anywhere before importing any of it.
std::string NulError(const std::string& name, const RegText& text,
                     size_t nul);

enum class ImportEnd {
  kEnd,      // the text ended
  kStopped,  // the sink stopped the import
  kNul,      // a NUL byte, which makes the editor refuse the whole file
};

// A sink gives its `Out` (Discard or std::string: whether names and data
// are decoded) and takes:
//   bool Passed(const Statement&)  every statement first; false stops
//   bool Reaches(const Statement&, KeyRoot)   a deletion's root; false stops
//   bool OpenKey(const Statement&, KeyRoot, const KeyPath&)   false stops
//   bool DeleteKey(const Statement&, KeyRoot, const KeyPath&)
//   void SetValue(const Statement&, const Out& name, const Out& data)
//   void DeleteValue(const Statement&, const Out& name)
// A sink that stops says why itself, if anything is wrong.
template <class U, class Sink>
class Importer {
 public:
  using Out = typename Sink::Out;

  // `notes` may be null (a second reading, whose notes were given).
  // `wholeFile`: the reading of a whole file, which looks ahead for NUL
  // bytes, takes the file's checksum and lets the pages behind it go.
  Importer(const RegText& text, U units, Sink& sink, SkipNotes* notes,
           bool wholeFile)
      : text_(text),
        sink_(sink),
        notes_(notes),
        wholeFile_(wholeFile),
        units_(units),
        lines_(units, wholeFile ? &ends_ : nullptr),
        reader_(text, lines_),
        paths_(text) {}

  // From the line that starts at `from`, numbered `firstLine`.
  ImportEnd Run(size_t from, size_t firstLine);
  // Where the NUL is, after kNul.
  size_t nulAt() const { return nulAt_; }

 private:
  enum class Open { kNone, kFailed, kKey };
  // How far behind the line being read the file's pages are let go, and
  // how far ahead of it NUL bytes are looked for, so that the file is read
  // front to back once.
  static constexpr size_t kStretch = 8 << 20;
  static constexpr size_t kPiece = 256 << 10;
  static_assert(kStretch <= LineEndMap::kSpan / 2);

  bool LookAhead();
  void Note(const Statement& st, const std::string& why) {
    if (notes_ != nullptr) notes_->Add(st.first.number, why);
  }
  bool Key(const Statement& st);
  bool Delete(const Statement& st);
  void Value(const Statement& st);

  const RegText& text_;
  Sink& sink_;
  SkipNotes* const notes_;
  const bool wholeFile_;
  U units_;
  LineEndMap ends_;
  LineReader<U> lines_;
  StatementReader<U, Out> reader_;
  Out name_, data_;
  KeyPathReader paths_;
  KeyPath path_;  // the last path read
  Open open_ = Open::kNone;
  size_t checkedTo_ = 0;
  size_t releasedTo_ = 0;
  size_t nulAt_ = kNoSection;
};

template <class U, class Sink>
ImportEnd Importer<U, Sink>::Run(size_t from, size_t firstLine) {
  lines_.Seek(from, firstLine);
  if (wholeFile_) checkedTo_ = releasedTo_ = from;
  Statement st;
  for (;;) {
    if (wholeFile_ && !LookAhead()) return ImportEnd::kNul;
    if (!reader_.Next(st, name_, data_)) return ImportEnd::kEnd;
    if (!sink_.Passed(st)) return ImportEnd::kStopped;
    switch (st.kind) {
      case StatementKind::kNothing:
        break;
      case StatementKind::kSkipped:
        Note(st, st.why);
        break;
      case StatementKind::kKey:
        if (!Key(st)) return ImportEnd::kStopped;
        break;
      case StatementKind::kDeleteKey:
        if (!Delete(st)) return ImportEnd::kStopped;
        break;
      case StatementKind::kSetValue:
      case StatementKind::kDeleteValue:
        Value(st);
        break;
    }
  }
}

// The stretch ahead is checked for NUL bytes, its line ends found in the
// same pass, and added to the checksum before any of it is read, a piece
// at a time while the piece is in the cache; what lies well behind is read
// again only when a key's values are decoded, and until then its pages
// need not stay.
template <class U, class Sink>
bool Importer<U, Sink>::LookAhead() {
  const size_t at = lines_.position();
  if (at + kStretch / 2 > checkedTo_ && checkedTo_ < text_.size()) {
    const size_t to = std::min(text_.size(), at + kStretch);
    while (checkedTo_ < to) {
      const size_t end = std::min(to, checkedTo_ + kPiece);
      const size_t nul = ends_.Scan(units_, checkedTo_, end);
      if (nul != kNoSection) {
        nulAt_ = nul;
        return false;
      }
      text_.ChecksumTo(end);
      checkedTo_ = end;
    }
  }
  if (at >= releasedTo_ + kStretch) {
    releasedTo_ = at - kStretch / 2;
    text_.ReleaseBefore(releasedTo_);
  }
  return true;
}

template <class U, class Sink>
bool Importer<U, Sink>::Key(const Statement& st) {
  open_ = Open::kNone;
  KeyRoot root;
  if (const char* why = paths_.Read(st.pathBegin, st.pathEnd, root, path_)) {
    open_ = Open::kFailed;
    Note(st, std::string(why) +
                 "; the values up to the next key line are skipped with it");
    return true;
  }
  if (!sink_.OpenKey(st, root, path_)) return false;
  open_ = Open::kKey;
  return true;
}

// The open key is closed whatever the deletion names. It must name its
// root right after the '-'.
template <class U, class Sink>
bool Importer<U, Sink>::Delete(const Statement& st) {
  open_ = Open::kNone;
  const bool named = st.pathBegin < st.pathEnd &&
                     (text_.UnitAt(st.pathBegin) == 'H' ||
                      text_.UnitAt(st.pathBegin) == 'h');
  KeyRoot root;
  const char* why =
      named ? paths_.Read(st.pathBegin, st.pathEnd, root, path_)
            : "a deletion that names no HKEY_ root";
  if (why != nullptr) {
    Note(st, why);
    return true;
  }
  if (!sink_.Reaches(st, root)) return false;
  if (path_.empty()) {
    Note(st, std::string(kRootNames[static_cast<size_t>(root)]) +
                 " itself cannot be deleted");
    return true;
  }
  return sink_.DeleteKey(st, root, path_);
}

template <class U, class Sink>
void Importer<U, Sink>::Value(const Statement& st) {
  if (open_ == Open::kNone) {
    Note(st, "a value with no key open (none yet, or the last key line "
             "failed or deleted a key)");
    return;
  }
  if (open_ == Open::kFailed) return;
  if (st.kind == StatementKind::kSetValue)
    sink_.SetValue(st, name_, data_);
  else
    sink_.DeleteValue(st, name_);
}

// Runs an importer over the text in whichever encoding it has.
template <class Sink>
ImportEnd Import(const RegText& text, Sink& sink, SkipNotes* notes,
                 bool wholeFile, size_t from, size_t firstLine,
                 size_t* nulAt = nullptr) {
  return text.Visit([&](auto units) {
    Importer<decltype(units), Sink> importer(text, units, sink, notes,
                                             wholeFile);
    const ImportEnd end = importer.Run(from, firstLine);
    if (nulAt != nullptr) *nulAt = importer.nulAt();
    return end;
  });
}

}  // namespace hostreg

#endif
