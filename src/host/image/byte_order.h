#pragma once

#include <cstdint>

namespace hostreg {

// Fields of disk structures: the partition table, FAT, VDI and HDI are
// little-endian, VHD and qcow big-endian. Le16 gives 32 bits so that a
// FAT32 cluster number's high half can be shifted into place.
inline uint32_t Le16(const unsigned char* p) { return p[0] | p[1] << 8; }
inline uint32_t Le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t Le64(const unsigned char* p) {
  return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32;
}
inline uint32_t Be32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

}  // namespace hostreg
