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

// Backslashes and quotes escaped; with `name`, line breaks too (a name
// may hold them, read from their escapes; written raw they would split the
// line).
void AppendEscaped(std::string& out, std::string_view text, bool name) {
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (name && c == '\n') out += "\\n";
    else if (name && c == '\r') out += "\\r";
    else out += c;
  }
}

void AppendName(std::string& out, const std::string& name) {
  if (name.empty()) {
    out += '@';
    return;
  }
  out += '"';
  AppendEscaped(out, name, true);
  out += '"';
}

// A REG_SZ that a quoted string can carry: one terminating zero, no other
// zero and no line break.
bool PrintableString(const Value& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0')
    return false;
  const std::string_view body(value.data.data(), value.data.size() - 1);
  return body.find_first_of(std::string_view("\0\r\n", 3)) ==
         std::string_view::npos;
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
  static const char kDigits[] = "0123456789abcdef";
  size_t column = line.size();
  for (size_t i = 0; i < data.size(); ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    line += kDigits[byte >> 4];
    line += kDigits[byte & 15];
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

// Appended to `out`, whose own line it is from `lineStart` on (regedit's
// wrapping counts the line's columns). The data as the registry's rules
// read it.
void AppendValueLine(std::string& out, const Value& value,
                     const std::string& eol, bool utf16, StringRules rules) {
  if (ReadsOtherwise(rules, value.type)) {
    Value read = value;
    read.data = ReadData(rules, value.type, value.data);
    AppendValueLine(out, read, eol, utf16, StringRules::kAsGiven);
    return;
  }
  const size_t lineStart = out.size();
  AppendName(out, value.name);
  out += '=';
  if (PrintableString(value)) {
    out += '"';
    AppendEscaped(out,
                  std::string_view(value.data.data(), value.data.size() - 1),
                  false);
    out += '"';
    return;
  }
  if (value.type == REG_DWORD && value.data.size() == 4) {
    out += "dword:" + DwordText(value.data);
    return;
  }
  std::string line = out.substr(lineStart);
  out.resize(lineStart);
  AppendHex(line, value.type,
            utf16 && IsStringType(value.type) ? Utf16OfData(value.data)
                                              : value.data,
            eol);
  out += line;
}

std::string FormatValueLine(const Value& value, const std::string& eol,
                            bool utf16, StringRules rules) {
  std::string line;
  AppendValueLine(line, value, eol, utf16, rules);
  return line;
}

std::string FormatValueDeletion(const std::string& name) {
  std::string line;
  AppendName(line, name);
  return line + "=-";
}

std::string FormatStructuralChanges(const Registry& registry,
                                    const ChangeSet& changes, bool created,
                                    const std::string& eol, bool utf16) {
  const KeyTree& keys = registry.keys();
  std::string out;
  if (!created) {
    for (const Key* key : changes.deleted) {
      out += eol + "[-";
      keys.AppendFullPath(out, *key);
      out += "]" + eol;
    }
    return out;
  }
  for (const Key* key : changes.created) {
    out += eol + "[";
    keys.AppendFullPath(out, *key);
    out += "]" + eol;
    for (const Value& value : registry.values().Of(*key)) {
      AppendValueLine(out, value, eol, utf16, registry.stringRules());
      out += eol;
    }
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
    for (size_t index : changed.values) {
      AppendValueLine(out, values[index], eol, utf16, registry.stringRules());
      out += eol;
    }
  }
  out += FormatStructuralChanges(registry, changes, true, eol, utf16);
  return utf16 ? out : AnsiName(out);
}

}  // namespace hostreg
