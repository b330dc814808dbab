// The FAT volumes of a disk read in place (fat_volume.h), as the search
// for the Windows folder asks for their files.
#ifndef REGSWITCH_HOST_IMAGE_VOLUME_FILES_H
#define REGSWITCH_HOST_IMAGE_VOLUME_FILES_H

#include <map>
#include <memory>
#include <string>

#include "host/image/fat_volume.h"
#include "host/image/windows_folder.h"

namespace hostreg {

class VolumeReader : public VolumeFiles {
 public:
  explicit VolumeReader(ImageReader read) : read_(std::move(read)) {}

  // The file system of `volume`, opened on first use; null, and why in
  // `reason`, when it is no FAT file system that lies inside its place.
  FatFileSystem* Open(const FatVolume& volume, std::string& reason);

  Lookup Find(const FatVolume& volume, const std::string& path,
              std::string& reason) override;
  Lookup Read(const FatVolume& volume, const std::string& path,
              const std::function<bool(std::string_view)>& take,
              std::string& reason) override;

 private:
  struct Opened {
    std::unique_ptr<FatFileSystem> files;
    std::string problem;
  };
  ImageReader read_;
  std::map<uint64_t, Opened> opened_;  // by the volume's offset
};

}  // namespace hostreg

#endif
