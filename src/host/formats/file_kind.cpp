#include "host/formats/file_kind.h"

#include <cstdint>

namespace hostreg {

namespace {

const char kDiskImage[] = " disk image, not a registry file: use --image";

uint32_t Le32(std::string_view d, size_t at) {
  uint32_t v = 0;
  for (size_t i = 4; i-- > 0;)
    v = v << 8 | static_cast<unsigned char>(d[at + i]);
  return v;
}

bool At(std::string_view d, size_t at, std::string_view signature) {
  return d.size() >= at + signature.size() &&
         d.substr(at, signature.size()) == signature;
}

// An export starts, after its byte-order mark and blanks, with its header.
bool StartsLikeAnExport(std::string_view d) {
  size_t at = At(d, 0, "\xEF\xBB\xBF") ? 3 : At(d, 0, "\xFF\xFE") ? 2 : 0;
  const size_t step = at == 2 ? 2 : 1;
  while (at < d.size() && (d[at] == ' ' || d[at] == '\t')) at += step;
  if (step == 2) return At(d, at, std::string("R\0E\0G\0", 6)) ||
                        At(d, at, std::string("W\0i\0n\0", 6));
  return At(d, at, "REGEDIT") || At(d, at, "Windows Registry Editor");
}

// 86Box's HDI: no signature, a header whose fields say 512-byte sectors and
// where the raw disk starts (4096 bytes here), then the disk.
bool Hdi(std::string_view d) {
  if (d.size() < 32 || Le32(d, 0) != 0 || Le32(d, 16) != 512) return false;
  const uint32_t header = Le32(d, 8);
  return header == 4096 && d.size() >= header + 512 &&
         At(d, header + 510, "\x55\xAA");
}

}  // namespace

std::string ForeignKind(std::string_view d) {
  if (StartsLikeAnExport(d)) return std::string();
  struct Signature {
    size_t at;
    std::string_view bytes;
    const char* kind;
    bool image;  // a disk image: --image takes it
  };
  static const Signature kSignatures[] = {
      {0, "regf", "a Windows NT registry hive, which regswitch does not "
                  "read: export it to a .reg file with regedit", false},
      {0, "\x1F\x8B", "a gzip file: unpack it first (gunzip -k FILE)", false},
      {0, "SHCC3.10", "a Windows 3.1 registry (REG.DAT), which holds no "
                      "machine settings: regswitch changes Windows 95 and 98",
       false},
      {0, "QFI\xFB", "a qcow2", true},
      {64, "\x7F\x10\xDA\xBE", "a VirtualBox VDI", true},
      {0, "KDMV", "a VMware VMDK", true},
      {0, "# Disk DescriptorFile", "a VMware VMDK descriptor of a", true},
      {0, "conectix", "a dynamic VHD", true},
      {0, "vhdxfile", "a VHDX", true},
  };
  for (const Signature& s : kSignatures)
    if (At(d, s.at, s.bytes))
      return std::string(s.kind) + (s.image ? kDiskImage : "");
  if (Hdi(d)) return std::string("an 86Box HDI") + kDiskImage;
  if (At(d, 510, "\x55\xAA"))
    return At(d, 0x36, "FAT") || At(d, 0x52, "FAT")
               ? "a FAT volume image, not a registry file: use --image"
               : std::string("an MBR") + kDiskImage;
  return std::string();
}

}  // namespace hostreg
