#include "host/formats/registry_file.h"

namespace hostreg {

std::string Rendering::Joined() const {
  size_t size = 0;
  for (const std::string_view& piece : pieces) size += piece.size();
  std::string contents;
  contents.reserve(size);
  for (const std::string_view& piece : pieces) contents.append(piece);
  return contents;
}

const std::vector<std::string>& RegistryFile::Warnings() const {
  static const std::vector<std::string> kNone;
  return kNone;
}

std::string RegistryFile::ClassesElsewhere() const { return std::string(); }

}  // namespace hostreg
