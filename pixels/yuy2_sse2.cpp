#include "pixels/rows.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>

namespace pixels::rows {
namespace {

std::uint32_t interleaveRow(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* out, std::uint32_t count) {
  std::uint32_t k = 0;
  for (; k + 32 <= count; k += 32) {
    __m128i luma0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + k));
    __m128i luma1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + k + 16));
    __m128i chroma0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + k));
    __m128i chroma1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + k + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * std::size_t(k)), _mm_unpacklo_epi8(luma0, chroma0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * std::size_t(k) + 16), _mm_unpackhi_epi8(luma0, chroma0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * std::size_t(k) + 32), _mm_unpacklo_epi8(luma1, chroma1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * std::size_t(k) + 48), _mm_unpackhi_epi8(luma1, chroma1));
  }
  for (; k + 16 <= count; k += 16) {
    __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + k));
    __m128i chroma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * std::size_t(k)), _mm_unpacklo_epi8(luma, chroma));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * std::size_t(k) + 16), _mm_unpackhi_epi8(luma, chroma));
  }
  return k;
}

}  // namespace

const Yuy2Rows* yuy2Sse2() { static const Yuy2Rows kRows = {interleaveRow}; return &kRows; }

}  // namespace pixels::rows

#else

const pixels::rows::Yuy2Rows* pixels::rows::yuy2Sse2() { return nullptr; }

#endif
