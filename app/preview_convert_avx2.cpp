// Built with AVX2 enabled (see preview.cmake); called only once the processor is known to run it.
#include "app/preview_convert_rows.h"

#if defined(__AVX2__) || (defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86)))
#include <immintrin.h>

namespace app::preview_rows {

bool builtAvx2() { return true; }

namespace {

// What a run of 16 chroma pairs adds to each colour, shared by the two rows that use them.
struct ChromaTerms {
  __m256i rBase, rLow, gBase, gLow, bBase, bLow;
};

inline ChromaTerms chromaTerms(const std::uint8_t* uv) {
  const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
  const __m256i pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(uv));
  const __m256i u = _mm256_and_si256(pairs, lowBytes);
  const __m256i v = _mm256_srli_epi16(pairs, 8);
  ChromaTerms c;
  c.rBase = _mm256_sub_epi16(v, _mm256_set1_epi16(223));
  c.rLow = _mm256_add_epi16(_mm256_mullo_epi16(v, _mm256_set1_epi16(153)), _mm256_set1_epi16(96));
  c.gBase = _mm256_sub_epi16(_mm256_set1_epi16(135), _mm256_add_epi16(u, v));
  c.gLow = _mm256_add_epi16(
      _mm256_add_epi16(_mm256_mullo_epi16(u, _mm256_set1_epi16(156)), _mm256_mullo_epi16(v, _mm256_set1_epi16(48))),
      _mm256_set1_epi16(224));
  c.bBase = _mm256_sub_epi16(_mm256_add_epi16(u, u), _mm256_set1_epi16(277));
  c.bLow = _mm256_add_epi16(_mm256_slli_epi16(u, 2), _mm256_set1_epi16(224));
  return c;
}

// The SSE2 kernel's steps, twice as wide: 32 pixels of one row. Every step but the last stays
// inside its 128-bit half, and the halves line up: pixels 0..15 and their pairs in the low
// half, 16..31 in the high.
inline void pixels32(const std::uint8_t* y, const ChromaTerms& c, std::uint8_t* dst) {
  const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
  const __m256i alpha = _mm256_set1_epi8(-1);
  const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  const __m256i ye = _mm256_and_si256(luma, lowBytes);
  const __m256i yo = _mm256_srli_epi16(luma, 8);

  const __m256i ye42 = _mm256_mullo_epi16(ye, _mm256_set1_epi16(42));
  const __m256i yo42 = _mm256_mullo_epi16(yo, _mm256_set1_epi16(42));
  const __m256i re = _mm256_add_epi16(_mm256_add_epi16(ye, c.rBase), _mm256_srli_epi16(_mm256_add_epi16(ye42, c.rLow), 8));
  const __m256i ro = _mm256_add_epi16(_mm256_add_epi16(yo, c.rBase), _mm256_srli_epi16(_mm256_add_epi16(yo42, c.rLow), 8));
  const __m256i ge = _mm256_add_epi16(_mm256_add_epi16(ye, c.gBase), _mm256_srli_epi16(_mm256_add_epi16(ye42, c.gLow), 8));
  const __m256i go = _mm256_add_epi16(_mm256_add_epi16(yo, c.gBase), _mm256_srli_epi16(_mm256_add_epi16(yo42, c.gLow), 8));
  const __m256i be = _mm256_add_epi16(_mm256_add_epi16(ye, c.bBase), _mm256_srli_epi16(_mm256_add_epi16(ye42, c.bLow), 8));
  const __m256i bo = _mm256_add_epi16(_mm256_add_epi16(yo, c.bBase), _mm256_srli_epi16(_mm256_add_epi16(yo42, c.bLow), 8));

  const __m256i r8 = _mm256_packus_epi16(re, ro);
  const __m256i g8 = _mm256_packus_epi16(ge, go);
  const __m256i b8 = _mm256_packus_epi16(be, bo);
  const __m256i rgEven = _mm256_unpacklo_epi8(r8, g8);
  const __m256i rgOdd = _mm256_unpackhi_epi8(r8, g8);
  const __m256i baEven = _mm256_unpacklo_epi8(b8, alpha);
  const __m256i baOdd = _mm256_unpackhi_epi8(b8, alpha);
  const __m256i even0 = _mm256_unpacklo_epi16(rgEven, baEven);
  const __m256i even1 = _mm256_unpackhi_epi16(rgEven, baEven);
  const __m256i odd0 = _mm256_unpacklo_epi16(rgOdd, baOdd);
  const __m256i odd1 = _mm256_unpackhi_epi16(rgOdd, baOdd);
  const __m256i p0 = _mm256_unpacklo_epi32(even0, odd0);  // pixels 0..3   | 16..19
  const __m256i p1 = _mm256_unpackhi_epi32(even0, odd0);  // pixels 4..7   | 20..23
  const __m256i p2 = _mm256_unpacklo_epi32(even1, odd1);  // pixels 8..11  | 24..27
  const __m256i p3 = _mm256_unpackhi_epi32(even1, odd1);  // pixels 12..15 | 28..31
  __m256i* out = reinterpret_cast<__m256i*>(dst);
  _mm256_storeu_si256(out + 0, _mm256_permute2x128_si256(p0, p1, 0x20));
  _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
  _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
  _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
}

}  // namespace

std::uint32_t avx2Row(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::uint32_t count) {
  std::uint32_t x = 0;
  for (; x + 32 <= count; x += 32) pixels32(y + x, chromaTerms(uv + x), dst + 4 * std::size_t(x));
  return x;
}

std::uint32_t avx2RowPair(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv, std::uint8_t* dst0,
                          std::uint8_t* dst1, std::uint32_t count) {
  std::uint32_t x = 0;
  for (; x + 32 <= count; x += 32) {
    const ChromaTerms c = chromaTerms(uv + x);
    pixels32(y0 + x, c, dst0 + 4 * std::size_t(x));
    pixels32(y1 + x, c, dst1 + 4 * std::size_t(x));
  }
  return x;
}

}  // namespace app::preview_rows

#else

namespace app::preview_rows {

bool builtAvx2() { return false; }

std::uint32_t avx2Row(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::uint32_t) { return 0; }

std::uint32_t avx2RowPair(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::uint8_t*,
                          std::uint32_t) {
  return 0;
}

}  // namespace app::preview_rows

#endif
