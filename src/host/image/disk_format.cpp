#include "host/image/disk_format.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "host/image/byte_order.h"

namespace hostreg {

namespace {


// VirtualBox's VDI header, as far as it matters here.
constexpr uint32_t kVdiSignature = 0xBEDA107F;
constexpr size_t kVdiType = 0x4C;
constexpr size_t kVdiBlocksAt = 0x154;
constexpr size_t kVdiDataAt = 0x158;
constexpr size_t kVdiDiskSize = 0x170;
constexpr size_t kVdiBlockSize = 0x178;
constexpr size_t kVdiBlockExtra = 0x17C;
constexpr size_t kVdiBlocks = 0x180;
constexpr uint32_t kVdiDynamic = 1;
constexpr uint32_t kVdiFixed = 2;
// The VHD footer's disk types.
constexpr uint32_t kVhdFixed = 2;
constexpr uint32_t kVhdDynamic = 3;
constexpr uint32_t kVhdDifferencing = 4;

struct Head {
  unsigned char first[512];
  unsigned char last[512];
};

void Block(Container& c, const char* format, const char* qemu) {
  c.kind = Container::Kind::kBlockLayer;
  c.format = format;
  c.qemuFormat = qemu;
}

// A fixed VDI whose block map is the identity holds the disk byte for
// byte from its data offset on, as a raw disk would.
bool FixedVdi(const ImageReader& read, const unsigned char* h,
              uint64_t fileSize, Container& c) {
  const uint32_t blocks = Le32(h + kVdiBlocks);
  const uint64_t blockSize = Le32(h + kVdiBlockSize);
  const uint64_t data = Le32(h + kVdiDataAt);
  const uint64_t size = Le64(h + kVdiDiskSize);
  if (Le32(h + kVdiType) != kVdiFixed || Le32(h + kVdiBlockExtra) != 0 ||
      blockSize == 0 || blocks == 0 || blocks > (1u << 24) ||
      size > uint64_t{blocks} * blockSize ||
      data + uint64_t{blocks} * blockSize > fileSize || data % 512 != 0)
    return false;
  std::vector<unsigned char> map(uint64_t{blocks} * 4);
  if (!read(Le32(h + kVdiBlocksAt), reinterpret_cast<char*>(map.data()),
            map.size()))
    return false;
  for (uint32_t i = 0; i < blocks; ++i)
    if (Le32(&map[4 * uint64_t{i}]) != i) return false;
  c.format = "fixed VDI";
  c.dataOffset = data;
  c.dataSize = size;
  return true;
}

// 86Box's (and Anex86's) HDI: a header of eight little-endian numbers,
// then the raw disk.
bool Hdi(const unsigned char* h, uint64_t fileSize, Container& c) {
  const uint32_t header = Le32(h + 8);
  const uint64_t size = Le32(h + 12);
  const uint64_t geometry =
      uint64_t{Le32(h + 16)} * Le32(h + 20) * Le32(h + 24) * Le32(h + 28);
  if (Le32(h) != 0 || Le32(h + 16) != 512 || header < 512 ||
      header % 512 != 0 || size == 0 || size != geometry ||
      header + size > fileSize)
    return false;
  c.format = "86Box HDI";
  c.dataOffset = header;
  c.dataSize = size;
  return true;
}

bool Vdi(const ImageReader& read, const Head& h, uint64_t fileSize,
         const std::string& name, Container& c, std::string& error) {
  const uint32_t type = Le32(h.first + kVdiType);
  if (type != kVdiDynamic && type != kVdiFixed) {
    error = "a differencing or undo VDI (image type " + std::to_string(type) +
            ", a VirtualBox snapshot), whose parent QEMU cannot follow; "
            "merge it into its parent first: VBoxManage clonemedium disk " +
            ShellWord(name) + " " + ShellWord(SiblingName(name, "-whole.vdi"));
    return false;
  }
  if (!FixedVdi(read, h.first, fileSize, c))
    Block(c, type == kVdiFixed ? "fixed VDI" : "dynamic VDI", "vdi");
  return true;
}

bool Vhd(const Head& h, uint64_t fileSize, const std::string& name,
         Container& c, std::string& error) {
  const bool atStart = std::memcmp(h.first, "conectix", 8) == 0;
  const unsigned char* footer = atStart ? h.first : h.last;
  const uint32_t type = Be32(footer + 60);
  if (type == kVhdFixed && !atStart) {
    c.format = "fixed VHD";
    c.dataSize = fileSize - 512;
    return true;
  }
  if (type == kVhdDifferencing) {
    error = "a differencing VHD, whose parent QEMU cannot follow (it would "
            "read the child alone); merge it into its parent first, for "
            "example: VBoxManage clonemedium disk " + ShellWord(name) + " " +
            ShellWord(SiblingName(name, "-whole.vhd")) + " --format VHD";
    return false;
  }
  if (type != kVhdDynamic) {
    error = "a VHD of unknown disk type " + std::to_string(type);
    return false;
  }
  Block(c, "dynamic VHD", "vpc");
  return true;
}

}  // namespace

std::string ShellWord(const std::string& word) {
  const char plain[] = "+,-./:=@_%";
  bool quote = word.empty();
  for (const char c : word)
    if (!std::isalnum(static_cast<unsigned char>(c)) &&
        std::strchr(plain, c) == nullptr)
      quote = true;
  if (!quote) return word;
  std::string quoted = "'";
  for (const char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string SiblingName(const std::string& name, const std::string& suffix) {
  std::string base = name;
  const size_t slash = base.rfind('/');
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    base.erase(dot);
  return base + suffix;
}

bool IdentifyContainer(const ImageReader& read, uint64_t fileSize,
                       const std::string& name, Container& c,
                       std::string& error) {
  c = Container();
  c.dataSize = fileSize;
  Head h;
  if (fileSize < 512) {
    error =
        "too small for a disk image (" + std::to_string(fileSize) + " bytes)";
    return false;
  }
  if (!read(0, reinterpret_cast<char*>(h.first), 512) ||
      !read(fileSize - 512, reinterpret_cast<char*>(h.last), 512)) {
    error = "cannot read its first and last sectors";
    return false;
  }
  const unsigned char* b = h.first;
  if (std::memcmp(b, "QFI\xfb", 4) == 0)
    Block(c, Be32(b + 4) == 1 ? "qcow" : "qcow2",
          Be32(b + 4) == 1 ? "qcow" : "qcow2");
  else if (Le32(b + 0x40) == kVdiSignature)
    return Vdi(read, h, fileSize, name, c, error);
  else if (std::memcmp(b, "KDMV", 4) == 0 || std::memcmp(b, "COWD", 4) == 0 ||
           std::memcmp(b, "# Disk DescriptorFile", 21) == 0)
    Block(c, "VMDK", "vmdk");
  else if (std::memcmp(b, "vhdxfile", 8) == 0)
    Block(c, "VHDX", "vhdx");
  else if (std::memcmp(b, "QED\0", 4) == 0)
    Block(c, "QED", "qed");
  else if (std::memcmp(b, "WithoutFreeSpace", 16) == 0 ||
           std::memcmp(b, "WithouFreSpacExt", 16) == 0)
    Block(c, "Parallels", "parallels");
  else if (std::memcmp(b, "conectix", 8) == 0 ||
           std::memcmp(h.last, "conectix", 8) == 0)
    return Vhd(h, fileSize, name, c, error);
  else
    Hdi(b, fileSize, c);
  return true;
}

}  // namespace hostreg
