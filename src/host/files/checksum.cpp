#include "host/files/checksum.h"

#include <cstring>

namespace hostreg {

namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ULL;

uint64_t Rotate(uint64_t x, int bits) { return x << bits | x >> (64 - bits); }

uint64_t Word(const unsigned char* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

uint64_t Round(uint64_t lane, uint64_t word) {
  return Rotate(lane + word * kPrime2, 31) * kPrime1;
}

uint64_t Merge(uint64_t hash, uint64_t lane) {
  return (hash ^ Round(0, lane)) * kPrime1 + kPrime4;
}

void Stripe(uint64_t lanes[4], const unsigned char* p) {
  for (int i = 0; i < 4; ++i) lanes[i] = Round(lanes[i], Word(p + 8 * i));
}

}  // namespace

void Checksum::Add(std::string_view bytes) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  total_ += n;
  if (buffered_ > 0) {
    const size_t take = n < 32 - buffered_ ? n : 32 - buffered_;
    std::memcpy(buffer_ + buffered_, p, take);
    buffered_ += take;
    p += take;
    n -= take;
    if (buffered_ < 32) return;
    Stripe(lanes_, buffer_);
    buffered_ = 0;
  }
  for (; n >= 32; p += 32, n -= 32) Stripe(lanes_, p);
  std::memcpy(buffer_, p, n);
  buffered_ = n;
}

uint64_t Checksum::Value() const {
  uint64_t hash;
  if (total_ >= 32) {
    hash = Rotate(lanes_[0], 1) + Rotate(lanes_[1], 7) + Rotate(lanes_[2], 12) +
           Rotate(lanes_[3], 18);
    for (const uint64_t lane : lanes_) hash = Merge(hash, lane);
  } else {
    hash = lanes_[2] + kPrime5;
  }
  hash += total_;
  const unsigned char* p = buffer_;
  size_t n = buffered_;
  for (; n >= 8; p += 8, n -= 8)
    hash = Rotate(hash ^ Round(0, Word(p)), 27) * kPrime1 + kPrime4;
  if (n >= 4) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    hash = Rotate(hash ^ (uint64_t{word} * kPrime1), 23) * kPrime2 + kPrime3;
    p += 4;
    n -= 4;
  }
  for (; n > 0; ++p, --n) hash = Rotate(hash ^ (*p * kPrime5), 11) * kPrime1;
  hash ^= hash >> 33;
  hash *= kPrime2;
  hash ^= hash >> 29;
  hash *= kPrime3;
  return hash ^ (hash >> 32);
}

}  // namespace hostreg
