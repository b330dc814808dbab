// The checksum that tells a file's versions apart: XXH3 (64 bits, seed 0)
// as published, and the same whatever pieces the bytes come in.
#include <gtest/gtest.h>

#include <string>

#include "host/files/checksum.h"

namespace {

// The bytes of xxHash's published XXH3 vectors as LLVM's tests give them:
// a xorshift sequence's low bytes.
std::string VectorBytes(size_t length) {
  std::string bytes;
  uint64_t x = 1;
  for (size_t i = 0; i < length; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    bytes += static_cast<char>(static_cast<uint8_t>(x));
  }
  return bytes;
}

uint64_t Whole(const std::string& bytes) {
  hostreg::Checksum sum;
  sum.Add(bytes);
  return sum.Value();
}

// Every length class of the algorithm: short inputs, the mid sizes, one
// block of stripes and more than one.
TEST(Checksum, KnownValues) {
  struct Case {
    size_t length;
    uint64_t xxh3;
  };
  const Case cases[] = {
      {0, 0x2d06800538d394c2ull},    {1, 0xd0d496e05c553485ull},
      {3, 0x6ea2d59aca5c3778ull},    {8, 0xabc1413da6cd0209ull},
      {16, 0x7e46916754d7c9b8ull},   {17, 0xed4be912ba5f836dull},
      {128, 0x06a146ee9a2da378ull},  {129, 0xbc7138129bf065daull},
      {403, 0xcefeb3ffa532ad8cull},  {512, 0xcdfa6b6268e3650full},
      {2048, 0x330ce110cbb79eaeull}, {2243, 0x0979f786a24edde7ull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    EXPECT_EQ(c.xxh3, Whole(VectorBytes(c.length)));
  }
}

TEST(Checksum, PiecesGiveTheSameValueAsTheWhole) {
  const std::string bytes = VectorBytes(5000);
  const uint64_t whole = Whole(bytes);
  for (const size_t piece : {1u, 3u, 63u, 64u, 65u, 240u, 1024u, 4999u}) {
    SCOPED_TRACE(piece);
    hostreg::Checksum sum;
    for (size_t at = 0; at < bytes.size(); at += piece)
      sum.Add(std::string_view(bytes).substr(at, piece));
    EXPECT_EQ(whole, sum.Value());
    EXPECT_EQ(bytes.size(), sum.size());
  }
  // Any byte changed shows.
  std::string changed = bytes;
  changed[2500] ^= 1;
  EXPECT_NE(whole, Whole(changed));
}

}  // namespace
