// A checksum of a file's bytes, taken in pieces as they are read front to
// back: XXH64, fast enough to cover every byte of a large export at memory
// speed, and any change of a byte shows.
#ifndef REGSWITCH_HOST_FILES_CHECKSUM_H
#define REGSWITCH_HOST_FILES_CHECKSUM_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace hostreg {

class Checksum {
 public:
  void Add(std::string_view bytes);
  // Of everything added so far; more may be added after.
  uint64_t Value() const;
  uint64_t size() const { return total_; }

 private:
  uint64_t lanes_[4] = {0x9E3779B185EBCA87ULL + 0xC2B2AE3D27D4EB4FULL,
                        0xC2B2AE3D27D4EB4FULL, 0,
                        0 - 0x9E3779B185EBCA87ULL};
  unsigned char buffer_[32] = {};
  size_t buffered_ = 0;
  uint64_t total_ = 0;
};

}  // namespace hostreg

#endif
