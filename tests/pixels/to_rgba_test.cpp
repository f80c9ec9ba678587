// NV12 to RGBA: every vector kernel against the scalar reference over every Y, U, V and over odd
// sizes, the colour edge values, the guards for odd sizes, and the pictures that are refused.
#include "pixels/to_rgba.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "support/exact_bytes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using pixels::PixelKernel;

const PixelKernel kVectorKernels[] = {PixelKernel::Sse2, PixelKernel::Ssse3, PixelKernel::Avx2, PixelKernel::Best};

// Exactly `n` bytes on the heap (no slack), so a read or write past the end trips ASan.
using Heap = testsupport::ExactBytes;

std::size_t dstBytes(std::uint32_t w, std::uint32_t h, std::size_t pitch) { return (h - 1) * pitch + 4 * std::size_t(w); }

// `out` as the RGBA picture of `pic`'s size with rows `pitch` apart.
pixels::TargetView into(const Heap& out, const pixels::Nv12View& pic, std::size_t pitch) {
  return {out.data(), out.size, pic.width, pic.height, std::uint32_t(pitch)};
}

// Converts with one kernel into a fresh, exactly sized destination pre-filled with `fill`.
Heap convert(const pixels::Nv12View& pic, std::size_t pitch, PixelKernel k, std::uint8_t fill = 0x5A) {
  Heap out(dstBytes(pic.width, pic.height, pitch), fill);
  EXPECT_TRUE(pixels::nv12ToRgba(pic, into(out, pic, pitch), k)) << pixels::kernelName(k);
  return out;
}

std::uint32_t lcg(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 24;
}

// RGBA of one pixel of a 2x2 picture of uniform luma.
std::array<std::uint8_t, 4> rgbaOf(std::uint8_t y, std::uint8_t u, std::uint8_t v) {
  Heap src(6);
  std::memset(src.data(), y, 4);
  src.data()[4] = u;
  src.data()[5] = v;
  Heap out(16);
  EXPECT_TRUE(pixels::nv12ToRgba({src.data(), 6, 2, 2, 2}, {out.data(), out.size, 2, 2, 8}, PixelKernel::Scalar));
  return {out.data()[0], out.data()[1], out.data()[2], out.data()[3]};
}

using Rgba = std::array<std::uint8_t, 4>;

