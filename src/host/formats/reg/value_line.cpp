#include "host/formats/reg/value_line.h"

#include <type_traits>

#include "host/formats/reg/codepage.h"
#include "host/formats/reg/text.h"

namespace hostreg {

namespace {

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

template <class Out>
class ValueLineParser {
 public:
  ValueLineParser(const RegText& text, LineReader& lines)
      : file_(text), text_(text.Text()), lines_(lines) {}

  bool Parse(const Line& first, Line& last, Out& name, DWORD& type, Out& data);

 private:
  size_t SkipBlanks(size_t at, size_t end) const {
    while (at < end && IsBlank(text_[at])) ++at;
    return at;
  }
  bool Fail(size_t number, const std::string& why) {
    return lines_.Fail(number, why);
  }
  bool ParseQuoted(size_t& at, size_t end, size_t number, bool isName,
                   Out& out);
  void AppendChar(Out& out, size_t at, bool isName) const;
  bool ParseString(size_t at, size_t end, size_t number, Out& data);
  bool ParseDword(size_t at, size_t end, size_t number, Out& data);
  bool ParseTypedHex(size_t at, const Line& first, Line& last, DWORD& type,
                     Out& data);
  bool ParseHexBytes(size_t at, const Line& first, Line& last, Out& out);
  bool ContinueHex(size_t number, Line& last, size_t& at, size_t& end);

