// How a registry keeps and returns string data. A .reg file means what its
// importer builds, the data as given. Windows 9x keeps a REG_SZ in its own
// files without the terminating zero (every REG_SZ of the real Windows 95
// and Me files is so; REG_EXPAND_SZ and REG_MULTI_SZ keep theirs), and its
// "A" calls follow from that: RegSetValueExA takes a REG_SZ's length from
// the string, not from the size given, and RegQueryValueExA returns the
// string with a zero added, its size the length + 1. A zero inside the data
// ends the string there. (Wine's tests of RegQueryValueExA and
// RegSetValueExA, where they mark what Windows 9x answers, record both.)
#ifndef REGSWITCH_HOST_REGISTRY_STRING_RULES_H
#define REGSWITCH_HOST_REGISTRY_STRING_RULES_H

#include <string>
#include <string_view>

#include "core/win32_types.h"

namespace hostreg {

enum class StringRules { kAsGiven, kWindows9x };

// What a write of `data` as `type` stores: under Windows 9x's rules a
// REG_SZ is its string up to the first zero, never read past the size
// given; everything else is kept as given.
std::string StoredData(StringRules rules, DWORD type, std::string_view data);

// Whether a read of this value returns other bytes than it holds: a REG_SZ
// under Windows 9x's rules.
inline bool ReadsOtherwise(StringRules rules, DWORD type) {
  return rules == StringRules::kWindows9x && type == REG_SZ;
}

// The string a REG_SZ reads as, without its zero: up to the first zero.
std::string_view StringOf(const std::string& data);

// What RegQueryValueExA and RegEnumValueA return for the stored data: under
// Windows 9x's rules a REG_SZ's string with one zero added.
std::string ReadData(StringRules rules, DWORD type, const std::string& data);

}  // namespace hostreg

#endif
