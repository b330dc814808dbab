// Where the FAT file systems lie on a disk: its MBR partition table
// (primary partitions and logical drives), or a FAT volume that fills the
// disk without one. The disk is what the image holds, whatever its format
// (disk_format.h).
#ifndef REGSWITCH_HOST_IMAGE_DISK_LAYOUT_H
#define REGSWITCH_HOST_IMAGE_DISK_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hostreg {

constexpr uint64_t kSectorBytes = 512;

// One FAT file system in the image.
struct FatVolume {
  int number = 0;         // 1 to 4 primary, 5 and up logical (as fdisk counts);
                          // 0 for a volume without a partition table
  uint8_t type = 0;       // the partition type, 0 without a partition table
  const char* kind = "";  // "FAT16", "FAT32 LBA"...
  bool active = false;
  uint64_t offset = 0;  // bytes from the start of the image
  uint64_t size = 0;
  char letter = 0;  // the drive letter DOS gives it: 'C', 'D', ...
};

struct DiskLayout {
  bool partitioned = false;
  std::vector<FatVolume> fat;  // in partition number order
  // The partitions that are not FAT, or cannot be used, for messages
  // ("partition 2: type 0x83").
  std::vector<std::string> others;
};

// Reads `size` bytes at `offset` of the disk; false when it cannot.
using ImageReader =
    std::function<bool(uint64_t offset, char* buffer, size_t size)>;

// Reads the layout of a disk of `diskSize` bytes. False and `error`
// (without the image's name) for a GPT disk, one with neither a partition
// table nor a FAT volume, or one that cannot be read.
bool ReadDiskLayout(const ImageReader& read, uint64_t diskSize,
                    DiskLayout& layout, std::string& error);

// "partition 2 (D:, FAT32 LBA)", or "the FAT volume (C:, FAT16)" for an
// image without a partition table.
std::string DescribeVolume(const FatVolume& volume);

}  // namespace hostreg

#endif
