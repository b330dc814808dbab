#include "host/formats/creg/windows_version.h"

#include "host/formats/creg/checksums.h"

namespace hostreg {
namespace creg {

namespace {

Windows ByVersionNumber(const std::string& number) {
  if (number.compare(0, 5, "4.00.") == 0) return Windows::k95;
  if (number.compare(0, 5, "4.10.") == 0) return Windows::k98;
  if (number.compare(0, 5, "4.90.") == 0) return Windows::kMe;
  return Windows::kUnknown;
}

}  // namespace

Windows WindowsOf(Registry& registry, const std::string& contents) {
  const KeyTree& keys = registry.keys();
  const Key* current =
      keys.FindPath(keys.Root(), "SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
  if (current != nullptr) {
    const Value* number = registry.values().Find(*current, "VersionNumber");
    const bool named = number != nullptr && number->type == REG_SZ;
    const std::string text = named ? std::string(StringOf(number->data)) : "";
    registry.values().Release(*current);
    if (named) return ByVersionNumber(text);
  }
  return CarriesChecksums(contents) ? Windows::k95 : Windows::kUnknown;
}

}  // namespace creg
}  // namespace hostreg