TEST(PreviewConvert, BlackWhiteAndClampingFollowBt601LimitedRange) {
  EXPECT_EQ(rgbaOf(16, 128, 128), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(rgbaOf(235, 128, 128), (Rgba{255, 255, 255, 255}));
  // Below black and above white clamp instead of wrapping.
  EXPECT_EQ(rgbaOf(0, 128, 128), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(rgbaOf(255, 128, 128), (Rgba{255, 255, 255, 255}));
  EXPECT_EQ(rgbaOf(0, 0, 0), (Rgba{0, 135, 0, 255}));
  EXPECT_EQ(rgbaOf(255, 255, 255), (Rgba{255, 125, 255, 255}));
  // Saturated red, worked by hand: R = 65604 >> 8 = 256 clamps to 255, G = 300 >> 8 = 1,
  // B = 188 >> 8 = 0.
  EXPECT_EQ(rgbaOf(82, 90, 240), (Rgba{255, 1, 0, 255}));
}

TEST(PreviewConvert, TwoByTwoPictureSharesOneChromaPair) {
  // Four different lumas around one pair; each pixel is its own luma with that pair.
  const std::uint8_t nv12[6] = {60, 100, 140, 200, 90, 200};
  Heap src(6);
  std::memcpy(src.data(), nv12, 6);
  for (PixelKernel k : {PixelKernel::Scalar, PixelKernel::Sse2, PixelKernel::Ssse3, PixelKernel::Avx2, PixelKernel::Best}) {
    if (!pixels::kernelAvailable(k)) continue;
    Heap out = convert({src.data(), 6, 2, 2, 2}, 8, k);
    for (int i = 0; i < 4; i++) {
      Rgba px{out.data()[4 * i], out.data()[4 * i + 1], out.data()[4 * i + 2], out.data()[4 * i + 3]};
      EXPECT_EQ(px, rgbaOf(nv12[i], 90, 200)) << pixels::kernelName(k) << " pixel " << i;
    }
  }
  // Worked by hand for Y 100, U 90, V 200.
  EXPECT_EQ(rgbaOf(100, 90, 200), (Rgba{213, 54, 21, 255}));
}

// Every Y, U, V combination: one 512x128 picture per U, with V along each chroma row and the
// 256 lumas spread over the 64 blocks of each column pair.
TEST(PreviewConvert, VectorKernelsMatchReferenceForEveryYuv) {
  constexpr std::uint32_t width = 512, height = 128;
  Heap src(width * height * 3 / 2);
  for (std::uint32_t row = 0; row < height; row++)
    for (std::uint32_t x = 0; x < width; x++) {
      src.data()[row * width + x] = std::uint8_t((row / 2) * 4 + (row % 2) * 2 + x % 2);
    }
  const pixels::Nv12View pic{src.data(), src.size, width, height, width};
  Heap reference(dstBytes(width, height, 4 * width));
  Heap out(dstBytes(width, height, 4 * width));
  int tested = 0;
  for (std::uint32_t u = 0; u < 256; u++) {
    std::uint8_t* uv = src.data() + width * height;
    for (std::uint32_t row = 0; row < height / 2; row++)
      for (std::uint32_t v = 0; v < 256; v++) {
        uv[row * width + 2 * v] = std::uint8_t(u);
        uv[row * width + 2 * v + 1] = std::uint8_t(v);
      }
    ASSERT_TRUE(pixels::nv12ToRgba(pic, into(reference, pic, 4 * width), PixelKernel::Scalar));
    for (PixelKernel k : kVectorKernels) {
      if (!pixels::kernelAvailable(k)) continue;
      std::memset(out.data(), 0, out.size);
      ASSERT_TRUE(pixels::nv12ToRgba(pic, into(out, pic, 4 * width), k));
      if (!(out == reference)) {
        for (std::size_t i = 0; i < out.size; i++)
          ASSERT_EQ(out.data()[i], reference.data()[i]) << pixels::kernelName(k) << " U " << u << " byte " << i;
      }
      tested++;
    }
  }
  EXPECT_GE(tested, 256) << "no vector kernel in this build";
}

// Odd widths and heights, strides wider than the picture, packed pictures and pictures that do
// carry a last odd chroma row, destination rows with padding: every kernel writes the reference
// bytes and nothing outside the picture's rows. Buffers are exactly sized.
TEST(PreviewConvert, VectorKernelsMatchReferenceOnOddEdges) {
  std::uint32_t seed = 7;
  for (std::uint32_t w = 1; w <= 33; w++)
    for (std::uint32_t h = 1; h <= 5; h++)
      for (std::uint32_t extra : {0u, 1u, 2u, 5u})
        for (bool oddChromaRow : {false, true}) {
          const std::uint32_t s = w + extra;
          const std::size_t chromaRows = oddChromaRow ? (h + 1) / 2 : h / 2;
          Heap src(std::size_t(s) * h + std::size_t(s) * chromaRows);
          for (std::size_t i = 0; i < src.size; i++) src.data()[i] = std::uint8_t(lcg(seed));
          const pixels::Nv12View pic{src.data(), src.size, w, h, s};
          const std::size_t pitch = 4 * std::size_t(w) + 4 * extra;
          Heap reference = convert(pic, pitch, PixelKernel::Scalar);
          for (std::uint32_t row = 0; row + 1 < h; row++)
            for (std::size_t i = 4 * std::size_t(w); i < pitch; i++)
              ASSERT_EQ(reference.data()[row * pitch + i], 0x5A) << "row padding written, " << w << "x" << h;
          for (PixelKernel k : kVectorKernels) {
            if (!pixels::kernelAvailable(k)) continue;
            ASSERT_TRUE(convert(pic, pitch, k) == reference)
                << pixels::kernelName(k) << " " << w << "x" << h << " stride " << s << " odd chroma row " << oddChromaRow;
          }
        }
}

// The odd-size guards, checked against the even picture they stand for: an odd width that fills
// its stride converts like the next even width with the last pair repeated; a packed odd height
// like the next even height with the last chroma row repeated.
TEST(PreviewConvert, OddSizesBorrowTheNearestChromaAndNeverReadPast) {
  std::uint32_t seed = 99;
  for (std::uint32_t w : {3u, 17u, 33u, 35u, 65u})
    for (std::uint32_t h : {3u, 4u, 5u, 9u}) {
      // The picture as it arrives: stride w, floor(h / 2) chroma rows.
      const std::size_t chromaRows = h / 2;
      Heap odd(std::size_t(w) * h + std::size_t(w) * chromaRows);
      for (std::size_t i = 0; i < odd.size; i++) odd.data()[i] = std::uint8_t(lcg(seed));
      // Its even stand-in: one more column (luma copied, last pair repeated) and, for an odd
      // height, the last chroma row repeated.
      const std::uint32_t ew = w + (w & 1), eh = h + (h & 1);
      Heap even(std::size_t(ew) * eh * 3 / 2);
      for (std::uint32_t row = 0; row < eh; row++)
        for (std::uint32_t x = 0; x < ew; x++)
          even.data()[row * ew + x] = odd.data()[std::min(row, h - 1) * w + std::min(x, w - 1)];
      for (std::uint32_t crow = 0; crow < eh / 2; crow++) {
        const std::uint8_t* from = odd.data() + std::size_t(w) * h + std::min<std::size_t>(crow, chromaRows - 1) * w;
        std::uint8_t* to = even.data() + std::size_t(ew) * eh + std::size_t(crow) * ew;
        for (std::uint32_t x = 0; x < ew; x++) to[x] = from[x >= (w & ~1u) ? x - 2 : x];
      }
      Heap expected = convert({even.data(), even.size, ew, eh, ew}, 4 * std::size_t(ew), PixelKernel::Scalar);
      for (PixelKernel k : {PixelKernel::Scalar, PixelKernel::Sse2, PixelKernel::Ssse3, PixelKernel::Avx2}) {
        if (!pixels::kernelAvailable(k)) continue;
        Heap got = convert({odd.data(), odd.size, w, h, w}, 4 * std::size_t(w), k);
        for (std::uint32_t row = 0; row < h; row++)
          ASSERT_EQ(0, std::memcmp(got.data() + row * 4 * w, expected.data() + row * 4 * ew, 4 * w))
              << pixels::kernelName(k) << " " << w << "x" << h << " row " << row;
      }
    }

  // A single column (no complete pair) and a single row (no chroma row): luma alone, as grey.
  for (auto [w, h] : {std::pair{1u, 4u}, std::pair{6u, 1u}}) {
    Heap src(std::size_t(w) * h + std::size_t(w) * (h / 2), 0);  // any chroma there is: not neutral
    std::memset(src.data(), 128, std::size_t(w) * h);
    src.data()[0] = 235;
    Heap out = convert({src.data(), src.size, w, h, w}, 4 * std::size_t(w), PixelKernel::Best);
    EXPECT_EQ((Rgba{out.data()[0], out.data()[1], out.data()[2], out.data()[3]}), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ((Rgba{out.data()[4], out.data()[5], out.data()[6], out.data()[7]}), rgbaOf(128, 128, 128));
  }
}

TEST(PreviewConvert, RefusesPicturesItCannotReadAndLeavesTheDestinationAlone) {
  Heap src(4 * 4 * 3 / 2, 100);
  Heap dst(dstBytes(4, 4, 16), 0x5A);
  const Heap untouched(dstBytes(4, 4, 16), 0x5A);
  const pixels::Nv12View good{src.data(), src.size, 4, 4, 4};
  for (PixelKernel k : {PixelKernel::Best, PixelKernel::Scalar}) {
    pixels::Nv12View p = good;
    p.data = nullptr;
    EXPECT_FALSE(pixels::nv12ToRgba(p, into(dst, p, 16), k));
    p = good;
    p.width = 0;
    EXPECT_FALSE(pixels::nv12ToRgba(p, into(dst, p, 16), k));
    p = good;
    p.height = 0;
    EXPECT_FALSE(pixels::nv12ToRgba(p, into(dst, p, 16), k));
    p = good;
    p.stride = 3;  // below the width
    EXPECT_FALSE(pixels::nv12ToRgba(p, into(dst, p, 16), k));
    p = good;
    p.size = good.size - 1;  // one byte short of the last chroma row
    EXPECT_FALSE(pixels::nv12ToRgba(p, into(dst, p, 16), k));
    p = good;
    for (std::uint32_t side : {0x80000000u, 0xFFFFFFFFu}) {  // sizes whose byte counts overflow
      p.width = p.height = p.stride = side;
      EXPECT_FALSE(pixels::nv12ToRgba(p, {dst.data(), dst.size, side, side, 0xFFFFFFFFu}, k)) << side;
    }
    // A stride and height whose luma plus chroma byte count wraps 64 bits to 344.
    Heap small(400, 16);
    EXPECT_FALSE(pixels::nv12ToRgba({small.data(), small.size, 1, 0xFFC74AF0u, 0xAAD08117u},
                                    {dst.data(), dst.size, 1, 0xFFC74AF0u, 16}, k));
    EXPECT_FALSE(pixels::nv12ToRgba(good, into(dst, good, 15), k));  // pitch below 4 * width
    EXPECT_FALSE(pixels::nv12ToRgba(good, {nullptr, dst.size, 4, 4, 16}, k));
    EXPECT_FALSE(pixels::nv12ToRgba(good, {dst.data(), dst.size - 1, 4, 4, 16}, k));  // a byte short
    EXPECT_FALSE(pixels::nv12ToRgba(good, {dst.data(), dst.size, 4, 3, 16}, k));      // another size
    EXPECT_TRUE(dst == untouched);
  }
  if (!pixels::kernelAvailable(PixelKernel::Avx2)) {
    EXPECT_FALSE(pixels::nv12ToRgba(good, into(dst, good, 16), PixelKernel::Avx2));
  }
  EXPECT_TRUE(pixels::nv12ToRgba(good, into(dst, good, 16)));
}

TEST(PreviewConvert, BestKernelIsTheWidestAvailable) {
  const PixelKernel best = pixels::bestKernel();
  EXPECT_NE(best, PixelKernel::Best);
  EXPECT_TRUE(pixels::kernelAvailable(best));
  if (pixels::kernelAvailable(PixelKernel::Avx2)) {
    EXPECT_EQ(best, PixelKernel::Avx2);
  }
#if defined(__x86_64__) || defined(_M_X64)
  EXPECT_TRUE(pixels::kernelAvailable(PixelKernel::Sse2)) << "x64 always has SSE2";
#endif
  std::printf("best kernel here: %s\n", pixels::kernelName(best));
}

}  // namespace
