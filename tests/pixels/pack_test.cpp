// Packing decoder-shaped NV12 (long rows, extra rows between the planes) into tight NV12:
// against a pixel-by-pixel reference, at odd and tiny heights, and with sources too short.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pixels/nv12_view.h"
#include "pixels/pack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A source whose every byte tells where it is: row r, column c -> (r * 7 + c * 3) & 0xFF, with
// the chroma rows marked apart from the luma rows by +100.
Bytes decoderPicture(std::uint32_t stride, std::uint32_t rows, std::uint32_t chromaRows) {
  Bytes b(std::size_t(stride) * (rows + chromaRows));
  for (std::uint32_t r = 0; r < rows + chromaRows; ++r) {
    for (std::uint32_t c = 0; c < stride; ++c) {
      b[std::size_t(r) * stride + c] = std::uint8_t(r * 7 + c * 3 + (r >= rows ? 100 : 0));
    }
  }
  return b;
}

// The reference: one byte at a time, straight from the layout's definition.
Bytes referencePack(const Bytes& src, std::uint32_t stride, std::uint32_t rows, std::uint32_t w, std::uint32_t h) {
  Bytes out;
  for (std::uint32_t r = 0; r < h; ++r)
    for (std::uint32_t c = 0; c < w; ++c) out.push_back(src[std::size_t(r) * stride + c]);
  for (std::uint32_t r = 0; r < (h + 1) / 2; ++r)
    for (std::uint32_t c = 0; c < w; ++c) out.push_back(src[std::size_t(rows + r) * stride + c]);
  return out;
}

TEST(PackNv12, MatchesTheReferenceForEveryLayoutShape) {
  struct Case {
    std::uint32_t stride, rows, width, height;
  };
  const Case cases[] = {
      {1920, 1088, 1920, 1080},  // coded height below the visible picture, tight rows
      {2048, 1088, 1920, 1080},  // long rows as well
      {64, 48, 64, 48},          // already tight
      {40, 16, 33, 16},          // odd width
      {32, 20, 32, 15},          // odd height: the last chroma row serves the bottom row alone
      {32, 15, 32, 15},          // odd height with no spare rows
      {24, 1, 16, 1},            // one row: one chroma row
      {24, 8, 16, 1},
      {16, 16, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.stride << " " << c.rows << " " << c.width << "x" << c.height);
    Bytes src = decoderPicture(c.stride, c.rows, (c.rows + 1) / 2);
    Bytes out = {9, 9, 9};
    ASSERT_TRUE(pixels::packNv12({src.data(), src.size(), c.width, c.height, c.stride}, c.rows, out));
    EXPECT_EQ(out.size(), pixels::nv12Bytes(c.width, c.height));
    EXPECT_EQ(out, referencePack(src, c.stride, c.rows, c.width, c.height));
  }
}

TEST(PackNv12, SizesCoverOneChromaRowPerTwoLumaRowsRoundedUp) {
  EXPECT_EQ(pixels::nv12Bytes(1920, 1080), 3'110'400u);
  EXPECT_EQ(pixels::nv12Bytes(1080, 1920), 3'110'400u);
  EXPECT_EQ(pixels::nv12Bytes(16, 15), 16u * (15 + 8));
  EXPECT_EQ(pixels::nv12Bytes(16, 1), 32u);
  EXPECT_EQ(pixels::nv12Bytes(0, 1080), 0u);
  // The largest sides do not wrap.
  EXPECT_EQ(pixels::nv12Bytes(0xFFFFFFFFu, 2), 3ull * 0xFFFFFFFFu);
}

TEST(PackNv12, ReadsOnlyTheSourceBytesItNeeds) {
  // The last chroma row needs only `width` bytes, not a whole stride: a buffer cut right there
  // is enough, one byte less is refused. Heap buffers of exact size let ASan see any overread.
  const std::uint32_t stride = 48, rows = 20, w = 40, h = 17;
  const std::uint64_t need = pixels::nv12SourceBytesNeeded(stride, rows, w, h);
  EXPECT_EQ(need, std::uint64_t(rows + 9 - 1) * stride + w);
  Bytes full = decoderPicture(stride, rows, 9);
  Bytes exact(full.begin(), full.begin() + std::ptrdiff_t(need));
  Bytes out;
  ASSERT_TRUE(pixels::packNv12({exact.data(), exact.size(), w, h, stride}, rows, out));
  EXPECT_EQ(out, referencePack(full, stride, rows, w, h));

  Bytes shortBy1(full.begin(), full.begin() + std::ptrdiff_t(need - 1));
  Bytes untouched = {1, 2, 3};
  EXPECT_FALSE(pixels::packNv12({shortBy1.data(), shortBy1.size(), w, h, stride}, rows, untouched));
  EXPECT_EQ(untouched, (Bytes{1, 2, 3}));
}

TEST(PackNv12, RefusesLayoutsThatCannotHoldThePicture) {
  Bytes src(4096, 0x55);
  Bytes out = {7};
  EXPECT_FALSE(pixels::packNv12({src.data(), src.size(), 32, 16, 16}, 16, out));  // rows shorter than the picture
  EXPECT_FALSE(pixels::packNv12({src.data(), src.size(), 32, 16, 32}, 8, out));   // fewer luma rows than the picture
  EXPECT_FALSE(pixels::packNv12({nullptr, 0, 32, 16, 32}, 16, out));
  // A stride that wraps 32-bit row arithmetic is refused, not read.
  EXPECT_FALSE(pixels::packNv12({src.data(), src.size(), 32, 16, 0xFFFFFFF0u}, 0x10000u, out));
  EXPECT_EQ(out, Bytes{7});

  // An empty picture reads nothing and packs to nothing.
  EXPECT_TRUE(pixels::packNv12({nullptr, 0, 0, 0, 0}, 0, out));
  EXPECT_TRUE(out.empty());
}

TEST(PackNv12, ReusesTheDestinationAcrossSizeChanges) {
  Bytes big = decoderPicture(1920, 1088, 544);
  Bytes small = decoderPicture(1280, 720, 360);
  Bytes out;
  ASSERT_TRUE(pixels::packNv12({big.data(), big.size(), 1920, 1080, 1920}, 1088, out));
  ASSERT_TRUE(pixels::packNv12({small.data(), small.size(), 1280, 720, 1280}, 720, out));
  EXPECT_EQ(out, small);  // tight already: byte for byte, nothing left over from the larger picture
  ASSERT_TRUE(pixels::packNv12({big.data(), big.size(), 1920, 1080, 1920}, 1088, out));
  EXPECT_EQ(out, referencePack(big, 1920, 1088, 1920, 1080));
}

}  // namespace
