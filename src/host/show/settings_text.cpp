// --show's text: UTF-8 for the terminal, one line per setting, then one per
// value behind it, with control characters escaped so that no name or data
// can forge a line or move the cursor.
#include <algorithm>
#include <string>
#include <vector>

#include "host/formats/reg/codepage.h"
#include "host/formats/reg/render.h"
#include "host/platform/printable.h"
#include "host/show/settings.h"

namespace hostreg {

namespace {

// Columns: the letters, the setting's state ("nothing to switch" is the
// longest), and on value lines the value's state.
constexpr int kLettersWidth = 5;
constexpr int kStateWidth = 19;
constexpr int kValueStateWidth = 9;
// Longer data is cut short: the line is a summary, not an export.
constexpr size_t kMaxHexBytes = 16;
constexpr size_t kMaxTextBytes = 64;

// Units as UTF-8, with the characters a terminal must not take as they are
// (controls, direction overrides) as escapes, as every message writes them.
std::string Terminal(const std::vector<uint16_t>& units) {
  std::vector<uint16_t> shown;
  for (const uint16_t unit : units) {
    if (!EscapedOnTerminal(unit)) {
      shown.push_back(unit);
      continue;
    }
    for (const char c : EscapeOf(unit)) shown.push_back(static_cast<uint16_t>(c));
  }
  return Utf8Of(shown);
}

// A name or key path in the registry's bytes (foreign characters as marks).
std::string ShownName(const std::string& name) {
  return Terminal(UnitsOf(name));
}

// Data are 1252 bytes throughout.
std::string ShownText(const std::string& data) {
  std::vector<uint16_t> units;
  for (const char c : data) {
    if (c == '\\' || c == '"') units.push_back('\\');
    units.push_back(UnitOf1252(static_cast<unsigned char>(c)));
  }
  return Terminal(units);
}

// So few bytes never reach regedit's wrapping column: one line.
std::string Hex(DWORD type, const std::string& data) {
  std::string out;
  AppendHex(out, type, data.substr(0, kMaxHexBytes), "\n");
  if (data.size() > kMaxHexBytes)
    out += ",... (" + std::to_string(data.size()) + " bytes)";
  return out;
}

// Data as a .reg file writes it: a quoted string for a REG_SZ, dword: for
// four bytes of REG_DWORD, hex: otherwise. A written string stored without
// its terminating zero in a registry that keeps the zero says so: a tweak
// that writes the same text with the zero changes it. (A string a tweak
// only reads compares the same either way.) Where strings follow Windows
// 9x's rules, a REG_SZ shows as its "A" calls read it.
std::string ShownData(const Contents& value, bool written, StringRules rules) {
  if (ReadsOtherwise(rules, value.type))
    return ShownData({value.type, ReadData(rules, value.type, value.data)},
                     false, StringRules::kAsGiven);
  const std::string& data = value.data;
  const size_t zero = data.find('\0');
  if (value.type == REG_SZ &&
      (zero == std::string::npos || zero + 1 == data.size())) {
    const std::string body = data.substr(0, zero);
    std::string shown = "\"" + ShownText(body.substr(0, kMaxTextBytes)) + "\"";
    if (body.size() > kMaxTextBytes)
      shown += "... (" + std::to_string(body.size()) + " characters)";
    if (zero == std::string::npos && written)
      shown += " (no terminating zero)";
    return shown;
  }
  if (value.type == REG_DWORD && data.size() == 4)
    return "dword:" + DwordText(data);
  return Hex(value.type, data);
}

std::string Padded(std::string text, int width) {
  text.resize(std::max(text.size() + 1, static_cast<size_t>(width)), ' ');
  return text;
}

std::string ValueLine(const Registry& registry, const Setting& setting,
                      const SeenValue& seen) {
  std::string line = std::string(kLettersWidth, ' ') +
                     Padded(StateName(seen.state), kValueStateWidth);
  // The key below the row's, which every value the tweaks look at is in.
  const std::string rowPath = registry.keys().Path(*setting.key);
  std::string path = registry.keys().Path(*seen.key);
  path = path.size() > rowPath.size() ? path.substr(rowPath.size() + 1) : "";
  if (!path.empty()) line += ShownName(path) + "  ";
  line += seen.name.empty() ? "@" : ShownName(seen.name);
  line += seen.value
              ? "=" + ShownData(*seen.value, seen.state != State::kRead,
                                registry.stringRules())
              : " missing";
  return line + "\n";
}

}  // namespace

void AppendSetting(const Registry& registry, const Setting& setting,
                   std::string& text) {
  std::string line = Padded(setting.row->letters, kLettersWidth) +
                     Padded(StateName(setting.state), kStateWidth);
  line += setting.key != nullptr
              ? ShownName(registry.keys().Path(*setting.key))
              : ShownName(setting.row->keyPath);
  // Trailing blanks of a line without a key path would only be noise.
  while (line.back() == ' ') line.pop_back();
  text += line + "\n";
  // A wide tree gives tens of thousands of lines: room for them at once.
  text.reserve(text.size() + setting.values.size() * 96);
  for (const SeenValue& seen : setting.values)
    text += ValueLine(registry, setting, seen);
}

std::string SettingsText(const Registry& registry,
                         const std::vector<Setting>& settings) {
  std::string text;
  for (const Setting& setting : settings) AppendSetting(registry, setting, text);
  return text;
}

}  // namespace hostreg
