#include "host/formats/reg/reg_loader.h"

#include <algorithm>
#include <cstring>

#include "host/formats/reg/key_line.h"
#include "host/formats/reg/line_reader.h"
#include "host/formats/reg/statement.h"

namespace hostreg {

void SkipNotes::Add(size_t line, const std::string& why) {
  if (lines_.size() == kMaxWarnings) {
    ++more_;
    return;
  }
  lines_.push_back(name_ + ":" + std::to_string(line) +
                   ": skipped, as Windows' importer would: " + why);
}

std::vector<std::string> SkipNotes::Lines() const {
  std::vector<std::string> all = lines_;
  if (more_ > 0)
    all.push_back(name_ + ": " + std::to_string(more_) +
                  " more lines skipped, as Windows' importer would");
  return all;
}

size_t FindNul(const RegText& text, size_t from, size_t to) {
  if (!text.utf16()) {
    const Units8 t = text.Narrow();
    const void* at = std::memchr(t.p + from, 0, to - from);
    return at == nullptr ? kNoSection
                         : static_cast<size_t>(
                               static_cast<const unsigned char*>(at) - t.p);
  }
  // Four units at a time: a word with a zero unit has a lane that borrows.
  const Units16 t = text.Wide();
  size_t i = from;
  for (; i + 4 <= to; i += 4) {
    uint64_t w;
    std::memcpy(&w, t.p + 2 * i, 8);
    if (((w - 0x0001000100010001ull) & ~w & 0x8000800080008000ull) != 0) break;
  }
  for (; i < to; ++i)
    if (t[i] == 0) return i;
  return kNoSection;
}

namespace {

// How far behind the line being read the file's pages are let go, and how
// far ahead of it NUL characters are looked for, so that the file is read
// front to back once.
constexpr size_t kStretch = 8 << 20;

template <class U>
class RegLoader {
 public:
  RegLoader(RegText& text, U units, KeyTree& keys, SkipNotes& warnings)
      : text_(text),
        keys_(keys),
        warnings_(warnings),
        lines_(units),
        reader_(text, lines_),
        cache_(text, keys),
        held_(RootNamed(keys.Name(keys.Root()))) {}

  size_t Load(size_t firstLine, size_t from);

 private:
  // kFailed: a key line that failed, whose note covers its values too.
  enum class Open { kNone, kFailed, kMachine, kOther };
  void ReleaseBehind(size_t at);
  void OpenKey(const Statement& st);
  void DeleteKey(const Statement& st);

  RegText& text_;
  KeyTree& keys_;
  SkipNotes& warnings_;
  LineReader<U> lines_;
  StatementReader<U, Discard> reader_;
  KeyPathCache cache_;
  KeyPath path_;
  const KeyRoot held_;  // the root the registry holds; others stay text
  Open open_ = Open::kNone;
  size_t releasedTo_ = 0;
  size_t nulCheckedTo_ = 0;
};

template <class U>
size_t RegLoader<U>::Load(size_t firstLine, size_t from) {
  lines_.Seek(from, firstLine);
  Statement st;
  Discard name, data;
  for (;;) {
    if (lines_.position() + kStretch / 2 > nulCheckedTo_) {
      const size_t to = std::min(text_.size(), lines_.position() + kStretch);
      const size_t nul = FindNul(text_, nulCheckedTo_, to);
      if (nul != kNoSection) return nul;
      nulCheckedTo_ = to;
    }
    if (!reader_.Next(st, name, data)) return kNoSection;
    ReleaseBehind(st.first.begin);
    text_.tailContinued = st.endedByFile;
    if ((st.kind == StatementKind::kKey ||
         st.kind == StatementKind::kDeleteKey) &&
        text_.firstKeyLine == kNoSection)
      text_.firstKeyLine = st.first.begin;
    switch (st.kind) {
      case StatementKind::kNothing:
        break;
      case StatementKind::kSkipped:
        warnings_.Add(st.first.number, st.why);
        break;
      case StatementKind::kKey:
        OpenKey(st);
        break;
      case StatementKind::kDeleteKey:
        DeleteKey(st);
        break;
      case StatementKind::kSetValue:
      case StatementKind::kDeleteValue:
        if (open_ == Open::kNone)
          warnings_.Add(st.first.number,
                        "a value with no key open (none yet, or the last key "
                        "line failed or deleted a key)");
        break;
    }
  }
}

// What lies well behind is read again only when a key's values are
// decoded; until then its pages need not stay in memory.
template <class U>
void RegLoader<U>::ReleaseBehind(size_t at) {
  if (at < releasedTo_ + kStretch) return;
  releasedTo_ = at - kStretch / 2;
  text_.ReleaseBefore(releasedTo_);
}

template <class U>
void RegLoader<U>::OpenKey(const Statement& st) {
  KeyRoot root;
  open_ = Open::kNone;
  if (const char* why =
          ParseKeyPath(text_, st.pathBegin, st.pathEnd, root, path_)) {
    open_ = Open::kFailed;
    warnings_.Add(st.first.number,
                  std::string(why) + "; the values up to the next key line "
                                     "are skipped with it");
    return;
  }
  if (root != held_) {  // kept as text only
    open_ = Open::kOther;
    cache_.Forget();
    return;
  }
  open_ = Open::kMachine;
  Key* key = cache_.Resolve(path_);
  text_.sections().Add(keys_.IdOf(*key), st.first.begin);
}

// The open key is closed whatever the deletion names.
template <class U>
void RegLoader<U>::DeleteKey(const Statement& st) {
  open_ = Open::kNone;
  const bool named = st.pathBegin < st.pathEnd &&
                     (text_.UnitAt(st.pathBegin) == 'H' ||
                      text_.UnitAt(st.pathBegin) == 'h');
  KeyRoot root;
  const char* why =
      named ? ParseKeyPath(text_, st.pathBegin, st.pathEnd, root, path_)
            : "a deletion that names no HKEY_ root";
  if (why == nullptr && root == held_ && path_.empty())
    why = held_ == KeyRoot::kLocalMachine
              ? "HKEY_LOCAL_MACHINE itself cannot be deleted"
              : "a root key itself cannot be deleted";
  if (why != nullptr) {
    warnings_.Add(st.first.number, why);
    return;
  }
  if (root != held_) return;
  cache_.Forget();
  if (Key* key = cache_.Find(path_)) keys_.DeleteTree(*key);
}

}  // namespace

size_t LoadRegLines(RegText& text, size_t firstLine, size_t from,
                    KeyTree& keys, SkipNotes& warnings) {
  keys.BeginLoading();
  const size_t nul = text.Visit([&](auto units) {
    return RegLoader<decltype(units)>(text, units, keys, warnings)
        .Load(firstLine, from);
  });
  keys.EndLoading();
  return nul;
}

}  // namespace hostreg
