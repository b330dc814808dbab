#include "host/formats/reg/line_ends.h"

#include <algorithm>
#include <type_traits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace hostreg {

namespace {

// Which of 64 units are a CR or an LF (`ends`) or a NUL, one bit each.
struct Marks {
  uint64_t ends = 0;
  uint64_t nuls = 0;
};

#ifdef __SSE2__
// Sixteen units at a time: 16 bytes of 8-bit text, or two loads of UTF-16
// compared unit by unit and packed to one byte a unit.
template <class U>
Marks Mark64(const unsigned char* p) {
  Marks m;
  for (int i = 0; i < 4; ++i) {
    __m128i cr, lf, nul;
    if constexpr (std::is_same_v<U, Units8>) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
      cr = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x0D));
      lf = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x0A));
      nul = _mm_cmpeq_epi8(v, _mm_setzero_si128());
    } else {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32 * i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32 * i + 16));
      cr = _mm_packs_epi16(_mm_cmpeq_epi16(a, _mm_set1_epi16(0x0D)),
                           _mm_cmpeq_epi16(b, _mm_set1_epi16(0x0D)));
      lf = _mm_packs_epi16(_mm_cmpeq_epi16(a, _mm_set1_epi16(0x0A)),
                           _mm_cmpeq_epi16(b, _mm_set1_epi16(0x0A)));
      nul = _mm_packs_epi16(_mm_cmpeq_epi16(a, _mm_setzero_si128()),
                            _mm_cmpeq_epi16(b, _mm_setzero_si128()));
    }
    const auto bits = [](__m128i v) {
      return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(v)));
    };
    m.ends |= bits(_mm_or_si128(cr, lf)) << (16 * i);
    m.nuls |= bits(nul) << (16 * i);
  }
  return m;
}
#endif

template <class U>
Marks MarkUnits(const U& t, size_t from, size_t count) {
  Marks m;
  for (size_t i = 0; i < count; ++i) {
    const uint16_t c = t[from + i];
    if (c == 0x0D || c == 0x0A) m.ends |= uint64_t{1} << i;
    if (c == 0) m.nuls |= uint64_t{1} << i;
  }
  return m;
}

// Whole words of 64 units through SSE2 where the text has them.
template <class U>
Marks MarkWord(const U& t, size_t base) {
#ifdef __SSE2__
  constexpr size_t kWidth = std::is_same_v<U, Units8> ? 1 : 2;
  if (base + 64 <= t.n) return Mark64<U>(t.p + base * kWidth);
#endif
  return MarkUnits(t, base, std::min<size_t>(64, t.n - base));
}

template <class U>
size_t NextEnd(const U& t, size_t from) {
  for (size_t base = from & ~size_t{63}; base < t.n; base += 64) {
    uint64_t ends = MarkWord(t, base).ends;
    if (base < from) ends &= ~uint64_t{0} << (from - base);
    if (ends != 0) return base + static_cast<size_t>(__builtin_ctzll(ends));
  }
  return t.n;
}

}  // namespace

size_t NextLineEnd(Units8 text, size_t from) { return NextEnd(text, from); }
size_t NextLineEnd(Units16 text, size_t from) { return NextEnd(text, from); }

template <class U>
size_t LineEndMap::ScanUnits(U text, size_t from, size_t to) {
  if (bits_.empty())
    bits_.assign(std::min(kSpan, text.n + 64) / 64 + 1, 0);
  size_t nul = kNoSection;
  for (size_t base = from & ~size_t{63}; base < to; base += 64) {
    Marks m = MarkWord(text, base);
    // Units past `to` are left for the next scan.
    if (to - base < 64) {
      const uint64_t keep = (uint64_t{1} << (to - base)) - 1;
      m.ends &= keep;
      m.nuls &= keep;
    }
    if (base < from) m.nuls &= ~uint64_t{0} << (from - base);
    Word(base) = m.ends;
    if (m.nuls != 0) {
      nul = base + static_cast<size_t>(__builtin_ctzll(m.nuls));
      break;
    }
  }
  to_ = to;
  return nul;
}

size_t LineEndMap::Scan(Units8 text, size_t from, size_t to) {
  return ScanUnits(text, from, to);
}

size_t LineEndMap::Scan(Units16 text, size_t from, size_t to) {
  return ScanUnits(text, from, to);
}

size_t LineEndMap::Next(size_t from) const {
  for (size_t base = from & ~size_t{63}; base < to_; base += 64) {
    uint64_t ends = Word(base);
    if (base < from) ends &= ~uint64_t{0} << (from - base);
    if (ends != 0) {
      const size_t at = base + static_cast<size_t>(__builtin_ctzll(ends));
      return at < to_ ? at : kNoSection;
    }
  }
  return kNoSection;
}

}  // namespace hostreg
