#include "host/formats/reg/statement.h"

#include <type_traits>

#include "host/formats/reg/codepage.h"
#include "host/formats/reg/syntax.h"

namespace hostreg {

namespace {

void Clear(std::string& out) { out.clear(); }
void Clear(Discard&) {}
// False when a character of the data had no byte.
bool AppendRun(const RegText& file, std::string& out, size_t begin,
               size_t end, bool isName) {
  if (isName) {
    file.AppendName(out, begin, end);
    return true;
  }
  return file.AppendData(out, begin, end);
}
bool AppendRun(const RegText&, Discard&, size_t, size_t, bool) { return true; }

// The tags the editor knows, matched as it matches them: in lower case.
template <class U>
bool StartsWith(const U& t, size_t at, size_t end, const char* tag) {
  for (; *tag != '\0'; ++tag, ++at)
    if (at == end || t[at] != static_cast<unsigned char>(*tag)) return false;
  return true;
}

}  // namespace

template <class U, class Out>
bool StatementReader<U, Out>::Next(Statement& st, Out& name, Out& data) {
  Line line;
  if (!lines_.Next(line)) return false;
  st = Statement();
  exact_ = true;
  st.first = st.last = line;
  Clear(name);
  Clear(data);
  const size_t at = SkipBlanks(line.begin, line.textEnd);
  if (at == line.textEnd) return true;
  const uint16_t c = t_[at];
  if (c == '[') return KeyLine(st, at + 1);
  if (c == '@' || c == '"') return ValueLine(st, at, name, data);
  if (c == ';' || c == '#') return true;
  return Skip(st, "not a [key], a value or a comment");
}

// The path runs to the last ']' on the line; what follows it is ignored.
template <class U, class Out>
bool StatementReader<U, Out>::KeyLine(Statement& st, size_t at) {
  const size_t end = st.first.textEnd;
  if (at < end && IsBlank(t_[at]))
    return Skip(st, "a blank after '[' makes it no key line");
  size_t close = end;
  while (close > at && t_[close - 1] != ']') --close;
  if (close == at) return Skip(st, "a key line without its closing ']'");
  st.kind = StatementKind::kKey;
  if (at < close - 1 && t_[at] == '-') {
    st.kind = StatementKind::kDeleteKey;
    ++at;
  }
  st.pathBegin = at;
  st.pathEnd = close - 1;
  return true;
}

template <class U, class Out>
bool StatementReader<U, Out>::ValueLine(Statement& st, size_t at, Out& name,
                                        Out& data) {
  const size_t end = st.first.textEnd;
  if (t_[at++] == '"') {
    const char* why = nullptr;
    if (!Unescape(at, end, name, true, why)) return Skip(st, why);
  }
  at = SkipBlanks(at, end);
  if (at == end || t_[at] != '=') return Skip(st, "no '=' after the value name");
  at = SkipBlanks(at + 1, end);
  size_t stop = end;
  while (stop > at && IsBlank(t_[stop - 1])) --stop;
  if (at < stop && t_[at] == '-') {
    const size_t rest = SkipBlanks(at + 1, stop);
    if (rest != stop && t_[rest] != ';')
      return Skip(st, "text after '=-' (a deletion)");
    st.kind = StatementKind::kDeleteValue;
    return true;
  }
  return Data(st, at, stop, data);
}

// From behind an opening quote to behind the closing one: \\ and \" stand
// for themselves, \n and \r for line breaks, \0 is refused, and any other
// escaped character stands for itself.
template <class U, class Out>
bool StatementReader<U, Out>::Unescape(size_t& at, size_t end, Out& out,
                                       bool isName, const char*& why) {
  size_t run = at;
  for (; at < end; ++at) {
    const uint16_t c = t_[at];
    if (c == '"') {
      exact_ = AppendRun(file_, out, run, at, isName) && exact_;
      ++at;
      return true;
    }
    if (c != '\\') continue;
    exact_ = AppendRun(file_, out, run, at, isName) && exact_;
    if (++at == end) break;
    const uint16_t e = t_[at];
    run = at + 1;
    if (e == '\\' || e == '"') out += static_cast<char>(e);
    else if (e == 'n') out += '\n';
    else if (e == 'r') out += '\r';
    else if (e == '0') {
      why = "\\0 in a quoted string";
      return false;
    } else {
      run = at;  // the character itself
    }
  }
  why = isName ? "an unterminated value name" : "an unterminated string";
  return false;
}

template <class U, class Out>
bool StatementReader<U, Out>::Data(Statement& st, size_t at, size_t stop,
                                   Out& data) {
  if (at < stop && t_[at] == '"') {
    st.type = REG_SZ;
    return StringData(st, at + 1, stop, data);
  }
  if (StartsWith(t_, at, stop, "hex:")) {
    st.type = REG_BINARY;
    return HexData(st, at + 4, stop, data);
  }
  if (StartsWith(t_, at, stop, "dword:")) {
    st.type = REG_DWORD;
    return DwordData(st, at + 6, stop, data);
  }
  if (StartsWith(t_, at, stop, "hex("))
    return TypedHex(st, at + 4, stop, data);
  return Skip(st, "unknown data; the editor reads \"text\", dword:, hex: and "
                  "hex(N):, in lower case");
}

template <class U, class Out>
bool StatementReader<U, Out>::StringData(Statement& st, size_t at,
                                         size_t stop, Out& data) {
  const char* why = nullptr;
  if (!Unescape(at, stop, data, false, why)) return Skip(st, why);
  at = SkipBlanks(at, stop);
  if (at != stop && t_[at] != ';')
    return Skip(st, "text after the closing quote");
  data += '\0';
  st.kind = StatementKind::kSetValue;
  st.lossy = !exact_;
  return true;
}

template <class U, class Out>
bool StatementReader<U, Out>::DwordData(Statement& st, size_t at,
                                        size_t stop, Out& data) {
  at = SkipBlanks(at, stop);
  if (at == stop) return Skip(st, "dword: without digits");
  size_t digits = at;
  uint32_t value = 0;
  for (; digits < stop && HexDigit(t_[digits]) >= 0; ++digits)
    value = value * 16 + static_cast<uint32_t>(HexDigit(t_[digits]));
  const size_t rest = SkipBlanks(digits, stop);
  if (digits - at > 8 || (rest != stop && t_[rest] != ';'))
    return Skip(st, "dword: needs 1 to 8 hex digits");
  for (int i = 0; i < 4; ++i)
    data += static_cast<char>((value >> (8 * i)) & 0xFF);
  st.kind = StatementKind::kSetValue;
  return true;
}

// hex(N): with the type number in hex.
template <class U, class Out>
bool StatementReader<U, Out>::TypedHex(Statement& st, size_t at, size_t stop,
                                       Out& data) {
  const char* const bad = "hex(N): needs a type number in hex";
  if (at == stop || (at + 1 < stop && (t_[at + 1] == 'x' || t_[at + 1] == 'X')))
    return Skip(st, bad);
  const HexNumber n = ReadHexNumber(t_, at, stop);
  if (n.overflow || n.end + 1 >= stop || t_[n.end] != ')' ||
      t_[n.end + 1] != ':')
    return Skip(st, bad);
  st.type = n.value;
  return HexData(st, n.end + 2, stop, data);
}

template <class U, class Out>
bool StatementReader<U, Out>::HexData(Statement& st, size_t at, size_t stop,
                                      Out& data) {
  st.kind = StatementKind::kSetValue;
  if (at == stop) return true;  // no data, and no terminator added
  return HexStep(st, at, stop, data) != HexEnd::kContinued ||
         Continue(st, data);
}

// One line of hex data, and what may follow its '': blanks and a ';'
// comment. kDone finishes the value, kBad skips it.
template <class U, class Out>
typename StatementReader<U, Out>::HexEnd StatementReader<U, Out>::HexStep(
    Statement& st, size_t at, size_t end, Out& data) {
  size_t rest = 0;
  const HexEnd e = HexLine(at, end, data, rest);
  if (e == HexEnd::kBad) {
    Skip(st, "hex data must be bytes in hex separated by commas");
  } else if (e == HexEnd::kDone) {
    Finish(st, data);
  } else if (const size_t after = SkipBlanks(rest, end);
             after != end && t_[after] != ';') {
    Skip(st, "text after the continuation '\\'");
    return HexEnd::kBad;
  }
  return e;
}

// One line of hex data. The numbers are read as the editor's C library
// reads them, so "1" is a byte and blanks may come before a number but not
// before a comma.
template <class U, class Out>
typename StatementReader<U, Out>::HexEnd StatementReader<U, Out>::HexLine(
    size_t at, size_t end, Out& data, size_t& rest) {
  while (at < end) {
    // Two digits and a comma, as nearly every byte is written.
    if (at + 2 < end && t_[at + 2] == ',' && HexDigit(t_[at]) >= 0 &&
        HexDigit(t_[at + 1]) >= 0) {
      data += static_cast<char>(HexDigit(t_[at]) * 16 + HexDigit(t_[at + 1]));
      at += 3;
      continue;
    }
    const HexNumber n = ReadHexNumber(t_, at, end);
    if (n.overflow || n.value > 0xFF) return HexEnd::kBad;
    if (n.end == at) {  // no number here
      const size_t e = SkipBlanks(at, end);
      if (e < end && t_[e] == '\\') {
        rest = e + 1;
        return HexEnd::kContinued;
      }
      return e < end && t_[e] == ';' ? HexEnd::kDone : HexEnd::kBad;
    }
    data += static_cast<char>(n.value);
    size_t e = n.end;
    if (e < end && t_[e] != ',') {
      e = SkipBlanks(e, end);
      return e == end || t_[e] == ';' ? HexEnd::kDone : HexEnd::kBad;
    }
    at = e < end ? e + 1 : e;
  }
  return HexEnd::kDone;
}

// The lines after a '\': blank and ';' lines are passed over, the end of
// the file ends the value as it stands, and a line that does not start with
// a hex digit is the end of this value and of itself.
template <class U, class Out>
bool StatementReader<U, Out>::Continue(Statement& st, Out& data) {
  Line line;
  while (lines_.Next(line)) {
    const size_t at = SkipBlanks(line.begin, line.textEnd);
    if (at == line.textEnd || t_[at] == ';') continue;
    st.last = line;
    if (HexDigit(t_[at]) < 0)
      return Skip(st, "hex data continued with '\\' on a line that holds none");
    if (HexStep(st, at, line.textEnd, data) != HexEnd::kContinued) return true;
  }
  st.endedByFile = true;
  Finish(st, data);
  return true;
}

// String types end in a zero, which the editor adds where the data has
// none. A file it reads as Unicode holds them in UTF-16, which the "A" calls
// see in code page 1252; odd-length data is no UTF-16 and stays as it is.
template <class U, class Out>
void StatementReader<U, Out>::Finish(Statement& st, Out& data) const {
  if constexpr (std::is_same_v<Out, std::string>) {
    if (!IsStringType(st.type) || data.empty()) return;
    if (!file_.WideStrings()) {
      if (data.back() != '\0') data += '\0';
      return;
    }
    if (data.size() % 2 != 0) return;
    if (data[data.size() - 2] != '\0' || data.back() != '\0')
      data.append(2, '\0');
    bool exact = true;
    data = AnsiOfUtf16(data, &exact);
    st.lossy = !exact;
  } else {
    (void)st;
    (void)data;
  }
}

template class StatementReader<Units8, Discard>;
template class StatementReader<Units8, std::string>;
template class StatementReader<Units16, Discard>;
template class StatementReader<Units16, std::string>;

}  // namespace hostreg
