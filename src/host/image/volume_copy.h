// The local copy of a FAT volume of an image in another format, for
// mtools to change: a sparse file the size of the volume that holds what
// the run read of it (its boot sector, FATs and root folder, the folders
// and files on the way) and nothing else. After each mtools command what
// changed in it goes into the image through the block device: every
// sector of what was read that differs now, and the whole clusters that a
// file or folder of the watched folders newly holds.
#ifndef REGSWITCH_HOST_IMAGE_VOLUME_COPY_H
#define REGSWITCH_HOST_IMAGE_VOLUME_COPY_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/image/block_device.h"
#include "host/image/disk_layout.h"
#include "host/image/fat_volume.h"
#include "host/image/read_guard.h"
#include "host/platform/platform.h"

namespace hostreg {

class VolumeCopy {
 public:
  // `folders` are the volume's folders that mtools' commands change
  // ("\WINDOWS").
  VolumeCopy(Platform& platform, BlockDevice& device, const FatVolume& volume,
             std::vector<std::string> folders);
  ~VolumeCopy();
  VolumeCopy(const VolumeCopy&) = delete;
  VolumeCopy& operator=(const VolumeCopy&) = delete;

  // Makes the copy at `path` from what the run read (`pieces`, of the
  // disk). False and why.
  bool Create(const std::string& path, const std::vector<ReadGuard::Piece>& pieces,
              std::string& error);
  int fd() const { return fd_; }
  // The volume as it lies in the copy.
  FatVolume local() const;
  // Puts what the commands since the last call changed into the image.
  bool PutBack(std::string& error);

 private:
  using Entries = std::map<std::string, DirEntry>;
  bool ReadAt(uint64_t offset, char* buffer, size_t size) const;
  bool Watch(Entries& entries, std::string& error) const;
  bool Changed(std::vector<BlockDevice::Run>& runs, std::string& error);
  bool Taken(const Entries& now, std::vector<BlockDevice::Run>& runs,
             std::string& error);
  void Uncovered(uint64_t offset, uint64_t size,
                 std::vector<Extent>& parts) const;

  Platform& platform_;
  BlockDevice& device_;
  const FatVolume volume_;
  const std::vector<std::string> folders_;
  std::string path_;
  int fd_ = -1;
  std::map<uint64_t, std::string> known_;  // by offset in the volume
  Entries watched_;
};

}  // namespace hostreg

#endif
