// Registry export files (.reg): REGEDIT4, what Windows 95's registry editor
// exports and imports, and "Windows Registry Editor Version 5.00", the UTF-16
// export of later Windows and of Wine.
//
// The file's bytes are kept as they were read. Saving copies them and splices
// in only what changed, so comments, blank lines, wrapping and escapes of
// every other line survive byte for byte.
//
// A UTF-16 file is parsed through a narrow copy with one byte per UTF-16 code
// unit: the unit's code page 1252 byte, or kForeignByte where it has none (the
// real unit is then read back from the file). Offsets in the copy map onto the
// file as 2 + 2 * offset, so both formats share the parser and the splicing.
#include "host/formats/reg/reg_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string_view>

namespace hostreg {

namespace {

const char* const kRoots[] = {
    "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
    "HKEY_USERS",         "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};
const char kMachineRoot[] = "HKEY_LOCAL_MACHINE";
const char kHeader4[] = "REGEDIT4";
const char kHeader5[] = "Windows Registry Editor Version 5.00";

// Regedit wraps hex data so that no line passes 80 columns.
constexpr size_t kWrapColumn = 76;

// Stands in the narrow copy of a UTF-16 file for a unit with no 1252 byte.
constexpr char kForeignByte = '\x01';

// Code page 1252's bytes 0x80..0x9F. The five it leaves undefined map onto
// the same C1 controls, as Windows maps them.
const uint16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint16_t UnitOf1252(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHigh1252[byte - 0x80] : byte;
}

// The 1252 byte of a UTF-16 unit, or -1 when it has none.
int ByteOf1252(uint16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
  for (int i = 0; i < 32; ++i)
    if (kHigh1252[i] == unit) return 0x80 + i;
  return -1;
}

char NarrowUnit(const unsigned char* p) {
  const int byte = ByteOf1252(static_cast<uint16_t>(p[0] | p[1] << 8));
  return byte < 0 ? kForeignByte : static_cast<char>(byte);
}

// The narrow copy of `count` UTF-16LE units at `p`.
void NarrowUnits(const unsigned char* p, size_t count, char* out) {
  // Eight units at a time while all are ASCII, as nearly all are: their low
  // bytes are the narrow ones. The mask is laid out byte by byte, so it
  // means the same in either byte order.
  static const unsigned char kNotAsciiBytes[8] = {0x80, 0xFF, 0x80, 0xFF,
                                                  0x80, 0xFF, 0x80, 0xFF};
  uint64_t notAscii;
  std::memcpy(&notAscii, kNotAsciiBytes, sizeof notAscii);
  size_t i = 0;
  while (i + 8 <= count) {
    uint64_t a, b;
    std::memcpy(&a, p + 2 * i, 8);
    std::memcpy(&b, p + 2 * i + 8, 8);
    if (((a | b) & notAscii) == 0) {
      for (size_t k = 0; k < 8; ++k)
        out[i + k] = static_cast<char>(p[2 * (i + k)]);
      i += 8;
      continue;
    }
    for (const size_t stop = i + 8; i < stop; ++i)
      out[i] = NarrowUnit(p + 2 * i);
  }
  for (; i < count; ++i) out[i] = NarrowUnit(p + 2 * i);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// How far loading reads ahead and lets go behind at a time.
constexpr size_t kStretch = 8 << 20;

// Each byte's hex digit value, or -1: loading checks every byte of every
// hex line, so this is a table rather than comparisons.
struct HexTable {
  signed char value[256];
  HexTable() {
    for (int c = 0; c < 256; ++c) value[c] = -1;
    for (int d = 0; d < 10; ++d) value['0' + d] = static_cast<signed char>(d);
    for (int d = 0; d < 6; ++d) {
      value['a' + d] = static_cast<signed char>(10 + d);
      value['A' + d] = static_cast<signed char>(10 + d);
    }
  }
};
const HexTable kHex;

inline int HexDigit(char c) {
  return kHex.value[static_cast<unsigned char>(c)];
}

// Code page 1252 folds no byte outside ASCII onto an ASCII one, so against
// an ASCII word (dword:, a root's name) folding ASCII letters decides.
inline char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

void AppendUnit(std::string& out, uint16_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The UTF-16 units of text in the model's bytes: 1252 bytes, with names'
// foreign characters as kForeignMark and four hex digits.
std::vector<uint16_t> UnitsOf(const std::string& text) {
  std::vector<uint16_t> units;
  units.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == kForeignMark && i + kForeignLength <= text.size()) {
      uint16_t unit = 0;
      for (size_t k = 1; k < kForeignLength; ++k)
        unit = static_cast<uint16_t>(unit * 16 + HexDigit(text[i + k]));
      units.push_back(unit);
      i += kForeignLength - 1;
    } else {
      units.push_back(UnitOf1252(static_cast<unsigned char>(text[i])));
    }
  }
  return units;
}

std::string Utf16Bytes(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (uint16_t unit : UnitsOf(text)) AppendUnit(out, unit);
  return out;
}

// For messages and --dry-run: UTF-8, pairing surrogates; a lone one becomes
// U+FFFD.
std::string Utf8Of(const std::vector<uint16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t cp = units[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() &&
        units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data in a Version 5.00 file is
// UTF-16; the "A" calls see it as 1252 bytes, '?' for what has no byte.
std::string AnsiOfUtf16(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const uint16_t unit = static_cast<uint16_t>(
        static_cast<unsigned char>(bytes[i]) |
        static_cast<unsigned char>(bytes[i + 1]) << 8);
    const int byte = ByteOf1252(unit);
    out += byte < 0 ? '?' : static_cast<char>(byte);
  }
  return out;
}

std::string EscapeText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

// A name may hold line breaks (read from their escapes); written raw they
// would split the line.
std::string EscapeName(const std::string& name) {
  std::string out;
  for (char c : EscapeText(name)) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

// A REG_SZ that a quoted string can carry: one terminating zero, no other
// zero and no line break.
bool PrintableString(const Value& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0')
    return false;
  const std::string body = value.data.substr(0, value.data.size() - 1);
  return body.find_first_of(std::string("\0\r\n", 3)) == std::string::npos;
}

// One value's line in the model's bytes. In a Version 5.00 file the hex form
// of a string type carries UTF-16 data.
std::string FormatValue(const Value& value, const std::string& eol,
                        bool utf16) {
  std::string line =
      value.name.empty() ? "@=" : "\"" + EscapeName(value.name) + "\"=";
  if (PrintableString(value)) {
    return line + "\"" +
           EscapeText(value.data.substr(0, value.data.size() - 1)) + "\"";
  }
  if (value.type == REG_DWORD && value.data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i)
      n = n * 256 + static_cast<unsigned char>(value.data[i]);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08x", n);
    return line + "dword:" + digits;
  }
  if (value.type == REG_BINARY) {
    line += "hex:";
  } else {
    char type[24];
    std::snprintf(type, sizeof type, "hex(%x):", value.type);
    line += type;
  }
  const std::string data = utf16 && IsStringType(value.type)
                               ? Utf16Bytes(value.data)
                               : value.data;
  size_t column = line.size();
  for (size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x",
                  static_cast<unsigned char>(data[i]));
    line += byte;
    column += 2;
    if (i + 1 < data.size()) {
      line += ',';
      ++column;
      if (column >= kWrapColumn) {
        line += "\\" + eol + "  ";
        column = 2;
      }
    }
  }
  return line;
}

// The loaded file, which keys' names and values refer into.
class RegText : public KeySource {
 public:
  RegText(std::shared_ptr<const FileBytes> bytes, bool utf16)
      : bytes_(std::move(bytes)), contents_(bytes_->View()), utf16_(utf16) {}

  std::string_view Name(size_t at, size_t length,
                        std::string& scratch) const override;
  void LoadValues(const std::vector<size_t>& sections,
                  std::vector<Value>& values, size_t& insertAt) const override;

  // What the parser reads: the file itself, or a UTF-16 file's narrow copy.
  std::string_view Text() const {
    return utf16_ ? narrow_ : contents_;
  }
  bool utf16() const { return utf16_; }
  // The UTF-16 unit behind narrow offset `at`.
  uint16_t UnitAt(size_t at) const {
    return static_cast<uint16_t>(
        static_cast<unsigned char>(contents_[2 + 2 * at]) |
        static_cast<unsigned char>(contents_[3 + 2 * at]) << 8);
  }

  // Lets the file's pages before Text() offset `at` go from memory.
  void ReleaseBefore(size_t at) const {
    bytes_->Release(0, utf16_ ? 2 + 2 * at : at);
  }

  std::shared_ptr<const FileBytes> bytes_;
  std::string_view contents_;
  // A UTF-16 file's narrow copy. Every byte of it is written, so it is
  // allocated without being cleared first.
  std::unique_ptr<char[]> narrowBytes_;
  std::string_view narrow_;
  bool utf16_;
};

// Saving keeps every line that the run did not change byte for byte as it
// was, rewrites changed values in place and puts new values at the end of
// their key's lines.
class RegFile : public Storage {
 public:
  RegFile(std::string path, std::shared_ptr<RegText> text)
      : Storage(std::move(path)), text_(std::move(text)) {}

  bool Render(const Registry& registry, std::string& contents,
              std::string&) const override {
    std::vector<std::string_view> pieces;
    std::deque<std::string> owned;
    Splice(registry, pieces, owned);
    size_t size = 0;
    for (const std::string_view& piece : pieces) size += piece.size();
    contents.clear();
    contents.reserve(size);
    for (const std::string_view& piece : pieces) contents.append(piece);
    return true;
  }
  bool RenderPieces(const Registry& registry,
                    std::vector<std::string_view>& pieces,
                    std::deque<std::string>& owned,
                    std::string&) const override {
    Splice(registry, pieces, owned);
    return true;
  }
  std::string DescribeChanges(const Registry& registry) const override;
  const FileBytes* Source() const override { return text_->bytes_.get(); }

  std::string_view Text() const { return text_->Text(); }

  std::shared_ptr<RegText> text_;
  std::string eol_ = "\r\n";  // the header line's ending, used for new lines

 private:
  void Splice(const Registry& registry, std::vector<std::string_view>& pieces,
              std::deque<std::string>& owned) const;
  std::string EndingAt(size_t end) const;
  std::string BreakBefore(size_t at) const;
  std::string RenderValue(const Value& value) const {
    return FormatValue(value, eol_, text_->utf16());
  }
  size_t FileOffset(size_t at) const {
    return text_->utf16() ? 2 + 2 * at : at;
  }
  // Model text as the file's bytes.
  std::string Encode(const std::string& text) const {
    return text_->utf16() ? Utf16Bytes(text) : text;
  }
};

// Where a line begins and ends in the parsed text.
struct Line {
  size_t begin = 0;    // first byte
  size_t textEnd = 0;  // before the line ending
  size_t end = 0;      // after the line ending
  size_t number = 0;   // 1-based
};

// Reads the text in two ways: loading checks every line and builds the keys
// without holding any value; decoding reads the value lines of one key's
// sections, already checked, into Values.
class Parser {
 public:
  Parser(const std::string& name, const RegText& file)
      : name_(name),
        file_(file),
        text_(file.Text()),
        utf16_(file.utf16()) {}

  bool Parse(Registry& registry, std::string& error);
  void Decode(const std::vector<size_t>& sections, std::vector<Value>& values,
              size_t& insertAt);

 private:
  bool NextLine(Line& line);
  bool Fail(size_t lineNumber, const std::string& why);
  bool ParseKeyLine(size_t begin, size_t end, const Line& line);
  bool ParseValueLine(const Line& first);
  // `out` is null while loading: the text is checked, not kept.
  bool ParseQuoted(size_t& at, size_t end, std::string* out, bool isName,
                   size_t lineNumber);
  bool ParseHex(size_t at, const Line& first, Line& last, std::string* out);
  void AppendChar(std::string& out, size_t at, bool isName) const;
  std::string Shown(size_t begin, size_t end) const;
  bool StartsWithNoCase(size_t at, size_t end, const char* prefix) const;
  bool IsRoot(const std::pair<size_t, size_t>& part, const char* root) const;
  bool SameText(const std::pair<size_t, size_t>& a,
                const std::pair<size_t, size_t>& b) const;

  const std::string& name_;
  const RegText& file_;
  const std::string_view text_;
  const bool utf16_;
  Registry* registry_ = nullptr;  // while loading
  std::vector<Value>* values_ = nullptr;  // while decoding
  size_t insertAt_ = kNoOrigin;
  // Loading looks for NUL bytes a stretch ahead of the line it reads, so
  // that the file is read once, front to back.
  bool checkNul_ = false;
  size_t firstNul_ = std::string::npos;
  size_t nulCheckedTo_ = 0;
  size_t releasedTo_ = 0;
  size_t pos_ = 0;
  size_t lineNumber_ = 0;
  std::string error_;
  bool inSection_ = false;
  // The last key line's components and keys: exports list a key's parent
  // just before it, so most key lines share a long prefix with the last one.
  std::vector<std::pair<size_t, size_t>> parts_;
  std::vector<std::pair<size_t, size_t>> lastParts_;
  std::vector<Key*> lastKeys_;
  std::string scratch_;
};

// Whether two equally long stretches of the text are the same characters:
// in a UTF-16 file the units themselves, as the narrow copy folds all
// foreign ones into one byte.
bool Parser::SameText(const std::pair<size_t, size_t>& a,
                      const std::pair<size_t, size_t>& b) const {
  const size_t n = a.second - a.first;
  if (!utf16_) return std::memcmp(&text_[a.first], &text_[b.first], n) == 0;
  return std::memcmp(&file_.contents_[2 + 2 * a.first],
                     &file_.contents_[2 + 2 * b.first], 2 * n) == 0;
}

bool Parser::IsRoot(const std::pair<size_t, size_t>& part,
                    const char* root) const {
  return std::strlen(root) == part.second - part.first &&
         StartsWithNoCase(part.first, part.second, root);
}

// `prefix` is ASCII.
bool Parser::StartsWithNoCase(size_t at, size_t end, const char* prefix) const {
  const size_t n = std::strlen(prefix);
  if (end - at < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (UpperAscii(text_[at + i]) != UpperAscii(prefix[i])) return false;
  return true;
}

void Parser::AppendChar(std::string& out, size_t at, bool isName) const {
  const char c = text_[at];
  if (c != kForeignByte || !utf16_) {
    out += c;
    return;
  }
  const uint16_t unit = file_.UnitAt(at);
  if (unit == static_cast<unsigned char>(kForeignByte)) {
    out += c;
  } else if (isName) {
    char mark[8];
    std::snprintf(mark, sizeof mark, "%04X", unit);
    out += kForeignMark;
    out += mark;
  } else {
    out += '?';  // what RegQueryValueExA gives for it
  }
}

std::string Parser::Shown(size_t begin, size_t end) const {
  if (!utf16_) return std::string(text_.substr(begin, end - begin));
  std::vector<uint16_t> units;
  for (size_t i = begin; i < end; ++i) units.push_back(file_.UnitAt(i));
  return Utf8Of(units);
}

bool Parser::NextLine(Line& line) {
  if (pos_ >= text_.size()) return false;
  line.begin = pos_;
  const void* nl = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
  if (nl == nullptr) {
    line.textEnd = line.end = text_.size();
  } else {
    line.textEnd =
        static_cast<size_t>(static_cast<const char*>(nl) - text_.data());
    line.end = line.textEnd + 1;
  }
  if (line.textEnd > line.begin && text_[line.textEnd - 1] == '\r')
    --line.textEnd;
  line.number = ++lineNumber_;
  pos_ = line.end;
  if (checkNul_ && firstNul_ == std::string::npos &&
      nulCheckedTo_ < line.end) {
    const size_t to = std::min(text_.size(), line.end + kStretch);
    const void* nul =
        std::memchr(text_.data() + nulCheckedTo_, '\0', to - nulCheckedTo_);
    if (nul != nullptr)
      firstNul_ = static_cast<size_t>(static_cast<const char*>(nul) -
                                      text_.data());
    nulCheckedTo_ = to;
  }
  if (firstNul_ < line.end)
    return Fail(line.number, "a NUL byte; this is not a text registry export");
  return true;
}

bool Parser::Fail(size_t lineNumber, const std::string& why) {
  if (error_.empty())
    error_ = name_ + ":" + std::to_string(lineNumber) + ": " + why;
  return false;
}

bool Parser::Parse(Registry& registry, std::string& error) {
  registry_ = &registry;
  checkNul_ = true;
  Line line;
  NextLine(line);  // the header, checked by the caller
  while (error_.empty() && NextLine(line)) {
    // What lies well behind is read again only when a key's values are
    // decoded; until then its pages need not stay in memory.
    if (line.begin >= releasedTo_ + kStretch) {
      releasedTo_ = line.begin - kStretch / 2;
      file_.ReleaseBefore(releasedTo_);
    }
    size_t at = line.begin;
    while (at < line.textEnd && IsBlank(text_[at])) ++at;
    if (at == line.textEnd || text_[at] == ';') continue;  // blank, comment
    if (text_[at] == '[') {
      size_t end = line.textEnd;
      while (end > at && IsBlank(text_[end - 1])) --end;
      if (text_[end - 1] != ']' || end - at < 2)
        Fail(line.number, "a key line must end with ']'");
      else
        ParseKeyLine(at + 1, end - 1, line);
    } else if (text_[at] == '"' || text_[at] == '@') {
      ParseValueLine(line);
    } else {
      Fail(line.number,
           "expected a [key], a \"value\"=data line or a ; comment");
    }
  }
  if (!error_.empty()) {
    error = error_;
    return false;
  }
  return true;
}

bool Parser::ParseKeyLine(size_t begin, size_t end, const Line& line) {
  if (begin < end && text_[begin] == '-')
    return Fail(line.number,
                "a key deletion ([-...]) has no place in a registry export");
  std::vector<std::pair<size_t, size_t>>& parts = parts_;
  parts.clear();
  for (size_t start = begin;;) {
    const void* slash =
        std::memchr(text_.data() + start, '\\', end - start);
    const size_t stop =
        slash == nullptr
            ? end
            : static_cast<size_t>(static_cast<const char*>(slash) -
                                  text_.data());
    parts.emplace_back(start, stop);
    if (stop == end) break;
    start = stop + 1;
  }
  bool known = false;
  for (const char* name : kRoots) known = known || IsRoot(parts[0], name);
  if (!known)
    return Fail(line.number, "unknown root \"" +
                                 Shown(parts[0].first, parts[0].second) +
                                 "\"; keys start with HKEY_LOCAL_MACHINE or "
                                 "another HKEY_ root");
  for (size_t i = 1; i < parts.size(); ++i) {
    const size_t length = parts[i].second - parts[i].first;
    if (length == 0)
      return Fail(line.number,
                  "empty key name in [" + Shown(begin, end) + "]");
    if (length > kMaxKeyNameLength)
      return Fail(line.number,
                  "key name longer than " + std::to_string(kMaxKeyNameLength) +
                      " characters");
  }
  if (parts.size() - 1 > kMaxKeyDepth)
    return Fail(line.number, "keys nested deeper than " +
                                 std::to_string(kMaxKeyDepth) +
                                 " levels, more than Windows allows");
  inSection_ = true;
  if (!IsRoot(parts[0], kMachineRoot)) {  // kept as text only
    lastParts_.clear();
    lastKeys_.clear();
    return true;
  }
  // Reuse the keys of the components spelt exactly as on the last key line.
  size_t same = 0;
  while (same < parts.size() && same < lastParts_.size()) {
    const auto& a = parts[same];
    const auto& b = lastParts_[same];
    if (a.second - a.first != b.second - b.first || !SameText(a, b)) break;
    ++same;
  }
  if (same == 0) same = 1;  // the root component: HKEY_LOCAL_MACHINE
  lastKeys_.resize(same);
  lastKeys_[0] = &registry_->Root();
  Key* key = lastKeys_[same - 1];
  for (size_t i = same; i < parts.size(); ++i) {
    const size_t length = parts[i].second - parts[i].first;
    const std::string_view name =
        file_.Name(parts[i].first, length, scratch_);
    const uint32_t hash = Registry::NameHash(name);
    Key* next = registry_->FindSubkey(*key, name, hash);
    key = next != nullptr
              ? next
              : registry_->AddSourceSubkey(*key, hash, parts[i].first, length);
    lastKeys_.push_back(key);
  }
  std::swap(lastParts_, parts);
  registry_->AddSection(*key, line.begin);
  return true;
}

bool Parser::ParseQuoted(size_t& at, size_t end, std::string* out,
                         bool isName, size_t lineNumber) {
  // text_[at] is the opening quote.
  for (++at; at < end; ++at) {
    const char c = text_[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c == '\\') {
      if (++at == end) break;
      const char e = text_[at];
      char c2;
      if (e == '\\' || e == '"') c2 = e;
      else if (e == 'n') c2 = '\n';
      else if (e == 'r') c2 = '\r';
      else if (e == '0' && isName)
        return Fail(lineNumber, "\\0 in a name; names cannot hold a NUL");
      else if (e == '0') c2 = '\0';
      else return Fail(lineNumber, "unknown escape \\" + Shown(at, at + 1));
      if (out != nullptr) *out += c2;
    } else if (out != nullptr) {
      AppendChar(*out, at, isName);
    }
  }
  return Fail(lineNumber, "unterminated string");
}

bool Parser::ParseHex(size_t at, const Line& first, Line& last,
                      std::string* out) {
  const char* const bad =
      "hex data must be pairs of hex digits separated by commas";
  size_t lineNumber = first.number;
  size_t end = first.textEnd;
  for (;;) {
    bool continues = false;
    while (true) {
      while (at < end && IsBlank(text_[at])) ++at;
      if (at == end) break;
      if (text_[at] == '\\') {
        ++at;
        while (at < end && IsBlank(text_[at])) ++at;
        if (at != end)
          return Fail(lineNumber, "text after the continuation '\\'");
        continues = true;
        break;
      }
      const int hi = HexDigit(text_[at]);
      const int lo = at + 1 < end ? HexDigit(text_[at + 1]) : -1;
      if (hi < 0 || lo < 0) return Fail(lineNumber, bad);
      if (out != nullptr) *out += static_cast<char>(hi * 16 + lo);
      at += 2;
      while (at < end && IsBlank(text_[at])) ++at;
      if (at == end) break;
      if (text_[at] == ',') {
        ++at;
        continue;
      }
      if (text_[at] == '\\') continue;
      return Fail(lineNumber, bad);
    }
    if (!continues) return true;
    Line next;
    if (!NextLine(next)) {
      return Fail(lineNumber,
                  "the file ends inside a value continued with '\\'");
    }
    lineNumber = next.number;
    last = next;
    at = next.begin;
    end = next.textEnd;
    while (at < end && IsBlank(text_[at])) ++at;
    if (at == end)
      return Fail(lineNumber, "blank line where the continued hex data "
                              "should go on");
  }
}

bool Parser::ParseValueLine(const Line& first) {
  const size_t number = first.number;
  if (!inSection_) return Fail(number, "a value before the first [key] line");
  const size_t end = first.textEnd;
  size_t at = first.begin;
  while (IsBlank(text_[at])) ++at;
  const bool keep = values_ != nullptr;
  Value value;
  if (text_[at] == '@') {
    ++at;
  } else if (!ParseQuoted(at, end, keep ? &value.name : nullptr, true,
                          number)) {
    return false;
  }
  while (at < end && IsBlank(text_[at])) ++at;
  if (at == end || text_[at] != '=')
    return Fail(number, "expected '=' after the value name");
  ++at;
  while (at < end && IsBlank(text_[at])) ++at;

  std::string* data = keep ? &value.data : nullptr;
  Line last = first;
  if (at < end && text_[at] == '"') {
    value.type = REG_SZ;
    if (!ParseQuoted(at, end, data, false, number)) return false;
    value.data += '\0';
    while (at < end && IsBlank(text_[at])) ++at;
    if (at != end) return Fail(number, "text after the closing quote");
  } else if (StartsWithNoCase(at, end, "dword:")) {
    at += 6;
    size_t stop = end;
    while (stop > at && IsBlank(text_[stop - 1])) --stop;
    if (stop == at || stop - at > 8)
      return Fail(number, "dword: needs 1 to 8 hex digits");
    uint32_t number32 = 0;
    for (size_t i = at; i < stop; ++i) {
      const int d = HexDigit(text_[i]);
      if (d < 0) return Fail(number, "dword: needs 1 to 8 hex digits");
      number32 = number32 * 16 + static_cast<uint32_t>(d);
    }
    value.type = REG_DWORD;
    for (int i = 0; i < 4; ++i)
      value.data += static_cast<char>((number32 >> (8 * i)) & 0xFF);
  } else if (StartsWithNoCase(at, end, "hex:")) {
    value.type = REG_BINARY;
    if (!ParseHex(at + 4, first, last, data)) return false;
  } else if (StartsWithNoCase(at, end, "hex(")) {
    at += 4;
    size_t close = at;
    while (close < end && text_[close] != ')') ++close;
    if (close == end || close == at || close - at > 8 || close + 1 >= end ||
        text_[close + 1] != ':')
      return Fail(number, "hex(N): needs a type number in hex");
    uint32_t type = 0;
    for (size_t i = at; i < close; ++i) {
      const int d = HexDigit(text_[i]);
      if (d < 0) return Fail(number, "hex(N): needs a type number in hex");
      type = type * 16 + static_cast<uint32_t>(d);
    }
    value.type = type;
    if (!ParseHex(close + 2, first, last, data)) return false;
    // Odd-length data is no UTF-16 string; it is kept as the bytes it is.
    if (utf16_ && IsStringType(type) && value.data.size() % 2 == 0)
      value.data = AnsiOfUtf16(value.data);
  } else if (at < end && text_[at] == '-') {
    return Fail(number,
                "a value deletion (=-) has no place in a registry export");
  } else {
    return Fail(number, "unknown data; expected \"text\", dword:, hex: or "
                        "hex(N):");
  }

  if (!keep) return true;  // loading: checked, decoded on first use
  value.origin = first.begin;
  value.originEnd = last.end;
  insertAt_ = last.end;
  // A name given twice: the later line wins, as it does on import.
  for (Value& existing : *values_) {
    if (NamesEqual(existing.name, value.name)) {
      existing = std::move(value);
      return true;
    }
  }
  values_->push_back(std::move(value));
  return true;
}

void Parser::Decode(const std::vector<size_t>& sections,
                    std::vector<Value>& values, size_t& insertAt) {
  values_ = &values;
  inSection_ = true;
  for (size_t section : sections) {
    pos_ = section;
    Line line;
    NextLine(line);  // the key line
    insertAt_ = line.end;
    while (NextLine(line)) {
      size_t at = line.begin;
      while (at < line.textEnd && IsBlank(text_[at])) ++at;
      if (at == line.textEnd || text_[at] == ';') continue;
      if (text_[at] == '[') break;  // the next section
      ParseValueLine(line);
    }
  }
  insertAt = insertAt_;
}

std::string_view RegText::Name(size_t at, size_t length,
                               std::string& scratch) const {
  if (!utf16_) return std::string_view(contents_).substr(at, length);
  // Names of foreign characters are rare; the rest read as they are.
  if (std::memchr(narrow_.data() + at, kForeignByte, length) == nullptr)
    return narrow_.substr(at, length);
  scratch.clear();
  for (size_t i = at; i < at + length; ++i) {
    const char c = narrow_[i];
    const uint16_t unit = UnitAt(i);
    if (c != kForeignByte || unit == static_cast<unsigned char>(kForeignByte)) {
      scratch += c;
    } else {
      char mark[8];
      std::snprintf(mark, sizeof mark, "%04X", unit);
      scratch += kForeignMark;
      scratch += mark;
    }
  }
  return scratch;
}

void RegText::LoadValues(const std::vector<size_t>& sections,
                         std::vector<Value>& values, size_t& insertAt) const {
  const std::string name;
  Parser parser(name, *this);
  parser.Decode(sections, values, insertAt);
}

// The earliest place in the file that belongs to the key or a key below it.
size_t FirstOrigin(const Registry& registry, const Key& key) {
  size_t first = registry.Origin(key);
  for (const Key* sub = registry.FirstSubkey(key); sub != nullptr;
       sub = registry.NextSibling(*sub))
    first = std::min(first, FirstOrigin(registry, *sub));
  return first;
}

std::string RegFile::EndingAt(size_t end) const {
  const std::string_view text = Text();
  if (end >= 2 && text.compare(end - 2, 2, "\r\n") == 0) return "\r\n";
  if (end >= 1 && text[end - 1] == '\n') return "\n";
  return std::string();
}

// What must come before a line inserted at `at`: nothing after a line
// ending; after a last line without one, a line break (only the "\n" when
// the file ends in a lone "\r", which would otherwise join the next line).
std::string RegFile::BreakBefore(size_t at) const {
  if (!EndingAt(at).empty()) return std::string();
  if (at > 0 && Text()[at - 1] == '\r') return "\n";
  return eol_;
}

void RegFile::Splice(const Registry& registry,
                     std::vector<std::string_view>& pieces,
                     std::deque<std::string>& owned) const {
  struct Edit {
    size_t begin;  // offsets in Text()
    size_t end;
    std::string text;  // model text, encoded on output
  };
  std::vector<Edit> edits;
  // New values, grouped by key in the order of their first write.
  std::vector<const Key*> order;
  std::map<const Key*, std::string> added;
  for (const Change& change : registry.Changes()) {
    const Value& value = registry.Values(*change.key)[change.valueIndex];
    if (!value.added) {
      edits.push_back({value.origin, value.originEnd,
                       RenderValue(value) + EndingAt(value.originEnd)});
      continue;
    }
    if (added.find(change.key) == added.end()) order.push_back(change.key);
    added[change.key] += RenderValue(value) + eol_;
  }
  for (const Key* key : order) {
    const std::string& lines = added[key];
    if (registry.Origin(*key) != kNoOrigin) {
      // After the key's last line; a file that ends without a line break
      // gets one first.
      const size_t at = registry.InsertAt(*key);
      edits.push_back({at, at, BreakBefore(at) + lines});
    } else if (FirstOrigin(registry, *key) != kNoOrigin) {
      // A key that had no section of its own gets one, just before the
      // first section below it.
      const size_t at = FirstOrigin(registry, *key);
      edits.push_back({at, at, FormatRegKeyLine(registry, *key) + eol_ +
                                   lines + eol_});
    } else {
      // Nor any below it (HKEY_LOCAL_MACHINE in an export without its
      // keys): a section at the end of the file.
      const size_t at = Text().size();
      edits.push_back({at, at, BreakBefore(at) + eol_ +
                                   FormatRegKeyLine(registry, *key) + eol_ +
                                   lines});
    }
  }
  std::stable_sort(edits.begin(), edits.end(),
                   [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
  const std::string_view file(text_->contents_);
  size_t copied = 0;
  for (const Edit& edit : edits) {
    const size_t begin = FileOffset(edit.begin);
    if (begin > copied) pieces.push_back(file.substr(copied, begin - copied));
    owned.push_back(Encode(edit.text));
    pieces.push_back(owned.back());
    copied = FileOffset(edit.end);
  }
  if (copied < file.size()) pieces.push_back(file.substr(copied));
}

// A Version 5.00 file's fragment is UTF-8, so that it reads on a terminal
// and in a review; `iconv -f UTF-8 -t UTF-16` makes it importable again.
std::string RegFile::DescribeChanges(const Registry& registry) const {
  if (!registry.Changed()) return std::string();
  std::vector<const Key*> order;
  std::map<const Key*, std::string> lines;
  for (const Change& change : registry.Changes()) {
    if (lines.find(change.key) == lines.end()) order.push_back(change.key);
    lines[change.key] +=
        RenderValue(registry.Values(*change.key)[change.valueIndex]) + eol_;
  }
  const bool utf16 = text_->utf16();
  std::string out = std::string(utf16 ? kHeader5 : kHeader4) + eol_;
  for (const Key* key : order)
    out += eol_ + FormatRegKeyLine(registry, *key) + eol_ + lines[key];
  return utf16 ? Utf8Of(UnitsOf(out)) : out;
}

size_t CountLines(std::string_view text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
}

}  // namespace

std::string FormatRegValue(const Value& value, const std::string& eol) {
  return FormatValue(value, eol, false);
}

std::string FormatRegKeyLine(const Registry& registry, const Key& key) {
  const std::string path = registry.Path(key);
  return "[" + std::string(kMachineRoot) + (path.empty() ? "" : "\\") + path +
         "]";
}

std::unique_ptr<Storage> ParseRegFile(const std::string& path,
                                      const std::string& name,
                                      std::string contents, Registry& registry,
                                      std::string& error) {
  return ParseRegFile(path, name,
                      std::make_shared<const FileBytes>(std::move(contents)),
                      registry, error);
}

std::unique_ptr<Storage> ParseRegFile(const std::string& path,
                                      const std::string& name,
                                      std::shared_ptr<const FileBytes> bytes,
                                      Registry& registry, std::string& error) {
  const std::string_view contents = bytes->View();
  auto fail = [&](size_t line, const std::string& why) {
    error = name + ":" + std::to_string(line) + ": " + why;
    return nullptr;
  };
  const auto byte = [&](size_t i) {
    return static_cast<unsigned char>(contents[i]);
  };
  if (contents.empty())
    return fail(1, "the file is empty; a registry export starts with the "
                   "line REGEDIT4 or " + std::string(kHeader5));
  const bool utf16 = contents.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
  if (contents.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF)
    return fail(1, "big-endian UTF-16 is not a registry export format; "
                   "save it as UTF-16LE");
  if (contents.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB &&
      byte(2) == 0xBF)
    return fail(1, "a UTF-8 file; registry exports are REGEDIT4 (ANSI) or "
                   "Version 5.00 in UTF-16");
  if (!utf16 && contents.size() >= 2 && byte(0) != 0 && byte(1) == 0)
    return fail(1, "UTF-16 without its byte-order mark (FF FE); an export "
                   "in UTF-16 starts with one");

  auto source = std::make_shared<RegText>(std::move(bytes), utf16);
  auto file = std::make_unique<RegFile>(path, source);
  if (utf16) {
    const size_t units = (contents.size() - 2) / 2;
    source->narrowBytes_.reset(new char[units]);
    char* narrow = source->narrowBytes_.get();
    const unsigned char* p =
        reinterpret_cast<const unsigned char*>(contents.data()) + 2;
    for (size_t i = 0; i < units; i += kStretch) {
      const size_t n = std::min(kStretch, units - i);
      NarrowUnits(p + 2 * i, n, narrow + i);
      if (n == kStretch) source->ReleaseBefore(i + n - 1);
    }
    source->narrow_ = std::string_view(narrow, units);
    if (contents.size() % 2 != 0)
      return fail(CountLines(source->narrow_),
                  "the file ends in the middle of a UTF-16 character");
  }
  const std::string_view text = file->Text();
  const size_t nl = text.find('\n');
  size_t headerEnd = nl == std::string::npos ? text.size() : nl;
  if (headerEnd > 0 && text[headerEnd - 1] == '\r') --headerEnd;
  std::string header(text.substr(0, headerEnd));
  while (!header.empty() && IsBlank(header.back())) header.pop_back();
  const char* const wanted = utf16 ? kHeader5 : kHeader4;
  if (header != wanted) {
    if (!utf16 && header == kHeader5)
      return fail(1, "a Version 5.00 export must be UTF-16 with a "
                     "byte-order mark, as regedit writes it");
    return fail(1, std::string("not a registry export: the first line must "
                               "be ") + wanted);
  }
  if (nl != std::string::npos)
    file->eol_ = nl > 0 && text[nl - 1] == '\r' ? "\r\n" : "\n";

  registry.SetSource(source);  // keys refer into it from the first line on
  Parser parser(name, *source);
  if (!parser.Parse(registry, error)) return nullptr;
  return file;
}

}  // namespace hostreg
