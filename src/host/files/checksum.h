// A checksum of a file's bytes, taken in pieces as they are read front to
// back: XXH3 (64 bits), fast enough to cover every byte of a large export
// at memory speed, and any change of a byte shows.
#ifndef REGSWITCH_HOST_FILES_CHECKSUM_H
#define REGSWITCH_HOST_FILES_CHECKSUM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace hostreg {

class Checksum {
 public:
  Checksum();
  ~Checksum();
  Checksum(const Checksum&) = delete;
  Checksum& operator=(const Checksum&) = delete;

  void Add(std::string_view bytes);
  // Of everything added so far; more may be added after.
  uint64_t Value() const;
  uint64_t size() const { return total_; }

 private:
  struct State;  // xxHash's, kept out of every header
  std::unique_ptr<State> state_;
  uint64_t total_ = 0;
};

}  // namespace hostreg

#endif
