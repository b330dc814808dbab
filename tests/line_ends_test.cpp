// Line ends found 64 units at a time, directly and from the map scanned
// ahead, against a unit-by-unit reading, in both widths of text.
#include <gtest/gtest.h>

#include <string>

#include "host/formats/reg/line_ends.h"

namespace {

using hostreg::kNoSection;
using hostreg::LineEndMap;
using hostreg::Units16;
using hostreg::Units8;

template <class U>
size_t Naive(const U& t, size_t from) {
  while (from < t.n && t[from] != 0x0D && t[from] != 0x0A) ++from;
  return from;
}

template <class U>
size_t NaiveNul(const U& t, size_t from, size_t to) {
  for (; from < to; ++from)
    if (t[from] == 0) return from;
  return kNoSection;
}

// Bytes that make line ends, NULs, and in UTF-16 units that only hold a
// CR or LF byte (0D0A, 0A00, 0D41), which end no line.
std::string RandomBytes(size_t size, uint32_t seed, bool nuls) {
  const unsigned char alphabet[] = {'a', 'b', '\r', '\n', 0x0D, 0x0A, 0x41,
                                    0x00, 0xFF, '[', '"', ' '};
  std::string bytes;
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    unsigned char c = alphabet[(seed >> 16) % sizeof alphabet];
    if (c == 0 && !nuls) c = 'z';
    if ((seed >> 8) % 7 != 0 && c != '\r' && c != '\n') c = 'x';
    bytes += static_cast<char>(c);
  }
  return bytes;
}

template <class U>
void Check(const U& t, const std::string& label) {
  SCOPED_TRACE(label);
  for (size_t from = 0; from <= t.n; ++from)
    ASSERT_EQ(Naive(t, from), hostreg::NextLineEnd(t, from)) << from;
  // Scanned in pieces of every alignment, as a reader goes.
  for (size_t piece : {1u, 63u, 64u, 100u, 1000u}) {
    LineEndMap map;
    size_t at = 0;
    while (at < t.n) {
      const size_t to = std::min(t.n, at + piece);
      const size_t nul = map.Scan(t, at, to);
      ASSERT_EQ(NaiveNul(t, at, to), nul) << at;
      if (nul != kNoSection) break;
      for (size_t from = at > 64 ? at - 64 : 0; from < to; ++from) {
        const size_t end = map.Next(from);
        const size_t naive = Naive(t, from);
        ASSERT_EQ(naive < to ? naive : kNoSection, end) << from;
      }
      at = to;
    }
  }
}

TEST(LineEnds, AsFoundUnitByUnit) {
  for (const bool nuls : {false, true}) {
    for (const size_t size : {0u, 1u, 63u, 64u, 65u, 129u, 2000u}) {
      const std::string bytes = RandomBytes(size, 7 + size, nuls);
      const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
      Check(Units8{p, bytes.size()}, "8-bit " + std::to_string(size));
      Check(Units16{p, bytes.size() / 2}, "UTF-16 " + std::to_string(size));
    }
  }
}

}  // namespace
