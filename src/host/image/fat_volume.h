// A FAT file system of an image, read in place: its boot sector checked
// against the partition that holds it, files found by their 8.3 names,
// their bytes and clusters. Writing it is mtools' (mtools.h).
#ifndef REGSWITCH_HOST_IMAGE_FAT_VOLUME_H
#define REGSWITCH_HOST_IMAGE_FAT_VOLUME_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/image/disk_layout.h"

namespace hostreg {

// A stretch of the disk, in bytes from its start.
struct Extent {
  uint64_t offset = 0;
  uint64_t size = 0;
};

struct DirEntry {
  std::string shortName;  // "SYSTEM.DAT", "WINDOWS", in capitals
  std::string longName;   // its long name, or ""; other than ASCII as '?'
  uint8_t attributes = 0;
  uint32_t cluster = 0;
  uint32_t size = 0;
  bool folder() const { return (attributes & 0x10) != 0; }
};

class FatFileSystem {
 public:
  enum class Lookup { kFound, kMissing, kBroken };

  // `read` reads the disk; `volume` is where the file system lies in it.
  FatFileSystem(const ImageReader& read, const FatVolume& volume)
      : read_(read), volume_(volume) {}

  // Reads its boot sector and its first FAT. False and why for one that is
  // no FAT file system, or that would reach past its partition (or, for a
  // volume without a partition table, past the disk).
  bool Open(std::string& error);

  // The entries of the folder `path` ("\" or "\WIN98"), each name on the
  // way found by its 8.3 name in any case. kMissing, or kBroken with the
  // reason.
  Lookup List(const std::string& path, std::vector<DirEntry>& entries,
              std::string& reason);
  // The entry of `path` ("\WIN98\SYSTEM.DAT") by 8.3 names; the first of
  // that name, as DOS finds it.
  Lookup Find(const std::string& path, DirEntry& entry, std::string& reason);
  // A file's bytes in pieces, front to back, each handed to `take` until
  // it returns false.
  bool Read(const DirEntry& entry,
            const std::function<bool(std::string_view)>& take,
            std::string& reason);
  // Where a chain of clusters lies on the disk, adjacent clusters joined.
  bool Extents(uint32_t cluster, std::vector<Extent>& extents,
               std::string& reason);

  // Where its boot sector, FATs and (for FAT12 and FAT16) root folder lie.
  Extent System() const;
  // The first FAT, an entry a cluster (0 for a free one).
  const std::vector<uint32_t>& table() const { return table_; }
  uint64_t ClusterOffset(uint32_t cluster) const;
  const FatVolume& volume() const { return volume_; }

 private:
  bool ReadTable(std::string& error);
  bool Chain(uint32_t cluster, std::vector<uint32_t>& clusters,
             std::string& reason) const;
  bool ReadFolder(uint32_t cluster, std::vector<DirEntry>& entries,
                  std::string& reason);

  ImageReader read_;
  FatVolume volume_;
  unsigned bits_ = 0;  // 12, 16 or 32
  uint32_t sectorBytes_ = 0;
  uint32_t clusterBytes_ = 0;
  uint64_t fatOffset_ = 0;  // from the volume's start
  uint64_t fatBytes_ = 0;
  unsigned fats_ = 0;
  uint64_t rootOffset_ = 0;  // FAT12 and FAT16
  uint32_t rootEntries_ = 0;
  uint32_t rootCluster_ = 0;  // FAT32
  uint64_t dataOffset_ = 0;
  uint32_t clusters_ = 0;
  std::vector<uint32_t> table_;
};

// The 8.3 name SHORT in capitals ("SYSTEM.DAT"), as DOS compares names.
bool SameShortName(const std::string& a, const std::string& b);

}  // namespace hostreg

#endif
