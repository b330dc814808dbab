// Writing .reg text: key lines, value lines in regedit's own style, and a
// run's changes as a fragment.
#ifndef REGSWITCH_HOST_FORMATS_REG_RENDER_H
#define REGSWITCH_HOST_FORMATS_REG_RENDER_H

#include <string>

#include "host/formats/changes.h"
#include "host/registry/registry.h"

namespace hostreg {

extern const char kRegedit4Header[];
extern const char kVersion5Header[];

// One value as a line in the registry's bytes: a quoted string for a plain
// REG_SZ, dword: for a four-byte REG_DWORD, hex: or hex(N): otherwise,
// wrapped as regedit wraps with `eol` between lines. With `utf16`, the hex
// form of a string type carries UTF-16 data, as in a Version 5.00 file.
// Under Windows 9x's string rules a REG_SZ is written as its "A" calls
// read it, which its registry editor exports: the string up to its first
// zero.
std::string FormatValueLine(const Value& value, const std::string& eol,
                            bool utf16,
                            StringRules rules = StringRules::kAsGiven);

// A four-byte REG_DWORD's data as dword: writes it, eight hex digits.
std::string DwordText(const std::string& data);
// Appends hex: or hex(N): and the bytes to `line`, wrapped as regedit wraps
// (the line's own length counts), with `eol` between lines.
void AppendHex(std::string& line, DWORD type, const std::string& data,
               const std::string& eol);

// "name"=- or @=-.
std::string FormatValueDeletion(const std::string& name);
// With `created` false, a [-path] line for each loaded key the run deleted;
// with it, each key the run made, with all its values.
std::string FormatStructuralChanges(const Registry& registry,
                                    const ChangeSet& changes, bool created,
                                    const std::string& eol, bool utf16);

// The changes as a fragment under `header`: deleted keys, each changed
// key's line with its deleted and changed values in the order of the first
// change, then new keys with their values, strings by the registry's rules. With `utf16` names keep their
// marks, to be encoded as UTF-16 or UTF-8; without, a mark shows as '?'.
std::string FormatChanges(const Registry& registry, const ChangeSet& changes,
                          const std::string& header, const std::string& eol,
                          bool utf16);

}  // namespace hostreg

#endif
