#include "host/formats/open_file.h"

#include "host/files/read_file.h"
#include "host/files/replace_file.h"
#include "host/formats/creg/creg_file.h"
#include "host/formats/reg/reg_file.h"

namespace hostreg {

namespace {
constexpr size_t kSignatureSize = 4;
}  // namespace

std::unique_ptr<RegistryFile> LoadRegistryFile(const std::string& path,
                                               Registry& registry,
                                               const SystemCalls& calls,
                                               std::string& error) {
  ReadableFile file(calls);
  std::string contents;
  if (!file.Open(path, error) ||
      !file.ReadHead(kSignatureSize, contents, error))
    return nullptr;
  // An export is mapped, so that the pages already parsed can leave memory
  // while the rest loads. CREG files are small and read whole, as is a file
  // that tells no size (an empty one, or one of /proc) or that cannot be
  // mapped.
  if (!IsCregFile(contents) && contents.size() == kSignatureSize &&
      file.size() > kSignatureSize) {
    if (std::shared_ptr<FileBytes> mapped = file.Map())
      return LoadRegFile(path, std::move(mapped), registry, error);
  }
  if (!file.ReadRest(contents, error)) return nullptr;
  return LoadRegistryBytes(path, std::move(contents), registry, error);
}

bool IsWindows9xRegistryFile(std::string_view head) {
  return IsCregFile(head);
}

std::unique_ptr<RegistryFile> LoadRegistryBytes(const std::string& name,
                                                std::string bytes,
                                                Registry& registry,
                                                std::string& error) {
  if (IsCregFile(bytes))
    return LoadCregFile(name, std::move(bytes), registry, error);
  return LoadRegFile(name, std::make_shared<const FileBytes>(std::move(bytes)),
                     registry, error);
}

bool SaveRegistryFile(const std::string& path, const RegistryFile& file,
                      const Registry& registry, const SystemCalls& calls,
                      std::string& error, const LockedFile* original) {
  Rendering rendering;
  return file.Render(registry, rendering, error) &&
         SaveRendering(path, file, rendering, calls, error, original);
}

bool SaveRendering(const std::string& path, const RegistryFile& file,
                   const Rendering& rendering, const SystemCalls& calls,
                   std::string& error, const LockedFile* original) {
  return ReplaceFile(path, rendering.pieces, file.Source(), calls, original,
                     error);
}

}  // namespace hostreg