  const RegText& file_;
  const std::string_view text_;
  LineReader& lines_;
};

template <class Out>
bool ValueLineParser<Out>::Parse(const Line& first, Line& last, Out& name,
                                 DWORD& type, Out& data) {
  const size_t number = first.number;
  const size_t end = first.textEnd;
  size_t at = first.begin;
  while (IsBlank(text_[at])) ++at;  // the caller saw '"' or '@' behind them
  if (text_[at] == '@') {
    ++at;
  } else if (!ParseQuoted(at, end, number, true, name)) {
    return false;
  }
  at = SkipBlanks(at, end);
  if (at == end || text_[at] != '=')
    return Fail(number, "expected '=' after the value name");
  at = SkipBlanks(at + 1, end);
  last = first;
  const std::string_view rest = text_.substr(at, end - at);
  if (!rest.empty() && rest[0] == '"') {
    type = REG_SZ;
    return ParseString(at, end, number, data);
  }
  if (StartsWithWord(rest, "dword:")) {
    type = REG_DWORD;
    return ParseDword(at + 6, end, number, data);
  }
  if (StartsWithWord(rest, "hex:")) {
    type = REG_BINARY;
    return ParseHexBytes(at + 4, first, last, data);
  }
  if (StartsWithWord(rest, "hex("))
    return ParseTypedHex(at + 4, first, last, type, data);
  if (!rest.empty() && rest[0] == '-')
    return Fail(number,
                "a value deletion (=-) has no place in a registry export");
  return Fail(number, "unknown data; expected \"text\", dword:, hex: or "
                      "hex(N):");
}

// text_[at] is the opening quote; `at` ends behind the closing one.
template <class Out>
bool ValueLineParser<Out>::ParseQuoted(size_t& at, size_t end, size_t number,
                                       bool isName, Out& out) {
  for (++at; at < end; ++at) {
    const char c = text_[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c != '\\') {
      AppendChar(out, at, isName);
      continue;
    }
    if (++at == end) break;
    const char e = text_[at];
    if (e == '\\' || e == '"') out += e;
    else if (e == 'n') out += '\n';
    else if (e == 'r') out += '\r';
    else if (e == '0' && isName)
      return Fail(number, "\\0 in a name; names cannot hold a NUL");
    else if (e == '0') out += '\0';
    else return Fail(number, "unknown escape \\" + file_.Shown(at, at + 1));
  }
  return Fail(number, "unterminated string");
}

template <class Out>
void ValueLineParser<Out>::AppendChar(Out& out, size_t at, bool isName) const {
  const char c = text_[at];
  if (c != kForeignByte || !file_.utf16()) {
    out += c;
    return;
  }
  const uint16_t unit = file_.UnitAt(at);
  if (unit == static_cast<unsigned char>(kForeignByte))
    out += c;
  else if (isName)
    AppendForeign(out, unit);
  else
    out += '?';  // what RegQueryValueExA gives for it
}

template <class Out>
bool ValueLineParser<Out>::ParseString(size_t at, size_t end, size_t number,
                                       Out& data) {
  if (!ParseQuoted(at, end, number, false, data)) return false;
  data += '\0';
  if (SkipBlanks(at, end) != end)
    return Fail(number, "text after the closing quote");
  return true;
}

template <class Out>
bool ValueLineParser<Out>::ParseDword(size_t at, size_t end, size_t number,
                                      Out& data) {
  size_t stop = end;
  while (stop > at && IsBlank(text_[stop - 1])) --stop;
  uint32_t value;
  if (!ParseHexNumber(text_.substr(at, stop - at), 8, value))
    return Fail(number, "dword: needs 1 to 8 hex digits");
  for (int i = 0; i < 4; ++i)
    data += static_cast<char>((value >> (8 * i)) & 0xFF);
  return true;
}

// hex(N): with the type number in hex.
template <class Out>
bool ValueLineParser<Out>::ParseTypedHex(size_t at, const Line& first,
                                         Line& last, DWORD& type, Out& data) {
  const size_t end = first.textEnd;
  const size_t found = text_.substr(at, end - at).find(')');
  const size_t close = found == std::string_view::npos ? end : at + found;
  uint32_t number;
  if (close + 1 >= end || text_[close + 1] != ':' ||
      !ParseHexNumber(text_.substr(at, close - at), 8, number))
    return Fail(first.number, "hex(N): needs a type number in hex");
  type = number;
  if (!ParseHexBytes(close + 2, first, last, data)) return false;
  if constexpr (std::is_same_v<Out, std::string>) {
    // A Version 5.00 file's strings are UTF-16; odd-length data is no
    // UTF-16 string and is kept as the bytes it is.
    if (file_.utf16() && IsStringType(type) && data.size() % 2 == 0)
      data = AnsiOfUtf16(data);
  }
  return true;
}

// Pairs of hex digits separated by commas, continued on the next line
// after a '\'.
template <class Out>
bool ValueLineParser<Out>::ParseHexBytes(size_t at, const Line& first,
                                         Line& last, Out& out) {
  const char* const bad =
      "hex data must be pairs of hex digits separated by commas";
  size_t number = first.number;
  size_t end = first.textEnd;
  for (;;) {
    at = SkipBlanks(at, end);
    if (at == end) return true;
    if (text_[at] == '\\') {
      if (SkipBlanks(at + 1, end) != end)
        return Fail(number, "text after the continuation '\\'");
      if (!ContinueHex(number, last, at, end)) return false;
      number = last.number;
      continue;
    }
    const int hi = HexDigit(text_[at]);
    const int lo = at + 1 < end ? HexDigit(text_[at + 1]) : -1;
    if (hi < 0 || lo < 0) return Fail(number, bad);
    out += static_cast<char>(hi * 16 + lo);
    at = SkipBlanks(at + 2, end);
    if (at == end) return true;
    if (text_[at] == ',') ++at;
    else if (text_[at] != '\\') return Fail(number, bad);
  }
}

// Moves on to the line that continues hex data.
template <class Out>
bool ValueLineParser<Out>::ContinueHex(size_t number, Line& last, size_t& at,
                                       size_t& end) {
  Line next;
  if (!lines_.Next(next))
    return Fail(number, "the file ends inside a value continued with '\\'");
  last = next;
  end = next.textEnd;
  at = SkipBlanks(next.begin, end);
  if (at == end)
    return Fail(next.number,
                "blank line where the continued hex data should go on");
  return true;
}

}  // namespace

template <class Out>
bool ParseValueLine(const RegText& text, LineReader& lines, const Line& first,
                    Line& last, Out& name, DWORD& type, Out& data) {
  return ValueLineParser<Out>(text, lines).Parse(first, last, name, type,
                                                 data);
}

template bool ParseValueLine<Discard>(const RegText&, LineReader&, const Line&,
                                      Line&, Discard&, DWORD&, Discard&);
template bool ParseValueLine<std::string>(const RegText&, LineReader&,
                                          const Line&, Line&, std::string&,
                                          DWORD&, std::string&);

}  // namespace hostreg
