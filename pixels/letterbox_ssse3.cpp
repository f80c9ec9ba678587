// Built with SSSE3 enabled (see CMakeLists.txt); called only once the processor is known to run it.
#include "pixels/rows.h"

#if defined(__SSSE3__) || (defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86)))
#include <tmmintrin.h>

namespace pixels::rows {

namespace {

void yuy2Row(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* out, const Yuy2Block* blocks,
             std::size_t count) {
  for (std::size_t b = 0; b < count; b++) {
    const Yuy2Block& block = blocks[b];
    const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + block.luma));
    const __m128i chroma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + block.chroma));
    const __m128i lumaShuffle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.lumaShuffle));
    const __m128i chromaShuffle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.chromaShuffle));
    const __m128i pairs = _mm_or_si128(_mm_shuffle_epi8(luma, lumaShuffle), _mm_shuffle_epi8(chroma, chromaShuffle));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * b), pairs);
  }
}

std::size_t gatherRow(const std::uint8_t* row, std::uint8_t* out, const GatherBlock* blocks, std::size_t count) {
  std::size_t made = 0;
  for (std::size_t b = 0; b < count; b++) {
    const GatherBlock& block = blocks[b];
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + block.source));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + block.source + 16));
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.low));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.high));
    const __m128i bytes = _mm_or_si128(_mm_shuffle_epi8(first, low), _mm_shuffle_epi8(second, high));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + made), bytes);
    made += block.count;
  }
  return made;
}

}  // namespace

const ScaleRows* scaleSsse3() { static const ScaleRows kRows = {gatherRow, yuy2Row}; return &kRows; }

}  // namespace pixels::rows

#else

const pixels::rows::ScaleRows* pixels::rows::scaleSsse3() { return nullptr; }

#endif
