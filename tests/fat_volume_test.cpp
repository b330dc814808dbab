// The FAT file system read in place: its boot sector against the place it
// lies in, 8.3 names against long ones, chains of clusters, the files'
// bytes, and that the run's guard covers what was read and nothing more.
// On a FAT12 volume built here byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/image/fat_volume.h"
#include "host/image/read_guard.h"
#include "host/image/system_dat.h"

namespace regtest {
namespace {

using hostreg::DirEntry;
using hostreg::FatFileSystem;
using hostreg::FatVolume;

constexpr size_t kSector = 512;
constexpr uint32_t kSectors = 200;  // 196 clusters of one sector: FAT12
constexpr size_t kData = 4;         // boot, two FATs, the root folder

// A FAT12 volume: sector 0 the boot sector, 1 and 2 the FATs, 3 the root
// folder (16 entries), clusters from sector 4 on.
class Fat12 {
 public:
  Fat12() : disk_(kSectors * kSector, '\0') {
    const unsigned char boot[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'W', 'I', 'N',
                                  '4', '.', '1', 0, 2, 1, 1, 0, 2, 16, 0,
                                  kSectors, 0, 0xF8, 1, 0};
    std::memcpy(&disk_[0], boot, sizeof boot);
    disk_[510] = '\x55';
    disk_[511] = '\xAA';
    Link(0, 0xFF8);
    Link(1, 0xFFF);
  }

  // Entry `slot` of the folder at `sector`.
  void Entry(size_t sector, int slot, const char* name11, uint8_t attributes,
             uint16_t cluster, uint32_t size) {
    char* e = &disk_[sector * kSector + 32 * slot];
    std::memcpy(e, name11, 11);
    e[11] = static_cast<char>(attributes);
    e[26] = static_cast<char>(cluster);
    e[27] = static_cast<char>(cluster >> 8);
    for (int i = 0; i < 4; ++i) e[28 + i] = static_cast<char>(size >> 8 * i);
  }

  // A long name of at most 13 characters for the short entry in the next
  // slot.
  void LongName(size_t sector, int slot, const char* name,
                const char* shortName11) {
    char* e = &disk_[sector * kSector + 32 * slot];
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
      sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) +
                                 static_cast<uint8_t>(shortName11[i]));
    e[0] = 0x41;
    e[11] = 0x0F;
    e[13] = static_cast<char>(sum);
    const int at[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const size_t length = std::strlen(name);
    for (size_t i = 0; i < 13; ++i) {
      const uint16_t c = i < length ? name[i] : i == length ? 0 : 0xFFFF;
      e[at[i]] = static_cast<char>(c);
      e[at[i] + 1] = static_cast<char>(c >> 8);
    }
  }

  // FAT entry `cluster` in both FATs.
  void Link(uint16_t cluster, uint16_t next) {
    for (size_t fat = 1; fat <= 2; ++fat) {
      unsigned char* p = reinterpret_cast<unsigned char*>(
          &disk_[fat * kSector + cluster * 3 / 2]);
      if (cluster & 1) {
        p[0] = static_cast<unsigned char>((p[0] & 0x0F) | (next << 4));
        p[1] = static_cast<unsigned char>(next >> 4);
      } else {
        p[0] = static_cast<unsigned char>(next);
        p[1] = static_cast<unsigned char>((p[1] & 0xF0) | (next >> 8 & 0x0F));
      }
    }
  }

  // A file's bytes in a chain of clusters.
  void Fill(const std::vector<uint16_t>& chain, const std::string& bytes) {
    for (size_t i = 0; i < chain.size(); ++i) {
      Link(chain[i], i + 1 < chain.size() ? chain[i + 1] : 0xFFF);
      disk_.replace(Sector(chain[i]) * kSector,
                    std::min(kSector, bytes.size() - std::min(bytes.size(), i * kSector)),
                    bytes.substr(std::min(bytes.size(), i * kSector), kSector));
    }
  }

  static size_t Sector(uint16_t cluster) { return kData + cluster - 2; }

