#include "host/image/disk_layout.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "host/image/byte_order.h"

namespace hostreg {

namespace {

constexpr size_t kTableAt = 446;
constexpr size_t kEntryBytes = 16;
// A chain of logical drives longer than this is taken for a loop.
constexpr int kMostLogicalDrives = 64;


struct Sector {
  unsigned char bytes[kSectorBytes];
  bool Signed() const { return bytes[510] == 0x55 && bytes[511] == 0xAA; }
};

const char* FatTypeName(uint8_t type) {
  switch (type) {
    case 0x01:
      return "FAT12";
    case 0x04:
      return "FAT16 under 32 MB";
    case 0x06:
      return "FAT16";
    case 0x0E:
      return "FAT16 LBA";
    case 0x0B:
      return "FAT32";
    case 0x0C:
      return "FAT32 LBA";
    default:
      return nullptr;
  }
}

bool IsExtended(uint8_t type) {
  return type == 0x05 || type == 0x0F || type == 0x85;
}

std::string Hex(unsigned value) {
  const char digits[] = "0123456789abcdef";
  return std::string("0x") + digits[value >> 4 & 15] + digits[value & 15];
}

// Whether a sector is a FAT boot sector: a jump, then a BIOS parameter
// block whose fields are all in range.
bool FatBootSector(const Sector& sector, const char** kind) {
  const unsigned char* b = sector.bytes;
  const unsigned bytesPerSector = Le16(b + 11);
  const unsigned perCluster = b[13];
  const bool jump = (b[0] == 0xEB && b[2] == 0x90) || b[0] == 0xE9;
  const bool sizes = (bytesPerSector == 512 || bytesPerSector == 1024 ||
                      bytesPerSector == 2048 || bytesPerSector == 4096) &&
                     perCluster != 0 && (perCluster & (perCluster - 1)) == 0;
  const unsigned fatSectors16 = Le16(b + 22);
  const uint32_t fatSectors = fatSectors16 != 0 ? fatSectors16 : Le32(b + 36);
  const uint32_t total = Le16(b + 19) != 0 ? Le16(b + 19) : Le32(b + 32);
  if (!jump || !sizes || Le16(b + 14) == 0 || b[16] < 1 || b[16] > 2 ||
      !(b[21] == 0xF0 || b[21] >= 0xF8) || fatSectors == 0 || total == 0 ||
      !sector.Signed())
    return false;
  // FAT12 or FAT16 by the count of clusters, as Microsoft's rule has it.
  const uint64_t rootSectors =
      (Le16(b + 17) * 32ULL + bytesPerSector - 1) / bytesPerSector;
  const uint64_t meta =
      Le16(b + 14) + b[16] * uint64_t{fatSectors} + rootSectors;
  const uint64_t clusters = total > meta ? (total - meta) / perCluster : 0;
  *kind = fatSectors16 == 0 ? "FAT32" : clusters < 4085 ? "FAT12" : "FAT16";
  return true;
}

class LayoutReader {
 public:
  LayoutReader(const ImageReader& read, uint64_t dataSize, DiskLayout& layout)
      : read_(read), dataSize_(dataSize), layout_(layout) {}

  bool ReadSector(uint64_t lba, Sector& sector) {
    return lba < dataSize_ / kSectorBytes &&
           read_(lba * kSectorBytes, reinterpret_cast<char*>(sector.bytes),
                 kSectorBytes);
  }

  // One table entry of a partition, `base` the LBA its start counts from.
  void Add(int number, const unsigned char* entry, uint64_t base) {
    const uint8_t type = entry[4];
    const uint64_t start = base + Le32(entry + 8);
    const uint64_t sectors = Le32(entry + 12);
    const std::string what = "partition " + std::to_string(number);
    const char* kind = FatTypeName(type);
    if (kind == nullptr) {
      layout_.others.push_back(what + ": type " + Hex(type) + ", not FAT");
    } else if (start == 0 || sectors == 0) {
      layout_.others.push_back(what + ": " + kind + " of no size");
    } else if ((start + sectors) * kSectorBytes > dataSize_) {
      layout_.others.push_back(what + ": " + kind +
                               " running past the end of the image (a "
                               "truncated image?)");
    } else {
      FatVolume volume;
      volume.number = number;
      volume.type = type;
      volume.kind = kind;
      volume.active = entry[0] == 0x80;
      volume.offset = start * kSectorBytes;
      volume.size = sectors * kSectorBytes;
      layout_.fat.push_back(volume);
    }
  }

