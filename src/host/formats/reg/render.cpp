#include "host/formats/reg/render.h"

#include <cstdio>

#include "host/formats/changes.h"
#include "host/formats/reg/codepage.h"
#include "host/formats/reg/syntax.h"

namespace hostreg {

const char kRegedit4Header[] = "REGEDIT4";
const char kVersion5Header[] = "Windows Registry Editor Version 5.00";

namespace {

// Regedit wraps hex data so that no line passes 80 columns.
constexpr size_t kWrapColumn = 76;

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

}  // namespace

std::string DwordText(const std::string& data) {
  uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = n * 256 + static_cast<unsigned char>(data[i]);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%08x", n);
  return digits;
}

void AppendHex(std::string& line, DWORD type, const std::string& data,
               const std::string& eol) {
  if (type == REG_BINARY) {
    line += "hex:";
  } else {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", type);
    line += prefix;
  }
  size_t column = line.size();
  for (size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x",
                  static_cast<unsigned char>(data[i]));
    line += byte;
    column += 2;
    if (i + 1 == data.size()) break;
    line += ',';
    ++column;
    if (column >= kWrapColumn) {
      line += "\\" + eol + "  ";
      column = 2;
    }
  }
}

std::string FormatValueLine(const Value& value, const std::string& eol,
                            bool utf16, StringRules rules) {
  if (ReadsOtherwise(rules, value.type)) {
    Value read = value;
    read.data = ReadData(rules, value.type, value.data);
    return FormatValueLine(read, eol, utf16, StringRules::kAsGiven);
  }
  std::string line =
      value.name.empty() ? "@=" : "\"" + EscapeName(value.name) + "\"=";
  if (PrintableString(value))
    return line + "\"" +
           EscapeText(value.data.substr(0, value.data.size() - 1)) + "\"";
  if (value.type == REG_DWORD && value.data.size() == 4)
    return line + "dword:" + DwordText(value.data);
  AppendHex(line, value.type,
            utf16 && IsStringType(value.type) ? Utf16OfData(value.data)
                                              : value.data,
            eol);
  return line;
}

std::string FormatValueDeletion(const std::string& name) {
  return (name.empty() ? "@" : "\"" + EscapeName(name) + "\"") + "=-";
}

std::string FormatStructuralChanges(const Registry& registry,
                                    const ChangeSet& changes, bool created,
                                    const std::string& eol, bool utf16) {
  const KeyTree& keys = registry.keys();
  std::string out;
  if (!created) {
    for (const Key* key : changes.deleted)
      out += eol + "[-" + keys.FullPath(*key) + "]" + eol;
    return out;
  }
  for (const Key* key : changes.created) {
    out += eol + KeyLineOf(keys, *key) + eol;
    for (const Value& value : registry.values().Of(*key))
      out += FormatValueLine(value, eol, utf16, registry.stringRules()) + eol;
  }
  return out;
}

// Deletions first and new keys last, so that the fragment imported into
// the registry as it was loaded gives the registry the run left: a key
// deleted and made again is new, and comes after its deletion. An 8-bit
// fragment shows a name's character that 1252 has no byte for as '?', as
// the "A" calls do: such a save is refused, and the mark is a NUL byte.
std::string FormatChanges(const Registry& registry, const ChangeSet& changes,
                          const std::string& header, const std::string& eol,
                          bool utf16) {
  if (changes.empty()) return std::string();
  std::string out = header + eol;
  out += FormatStructuralChanges(registry, changes, false, eol, utf16);
  for (const KeyChanges& changed : changes.keys) {
    out += eol + KeyLineOf(registry.keys(), *changed.key) + eol;
    if (const std::vector<Value>* gone =
            registry.values().Removed(*changed.key))
      for (const Value& value : *gone)
        out += FormatValueDeletion(value.name) + eol;
    const std::vector<Value>& values = registry.values().Of(*changed.key);
    for (size_t index : changed.values)
      out += FormatValueLine(values[index], eol, utf16,
                             registry.stringRules()) +
             eol;
  }
  out += FormatStructuralChanges(registry, changes, true, eol, utf16);
  return utf16 ? out : AnsiName(out);
}

}  // namespace hostreg
