#include "host/image/volume_files.h"

namespace hostreg {

namespace {

VolumeFiles::Lookup From(FatFileSystem::Lookup lookup) {
  switch (lookup) {
    case FatFileSystem::Lookup::kFound:
      return VolumeFiles::Lookup::kFound;
    case FatFileSystem::Lookup::kMissing:
      return VolumeFiles::Lookup::kMissing;
    default:
      return VolumeFiles::Lookup::kBroken;
  }
}

}  // namespace

FatFileSystem* VolumeReader::Open(const FatVolume& volume,
                                  std::string& reason) {
  auto found = opened_.find(volume.offset);
  if (found == opened_.end()) {
    Opened opened;
    opened.files = std::make_unique<FatFileSystem>(read_, volume);
    if (!opened.files->Open(opened.problem)) opened.files.reset();
    found = opened_.emplace(volume.offset, std::move(opened)).first;
  }
  reason = found->second.problem;
  return found->second.files.get();
}

VolumeFiles::Lookup VolumeReader::Find(const FatVolume& volume,
                                       const std::string& path,
                                       std::string& reason) {
  FatFileSystem* files = Open(volume, reason);
  if (files == nullptr) return Lookup::kBroken;
  DirEntry entry;
  return From(files->Find(path, entry, reason));
}

VolumeFiles::Lookup VolumeReader::Read(
    const FatVolume& volume, const std::string& path,
    const std::function<bool(std::string_view)>& take, std::string& reason) {
  FatFileSystem* files = Open(volume, reason);
  if (files == nullptr) return Lookup::kBroken;
  DirEntry entry;
  const FatFileSystem::Lookup found = files->Find(path, entry, reason);
  if (found != FatFileSystem::Lookup::kFound) return From(found);
  if (entry.folder()) return Lookup::kMissing;
  return files->Read(entry, take, reason) ? Lookup::kFound : Lookup::kBroken;
}

}  // namespace hostreg
