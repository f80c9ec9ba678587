// Turning packed NV12 pictures: every vector path writes the scalar reference's bytes, odd sizes
// included; the reference turns the picture the way the preview draws it; turns compose and undo
// as picture_turn.h says; and what cannot be turned is refused untouched.
#include "pixels/turn.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "app/preview_geometry.h"
#include "pixels/nv12_view.h"
#include "support/exact_bytes.h"

namespace {

using testsupport::ExactBytes;
using pixels::Turn;
using pixels::PixelKernel;

// The eight different pictures: rotation 0..3, each with and without the mirror.
std::vector<Turn> distinctTurns() {
  std::vector<Turn> turns;
  for (int mirror = 0; mirror < 2; mirror++)
    for (int rotation = 0; rotation < 4; rotation++) turns.push_back({rotation, mirror != 0, false});
  return turns;
}

std::pair<std::uint32_t, std::uint32_t> turnedSize(std::uint32_t w, std::uint32_t h, Turn t) {
  return pixels::swapsSides(t) ? std::make_pair(h, w) : std::make_pair(w, h);
}

// Packed views of `bytes`, read and written.
pixels::Nv12View source(const ExactBytes& bytes, std::uint32_t w, std::uint32_t h) {
  return {bytes.data(), bytes.size, w, h, w};
}
pixels::TargetView target(ExactBytes& bytes, std::uint32_t w, std::uint32_t h) {
  return {bytes.data(), bytes.size, w, h, w};
}

ExactBytes turned(const ExactBytes& src, std::uint32_t w, std::uint32_t h, Turn t, PixelKernel kernel) {
  auto [tw, th] = turnedSize(w, h, t);
  ExactBytes out(std::size_t(pixels::nv12Bytes(tw, th)), 0xEE);
  EXPECT_TRUE(pixels::turnNv12(source(src, w, h), t, target(out, tw, th), kernel));
  return out;
}

TEST(Nv12Turn, VectorPathsWriteTheReferenceBytesAtEverySize) {
  // Whole vector blocks, the strips beside and below them, lone chroma bytes of odd sides.
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1},   {2, 2},   {3, 5},    {5, 3},    {16, 16},
                                                            {17, 33}, {33, 17}, {32, 16},  {40, 24},  {67, 45},
                                                            {130, 66}, {66, 130}, {100, 6},  {258, 131}, {1920, 1080}};
  int checked = 0;
  for (PixelKernel kernel : {PixelKernel::Sse2, PixelKernel::Ssse3, PixelKernel::Avx2, PixelKernel::Best}) {
    if (!pixels::kernelAvailable(kernel)) continue;
    for (auto [w, h] : sizes) {
      const ExactBytes src = ExactBytes::seeded(std::size_t(pixels::nv12Bytes(w, h)), w * 131 + h);
      for (Turn t : distinctTurns()) {
        SCOPED_TRACE(testing::Message() << "kernel " << int(kernel) << ", " << w << "x" << h << ", rotation "
                                        << t.rotation << (t.mirror ? " mirrored" : ""));
        EXPECT_TRUE(turned(src, w, h, t, kernel) == turned(src, w, h, t, PixelKernel::Scalar));
        checked++;
      }
    }
  }
  EXPECT_GT(checked, 0) << "no vector path on this machine";
}

// A picture whose four corners have their own luma and chroma, mid-grey elsewhere.
struct Corners {
  std::uint32_t w, h;
  ExactBytes bytes;
  Corners(std::uint32_t width, std::uint32_t height)
      : w(width), h(height), bytes(std::size_t(pixels::nv12Bytes(width, height)), 128) {
    for (int c = 0; c < 4; c++) {
      const std::uint32_t x = (c == 1 || c == 2) ? w - 1 : 0, y = c >= 2 ? h - 1 : 0;
      bytes.data()[std::size_t(y) * w + x] = luma(c);
      std::uint8_t* uv = bytes.data() + std::size_t(w) * h + std::size_t(y / 2) * w + (x & ~1u);
      uv[0] = std::uint8_t(luma(c) + 1);
      uv[1] = std::uint8_t(luma(c) + 2);
    }
  }
  // Corner c (0 top-left, 1 top-right, 2 bottom-right, 3 bottom-left).
  static std::uint8_t luma(int c) { return std::uint8_t(20 + 40 * c); }
};

// Which corner of the source the preview shows at drawn corner `at`, from its texture coordinates.
int shownCorner(const std::array<app::PreviewPoint, 4>& uv, int at) {
  const bool right = uv[at].x > 0.5f, bottom = uv[at].y > 0.5f;
  return bottom ? (right ? 2 : 3) : (right ? 1 : 0);
}

