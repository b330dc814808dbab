#include "host/formats/reg/reg_loader.h"

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

namespace {

// How far behind the line being read the file's pages are let go.
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
        cache_(text, keys) {}

  void Load(size_t firstLine, size_t from);

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
  Open open_ = Open::kNone;
  size_t releasedTo_ = 0;
};

template <class U>
void RegLoader<U>::Load(size_t firstLine, size_t from) {
  lines_.Seek(from, firstLine);
  Statement st;
  Discard name, data;
  while (reader_.Next(st, name, data)) {
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
  if (root == KeyRoot::kOther) {  // kept as text only
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
  if (why == nullptr && root == KeyRoot::kMachine && path_.empty())
    why = "HKEY_LOCAL_MACHINE itself cannot be deleted";
  if (why != nullptr) {
    warnings_.Add(st.first.number, why);
    return;
  }
  if (root != KeyRoot::kMachine) return;
  cache_.Forget();
  if (Key* key = cache_.Find(path_)) keys_.DeleteTree(*key);
}

}  // namespace

void LoadRegLines(RegText& text, size_t firstLine, size_t from, KeyTree& keys,
                  SkipNotes& warnings) {
  text.Visit([&](auto units) {
    RegLoader<decltype(units)>(text, units, keys, warnings)
        .Load(firstLine, from);
    return 0;
  });
}

}  // namespace hostreg
