// The checksum that tells a file's versions apart: XXH64 as published, and
// the same whatever pieces the bytes come in.
#include <gtest/gtest.h>

#include <string>

#include "host/files/checksum.h"

namespace {

uint64_t Whole(const std::string& bytes) {
  hostreg::Checksum sum;
  sum.Add(bytes);
  return sum.Value();
}

TEST(Checksum, KnownValues) {
  struct Case {
    std::string bytes;
    uint64_t xxh64;  // XXH64 with seed 0
  };
  const Case cases[] = {
      {"", 0xEF46DB3751D8E999ull},
      {"a", 0xD24EC4F1A98C6E5Bull},
      {"abc", 0x44BC2CF5AD770999ull},
      {"Nobody inspects the spammish repetition", 0xFBCEA83C8A378BF1ull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(c.xxh64, Whole(c.bytes));
  }
}

TEST(Checksum, PiecesGiveTheSameValueAsTheWhole) {
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += static_cast<char>(i * 7 + i / 13);
  const uint64_t whole = Whole(bytes);
  for (const size_t piece : {1u, 3u, 31u, 32u, 33u, 64u, 999u}) {
    SCOPED_TRACE(piece);
    hostreg::Checksum sum;
    for (size_t at = 0; at < bytes.size(); at += piece)
      sum.Add(std::string_view(bytes).substr(at, piece));
    EXPECT_EQ(whole, sum.Value());
    EXPECT_EQ(bytes.size(), sum.size());
  }
  // Any byte changed shows.
  std::string changed = bytes;
  changed[500] ^= 1;
  EXPECT_NE(whole, Whole(changed));
}

}  // namespace
