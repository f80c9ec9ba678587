// The row layer under every pixel operation: the vector rows per instruction set, each set in
// sources of its own so that only they are built for it (rgba_avx2.cpp, turn_sse2.cpp, ...).
// A set works on whole vectors and whole blocks only; the operation hands what is left to the
// next set of its chain (chainOf, below) and finally to its scalar reference. Used by pixels/
// only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixels/kernel.h"

namespace pixels::rows {

// Turning (turn.h). "Pairs" are the 2-byte U V elements of the chroma plane, moved as one. Strides are signed:
// with a negative one the rows are walked upwards, which is how rotations reuse the transpose.
struct TurnRows {
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

// Conversion to RGBA (to_rgba.h). Its rows convert the leading whole vectors of `count` pixels of one row whose
// chroma pairs are all complete (pixel x reads y[x] and the pair at uv[x & ~1]) into
// dst[4x .. 4x + 3], and return how many pixels it did; the caller finishes the row.
//
// They compute the reference formulas in 16-bit lanes, exactly. The SSE2 kernel, with
// 298 = 256 + 42 and each constant split into a multiple of 256 and a small remainder,
//   R = Y + V - 223     + ((42 Y + 153 V + 96) >> 8)
//   G = Y - U - V + 135 + ((42 Y + 156 U + 48 V + 224) >> 8)
//   B = Y + 2 U - 277   + ((42 Y + 4 U + 224) >> 8)
// where every shifted sum lies in 0..65535, so an unsigned 16-bit lane holds it without loss;
// the AVX2 kernel a half-scale form with saturating steps that needs fewer (see there).
struct RgbaRows {
  std::uint32_t (*row)(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::uint32_t count);
  // Two rows that share one chroma row, whose chroma work is done once for both; returns the
  // pixels done in each. Null where the set has no such row.
  std::uint32_t (*rowPair)(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv, std::uint8_t* dst0,
                           std::uint8_t* dst1, std::uint32_t count);
};

// Letterboxed scaling (letterbox.h). The scaler builds blocks only where every load lies inside
// its row.
//
// YUY2: the scaler cuts each output row into blocks of four pixel pairs (16 bytes); a block
// takes its luma from 16 bytes of the source row starting at `luma` and its chroma from 16
// bytes of the chroma row starting at `chroma`, and places them with two byte shuffles.
//
// NV12: each plane's output row is gathered in blocks; a block loads 32 bytes of the source row
// from `source`, picks 16 output bytes from them with two shuffles, stores all 16 and moves on
// by `count` (1..16): the bytes past `count` are garbage that the next block or the scalar
// tail overwrites, so the scaler builds a block only where its whole store lies in the row.
struct Yuy2Block {
  std::uint32_t luma = 0, chroma = 0;  // first byte of each 16-byte load in its row
  std::uint8_t lumaShuffle[16] = {};   // per output byte: the load's byte, or 0x80 for none
  std::uint8_t chromaShuffle[16] = {};
};

struct GatherBlock {
  std::uint32_t source = 0;         // first byte of the 32-byte load in the source row
  std::uint32_t count = 0;          // output bytes this block makes
  std::uint8_t low[16] = {};        // per output byte: byte of the load's first half, or 0x80
  std::uint8_t high[16] = {};       // per output byte: byte of its second half, or 0x80
};

struct ScaleRows {
  // Writes the blocks' output from out[0] on; returns the bytes made (the sum of the counts).
  std::size_t (*gatherRow)(const std::uint8_t* row, std::uint8_t* out, const GatherBlock* blocks, std::size_t count);
  // Writes 16 bytes per block to out[16 b ..].
  void (*yuy2Row)(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* out, const Yuy2Block* blocks,
                  std::size_t count);
};

// Conversion to YUY2 (convert_picture.h).
struct Yuy2Rows {
  // out[2k] = y[k], out[2k + 1] = uv[k] for the leading whole vectors of `count`; returns how many.
  std::uint32_t (*interleaveRow)(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* out, std::uint32_t count);
};

// One instruction set's rows; null where it has none for an operation.
struct RowSet {
  const TurnRows* turn = nullptr;
  const RgbaRows* rgba = nullptr;
  const ScaleRows* scale = nullptr;
  const Yuy2Rows* yuy2 = nullptr;
};

// Each set's rows as its own source builds them: null when this build has no such rows (the
// processor may still lack the set).
const TurnRows* turnSse2();
const TurnRows* turnAvx2();
const RgbaRows* rgbaSse2();
const RgbaRows* rgbaAvx2();
const ScaleRows* scaleSsse3();
const Yuy2Rows* yuy2Sse2();

// The sets `kernel` runs, best first (Avx2: AVX2, SSSE3, SSE2); none for Scalar. Best stands
// for bestKernel(). Only for an available kernel.
struct Chain {
  RowSet sets[3];
  int count = 0;
};
Chain chainOf(PixelKernel kernel);

}  // namespace pixels::rows
