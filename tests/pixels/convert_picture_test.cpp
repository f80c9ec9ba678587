// The camera's pixel work against the plain reference, on exactly sized heap buffers so that
// any read or write past a picture or a sample is caught by the address sanitizer.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pixels/nv12_view.h"
#include "support/camera_reference.h"
#include "support/exact_bytes.h"
#include "pixels/convert_picture.h"
#include "pixels/letterbox.h"

namespace pixels {
namespace {

using Block = testsupport::ExactBytes;

// Every kernel a scaler can be given; those this processor lacks are skipped.
const PixelKernel kKernels[] = {PixelKernel::Scalar, PixelKernel::Sse2, PixelKernel::Ssse3, PixelKernel::Avx2,
                                PixelKernel::Best};

struct Source {
  Source(std::uint32_t w, std::uint32_t h, std::uint32_t seed) : block(Block::seeded(pixels::nv12Bytes(w, h), seed)) {
    picture = {block.bytes.get(), block.size, w, h, w};
  }
  reference::Picture ref() const { return {picture.width, picture.height, picture.data}; }
  Block block;
  pixels::Nv12View picture;
};

// A sample of w x h in either format, its rows packed.
TargetView sample(std::uint8_t* data, std::size_t size, std::uint32_t w, std::uint32_t h, bool yuy2) {
  return {data, size, w, h, yuy2 ? 2 * w : w};
}

std::size_t yuy2Size(std::uint32_t width, std::uint32_t height) { return std::size_t(width) * height * 2; }
std::size_t nv12Size(std::uint32_t width, std::uint32_t height) { return std::size_t(width) * height * 3 / 2; }

// Runs convertPicture into an exactly sized sample prefilled with junk, and the reference into
// a copy of the same junk; the two must agree byte for byte.
void expectSameAsReference(std::uint32_t sw, std::uint32_t sh, std::uint32_t width, std::uint32_t height, bool yuy2,
                           LetterboxScaler& scaler, std::uint32_t seed = 1) {
  SCOPED_TRACE(testing::Message() << sw << "x" << sh << " -> " << width << "x" << height << (yuy2 ? " YUY2" : " NV12"));
  Source src(sw, sh, seed);
  std::size_t count = yuy2 ? yuy2Size(width, height) : nv12Size(width, height);
  Block out = Block::seeded(count, seed + 100);
  std::vector<std::uint8_t> expected = out.copy();
  ASSERT_TRUE(convertPicture(src.picture, sample(out.bytes.get(), count, width, height, yuy2), yuy2, scaler));
  reference::convert(src.ref(), src.picture.size, expected.data(), count, width, height, yuy2);
  ASSERT_EQ(out.copy(), expected);
}

TEST(FrameConvertFills, GreyAndBlackInBothFormats) {
  // Grey NV12 is every byte; grey and black YUY2 only whole 4-byte groups.
  Block grey = Block::seeded(4 * 5 + 3, 1);
  std::vector<std::uint8_t> before = grey.copy();
  fillGrey(grey.bytes.get(), grey.size, true);
  for (std::size_t i = 0; i < 20; i++) EXPECT_EQ(grey.bytes[i], 128) << i;
  for (std::size_t i = 20; i < 23; i++) EXPECT_EQ(grey.bytes[i], before[i]) << "tail byte " << i;
  fillGrey(grey.bytes.get(), grey.size, false);
  for (std::size_t i = 0; i < grey.size; i++) EXPECT_EQ(grey.bytes[i], 128) << i;

  // Large enough for the doubling fill to take several rounds, and not a power of two.
  Block black = Block::seeded(4 * 1001 + 2, 2);
  before = black.copy();
  fillBlackYuy2(black.bytes.get(), black.size);
  for (std::size_t i = 0; i < 4004; i++) ASSERT_EQ(black.bytes[i], i % 2 == 0 ? 0x10 : 0x80) << i;
  EXPECT_EQ(black.bytes[4004], before[4004]);
  EXPECT_EQ(black.bytes[4005], before[4005]);

  Block nv12 = Block::seeded(nv12Size(6, 4), 3);
  fillBlackNv12(nv12.bytes.get(), 6, 4);
  for (std::size_t i = 0; i < nv12.size; i++) EXPECT_EQ(nv12.bytes[i], i < 24 ? 16 : 128) << i;
}

TEST(FrameConvertSameSize, DirectYuy2AndNv12CopyMatchTheReference) {
  LetterboxScaler scaler;
  // Widths on both sides of the 16-pixel vector step, odd heights sharing a last chroma row.
  for (std::uint32_t w = 2; w <= 66; w += 2)
    for (std::uint32_t h = 1; h <= 5; h++) expectSameAsReference(w, h, w, h, true, scaler, w * 31 + h);
  expectSameAsReference(1280, 720, 1280, 720, true, scaler);
  expectSameAsReference(720, 1280, 720, 1280, true, scaler);
  expectSameAsReference(1280, 720, 1280, 720, false, scaler);
  expectSameAsReference(720, 1280, 720, 1280, false, scaler);

  // One known pixel pair: Y0 U Y1 V, and the second row shares the first chroma row.
  const std::uint8_t picture[] = {1, 2, 3, 4, 100, 101};  // 2x2: Y 1 2 / 3 4, UV 100 101
  std::uint8_t out[8];
  ASSERT_TRUE(nv12ToYuy2({picture, sizeof(picture), 2, 2, 2}, sample(out, sizeof(out), 2, 2, true)));
  const std::uint8_t expected[] = {1, 100, 2, 101, 3, 100, 4, 101};
  EXPECT_EQ(0, std::memcmp(out, expected, 8));
}

TEST(FrameConvertSameSize, UnusablePicturesAndSmallSamplesAreNeverOverrun) {
  LetterboxScaler scaler;
  // A picture shorter than its size needs: refused, nothing read, nothing written.
  for (bool yuy2 : {true, false}) {
    Block shortPicture = Block::seeded(nv12Size(64, 48) - 1, 4);
    Block out = Block::seeded(yuy2 ? yuy2Size(64, 48) : nv12Size(64, 48), 5);
    std::vector<std::uint8_t> before = out.copy();
    const TargetView target = sample(out.bytes.get(), out.size, 64, 48, yuy2);
    EXPECT_FALSE(convertPicture({shortPicture.bytes.get(), shortPicture.size, 64, 48, 64}, target, yuy2, scaler));
    EXPECT_FALSE(convertPicture({shortPicture.bytes.get(), shortPicture.size, 1920, 1080, 1920}, target, yuy2, scaler));
    EXPECT_EQ(out.copy(), before);
  }

  // Same size, sample too small for YUY2: no picture, sample left alone.
  Source src(64, 48, 6);
  Block small = Block::seeded(yuy2Size(64, 48) - 2, 7);
  std::vector<std::uint8_t> before = small.copy();
  EXPECT_FALSE(convertPicture(src.picture, sample(small.bytes.get(), small.size, 64, 48, true), true, scaler));
  EXPECT_EQ(small.copy(), before);
  EXPECT_FALSE(nv12ToYuy2(src.picture, sample(small.bytes.get(), small.size, 64, 48, true)));
  // An odd width has no whole last pixel pair.
  Source odd(5, 2, 8);
  Block oddOut = Block::seeded(yuy2Size(5, 2), 9);
  EXPECT_FALSE(nv12ToYuy2(odd.picture, sample(oddOut.bytes.get(), oddOut.size, 5, 2, true)));

  // NV12 copy: a bigger sample gets the picture then zeros; a smaller one is no picture.
  Block big = Block::seeded(nv12Size(64, 48) + 100, 10);
  ASSERT_TRUE(convertPicture(src.picture, sample(big.bytes.get(), big.size, 64, 48, false), false, scaler));
  EXPECT_EQ(0, std::memcmp(big.bytes.get(), src.picture.data, src.picture.size));
  for (std::size_t i = src.picture.size; i < big.size; i++) ASSERT_EQ(big.bytes[i], 0) << i;
  Block part = Block::seeded(1000, 11);
  before = part.copy();
  EXPECT_FALSE(convertPicture(src.picture, sample(part.bytes.get(), part.size, 64, 48, false), false, scaler));
  EXPECT_EQ(part.copy(), before);
}

TEST(LetterboxGeometryTest, PhoneSizesIntoBothOrientations) {
  LetterboxGeometry g = letterboxGeometry(1920, 1080, 1280, 720);
  EXPECT_DOUBLE_EQ(g.scale, 2.0 / 3.0);
  EXPECT_EQ(g.width, 1280u);
  EXPECT_EQ(g.height, 720u);
  EXPECT_EQ(g.x0, 0u);
  EXPECT_EQ(g.y0, 0u);

  g = letterboxGeometry(1920, 1080, 720, 1280);
  EXPECT_DOUBLE_EQ(g.scale, 0.375);
  EXPECT_EQ(g.width, 720u);
  EXPECT_EQ(g.height, 404u);
  EXPECT_EQ(g.x0, 0u);
  EXPECT_EQ(g.y0, 438u);

  g = letterboxGeometry(1080, 1920, 1280, 720);
  EXPECT_EQ(g.width, 404u);
  EXPECT_EQ(g.height, 720u);
  EXPECT_EQ(g.x0, 438u);
  EXPECT_EQ(g.y0, 0u);

  g = letterboxGeometry(0, 1080, 1280, 720);
  EXPECT_EQ(g.width, 0u);
  EXPECT_EQ(g.height, 0u);
}

TEST(LetterboxScale, PhoneSizesMatchTheReferenceWithBarsWhereExpected) {
  LetterboxScaler scaler;
  for (PixelKernel k : kKernels) {
    if (!kernelAvailable(k)) continue;
    LetterboxScaler kernel(k);
    for (bool yuy2 : {true, false}) {
      expectSameAsReference(1920, 1080, 1280, 720, yuy2, kernel);
      expectSameAsReference(1920, 1080, 720, 1280, yuy2, kernel);
      expectSameAsReference(1080, 1920, 1280, 720, yuy2, kernel);
      expectSameAsReference(1080, 1920, 720, 1280, yuy2, kernel);
    }
  }

  // Scale 2/3 with no bars: output pixel (i, j) is source pixel (1.5 i, 1.5 j), truncated.
  Source full(1920, 1080, 12);
  std::vector<std::uint8_t> out(yuy2Size(1280, 720));
  ASSERT_TRUE(convertPicture(full.picture, sample(out.data(), out.size(), 1280, 720, true), true, scaler));
  EXPECT_EQ(out[(719 * 1280 + 1278) * 2], full.picture.data[1078 * 1920 + 1917]);
  EXPECT_EQ(out[(719 * 1280 + 1278) * 2 + 2], full.picture.data[1078 * 1920 + 1918]);

  // Landscape into portrait: 438 black rows above, the picture in rows 438..841, black below.
  ASSERT_TRUE(convertPicture(full.picture, sample(out.data(), out.size(), 720, 1280, true), true, scaler));
  auto isBlackRow = [&](std::uint32_t row) {
    for (std::uint32_t x = 0; x < 720 * 2; x++)
      if (out[row * 1440 + x] != (x % 2 == 0 ? 0x10 : 0x80)) return false;
    return true;
  };
  EXPECT_TRUE(isBlackRow(0));
  EXPECT_TRUE(isBlackRow(437));
  EXPECT_FALSE(isBlackRow(438));
  EXPECT_EQ(out[438 * 1440], full.picture.data[0]);
  EXPECT_FALSE(isBlackRow(841));
  EXPECT_TRUE(isBlackRow(842));
  EXPECT_TRUE(isBlackRow(1279));

  // Portrait into landscape, NV12: luma columns 0..437 and 842..1279 are black, both planes.
  std::vector<std::uint8_t> nv12(nv12Size(1280, 720));
  Source tall(1080, 1920, 13);
  ASSERT_TRUE(convertPicture(tall.picture, sample(nv12.data(), nv12.size(), 1280, 720, false), false, scaler));
  for (std::uint32_t row : {0u, 359u, 719u}) {
    EXPECT_EQ(nv12[row * 1280 + 437], 16);
    EXPECT_EQ(nv12[row * 1280 + 842], 16);
  }
  EXPECT_EQ(nv12[438], tall.picture.data[0]);
  EXPECT_EQ(nv12[1280 * 720 + 436], 128);
  EXPECT_EQ(nv12[1280 * 720 + 438], tall.picture.data[1080 * 1920]);
  EXPECT_EQ(nv12[1280 * 720 + 842], 128);
}

TEST(LetterboxScale, OddAndTinyPicturesAndUpscalesStayInsideThePicture) {
  LetterboxScaler scaler;
  // Upscales repeat rows and reach the last column, where the second pixel of a pair and the
  // chroma pair of an odd width would lie past the row.
  const std::uint32_t sizes[][2] = {{2, 1}, {2, 2}, {3, 3}, {5, 7}, {7, 4}, {33, 17}, {320, 180}, {640, 360},
                                    {641, 359}, {1279, 721}, {1281, 719}, {2, 1280}, {1920, 2},
                                    {1919, 1079}, {2560, 1440}, {3840, 2160}, {50, 3}};
  for (PixelKernel k : kKernels) {
    if (!kernelAvailable(k)) continue;
    LetterboxScaler kernel(k);
    for (auto& s : sizes) {
      for (bool yuy2 : {true, false}) {
        expectSameAsReference(s[0], s[1], 1280, 720, yuy2, kernel, s[0] + s[1]);
        expectSameAsReference(s[0], s[1], 720, 1280, yuy2, kernel, s[0] * s[1]);
        // The direct conversion, with vector rows, their tails and plain code.
        if (s[0] % 2 == 0) expectSameAsReference(s[0], s[1], s[0], s[1], yuy2, kernel, s[0] ^ s[1]);
      }
    }
  }

  // 640x360 doubled: the last output pair repeats the last source pixel, never the next row's first.
  Source half(640, 360, 14);
  std::vector<std::uint8_t> out(yuy2Size(1280, 720));
  ASSERT_TRUE(convertPicture(half.picture, sample(out.data(), out.size(), 1280, 720, true), true, scaler));
  EXPECT_EQ(out[1278 * 2], half.picture.data[639]);
  EXPECT_EQ(out[1278 * 2 + 2], half.picture.data[639]);

  // Nothing to scale: no picture in either format, and the sample is left alone.
  for (std::uint32_t w : {0u, 1u}) {
    Block picture = Block::seeded(pixels::nv12Bytes(w, 4), 15);
    for (bool yuy2 : {true, false}) {
      Block out = Block::seeded(yuy2 ? yuy2Size(64, 48) : nv12Size(64, 48), 16);
      std::vector<std::uint8_t> before = out.copy();
      EXPECT_FALSE(convertPicture({picture.bytes.get(), picture.size, w, 4, w},
                                  sample(out.bytes.get(), out.size, 64, 48, yuy2), yuy2, scaler));
      EXPECT_EQ(out.copy(), before);
    }
  }

  // Samples too small for the output size are no picture, and are not written, in either format.
  Source any(100, 50, 18);
  for (bool yuy2 : {true, false}) {
    Block small = Block::seeded((yuy2 ? yuy2Size(64, 48) : nv12Size(64, 48)) - 1, 19);
    std::vector<std::uint8_t> before = small.copy();
    EXPECT_FALSE(convertPicture(any.picture, sample(small.bytes.get(), small.size, 64, 48, yuy2), yuy2, scaler));
    EXPECT_EQ(small.copy(), before);
  }
}

TEST(LetterboxScale, OneScalerFollowsChangingSizes) {
  // The scaler keeps its tables between pictures; each change of either size must rebuild them.
  LetterboxScaler scaler;
  const std::uint32_t steps[][4] = {{1920, 1080, 1280, 720}, {1080, 1920, 1280, 720}, {1920, 1080, 720, 1280},
                                    {1920, 1080, 1280, 720}, {1920, 1000, 1280, 720}, {1000, 1080, 1280, 720}};
  int n = 0;
  for (auto& s : steps) {
    for (bool yuy2 : {true, false}) expectSameAsReference(s[0], s[1], s[2], s[3], yuy2, scaler, ++n);
  }
}

}  // namespace
}  // namespace pixels
