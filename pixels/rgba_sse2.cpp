#include "pixels/rows.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>

namespace pixels::rows {

namespace {

std::uint32_t row(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::uint32_t count) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  const __m128i alpha = _mm_set1_epi8(-1);
  std::uint32_t x = 0;
  for (; x + 16 <= count; x += 16) {
    // Even and odd pixels in separate lanes, so each lane meets its own chroma pair.
    const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + x));
    const __m128i ye = _mm_and_si128(luma, lowBytes);
    const __m128i yo = _mm_srli_epi16(luma, 8);
    const __m128i u = _mm_and_si128(pairs, lowBytes);
    const __m128i v = _mm_srli_epi16(pairs, 8);

    const __m128i rBase = _mm_sub_epi16(v, _mm_set1_epi16(223));
    const __m128i rLow = _mm_add_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(153)), _mm_set1_epi16(96));
    const __m128i gBase = _mm_sub_epi16(_mm_set1_epi16(135), _mm_add_epi16(u, v));
    const __m128i gLow = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(u, _mm_set1_epi16(156)), _mm_mullo_epi16(v, _mm_set1_epi16(48))),
        _mm_set1_epi16(224));
    const __m128i bBase = _mm_sub_epi16(_mm_add_epi16(u, u), _mm_set1_epi16(277));
    const __m128i bLow = _mm_add_epi16(_mm_slli_epi16(u, 2), _mm_set1_epi16(224));

    const __m128i ye42 = _mm_mullo_epi16(ye, _mm_set1_epi16(42));
    const __m128i yo42 = _mm_mullo_epi16(yo, _mm_set1_epi16(42));
    const __m128i re = _mm_add_epi16(_mm_add_epi16(ye, rBase), _mm_srli_epi16(_mm_add_epi16(ye42, rLow), 8));
    const __m128i ro = _mm_add_epi16(_mm_add_epi16(yo, rBase), _mm_srli_epi16(_mm_add_epi16(yo42, rLow), 8));
    const __m128i ge = _mm_add_epi16(_mm_add_epi16(ye, gBase), _mm_srli_epi16(_mm_add_epi16(ye42, gLow), 8));
    const __m128i go = _mm_add_epi16(_mm_add_epi16(yo, gBase), _mm_srli_epi16(_mm_add_epi16(yo42, gLow), 8));
    const __m128i be = _mm_add_epi16(_mm_add_epi16(ye, bBase), _mm_srli_epi16(_mm_add_epi16(ye42, bLow), 8));
    const __m128i bo = _mm_add_epi16(_mm_add_epi16(yo, bBase), _mm_srli_epi16(_mm_add_epi16(yo42, bLow), 8));

    // Clamp to bytes (even pixels in the low half, odd in the high), then weave back into
    // pixel order: R G B A per pixel, pixels 0..15.
    const __m128i r8 = _mm_packus_epi16(re, ro);
    const __m128i g8 = _mm_packus_epi16(ge, go);
    const __m128i b8 = _mm_packus_epi16(be, bo);
    const __m128i rgEven = _mm_unpacklo_epi8(r8, g8);
    const __m128i rgOdd = _mm_unpackhi_epi8(r8, g8);
    const __m128i baEven = _mm_unpacklo_epi8(b8, alpha);
    const __m128i baOdd = _mm_unpackhi_epi8(b8, alpha);
    const __m128i even0 = _mm_unpacklo_epi16(rgEven, baEven);  // pixels 0 2 4 6
    const __m128i even1 = _mm_unpackhi_epi16(rgEven, baEven);  // 8 10 12 14
    const __m128i odd0 = _mm_unpacklo_epi16(rgOdd, baOdd);     // 1 3 5 7
    const __m128i odd1 = _mm_unpackhi_epi16(rgOdd, baOdd);     // 9 11 13 15
    __m128i* out = reinterpret_cast<__m128i*>(dst + 4 * std::size_t(x));
    _mm_storeu_si128(out + 0, _mm_unpacklo_epi32(even0, odd0));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi32(even0, odd0));
    _mm_storeu_si128(out + 2, _mm_unpacklo_epi32(even1, odd1));
    _mm_storeu_si128(out + 3, _mm_unpackhi_epi32(even1, odd1));
  }
  return x;
}

}  // namespace

const RgbaRows* rgbaSse2() { static const RgbaRows kRows = {row, nullptr}; return &kRows; }

}  // namespace pixels::rows

#else

const pixels::rows::RgbaRows* pixels::rows::rgbaSse2() { return nullptr; }

#endif
