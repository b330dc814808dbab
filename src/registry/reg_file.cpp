// REGEDIT4 files: what Windows 95's registry editor exports and imports.
//
// The file's bytes are kept as they were read. Saving copies them and splices
// in only what changed, so comments, blank lines, wrapping and escapes of
// every other line survive byte for byte.
#include "reg_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace hostreg {

namespace {

const char* const kRoots[] = {
    "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
    "HKEY_USERS",         "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};
const char kMachineRoot[] = "HKEY_LOCAL_MACHINE";
const char kHeader4[] = "REGEDIT4";

// Regedit wraps hex data so that no line passes 80 columns.
constexpr size_t kWrapColumn = 76;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (text.size() - at < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (FoldCase(static_cast<unsigned char>(text[at + i])) !=
        FoldCase(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Saving keeps every line that the run did not change byte for byte as it
// was, rewrites changed values in place and puts new values at the end of
// their key's lines.
class RegFile : public Storage {
 public:
  RegFile(std::string path, std::string contents)
      : Storage(std::move(path)), contents_(std::move(contents)) {}

  bool Render(const Registry& registry, std::string& contents,
              std::string&) const override {
    contents = Splice(registry);
    return true;
  }
  std::string DescribeChanges(const Registry& registry) const override;
  std::string Splice(const Registry& registry) const;

  std::string contents_;
  std::string eol_ = "\r\n";  // the header line's ending, used for new lines

 private:
  std::string EndingAt(size_t end) const;
  std::string RenderValue(const Value& value) const {
    return FormatRegValue(value, eol_);
  }
};

// Line-by-line reader that knows where each line begins and ends in the file.
struct Line {
  size_t begin = 0;       // first byte
  size_t textEnd = 0;     // before the line ending
  size_t end = 0;         // after the line ending
  size_t number = 0;      // 1-based
};

class Parser {
 public:
  Parser(const std::string& name, const std::string& text, Registry& registry)
      : name_(name), text_(text), registry_(registry) {}

  bool Parse(RegFile& file, std::string& error);

 private:
  bool NextLine(Line& line);
  bool Fail(size_t lineNumber, const std::string& why);
  bool ParseKeyLine(const std::string& body, const Line& line);
  bool ParseValueLine(const Line& first);
  bool ParseQuoted(const std::string& s, size_t& at, std::string& out,
                   size_t lineNumber);
  bool ParseHex(std::string text, const Line& first, Line& last,
                std::string& out);

  const std::string& name_;
  const std::string& text_;
  Registry& registry_;
  size_t pos_ = 0;
  size_t lineNumber_ = 0;
  std::string error_;
  bool inSection_ = false;
  Key* key_ = nullptr;  // null inside a section of another root
};

bool Parser::NextLine(Line& line) {
  if (pos_ >= text_.size()) return false;
  line.begin = pos_;
  const void* nl = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
  if (nl == nullptr) {
    line.textEnd = line.end = text_.size();
  } else {
    line.textEnd = static_cast<size_t>(static_cast<const char*>(nl) - text_.data());
    line.end = line.textEnd + 1;
  }
  if (line.textEnd > line.begin && text_[line.textEnd - 1] == '\r')
    --line.textEnd;
  line.number = ++lineNumber_;
  pos_ = line.end;
  return true;
}

bool Parser::Fail(size_t lineNumber, const std::string& why) {
  error_ = name_ + ":" + std::to_string(lineNumber) + ": " + why;
  return false;
}

bool Parser::Parse(RegFile& file, std::string& error) {
  Line line;
  if (text_.empty()) {
    error = name_ + ":1: the file is empty; a registry export starts with "
                    "the line REGEDIT4";
    return false;
  }
  if (text_.size() >= 2 && static_cast<unsigned char>(text_[0]) == 0xFF &&
      static_cast<unsigned char>(text_[1]) == 0xFE) {
    error = name_ + ":1: UTF-16 registry files are not supported; save the "
                    "export as REGEDIT4";
    return false;
  }
  NextLine(line);
  std::string header = text_.substr(line.begin, line.textEnd - line.begin);
  while (!header.empty() && IsBlank(header.back())) header.pop_back();
  if (header != kHeader4) {
    error = name_ + ":1: not a registry export: the first line must be "
                    "REGEDIT4";
    return false;
  }
  file.eol_ = line.end > line.textEnd + 1 ? "\r\n"
              : line.end == line.textEnd + 1 ? "\n"
                                             : "\r\n";

  while (NextLine(line)) {
    if (std::memchr(text_.data() + line.begin, '\0', line.end - line.begin)) {
      Fail(line.number, "a NUL byte; this is not a text registry export");
      break;
    }
    size_t at = line.begin;
    while (at < line.textEnd && IsBlank(text_[at])) ++at;
    if (at == line.textEnd || text_[at] == ';') continue;  // blank, comment
    bool ok;
    if (text_[at] == '[') {
      size_t end = line.textEnd;
      while (end > at && IsBlank(text_[end - 1])) --end;
      if (text_[end - 1] != ']' || end - at < 2)
        ok = Fail(line.number, "a key line must end with ']'");
      else
        ok = ParseKeyLine(text_.substr(at + 1, end - at - 2), line);
    } else if (text_[at] == '"' || text_[at] == '@') {
      ok = ParseValueLine(line);
    } else {
      ok = Fail(line.number,
                "expected a [key], a \"value\"=data line or a ; comment");
    }
    if (!ok) break;
  }
  if (!error_.empty()) {
    error = error_;
    return false;
  }
  return true;
}

bool Parser::ParseKeyLine(const std::string& body, const Line& line) {
  if (!body.empty() && body[0] == '-')
    return Fail(line.number,
                "a key deletion ([-...]) has no place in a registry export");
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t slash = body.find('\\', start);
    parts.push_back(body.substr(start, slash == std::string::npos
                                           ? std::string::npos
                                           : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  bool known = false;
  for (const char* root : kRoots) known = known || NamesEqual(parts[0], root);
  if (!known)
    return Fail(line.number, "unknown root \"" + parts[0] +
                                 "\"; keys start with HKEY_LOCAL_MACHINE or "
                                 "another HKEY_ root");
  for (size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].empty())
      return Fail(line.number, "empty key name in [" + body + "]");
    if (parts[i].size() > kMaxKeyNameLength)
      return Fail(line.number,
                  "key name longer than " + std::to_string(kMaxKeyNameLength) +
                      " characters");
  }
  if (parts.size() - 1 > kMaxKeyDepth)
    return Fail(line.number, "keys nested deeper than " +
                                 std::to_string(kMaxKeyDepth) +
                                 " levels, more than Windows allows");
  inSection_ = true;
  key_ = nullptr;
  if (!NamesEqual(parts[0], kMachineRoot)) return true;  // kept as text only
  Key* key = &registry_.Root();
  for (size_t i = 1; i < parts.size(); ++i) {
    Key* next = key->FindSubkey(parts[i]);
    key = next != nullptr ? next : key->AddSubkey(parts[i]);
  }
  if (key->origin == kNoOrigin) key->origin = line.begin;
  key->insertAt = line.end;
  key_ = key;
  return true;
}

bool Parser::ParseQuoted(const std::string& s, size_t& at, std::string& out,
                         size_t lineNumber) {
  // s[at] is the opening quote.
  for (++at; at < s.size(); ++at) {
    const char c = s[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c == '\\') {
      if (++at == s.size()) break;
      const char e = s[at];
      if (e == '\\' || e == '"') out += e;
      else if (e == 'n') out += '\n';
      else if (e == 'r') out += '\r';
      else if (e == '0') out += '\0';
      else return Fail(lineNumber, std::string("unknown escape \\") + e);
    } else {
      out += c;
    }
  }
  return Fail(lineNumber, "unterminated string");
}

bool Parser::ParseHex(std::string text, const Line& first, Line& last,
                      std::string& out) {
  size_t lineNumber = first.number;
  for (;;) {
    size_t at = 0;
    bool continues = false;
    while (true) {
      while (at < text.size() && IsBlank(text[at])) ++at;
      if (at == text.size()) break;
      if (text[at] == '\\') {
        ++at;
        while (at < text.size() && IsBlank(text[at])) ++at;
        if (at != text.size())
          return Fail(lineNumber, "text after the continuation '\\'");
        continues = true;
        break;
      }
      const int hi = HexDigit(text[at]);
      const int lo = at + 1 < text.size() ? HexDigit(text[at + 1]) : -1;
      if (hi < 0 || lo < 0)
        return Fail(lineNumber, "hex data must be pairs of hex digits "
                                "separated by commas");
      out += static_cast<char>(hi * 16 + lo);
      at += 2;
      while (at < text.size() && IsBlank(text[at])) ++at;
      if (at == text.size()) break;
      if (text[at] == ',') {
        ++at;
        continue;
      }
      if (text[at] == '\\') continue;
      return Fail(lineNumber, "hex data must be pairs of hex digits "
                              "separated by commas");
    }
    if (!continues) return true;
    Line next;
    if (!NextLine(next))
      return Fail(lineNumber, "the file ends inside a value continued "
                              "with '\\'");
    lineNumber = next.number;
    if (std::memchr(text_.data() + next.begin, '\0', next.end - next.begin))
      return Fail(lineNumber, "a NUL byte; this is not a text registry export");
    last = next;
    text = text_.substr(next.begin, next.textEnd - next.begin);
    size_t lead = 0;
    while (lead < text.size() && IsBlank(text[lead])) ++lead;
    if (lead == text.size())
      return Fail(lineNumber, "blank line where the continued hex data "
                              "should go on");
  }
}

bool Parser::ParseValueLine(const Line& first) {
  const size_t number = first.number;
  if (!inSection_) return Fail(number, "a value before the first [key] line");
  const std::string s = text_.substr(first.begin, first.textEnd - first.begin);
  size_t at = 0;
  while (IsBlank(s[at])) ++at;
  std::string name;
  if (s[at] == '@') {
    ++at;
  } else if (!ParseQuoted(s, at, name, number)) {
    return false;
  }
  while (at < s.size() && IsBlank(s[at])) ++at;
  if (at == s.size() || s[at] != '=')
    return Fail(number, "expected '=' after the value name");
  ++at;
  while (at < s.size() && IsBlank(s[at])) ++at;

  Value value;
  value.name = name;
  Line last = first;
  if (at < s.size() && s[at] == '"') {
    value.type = REG_SZ;
    if (!ParseQuoted(s, at, value.data, number)) return false;
    value.data += '\0';
    while (at < s.size() && IsBlank(s[at])) ++at;
    if (at != s.size()) return Fail(number, "text after the closing quote");
  } else if (StartsWithNoCase(s, at, "dword:")) {
    at += 6;
    size_t end = s.size();
    while (end > at && IsBlank(s[end - 1])) --end;
    if (end == at || end - at > 8)
      return Fail(number, "dword: needs 1 to 8 hex digits");
    uint32_t number32 = 0;
    for (size_t i = at; i < end; ++i) {
      const int d = HexDigit(s[i]);
      if (d < 0) return Fail(number, "dword: needs 1 to 8 hex digits");
      number32 = number32 * 16 + static_cast<uint32_t>(d);
    }
    value.type = REG_DWORD;
    for (int i = 0; i < 4; ++i)
      value.data += static_cast<char>((number32 >> (8 * i)) & 0xFF);
  } else if (StartsWithNoCase(s, at, "hex:")) {
    value.type = REG_BINARY;
    if (!ParseHex(s.substr(at + 4), first, last, value.data)) return false;
  } else if (StartsWithNoCase(s, at, "hex(")) {
    at += 4;
    const size_t close = s.find(')', at);
    if (close == std::string::npos || close == at || close - at > 8 ||
        close + 1 >= s.size() || s[close + 1] != ':')
      return Fail(number, "hex(N): needs a type number in hex");
    uint32_t type = 0;
    for (size_t i = at; i < close; ++i) {
      const int d = HexDigit(s[i]);
      if (d < 0) return Fail(number, "hex(N): needs a type number in hex");
      type = type * 16 + static_cast<uint32_t>(d);
    }
    value.type = type;
    if (!ParseHex(s.substr(close + 2), first, last, value.data)) return false;
  } else if (at < s.size() && s[at] == '-') {
    return Fail(number,
                "a value deletion (=-) has no place in a registry export");
  } else {
    return Fail(number, "unknown data; expected \"text\", dword:, hex: or "
                        "hex(N):");
  }

  if (key_ == nullptr) return true;  // another root: kept as text only
  value.origin = first.begin;
  value.originEnd = last.end;
  key_->insertAt = last.end;
  // A name given twice: the later line wins, as it does on import.
  if (Value* existing = key_->FindValue(name)) {
    *existing = std::move(value);
  } else {
    key_->values.push_back(std::move(value));
  }
  return true;
}

std::string EscapeText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
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

}  // namespace

std::string FormatRegValue(const Value& value, const std::string& eol) {
  std::string line =
      value.name.empty() ? "@=" : "\"" + EscapeText(value.name) + "\"=";
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
  size_t column = line.size();
  for (size_t i = 0; i < value.data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x",
                  static_cast<unsigned char>(value.data[i]));
    line += byte;
    column += 2;
    if (i + 1 < value.data.size()) {
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

std::string FormatRegKeyLine(const Key& key) {
  const std::string path = key.Path();
  return "[" + std::string(kMachineRoot) + (path.empty() ? "" : "\\") + path +
         "]";
}

namespace {

std::string RegFile::EndingAt(size_t end) const {
  if (end >= 2 && contents_.compare(end - 2, 2, "\r\n") == 0) return "\r\n";
  if (end >= 1 && contents_[end - 1] == '\n') return "\n";
  return std::string();
}

// The earliest place in the file that belongs to the key or a key below it.
size_t FirstOrigin(const Key& key) {
  size_t first = key.origin;
  for (const auto& sub : key.subkeys) first = std::min(first, FirstOrigin(*sub));
  return first;
}

std::string RegFile::Splice(const Registry& registry) const {
  struct Edit {
    size_t begin;
    size_t end;
    std::string text;
  };
  std::vector<Edit> edits;
  // New values, grouped by key in the order of their first write.
  std::vector<const Key*> order;
  std::map<const Key*, std::string> added;
  for (const Change& change : registry.Changes()) {
    const Value& value = change.key->values[change.valueIndex];
    if (!value.added) {
      std::string ending = EndingAt(value.originEnd);
      edits.push_back({value.origin, value.originEnd,
                       RenderValue(value) + (ending.empty() ? "" : ending)});
      continue;
    }
    if (added.find(change.key) == added.end()) order.push_back(change.key);
    added[change.key] += RenderValue(value) + eol_;
  }
  for (const Key* key : order) {
    const std::string& lines = added[key];
    if (key->origin != kNoOrigin) {
      // After the key's last line; a file that ends without a line break
      // gets one first.
      const bool needBreak = EndingAt(key->insertAt).empty();
      edits.push_back(
          {key->insertAt, key->insertAt, (needBreak ? eol_ : "") + lines});
    } else {
      // A key that had no section of its own gets one, just before the
      // first section below it.
      const size_t at = FirstOrigin(*key);
      edits.push_back({at, at, FormatRegKeyLine(*key) + eol_ + lines + eol_});
    }
  }
  std::stable_sort(edits.begin(), edits.end(),
                   [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
  std::string out;
  out.reserve(contents_.size() + 256);
  size_t copied = 0;
  for (const Edit& edit : edits) {
    out.append(contents_, copied, edit.begin - copied);
    out += edit.text;
    copied = edit.end;
  }
  out.append(contents_, copied, std::string::npos);
  return out;
}

std::string RegFile::DescribeChanges(const Registry& registry) const {
  if (!registry.Changed()) return std::string();
  std::vector<const Key*> order;
  std::map<const Key*, std::string> lines;
  for (const Change& change : registry.Changes()) {
    if (lines.find(change.key) == lines.end()) order.push_back(change.key);
    lines[change.key] +=
        RenderValue(change.key->values[change.valueIndex]) + eol_;
  }
  std::string out = std::string(kHeader4) + eol_;
  for (const Key* key : order)
    out += eol_ + FormatRegKeyLine(*key) + eol_ + lines[key];
  return out;
}

}  // namespace

std::unique_ptr<Storage> ParseRegFile(const std::string& path,
                                      const std::string& name,
                                      std::string contents, Registry& registry,
                                      std::string& error) {
  auto file = std::make_unique<RegFile>(path, std::move(contents));
  Parser parser(name, file->contents_, registry);
  if (!parser.Parse(*file, error)) return nullptr;
  return file;
}

}  // namespace hostreg
