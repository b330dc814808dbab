#include "host/formats/export.h"

#include <vector>

#include "host/formats/changes.h"
#include "host/formats/reg/render.h"

namespace hostreg {

namespace {

const char kEol[] = "\r\n";

}  // namespace

std::string ExportHeader() {
  return std::string(kRegedit4Header) + kEol + kEol;
}

void AppendExport(Registry& registry, std::string& out) {
  const KeyTree& keys = registry.keys();
  std::vector<const Key*> pending{&keys.Root()};
  while (!pending.empty()) {
    const Key* key = pending.back();
    pending.pop_back();
    // An 8-bit file shows a character 1252 has no byte for as '?', as the
    // "A" calls do.
    out += AnsiName(KeyLineOf(keys, *key)) + kEol;
    for (const Value& value : registry.values().Of(*key))
      out += AnsiName(FormatValueLine(value, kEol, false,
                                      registry.stringRules())) +
             kEol;
    out += kEol;
    registry.values().Release(*key);
    const std::vector<Key*> subkeys = keys.Subkeys(*key);
    for (auto sub = subkeys.rbegin(); sub != subkeys.rend(); ++sub)
      pending.push_back(*sub);
  }
}

}  // namespace hostreg
