// The vector kernels behind turnNv12, each instruction set in its own source so that only the
// AVX2 one is built for AVX2. A set works on whole vectors and whole blocks only; the caller
// hands what is left to the next set and finally to plain code.
//
// "Pairs" are the 2-byte U V elements of the chroma plane, moved as one. Strides are signed:
// with a negative one the rows are walked upwards, which is how rotations reuse the transpose.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixels::turn_rows {

struct Kernels {
  // Each of `rows` rows of `count` elements reversed: dst[i] = src[count - 1 - i]. A row that
  // is not whole vectors ends with a vector overlapping the one before. False, with nothing
  // written, when a row is shorter than one vector.
  bool (*mirrorBytes)(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                      std::uint32_t count, std::uint32_t rows);
  bool (*mirrorPairs)(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                      std::uint32_t count, std::uint32_t rows);
  // Each of `rows` rows of `bytes` bytes copied, likewise ending with an overlapping vector.
  // Null where memcpy does as well; false, with nothing written, when a row is shorter than one vector.
  bool (*copyRows)(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst, std::ptrdiff_t dstStride,
                   std::uint32_t bytes, std::uint32_t rows);
  // Element (x, y) of the source goes to element (y, x) of the destination, for x below `width`
  // rounded down to whole blocks of blockCols and y below `height` rounded down to blockRows.
  void (*transposeBytes)(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst,
                         std::ptrdiff_t dstStride, std::uint32_t width, std::uint32_t height);
  void (*transposePairs)(const std::uint8_t* src, std::ptrdiff_t srcStride, std::uint8_t* dst,
                         std::ptrdiff_t dstStride, std::uint32_t width, std::uint32_t height);
  std::uint32_t byteBlockCols, byteBlockRows;
  std::uint32_t pairBlockCols, pairBlockRows;
};

// Null when this build has no such set (the processor may still lack AVX2).
const Kernels* sse2Kernels();
const Kernels* avx2Kernels();

}  // namespace pixels::turn_rows