  std::string disk_;
};

hostreg::ImageReader Reader(const std::string& disk) {
  return [&disk](uint64_t offset, char* buffer, size_t size) {
    if (offset + size > disk.size()) return false;
    std::memcpy(buffer, disk.data() + offset, size);
    return true;
  };
}

FatVolume Whole(uint64_t size = kSectors * kSector) {
  FatVolume v;
  v.size = size;
  v.letter = 'C';
  return v;
}

// \WINDOWS (cluster 2) with SYSTEM.DAT in clusters 5, 6 and 9, and, where
// asked, a SYSTEM~1.DAT whose long name is SYSTEM.DAT before it.
Fat12 Windows(const std::string& dat, bool decoy) {
  Fat12 fat;
  fat.Entry(3, 0, "WINDOWS    ", 0x10, 2, 0);
  fat.Fill({2}, "");
  fat.Entry(Fat12::Sector(2), 0, ".          ", 0x10, 2, 0);
  fat.Entry(Fat12::Sector(2), 1, "..         ", 0x10, 0, 0);
  if (decoy) {
    fat.LongName(Fat12::Sector(2), 2, "SYSTEM.DAT", "SYSTEM~1DAT");
    fat.Entry(Fat12::Sector(2), 3, "SYSTEM~1DAT", 0x20, 3, 5);
    fat.Fill({3}, "decoy");
  }
  fat.Entry(Fat12::Sector(2), decoy ? 4 : 2, "SYSTEM  DAT", 0x07, 5,
            static_cast<uint32_t>(dat.size()));
  fat.Fill({5, 6, 9}, dat);
  return fat;
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('A' + i % 23);
  return bytes;
}

std::string ReadWhole(FatFileSystem& files, const DirEntry& entry,
                      std::string& reason) {
  std::string bytes;
  files.Read(entry,
             [&bytes](std::string_view piece) {
               bytes.append(piece);
               return true;
             },
             reason);
  return bytes;
}

TEST(FatVolume, FilesByTheirShortNamesAndTheirClusters) {
  const std::string dat = Pattern(1300);
  for (const bool decoy : {false, true}) {
    SCOPED_TRACE(decoy ? "with a decoy" : "alone");
    Fat12 fat = Windows(dat, decoy);
    FatFileSystem files(Reader(fat.disk_), Whole());
    std::string reason;
    ASSERT_TRUE(files.Open(reason)) << reason;
    DirEntry entry;
    ASSERT_EQ(FatFileSystem::Lookup::kFound,
              files.Find("\\windows\\system.dat", entry, reason));
    EXPECT_EQ("SYSTEM.DAT", entry.shortName);
    EXPECT_EQ(0x07, entry.attributes);
    EXPECT_EQ(dat, ReadWhole(files, entry, reason));
    std::vector<hostreg::Extent> extents;
    ASSERT_TRUE(files.Extents(entry.cluster, extents, reason));
    ASSERT_EQ(2u, extents.size());
    EXPECT_EQ(Fat12::Sector(5) * kSector, extents[0].offset);
    EXPECT_EQ(2 * kSector, extents[0].size);
    EXPECT_EQ(Fat12::Sector(9) * kSector, extents[1].offset);
    EXPECT_EQ(FatFileSystem::Lookup::kMissing,
              files.Find("\\WINDOWS\\USER.DAT", entry, reason));
    std::string error;
    EXPECT_EQ(!decoy, hostreg::Unambiguous(files, Whole(), "\\WINDOWS",
                                           "SYSTEM.DAT", error));
    if (decoy) {
      EXPECT_NE(std::string::npos,
                error.find("C:\\WINDOWS holds SYSTEM~1.DAT, whose long name "
                           "is SYSTEM.DAT"))
          << error;
    }
  }
}

TEST(FatVolume, BrokenOrOutOfPlaceFileSystemsAreRefused) {
  struct Case {
    const char* label;
    uint64_t volumeSize;
    uint16_t link5;  // what cluster 5 leads to
    const char* problem;
  };
  const Case cases[] = {
      {"the volume reaching past its place", (kSectors - 1) * kSector, 6,
       "claims 200 sectors of 512 bytes, more than the 199 sectors"},
      {"a chain that loops", kSectors * kSector, 5, "a broken chain"},
      {"a chain that leaves the volume", kSectors * kSector, 0x300,
       "a broken chain"},
      {"a chain shorter than the file", kSectors * kSector, 0xFFF,
       "shorter than the file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Fat12 fat = Windows(Pattern(1300), false);
    fat.Link(5, c.link5);
    FatFileSystem files(Reader(fat.disk_), Whole(c.volumeSize));
    std::string reason;
    DirEntry entry;
    if (files.Open(reason) &&
        files.Find("\\WINDOWS\\SYSTEM.DAT", entry, reason) ==
            FatFileSystem::Lookup::kFound)
      ReadWhole(files, entry, reason);
    EXPECT_NE(std::string::npos, reason.find(c.problem)) << reason;
  }
}

// What the run read is guarded; a change elsewhere is no change to it.
TEST(FatVolume, TheGuardCoversWhatWasRead) {
  struct Case {
    const char* label;
    size_t at;
    bool seen;
  };
  const Case cases[] = {
      {"the boot sector", 11, true},
      {"the second FAT", 2 * kSector + 40, true},
      {"the Windows folder", Fat12::Sector(2) * kSector + 100, true},
      {"SYSTEM.DAT's last cluster", Fat12::Sector(9) * kSector + 5, true},
      {"a free cluster", Fat12::Sector(40) * kSector, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Fat12 fat = Windows(Pattern(1300), false);
    hostreg::ReadGuard guard;
    FatFileSystem files(guard.Through(Reader(fat.disk_)), Whole());
    std::string reason;
    ASSERT_TRUE(files.Open(reason));
    const hostreg::Extent system = files.System();
    std::string bytes(system.size, '\0');
    ASSERT_TRUE(guard.Through(Reader(fat.disk_))(system.offset, &bytes[0],
                                                 bytes.size()));
    DirEntry entry;
    ASSERT_EQ(FatFileSystem::Lookup::kFound,
              files.Find("\\WINDOWS\\SYSTEM.DAT", entry, reason));
    ReadWhole(files, entry, reason);
    EXPECT_TRUE(guard.Same(Reader(fat.disk_), reason)) << reason;
    fat.disk_[c.at] = static_cast<char>(fat.disk_[c.at] ^ 0x5A);
    EXPECT_EQ(!c.seen, guard.Same(Reader(fat.disk_), reason));
  }
}

}  // namespace
}  // namespace regtest
