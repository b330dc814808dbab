#include "host/formats/reg/reg_loader.h"

#include "host/formats/reg/key_line.h"
#include "host/formats/reg/line_reader.h"
#include "host/formats/reg/text.h"
#include "host/formats/reg/value_line.h"

namespace hostreg {

namespace {

// How far behind the line being read the file's pages are let go.
constexpr size_t kStretch = 8 << 20;

class RegLoader {
 public:
  RegLoader(const std::string& name, RegText& text, KeyTree& keys)
      : text_(text),
        t_(text.Text()),
        keys_(keys),
        lines_(name, t_, true),
        cache_(text, keys) {}

  bool Load(std::string& error);

 private:
  void ReleaseBehind(const Line& line);
  bool LoadLine(const Line& line);
  bool LoadKeyLine(size_t at, const Line& line);
  bool CheckValueLine(const Line& line);

  RegText& text_;
  const std::string_view t_;
  KeyTree& keys_;
  LineReader lines_;
  KeyPathCache cache_;
  KeyPath path_;
  bool inSection_ = false;
  size_t releasedTo_ = 0;
};

bool RegLoader::Load(std::string& error) {
  Line line;
  lines_.Next(line);  // the header, checked before
  while (lines_.Next(line)) {
    ReleaseBehind(line);
    if (!LoadLine(line)) break;
  }
  if (!lines_.failed()) return true;
  error = lines_.error();
  return false;
}

// What lies well behind is read again only when a key's values are
// decoded; until then its pages need not stay in memory.
void RegLoader::ReleaseBehind(const Line& line) {
  if (line.begin < releasedTo_ + kStretch) return;
  releasedTo_ = line.begin - kStretch / 2;
  text_.ReleaseBefore(releasedTo_);
}

bool RegLoader::LoadLine(const Line& line) {
  size_t at = line.begin;
  while (at < line.textEnd && IsBlank(t_[at])) ++at;
  if (at == line.textEnd || t_[at] == ';') return true;  // blank, comment
  if (t_[at] == '[') return LoadKeyLine(at, line);
  if (t_[at] == '"' || t_[at] == '@') return CheckValueLine(line);
  return lines_.Fail(line.number,
                     "expected a [key], a \"value\"=data line or a ; comment");
}

bool RegLoader::LoadKeyLine(size_t at, const Line& line) {
  size_t end = line.textEnd;
  while (end > at && IsBlank(t_[end - 1])) --end;
  if (t_[end - 1] != ']' || end - at < 2)
    return lines_.Fail(line.number, "a key line must end with ']'");
  if (!ParseKeyPath(text_, at + 1, end - 1, line, lines_, path_)) return false;
  inSection_ = true;
  if (!IsMachineRoot(text_, path_)) {  // kept as text only
    cache_.Forget();
    return true;
  }
  Key* key = cache_.Resolve(path_);
  text_.sections().Add(keys_.IdOf(*key), line.begin);
  return true;
}

bool RegLoader::CheckValueLine(const Line& line) {
  if (!inSection_)
    return lines_.Fail(line.number, "a value before the first [key] line");
  Discard name, data;
  DWORD type;
  Line last;
  return ParseValueLine(text_, lines_, line, last, name, type, data);
}

}  // namespace

bool LoadRegLines(const std::string& name, RegText& text, KeyTree& keys,
                  std::string& error) {
  return RegLoader(name, text, keys).Load(error);
}

}  // namespace hostreg