  // The chain of logical drives in the extended partition at `first`.
  bool AddLogicalDrives(uint64_t first, std::string& error) {
    std::set<uint64_t> seen;
    int number = 5;
    for (uint64_t at = first;;) {
      Sector ebr;
      if (!seen.insert(at).second || seen.size() > kMostLogicalDrives) {
        error = "the chain of logical drives loops";
        return false;
      }
      if (!ReadSector(at, ebr) || !ebr.Signed()) {
        error = "a logical drive's table at sector " + std::to_string(at) +
                " is missing or damaged";
        return false;
      }
      const unsigned char* entry = ebr.bytes + kTableAt;
      if (entry[4] != 0) Add(number++, entry, at);
      const unsigned char* next = entry + kEntryBytes;
      if (!IsExtended(next[4]) || Le32(next + 8) == 0) return true;
      at = first + Le32(next + 8);
    }
  }

  bool AddPartitions(const Sector& mbr, std::string& error) {
    for (int i = 0; i < 4; ++i) {
      const unsigned char* entry = mbr.bytes + kTableAt + i * kEntryBytes;
      if (entry[4] == 0xEE) {
        error =
            "a GPT disk; Windows 9x starts only from an MBR partition "
            "table or a FAT volume without one";
        return false;
      }
      if (IsExtended(entry[4])) {
        if (!AddLogicalDrives(Le32(entry + 8), error)) return false;
      } else if (entry[4] != 0) {
        Add(i + 1, entry, 0);
      }
    }
    return true;
  }

 private:
  const ImageReader& read_;
  const uint64_t dataSize_;
  DiskLayout& layout_;
};

bool ValidTable(const Sector& sector) {
  if (!sector.Signed()) return false;
  bool any = false;
  for (int i = 0; i < 4; ++i) {
    const unsigned char* entry = sector.bytes + kTableAt + i * kEntryBytes;
    if (entry[0] != 0 && entry[0] != 0x80) return false;
    any = any || entry[4] != 0;
  }
  return any;
}

// C: for the active primary FAT partition (else the first), then the
// logical drives, then the other primary partitions, as DOS counts them.
void GiveLetters(std::vector<FatVolume>& volumes) {
  FatVolume* first = nullptr;
  for (FatVolume& v : volumes)
    if (v.number <= 4 && (first == nullptr || (v.active && !first->active)))
      first = &v;
  char next = 'C';
  if (first != nullptr) first->letter = next++;
  for (FatVolume& v : volumes)
    if (v.number > 4) v.letter = next++;
  for (FatVolume& v : volumes)
    if (v.letter == 0 && next <= 'Z') v.letter = next++;
}

}  // namespace

bool ReadDiskLayout(const ImageReader& read, uint64_t diskSize,
                    DiskLayout& layout, std::string& error) {
  layout = DiskLayout();
  Sector first;
  if (diskSize < kSectorBytes) {
    error =
        "too small for a disk (" + std::to_string(diskSize) + " bytes)";
    return false;
  }
  if (!read(0, reinterpret_cast<char*>(first.bytes), kSectorBytes)) {
    error = "cannot read its first sector";
    return false;
  }
  const char* kind = nullptr;
  if (FatBootSector(first, &kind)) {
    FatVolume volume;
    volume.size = diskSize;
    volume.letter = 'C';
    volume.kind = kind;
    layout.fat.push_back(volume);
    return true;
  }
  if (!ValidTable(first)) {
    error =
        "neither an MBR partition table nor a FAT file system in its "
        "first sector";
    return false;
  }
  layout.partitioned = true;
  LayoutReader reader(read, diskSize, layout);
  if (!reader.AddPartitions(first, error)) return false;
  std::sort(layout.fat.begin(), layout.fat.end(),
            [](const FatVolume& a, const FatVolume& b) {
              return a.number < b.number;
            });
  GiveLetters(layout.fat);
  if (layout.fat.empty()) {
    error = "no FAT partition in its partition table";
    for (size_t i = 0; i < layout.others.size(); ++i)
      error += (i == 0 ? " (" : "; ") + layout.others[i];
    if (!layout.others.empty()) error += ")";
    return false;
  }
  return true;
}

std::string DescribeVolume(const FatVolume& volume) {
  const std::string what = volume.number == 0
                               ? "the FAT volume"
                               : "partition " + std::to_string(volume.number);
  return what + " (" + volume.letter + ":, " + volume.kind + ")";
}

}  // namespace hostreg
