// What kind of file a disk image is: a disk byte for byte from some offset
// on (a raw disk, a fixed VHD, an 86Box HDI, a fixed VDI), which the run
// reads and mtools writes in place; a format that QEMU's block layer reads
// and writes (qcow2, dynamic VDI, VMDK, VHDX, dynamic VHD, ...); or one
// that neither can change, refused with the reason and what to do.
#ifndef REGSWITCH_HOST_IMAGE_DISK_FORMAT_H
#define REGSWITCH_HOST_IMAGE_DISK_FORMAT_H

#include <cstdint>
#include <string>

#include "host/image/disk_layout.h"

namespace hostreg {

struct Container {
  enum class Kind { kDirect, kBlockLayer };
  Kind kind = Kind::kDirect;
  std::string format = "raw disk";  // for messages: "qcow2", "fixed VDI"...
  const char* qemuFormat = "raw";   // QEMU's name of the format
  // For a direct one: where the disk lies in the file.
  uint64_t dataOffset = 0;
  uint64_t dataSize = 0;
};

// Tells the kind of the image file of `fileSize` bytes from its first and
// last sectors (and, for a VDI, its block map). False and `error` for one
// that cannot be changed, saying why and what to do; `name` is the image's
// name as the user gave it, for a command in the message.
bool IdentifyContainer(const ImageReader& read, uint64_t fileSize,
                       const std::string& name, Container& container,
                       std::string& error);

// A shell word for a file name in a command to copy and paste.
std::string ShellWord(const std::string& word);

// A name beside `name` for a copy of it: its extension replaced by
// `suffix` ("disk.vdi", "-whole.vdi": "disk-whole.vdi").
std::string SiblingName(const std::string& name, const std::string& suffix);

}  // namespace hostreg

#endif
