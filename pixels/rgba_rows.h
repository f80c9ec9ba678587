// The vector row kernels behind nv12ToRgba, each in its own source so that only the AVX2 one is
// built for AVX2. Each converts the leading whole vectors of `count` pixels of one row whose
// chroma pairs are all complete (pixel x reads y[x] and the pair at uv[x & ~1]) into
// dst[4x .. 4x + 3], and returns how many pixels it did; the caller finishes the row.
//
// They compute the reference formulas in 16-bit lanes, exactly. The SSE2 kernel, with
// 298 = 256 + 42 and each constant split into a multiple of 256 and a small remainder,
//   R = Y + V - 223     + ((42 Y + 153 V + 96) >> 8)
//   G = Y - U - V + 135 + ((42 Y + 156 U + 48 V + 224) >> 8)
//   B = Y + 2 U - 277   + ((42 Y + 4 U + 224) >> 8)
// where every shifted sum lies in 0..65535, so an unsigned 16-bit lane holds it without loss;
// the AVX2 kernel a half-scale form with saturating steps that needs fewer (see there).
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixels {

namespace rgba_rows {

// Whether this build has the kernel (the processor may still lack AVX2).
bool builtSse2();
bool builtAvx2();

std::uint32_t sse2Row(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::uint32_t count);
std::uint32_t avx2Row(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::uint32_t count);
// Two rows that share one chroma row, whose chroma work is done once for both; returns the
// pixels done in each.
std::uint32_t avx2RowPair(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv, std::uint8_t* dst0,
                          std::uint8_t* dst1, std::uint32_t count);

}  // namespace rgba_rows

}  // namespace pixels
