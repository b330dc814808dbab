// The statements of a .reg file as the registry editor reads them after
// the header: key lines, key deletions, values set or deleted (with the
// lines that continue hex data), and the lines it passes over. A statement
// the editor skips says why; the file is never refused for one.
#ifndef REGSWITCH_HOST_FORMATS_REG_STATEMENT_H
#define REGSWITCH_HOST_FORMATS_REG_STATEMENT_H

#include <cstddef>
#include <string>

#include "core/win32_types.h"
#include "host/formats/reg/line_reader.h"
#include "host/formats/reg/reg_text.h"
#include "host/formats/reg/syntax.h"

namespace hostreg {

// Where a statement's value name and data go. Loading checks every line of
// a file but keeps no value (a key's values are read when first looked
// at), so it reads them into Discard; reading values, into strings.
struct Discard {
  void operator+=(char) {}
};

enum class StatementKind {
  kNothing,      // a blank line or a comment
  kKey,          // [path]: opens the key, closing the one open before
  kDeleteKey,    // [-path]: closes the open key, deletes the path's tree
  kSetValue,     // "name"=data or @=data
  kDeleteValue,  // "name"=- or @=-
  kSkipped,      // passed over; `why` says why
};

struct Statement {
  StatementKind kind = StatementKind::kNothing;
  Line first;  // the statement's lines, from its first to its last
  Line last;
  size_t pathBegin = 0;  // key statements: the path between the brackets
  size_t pathEnd = 0;
  DWORD type = REG_NONE;
  // A value continued with '\' up to the end of the file, which the editor
  // takes as it stands; nothing can be added behind it.
  bool endedByFile = false;
  // String data that held a character code page 1252 has no byte for,
  // read as '?' as the "A" calls read it.
  bool lossy = false;
  const char* why = nullptr;
};

template <class U, class Out>
class StatementReader {
 public:
  StatementReader(const RegText& file, LineReader<U>& lines)
      : file_(file), t_(lines.text()), lines_(lines) {}
  // The next statement; false at the end of the text.
  bool Next(Statement& st, Out& name, Out& data);

 private:
  bool Skip(Statement& st, const char* why) {
    st.kind = StatementKind::kSkipped;
    st.why = why;
    return true;
  }
  size_t SkipBlanks(size_t at, size_t end) const {
    while (at < end && IsBlank(t_[at])) ++at;
    return at;
  }
  bool KeyLine(Statement& st, size_t at);
  bool ValueLine(Statement& st, size_t at, Out& name, Out& data);
  bool Unescape(size_t& at, size_t end, Out& out, bool isName,
                const char*& why);
  bool Data(Statement& st, size_t at, size_t end, Out& data);
  bool StringData(Statement& st, size_t at, size_t end, Out& data);
  bool DwordData(Statement& st, size_t at, size_t end, Out& data);
  bool TypedHex(Statement& st, size_t at, size_t end, Out& data);
  bool HexData(Statement& st, size_t at, size_t end, Out& data);
  enum class HexEnd { kDone, kContinued, kBad };
  HexEnd HexLine(size_t at, size_t end, Out& data, size_t& rest);
  HexEnd HexStep(Statement& st, size_t at, size_t end, Out& data);
  bool Continue(Statement& st, Out& data);
  void Finish(Statement& st, Out& data) const;

  const RegText& file_;
  const U t_;
  LineReader<U>& lines_;
  bool exact_ = true;  // no character of the data went to '?'
};

}  // namespace hostreg

#endif
