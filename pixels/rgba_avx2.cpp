// Built with AVX2 enabled (see CMakeLists.txt); called only once the processor is known to run it.
#include "pixels/rows.h"

#if defined(__AVX2__) || (defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86)))
#include <immintrin.h>

namespace pixels::rows {

namespace {

// Here the reference is taken at half scale: with C a colour's chroma part of the reference
// (409 V - 56992 for R, and so on), (298 Y + C) >> 8 equals (149 Y + (C >> 1)) >> 7, as dropping
// C's last bit never moves the sum across a multiple of 256. 149 Y lies in 0..37995; each colour's
// C >> 1 is split into a positive and a negative part, one of them zero, which unsigned
// saturating arithmetic adds and subtracts: a sum held at 0 or 65535 is outside 0..32767 anyway,
// where the colour clamps to 0 or 255.
struct ChromaTerms {
  __m256i rUp, rDown, gUp, gDown, bUp, bDown;
};

// 16 chroma pairs, shared by the two rows that use them.
inline ChromaTerms chromaTerms(const std::uint8_t* uv) {
  const __m256i pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(uv));
  const __m256i u = _mm256_and_si256(pairs, _mm256_set1_epi16(0x00FF));
  const __m256i v = _mm256_srli_epi16(pairs, 8);
  // R: 204 V + (V >> 1) - 28496.  G: 17392 - 50 U - 104 V.
  const __m256i r = _mm256_add_epi16(_mm256_mullo_epi16(v, _mm256_set1_epi16(204)), _mm256_srli_epi16(v, 1));
  const __m256i g =
      _mm256_add_epi16(_mm256_mullo_epi16(u, _mm256_set1_epi16(50)), _mm256_mullo_epi16(v, _mm256_set1_epi16(104)));
  const __m256i rZero = _mm256_set1_epi16(28496), gZero = _mm256_set1_epi16(17392);
  // B: 258 U - 35344, whose 258 U passes 65535 at U = 255: each part from U on its own side of 137.
  const __m256i b258 = _mm256_set1_epi16(258);
  ChromaTerms c;
  c.rUp = _mm256_subs_epu16(r, rZero);
  c.rDown = _mm256_subs_epu16(rZero, r);
  c.gUp = _mm256_subs_epu16(gZero, g);
  c.gDown = _mm256_subs_epu16(g, gZero);
  c.bUp = _mm256_subs_epu16(_mm256_mullo_epi16(_mm256_subs_epu16(u, _mm256_set1_epi16(136)), b258),
                            _mm256_set1_epi16(256));
  c.bDown = _mm256_subs_epu16(_mm256_set1_epi16(-30192),  // 35344
                              _mm256_mullo_epi16(_mm256_min_epu16(u, _mm256_set1_epi16(137)), b258));
  return c;
}

// One colour of 16 even and 16 odd pixels as bytes in pixel order: twice the half-scale sum,
// saturated, has the clamped colour in its high byte.
inline __m256i colour(__m256i yEven, __m256i yOdd, __m256i up, __m256i down) {
  const __m256i even = _mm256_subs_epu16(_mm256_adds_epu16(yEven, up), down);
  const __m256i odd = _mm256_subs_epu16(_mm256_adds_epu16(yOdd, up), down);
  return _mm256_or_si256(_mm256_srli_epi16(_mm256_adds_epu16(even, even), 8),
                         _mm256_and_si256(_mm256_adds_epu16(odd, odd), _mm256_set1_epi16(-256)));
}

// 32 pixels of one row. Every step but the stores stays inside its 128-bit half: pixels 0..15
// and their pairs in the low half, 16..31 in the high.
inline void pixels32(const std::uint8_t* y, const ChromaTerms& c, std::uint8_t* dst) {
  // The destination lines two blocks ahead, so that their reads for ownership overlap this work.
  _mm_prefetch(reinterpret_cast<const char*>(dst + 256), _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(dst + 320), _MM_HINT_T0);
  const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  const __m256i k149 = _mm256_set1_epi16(149);
  const __m256i yEven = _mm256_mullo_epi16(_mm256_and_si256(luma, _mm256_set1_epi16(0x00FF)), k149);
  const __m256i yOdd = _mm256_mullo_epi16(_mm256_srli_epi16(luma, 8), k149);
  const __m256i r8 = colour(yEven, yOdd, c.rUp, c.rDown);
  const __m256i g8 = colour(yEven, yOdd, c.gUp, c.gDown);
  const __m256i b8 = colour(yEven, yOdd, c.bUp, c.bDown);
  const __m256i alpha = _mm256_set1_epi8(-1);
  const __m256i rgLow = _mm256_unpacklo_epi8(r8, g8);
  const __m256i rgHigh = _mm256_unpackhi_epi8(r8, g8);
  const __m256i baLow = _mm256_unpacklo_epi8(b8, alpha);
  const __m256i baHigh = _mm256_unpackhi_epi8(b8, alpha);
  const __m256i p0 = _mm256_unpacklo_epi16(rgLow, baLow);    // pixels 0..3   | 16..19
  const __m256i p1 = _mm256_unpackhi_epi16(rgLow, baLow);    // pixels 4..7   | 20..23
  const __m256i p2 = _mm256_unpacklo_epi16(rgHigh, baHigh);  // pixels 8..11  | 24..27
  const __m256i p3 = _mm256_unpackhi_epi16(rgHigh, baHigh);  // pixels 12..15 | 28..31
  __m256i* out = reinterpret_cast<__m256i*>(dst);
  _mm256_storeu_si256(out + 0, _mm256_permute2x128_si256(p0, p1, 0x20));
  _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
  _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
  _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
}

std::uint32_t row(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::uint32_t count) {
  std::uint32_t x = 0;
  for (; x + 32 <= count; x += 32) pixels32(y + x, chromaTerms(uv + x), dst + 4 * std::size_t(x));
  return x;
}

std::uint32_t rowPair(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv, std::uint8_t* dst0,
                      std::uint8_t* dst1, std::uint32_t count) {
  std::uint32_t x = 0;
  for (; x + 32 <= count; x += 32) {
    const ChromaTerms c = chromaTerms(uv + x);
    pixels32(y0 + x, c, dst0 + 4 * std::size_t(x));
    pixels32(y1 + x, c, dst1 + 4 * std::size_t(x));
  }
  return x;
}

}  // namespace

const RgbaRows* rgbaAvx2() { static const RgbaRows kRows = {row, rowPair}; return &kRows; }

}  // namespace pixels::rows

#else

const pixels::rows::RgbaRows* pixels::rows::rgbaAvx2() { return nullptr; }

#endif
