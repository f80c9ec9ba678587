#include "pixels/rows.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>

namespace pixels::rows {
namespace {

__m128i load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
void store(std::uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// The eight 16-bit lanes in reverse order.
__m128i reverseWords(__m128i v) {
  v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
  v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
  return _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2));
}

// Rows of `bytes` bytes, each vector reversed by `reverse`; a row that is not whole vectors ends
// with one overlapping the vector before.
template <class Reverse>
bool mirrorRows(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                std::size_t bytes, std::uint32_t rows, Reverse reverse) {
  if (bytes < 16) return false;
  for (std::uint32_t r = 0; r < rows; r++) {
    const std::uint8_t* s = src + std::ptrdiff_t(r) * srcStride;
    std::uint8_t* d = dst + std::ptrdiff_t(r) * dstStride;
    std::size_t i = 0;
    for (; i + 16 <= bytes; i += 16) store(d + i, reverse(load(s + (bytes - 16 - i))));
    if (i != bytes) store(d + (bytes - 16), reverse(load(s)));
  }
  return true;
}

bool mirrorBytes(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                 std::uint32_t count, std::uint32_t rows) {
  return mirrorRows(src, srcStride, dst, dstStride, count, rows, [](__m128i v) {
    return reverseWords(_mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)));  // bytes of each lane swapped first
  });
}

bool mirrorPairs(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                 std::uint32_t count, std::uint32_t rows) {
  return mirrorRows(src, srcStride, dst, dstStride, 2 * std::size_t(count), rows, reverseWords);
}

// 16 x 16 bytes: four rounds of interleaving, each doubling the run of one source column.
void transposeBytes(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                    std::uint32_t width, std::uint32_t height) {
  for (std::uint32_t by = 0; by + 16 <= height; by += 16) {
    for (std::uint32_t bx = 0; bx + 16 <= width; bx += 16) {
      const std::uint8_t* s = src + std::ptrdiff_t(by) * srcStride + bx;
      __m128i a[16], b[16];
      for (std::ptrdiff_t i = 0; i < 16; i++) a[i] = load(s + i * srcStride);
      // Rows 2i and 2i + 1 byte by byte: lanes of one column's two rows.
      for (std::ptrdiff_t i = 0; i < 8; i++) {
        b[2 * i] = _mm_unpacklo_epi8(a[2 * i], a[2 * i + 1]);
        b[2 * i + 1] = _mm_unpackhi_epi8(a[2 * i], a[2 * i + 1]);
      }
      // Four rows per column, columns 0-3, 4-7, 8-11, 12-15 of each group of four rows.
      for (std::ptrdiff_t g = 0; g < 4; g++) {
        a[4 * g] = _mm_unpacklo_epi16(b[4 * g], b[4 * g + 2]);
        a[4 * g + 1] = _mm_unpackhi_epi16(b[4 * g], b[4 * g + 2]);
        a[4 * g + 2] = _mm_unpacklo_epi16(b[4 * g + 1], b[4 * g + 3]);
        a[4 * g + 3] = _mm_unpackhi_epi16(b[4 * g + 1], b[4 * g + 3]);
      }
      // Eight rows per column: b[4h + k] holds columns 2k, 2k + 1 (k = 0..7 over h = 0, 1)...
      for (std::ptrdiff_t h = 0; h < 2; h++) {
        for (std::ptrdiff_t q = 0; q < 4; q++) {
          b[8 * h + 2 * q] = _mm_unpacklo_epi32(a[8 * h + q], a[8 * h + 4 + q]);
          b[8 * h + 2 * q + 1] = _mm_unpackhi_epi32(a[8 * h + q], a[8 * h + 4 + q]);
        }
      }
      // ...and all sixteen rows: b[j] (rows 0-7) and b[8 + j] (rows 8-15) hold columns 2j, 2j + 1.
      std::uint8_t* d = dst + std::ptrdiff_t(bx) * dstStride + by;
      for (std::ptrdiff_t j = 0; j < 8; j++) {
        store(d + std::ptrdiff_t(2 * j) * dstStride, _mm_unpacklo_epi64(b[j], b[8 + j]));
        store(d + std::ptrdiff_t(2 * j + 1) * dstStride, _mm_unpackhi_epi64(b[j], b[8 + j]));
      }
    }
  }
}

// 8 x 8 pairs: three rounds of interleaving.
void transposePairs(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                    std::uint32_t width, std::uint32_t height) {
  for (std::uint32_t by = 0; by + 8 <= height; by += 8) {
    for (std::uint32_t bx = 0; bx + 8 <= width; bx += 8) {
      const std::uint8_t* s = src + std::ptrdiff_t(by) * srcStride + 2 * std::ptrdiff_t(bx);
      __m128i a[8], b[8];
      for (std::ptrdiff_t i = 0; i < 8; i++) a[i] = load(s + i * srcStride);
      for (std::ptrdiff_t i = 0; i < 4; i++) {
        b[2 * i] = _mm_unpacklo_epi16(a[2 * i], a[2 * i + 1]);
        b[2 * i + 1] = _mm_unpackhi_epi16(a[2 * i], a[2 * i + 1]);
      }
      for (std::ptrdiff_t g = 0; g < 2; g++) {
        a[4 * g] = _mm_unpacklo_epi32(b[4 * g], b[4 * g + 2]);
        a[4 * g + 1] = _mm_unpackhi_epi32(b[4 * g], b[4 * g + 2]);
        a[4 * g + 2] = _mm_unpacklo_epi32(b[4 * g + 1], b[4 * g + 3]);
        a[4 * g + 3] = _mm_unpackhi_epi32(b[4 * g + 1], b[4 * g + 3]);
      }
      // a[q] (rows 0-3) and a[4 + q] (rows 4-7) hold pairs 2q, 2q + 1.
      std::uint8_t* d = dst + std::ptrdiff_t(bx) * dstStride + 2 * std::ptrdiff_t(by);
      for (std::ptrdiff_t q = 0; q < 4; q++) {
        store(d + std::ptrdiff_t(2 * q) * dstStride, _mm_unpacklo_epi64(a[q], a[4 + q]));
        store(d + std::ptrdiff_t(2 * q + 1) * dstStride, _mm_unpackhi_epi64(a[q], a[4 + q]));
      }
    }
  }
}

}  // namespace

const TurnRows* turnSse2() {
  static const TurnRows kRows = {mirrorBytes, mirrorPairs, nullptr, transposeBytes, transposePairs, 16, 16, 8, 8};
  return &kRows;
}

}  // namespace pixels::rows

#else

const pixels::rows::TurnRows* pixels::rows::turnSse2() { return nullptr; }

#endif
