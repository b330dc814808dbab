#include "host/formats/pick_format.h"

#include "host/formats/creg/creg_format.h"
#include "host/formats/reg/reg_format.h"

namespace hostreg {

bool MapsWell(std::string_view head, size_t size) {
  return !IsCregFile(head) && head.size() == kSignatureSize &&
         size > kSignatureSize;
}

std::unique_ptr<RegistryFile> LoadRegistry(
    const std::string& name, std::shared_ptr<const FileBytes> bytes,
    Registry& registry, std::string& error) {
  if (IsCregFile(bytes->View()))
    return LoadCregFile(name, bytes->View(), registry, error);
  return LoadRegExport(name, std::move(bytes), registry, error);
}

}  // namespace hostreg