TEST(Nv12Turn, TheReferenceTurnsAsThePreviewDraws) {
  // Every rotation, mirror and flip the preview's controls can set.
  const Corners src(6, 4);
  for (int rotation = 0; rotation < 4; rotation++) {
    for (int mirror = 0; mirror < 2; mirror++) {
      for (int flip = 0; flip < 2; flip++) {
        const Turn t = {rotation, mirror != 0, flip != 0};
        SCOPED_TRACE(testing::Message() << "rotation " << rotation << " mirror " << mirror << " flip " << flip);
        const auto [width, height] = turnedSize(src.w, src.h, t);
        ASSERT_EQ(std::make_pair(width, height), (rotation % 2 ? std::make_pair(4u, 6u) : std::make_pair(6u, 4u)));
        const ExactBytes out = turned(src.bytes, src.w, src.h, t, PixelKernel::Scalar);
        const auto uv = app::previewTexCoords(rotation, mirror != 0, flip != 0);
        for (int at = 0; at < 4; at++) {
          const std::uint32_t x = (at == 1 || at == 2) ? width - 1 : 0, y = at >= 2 ? height - 1 : 0;
          const std::uint8_t want = Corners::luma(shownCorner(uv, at));
          EXPECT_EQ(out.data()[std::size_t(y) * width + x], want) << "drawn corner " << at;
          const std::uint8_t* pair = out.data() + std::size_t(width) * height + std::size_t(y / 2) * width + (x & ~1u);
          EXPECT_EQ(pair[0], want + 1) << "U at drawn corner " << at;
          EXPECT_EQ(pair[1], want + 2) << "V at drawn corner " << at;
        }
      }
    }
  }
}

TEST(Nv12Turn, TurnsComposeAndUndo) {
  const std::uint32_t w = 10, h = 6;
  const ExactBytes src = ExactBytes::seeded(std::size_t(pixels::nv12Bytes(w, h)), 7);
  for (Turn a : distinctTurns()) {
    for (Turn b : distinctTurns()) {
      SCOPED_TRACE(testing::Message() << a.rotation << a.mirror << " then " << b.rotation << b.mirror);
      const ExactBytes once = turned(src, w, h, a, PixelKernel::Scalar);
      auto [width, height] = turnedSize(w, h, a);
      EXPECT_TRUE(turned(once, width, height, b, PixelKernel::Scalar) ==
                  turned(src, w, h, pixels::followedBy(a, b), PixelKernel::Scalar));
    }
    auto [width, height] = turnedSize(w, h, a);
    const ExactBytes once = turned(src, w, h, a, PixelKernel::Scalar);
    EXPECT_TRUE(turned(once, width, height, pixels::inverse(a), PixelKernel::Scalar) == src);
  }
  // A flip is half a turn, mirrored.
  EXPECT_TRUE(pixels::sameTurn({0, false, true}, {2, true, false}));
  EXPECT_TRUE(pixels::isIdentity({2, true, true}));
}

TEST(Nv12Turn, WhatCannotBeTurnedIsRefusedUntouched) {
  const std::uint32_t w = 5, h = 3;  // turned a quarter: 5 x 3 -> 3 x 5, one chroma byte more
  const ExactBytes src = ExactBytes::seeded(std::size_t(pixels::nv12Bytes(w, h)), 3);
  const Turn quarter = {1, false, false};
  ExactBytes small(std::size_t(pixels::nv12Bytes(h, w)) - 1, 0xEE), big(std::size_t(pixels::nv12Bytes(h, w)), 0xEE);
  const std::vector<std::uint8_t> untouched = small.copy();
  EXPECT_FALSE(pixels::turnNv12(source(src, w, h), quarter, target(small, h, w)));
  EXPECT_EQ(small.copy(), untouched);
  pixels::Nv12View shortSource = source(src, w, h);
  shortSource.size--;
  EXPECT_FALSE(pixels::turnNv12(shortSource, quarter, target(big, h, w)));
  EXPECT_FALSE(pixels::turnNv12(source(src, 0, h), quarter, target(big, h, 0)));
  EXPECT_FALSE(pixels::turnNv12({nullptr, src.size, w, h, w}, quarter, target(big, h, w)));
  // Views that are not packed, or not of the turned size.
  EXPECT_FALSE(pixels::turnNv12({src.data(), src.size, w, h, w + 1}, quarter, target(big, h, w)));
  EXPECT_FALSE(pixels::turnNv12(source(src, w, h), quarter, target(big, w, h)));
  EXPECT_FALSE(pixels::turnNv12(source(src, w, h), quarter, {big.data(), big.size, h, w, h + 1}));
  EXPECT_EQ(big.copy(), std::vector<std::uint8_t>(big.size, 0xEE));
  // In place, or overlapping by one byte.
  ExactBytes both(src.size + big.size, 0xEE);
  const pixels::Nv12View first = {both.data(), src.size, w, h, w};
  EXPECT_FALSE(pixels::turnNv12(first, quarter, {both.data() + src.size - 1, big.size, h, w, h}));
  EXPECT_TRUE(pixels::turnNv12(first, quarter, {both.data() + src.size, big.size, h, w, h}));
}

}  // namespace
