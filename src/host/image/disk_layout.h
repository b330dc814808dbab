// Where the FAT file systems lie in a raw disk image: its MBR partition
// table (primary partitions and logical drives), or a FAT volume that fills
// the image without one. Images of other emulators' formats are recognised
// by their signatures and refused, with the command that makes a raw copy.
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
  bool vhdFooter = false;      // a fixed-size VHD: raw disk, then a footer
  std::vector<FatVolume> fat;  // in partition number order
  // The partitions that are not FAT, or cannot be used, for messages
  // ("partition 2: type 0x83").
  std::vector<std::string> others;
};

// Reads `size` bytes at `offset` of the image; false when it cannot.
using ImageReader =
    std::function<bool(uint64_t offset, char* buffer, size_t size)>;

// Reads the layout of an image of `imageSize` bytes. False and `error`
// (without the image's name) for an image of another format, a GPT disk,
// one with neither a partition table nor a FAT volume, or one that cannot
// be read. `name` is the image's name as the user gave it, for the
// conversion command in a message.
bool ReadDiskLayout(const ImageReader& read, uint64_t imageSize,
                    const std::string& name, DiskLayout& layout,
                    std::string& error);

// "partition 2 (D:, FAT32 LBA)", or "the FAT volume (C:, FAT16)" for an
// image without a partition table.
std::string DescribeVolume(const FatVolume& volume);

}  // namespace hostreg

#endif
