// The disk an image file holds, however it holds it (disk_format.h):
// read byte for byte from the file, or through QEMU's block layer
// (block_device.h); what the run read of it kept (read_guard.h); and,
// once the run writes, the file mtools changes: the image itself, or a
// local copy of the volume whose changes go into the image after each
// command (volume_copy.h).
#ifndef REGSWITCH_HOST_IMAGE_IMAGE_DISK_H
#define REGSWITCH_HOST_IMAGE_IMAGE_DISK_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/image/block_device.h"
#include "host/image/disk_format.h"
#include "host/image/mtools.h"
#include "host/image/read_guard.h"
#include "host/image/volume_copy.h"
#include "host/platform/platform.h"

namespace hostreg {

class ImageDisk {
 public:
  // `fd` is the image file, open and locked; `path` its name as given.
  // `fileUnchanged` tells whether the file itself is still the version
  // opened (the same file, size and times); the run's own writes through
  // QEMU change those, so it is asked before the first only.
  ImageDisk(Platform& platform, int fd, uint64_t fileSize, std::string path,
            std::function<bool(std::string&)> fileUnchanged);
  ~ImageDisk();
  ImageDisk(const ImageDisk&) = delete;
  ImageDisk& operator=(const ImageDisk&) = delete;

  // Tells the file's kind; for one of the block layer, starts QEMU on it
  // read-only (`ignoreLocks` for a run that only reads, which a running
  // machine does not stop), its private files in `workFolder`. False and
  // why.
  bool Open(const std::string& workFolder, bool ignoreLocks,
            std::string& error);
  bool direct() const {
    return container_.kind == Container::Kind::kDirect;
  }
  uint64_t size() const;
  // Reads the disk, keeping what it read.
  const ImageReader& reader() const { return guarded_; }
  // Whether all the run read is still as it was. False and why.
  bool Unchanged(std::string& error);

  // Makes the image ready for mtools to change `volume`, whose folders
  // `folders` its commands change: checks it is still as it was read,
  // and, for the block layer, serves it for writing and makes the local
  // copy. False and why.
  bool PrepareWrite(const FatVolume& volume,
                    const std::vector<std::string>& folders,
                    std::string& error);
  // mtools on the file to change, and the volume as it lies there; once
  // PrepareWrite succeeded.
  const Mtools& mtools() const { return *mtools_; }
  const FatVolume& volume() const { return volume_; }

 private:
  bool ReadFile(uint64_t offset, char* buffer, size_t size);
  bool WritableFormat(std::string& error);

  Platform& platform_;
  const int fd_;
  const uint64_t fileSize_;
  const std::string path_;
  std::function<bool(std::string&)> fileUnchanged_;
  std::string workFolder_;
  Container container_;
  std::unique_ptr<BlockDevice> device_;
  ReadGuard guard_;
  ImageReader plain_;    // the disk's bytes
  ImageReader guarded_;  // the same, kept
  std::unique_ptr<VolumeCopy> copy_;
  std::unique_ptr<Mtools> mtools_;
  FatVolume volume_;
};

}  // namespace hostreg

#endif
