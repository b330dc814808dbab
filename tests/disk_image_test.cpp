// Disk images: the partition table, the kinds of image file, the WinDir
// line of MSDOS.SYS, which volume's Windows folder is used and the --image
// options. The FAT file system read in place is fat_volume_test.cpp; the
// runs on real images made with mkfs.fat, sfdisk, mtools and qemu-img are
// tests/image/.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/cli/options.h"
#include "host/image/disk_format.h"
#include "host/image/disk_layout.h"
#include "host/image/windows_folder.h"

namespace regtest {
namespace {

using hostreg::DiskLayout;
using hostreg::FatVolume;

constexpr size_t kSector = 512;

void Put32(std::string& disk, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) disk[at + i] = static_cast<char>(value >> 8 * i);
}

void Sign(std::string& disk, uint64_t lba) {
  disk[lba * kSector + 510] = '\x55';
  disk[lba * kSector + 511] = '\xAA';
}

// Entry `index` (0-3) of the table in the sector at `lba`.
void Entry(std::string& disk, uint64_t lba, int index, uint8_t type,
           uint32_t start, uint32_t count, bool active = false) {
  const size_t at = lba * kSector + 446 + 16 * index;
  disk[at] = active ? '\x80' : 0;
  disk[at + 4] = static_cast<char>(type);
  Put32(disk, at + 8, start);
  Put32(disk, at + 12, count);
  Sign(disk, lba);
}

// A FAT boot sector as mkfs.fat writes its parameters.
void BootSector(std::string& disk, bool fat32) {
  const unsigned char fat16[] = {0xEB, 0x3C, 0x90, 'm', 'k', 'f', 's', '.',
                                 'f', 'a', 't', 0, 2, 4, 4, 0, 2, 0, 2,
                                 0, 0xA0, 0xF8, 0x28, 0};
  std::memcpy(&disk[0], fat16, sizeof fat16);
  if (fat32) {
    disk[17] = disk[18] = disk[19] = disk[20] = disk[22] = 0;
    Put32(disk, 32, 0x20000);
    Put32(disk, 36, 0x400);
  }
  Sign(disk, 0);
}

std::string Disk(size_t sectors) {
  return std::string(sectors * kSector, '\0');
}

hostreg::ImageReader Reader(const std::string& disk) {
  return [&disk](uint64_t offset, char* buffer, size_t size) {
    if (offset + size > disk.size()) return false;
    std::memcpy(buffer, disk.data() + offset, size);
    return true;
  };
}

bool Read(const std::string& disk, DiskLayout& layout, std::string& error) {
  return hostreg::ReadDiskLayout(Reader(disk), disk.size(), layout, error);
}

// What a layout holds, as one line: "1 C: FAT16 @512+1024; ..." then
// "| others".
std::string Summary(const DiskLayout& layout) {
  std::string text;
  for (const FatVolume& v : layout.fat)
    text += std::to_string(v.number) + " " + v.letter + ": " + v.kind + " @" +
            std::to_string(v.offset) + "+" + std::to_string(v.size) + "; ";
  for (const std::string& other : layout.others) text += "| " + other;
  return text;
}

struct LayoutCase {
  const char* label;
  std::string disk;
  const char* summary;  // of the layout read, or null when refused
  const char* error;    // in the refusal
};

std::vector<LayoutCase> LayoutCases() {
  std::vector<LayoutCase> cases;
  std::string d = Disk(64);
  BootSector(d, false);
  cases.push_back({"bare FAT16", d, "0 C: FAT16 @0+32768; ", ""});
  BootSector(d, true);
  cases.push_back({"bare FAT32", d, "0 C: FAT32 @0+32768; ", ""});
  d = Disk(64);
  Entry(d, 0, 0, 0x06, 1, 8);
  Entry(d, 0, 1, 0x83, 9, 8);
  Entry(d, 0, 2, 0x0C, 17, 8, true);
  Entry(d, 0, 3, 0x0E, 25, 8);
  cases.push_back({"primary partitions, the active one C:", d,
                   "1 D: FAT16 @512+4096; 3 C: FAT32 LBA @8704+4096; "
                   "4 E: FAT16 LBA @12800+4096; | partition 2: type 0x83, "
                   "not FAT",
                   ""});
  d = Disk(64);
  Entry(d, 0, 0, 0x01, 1, 8);
  Entry(d, 0, 1, 0x0F, 20, 40);
  Entry(d, 20, 0, 0x0B, 2, 8);   // logical 5 at 22
  Entry(d, 20, 1, 0x05, 20, 20);  // next table at 40
  Entry(d, 40, 0, 0x83, 1, 8);   // logical 6
  Entry(d, 40, 1, 0x05, 30, 10);  // the table at 50
  Entry(d, 50, 0, 0x04, 2, 8);   // logical 7
  Entry(d, 0, 2, 0x06, 60, 4);
  cases.push_back({"logical drives", d,
                   "1 C: FAT12 @512+4096; 3 F: FAT16 @30720+2048; "
                   "5 D: FAT32 @11264+4096; 7 E: FAT16 under 32 MB "
                   "@26624+4096; | partition 6: type 0x83, not FAT",
                   ""});
  Entry(d, 50, 1, 0x05, 0 + 20, 10);  // back to the table at 40
  cases.push_back({"logical drives in a loop", d, nullptr, "loops"});
  d = Disk(64);
  Entry(d, 0, 0, 0x06, 1, 8);
  Entry(d, 0, 1, 0x06, 60, 8);
  cases.push_back({"a partition past the end", d, "1 C: FAT16 @512+4096; "
                   "| partition 2: FAT16 running past the end of the image "
                   "(a truncated image?)", ""});
  d = Disk(64);
  Entry(d, 0, 0, 0x83, 1, 8);
  Entry(d, 0, 1, 0x07, 9, 8);
  cases.push_back({"no FAT partition", d, nullptr,
                   "no FAT partition in its partition table (partition 1: "
                   "type 0x83, not FAT; partition 2: type 0x07, not FAT)"});
  d = Disk(64);
  Entry(d, 0, 0, 0xEE, 1, 63);
  cases.push_back({"GPT", d, nullptr, "a GPT disk"});
  cases.push_back({"zeros", Disk(64), nullptr,
                   "neither an MBR partition table nor a FAT file system"});
  cases.push_back({"one byte", std::string(1, 'x'), nullptr,
                   "too small for a disk (1 bytes)"});
  return cases;
}

TEST(DiskLayout, PartitionTablesAndVolumes) {
  for (const LayoutCase& c : LayoutCases()) {
    SCOPED_TRACE(c.label);
    DiskLayout layout;
    std::string error;
    const bool read = Read(c.disk, layout, error);
    if (c.summary != nullptr) {
      ASSERT_TRUE(read) << error;
      EXPECT_EQ(c.summary, Summary(layout));
    } else {
      EXPECT_FALSE(read);
      EXPECT_NE(std::string::npos, error.find(c.error)) << error;
    }
  }
}

void Put32Be(std::string& disk, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    disk[at + i] = static_cast<char>(value >> 8 * (3 - i));
}

// A VDI header of `type` whose blocks of 1 MB lie at 1 MB, mapped by `map`.
std::string Vdi(uint32_t type, std::vector<uint32_t> map) {
  std::string file(1 << 20, '\0');
  Put32(file, 0x40, 0xBEDA107F);
  Put32(file, 0x4C, type);
  Put32(file, 0x154, 512);      // the block map
  Put32(file, 0x158, 1 << 20);  // the data
  Put32(file, 0x170, static_cast<uint32_t>(map.size()) << 20);
  Put32(file, 0x178, 1 << 20);
  Put32(file, 0x180, static_cast<uint32_t>(map.size()));
  for (size_t i = 0; i < map.size(); ++i) Put32(file, 512 + 4 * i, map[i]);
  file.resize(file.size() + (map.size() << 20));
  return file;
}

// A VHD of `sectors` sectors whose footer has disk type `type`; a dynamic
// one has the footer's copy at the start too.
std::string Vhd(uint32_t type, size_t sectors) {
  std::string file = Disk(sectors);
  std::string footer(kSector, '\0');
  footer.replace(0, 8, "conectix");
  Put32Be(footer, 60, type);
  file.replace(file.size() - kSector, kSector, footer);
  if (type != 2) file.replace(0, kSector, footer);
  return file;
}

std::string Hdi(uint32_t size, uint32_t cylinders) {
  std::string file(4096 + size, '\0');
  const uint32_t header[8] = {0, 0, 4096, size, 512, 63, 16, cylinders};
  for (int i = 0; i < 8; ++i) Put32(file, 4 * i, header[i]);
  return file;
}

TEST(DiskFormat, TheKindsOfImageFile) {
  struct Case {
    const char* label;
    std::string file;
    const char* name;
    // The kind: "direct AT+SIZE" or "qemu FORMAT"; or the refusal's words.
    std::string kind;
  };
  const uint32_t hdiSize = 63 * 16 * 2 * 512;
  std::string qcow = Disk(8);
  qcow.replace(0, 8, std::string("QFI\xfb\0\0\0\x03", 8));
  std::string descriptor = Disk(8);
  descriptor.replace(0, 21, "# Disk DescriptorFile");
  std::string vhdx = Disk(8);
  vhdx.replace(0, 8, "vhdxfile");
  std::string mbr = Disk(64);
  Entry(mbr, 0, 0, 0x06, 1, 63);
  const Case cases[] = {
      {"a raw disk", mbr, "w.img", "direct 0+32768"},
      {"qcow2", qcow, "w.qcow2", "qemu qcow2"},
      {"VMDK descriptor", descriptor, "w.vmdk", "qemu vmdk"},
      {"VHDX", vhdx, "w.vhdx", "qemu vhdx"},
      {"dynamic VDI", Vdi(1, {0, 1}), "w.vdi", "qemu vdi"},
      {"fixed VDI, blocks in order", Vdi(2, {0, 1}), "w.vdi",
       "direct 1048576+2097152"},
      {"fixed VDI, blocks out of order", Vdi(2, {1, 0}), "w.vdi", "qemu vdi"},
      {"differencing VDI", Vdi(4, {0}), "my disk.vdi",
       "a differencing or undo VDI (image type 4, a VirtualBox snapshot), "
       "whose parent QEMU cannot follow; merge it into its parent first: "
       "VBoxManage clonemedium disk 'my disk.vdi' 'my disk-whole.vdi'"},
      {"fixed VHD", Vhd(2, 65), "w.vhd", "direct 0+32768"},
      {"dynamic VHD", Vhd(3, 65), "w.vhd", "qemu vpc"},
      {"differencing VHD", Vhd(4, 65), "d/c.vhd",
       "a differencing VHD, whose parent QEMU cannot follow (it would read "
       "the child alone); merge it into its parent first, for example: "
       "VBoxManage clonemedium disk d/c.vhd d/c-whole.vhd --format VHD"},
      {"86Box HDI", Hdi(hdiSize, 2), "w.hdi", "direct 4096+1032192"},
      {"an HDI header whose geometry disagrees", Hdi(hdiSize, 3), "w.hdi",
       "direct 0+1036288"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    hostreg::Container container;
    std::string error;
    const bool ok = hostreg::IdentifyContainer(Reader(c.file), c.file.size(),
                                               c.name, container, error);
    const std::string kind =
        !ok ? error
        : container.kind == hostreg::Container::Kind::kDirect
            ? "direct " + std::to_string(container.dataOffset) + "+" +
                  std::to_string(container.dataSize)
            : std::string("qemu ") + container.qemuFormat;
    EXPECT_EQ(c.kind, kind);
  }
}

// --- MSDOS.SYS and the search for the Windows folder ------------------------

TEST(WindowsFolder, TheWinDirLine) {
  struct Case {
    const char* text;
    hostreg::WinDirLine result;
    char letter;
    const char* path;
  };
  using hostreg::WinDirLine;
  const Case cases[] = {
      {"[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\n",
       WinDirLine::kFound, 'C', "\\WINDOWS"},
      {"[Paths]\nWinBootDir=D:\\BOOT\n windir = d:\\Win98\\ \n",
       WinDirLine::kFound, 'D', "\\Win98"},
      {"WinDir=\\WIN\\SUB", WinDirLine::kFound, 0, "\\WIN\\SUB"},
      {"WinDir=C:\\", WinDirLine::kFound, 'C', "\\"},
      {";WinDir is below\r\nWinDir=E:WIN95\r\n", WinDirLine::kFound, 'E',
       "\\WIN95"},
      {"[Options]\r\nBootGUI=1\r\n", WinDirLine::kNone, 0, ""},
      {"\xe9\x10\x00MZ binary of DOS", WinDirLine::kNone, 0, ""},
      {"WinDir=", WinDirLine::kBad, 0, ""},
      {"WinDir=C:\\A\\..\\B", WinDirLine::kBad, 0, ""},
      {"WinDir=C:\\WIN*", WinDirLine::kBad, 0, ""},
      {"WinDir=C:/WINDOWS", WinDirLine::kBad, 0, ""},
      {"WinDir=1:\\WINDOWS", WinDirLine::kBad, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    hostreg::DosFolder folder;
    std::string problem;
    EXPECT_EQ(c.result, hostreg::ParseWinDir(c.text, folder, problem));
    if (c.result == WinDirLine::kFound) {
      EXPECT_EQ(c.letter, folder.letter);
      EXPECT_EQ(c.path, folder.path);
    } else if (c.result == WinDirLine::kBad) {
      EXPECT_NE(std::string::npos, problem.find("which is no DOS folder"));
    }
  }
}

// The files of the volumes, by partition number and path.
class TableFiles : public hostreg::VolumeFiles {
 public:
  std::map<std::pair<int, std::string>, std::string> files;  // or folders
  std::vector<int> broken;

  Lookup Find(const FatVolume& v, const std::string& path,
              std::string& reason) override {
    return Look(v, path, reason);
  }
  // In pieces of seven bytes, as a file comes in clusters.
  Lookup Read(const FatVolume& v, const std::string& path,
              const std::function<bool(std::string_view)>& take,
              std::string& reason) override {
    const Lookup found = Look(v, path, reason);
    const std::string& bytes = files[{v.number, path}];
    for (size_t at = 0; found == Lookup::kFound && at < bytes.size(); at += 7)
      if (!take(std::string_view(bytes).substr(at, 7))) break;
    return found;
  }

 private:
  Lookup Look(const FatVolume& v, const std::string& path,
              std::string& reason) {
    for (const int number : broken)
      if (number == v.number) {
        reason = "init :: non DOS media";
        return Lookup::kBroken;
      }
    return files.count({v.number, path}) != 0 ? Lookup::kFound
                                              : Lookup::kMissing;
  }
};

DiskLayout Volumes(std::vector<std::pair<int, char>> numbered) {
  DiskLayout layout;
  layout.partitioned = true;
  for (const auto& [number, letter] : numbered) {
    FatVolume v;
    v.number = number;
    v.letter = letter;
    v.kind = "FAT16";
    layout.fat.push_back(v);
  }
  layout.others.push_back("partition 3: type 0x83, not FAT");
  return layout;
}

TEST(WindowsFolder, WhichVolumeAndFolder) {
  struct Case {
    const char* label;
    std::map<std::pair<int, std::string>, std::string> files;
    std::vector<int> broken;
    int partition;
    const char* found;  // "N \FOLDER", or null
    const char* error;
  };
  const std::string win98 = "[Paths]\r\nWinDir=C:\\WIN98\r\n";
  const std::string onD = "[Paths]\r\nWinDir=D:\\WIN98\r\n";
  const Case cases[] = {
      {"\\WINDOWS without MSDOS.SYS", {{{1, "\\WINDOWS"}, ""}}, {}, 0,
       "1 \\WINDOWS", ""},
      {"the folder MSDOS.SYS names, not \\WINDOWS",
       {{{1, "\\MSDOS.SYS"}, win98}, {{1, "\\WIN98"}, ""},
        {{1, "\\WINDOWS"}, ""}},
       {}, 0, "1 \\WIN98", ""},
      {"two Windows folders",
       {{{1, "\\WINDOWS"}, ""}, {{5, "\\WINDOWS"}, ""}}, {}, 0, nullptr,
       "Windows folders on partition 1 (C:, FAT16) C:\\WINDOWS and "
       "partition 5 (D:, FAT16) D:\\WINDOWS; choose one with --partition N"},
      {"two, one chosen", {{{1, "\\WINDOWS"}, ""}, {{5, "\\WINDOWS"}, ""}},
       {}, 5, "5 \\WINDOWS", ""},
      {"a folder on another drive, named by its letter",
       {{{1, "\\MSDOS.SYS"}, onD}, {{1, "\\WINDOWS"}, ""},
        {{5, "\\WIN98"}, ""}},
       {}, 0, "5 \\WIN98", ""},
      {"a broken volume beside the good one", {{{5, "\\WINDOWS"}, ""}}, {1},
       0, "5 \\WINDOWS", ""},
      {"a WinDir line after 70 KB of comments",
       {{{1, "\\MSDOS.SYS"},
         std::string(70000, ';') + "\r\n" + std::string(9000, 'x') +
             "\r\n" + win98},
        {{1, "\\WIN98"}, ""},
        {{1, "\\WINDOWS"}, ""}},
       {}, 0, "1 \\WIN98", ""},
      {"none", {{{1, "\\MSDOS.SYS"}, win98}}, {5}, 0, nullptr,
       "no Windows folder found: partition 1 (C:, FAT16): its MSDOS.SYS "
       "names C:\\WIN98, but no C:\\WIN98; partition 5 (D:, FAT16): cannot "
       "read its file system: init :: non DOS media"},
      {"a bad WinDir", {{{1, "\\MSDOS.SYS"}, "WinDir=C:\\A?"}}, {}, 1,
       nullptr, "partition 1 (C:, FAT16): its MSDOS.SYS has WinDir=C:\\A?, "
                "which is no DOS folder"},
      {"no such partition", {}, {}, 2, nullptr,
       "no partition 2; its FAT partitions are 1, 5"},
      {"a partition that is not FAT", {}, {}, 3, nullptr,
       "partition 3: type 0x83, not FAT; its FAT partitions are 1, 5"},
  };
  const DiskLayout layout = Volumes({{1, 'C'}, {5, 'D'}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TableFiles files;
    files.files = c.files;
    files.broken = c.broken;
    hostreg::WindowsFolder found;
    std::string error;
    const bool ok =
        hostreg::FindWindowsFolder(layout, c.partition, files, found, error);
    if (c.found != nullptr) {
      ASSERT_TRUE(ok) << error;
      EXPECT_EQ(c.found,
                std::to_string(found.volume.number) + " " + found.path);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_NE(std::string::npos, error.find(c.error)) << error;
    }
  }
}

TEST(WindowsFolder, ABareVolumeTakesNoPartitionNumber) {
  DiskLayout layout;
  layout.fat.push_back(FatVolume());
  TableFiles files;
  hostreg::WindowsFolder found;
  std::string error;
  EXPECT_FALSE(hostreg::FindWindowsFolder(layout, 1, files, found, error));
  EXPECT_NE(std::string::npos, error.find("leave out --partition")) << error;
}

TEST(Options, ImageAndPartition) {
  struct Case {
    std::vector<const char*> args;
    const char* error;  // empty for none
    const char* image;
    int partition;
  };
  const Case cases[] = {
      {{"--image", "w.img", "/DMA:1"}, "", "w.img", 0},
      {{"/DMA:1", "--partition=5", "--image=w.img"}, "", "w.img", 5},
      {{"--image", "w.img", "--registry", "r.reg"},
       "--image and --registry name two registries", "", 0},
      {{"--partition", "1", "/DMA:1"}, "--partition goes with --image", "", 0},
      {{"--image", "w.img", "--partition", "0"}, "needs a partition number",
       "", 0},
      {{"--image", "w.img", "--partition", "x1"}, "needs a partition number",
       "", 0},
      {{"--image", "w.img", "--partition", "1234"},
       "needs a partition number", "", 0},
      {{"--image"}, "--image needs a disk image", "", 0},
      {{"--show", "--image", "w.img"}, "", "w.img", 0},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"regswitch"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(testing::PrintToString(c.args));
    hostreg::Options options;
    std::string message;
    const bool ok = hostreg::ParseOptions(static_cast<int>(argv.size()),
                                          argv.data(), options, message);
    EXPECT_EQ(*c.error == '\0', ok) << message;
    if (!ok) {
      EXPECT_NE(std::string::npos, message.find(c.error)) << message;
      continue;
    }
    EXPECT_EQ(c.image, options.imagePath);
    EXPECT_EQ(c.partition, options.partition);
  }
}

}  // namespace
}  // namespace regtest
