// The viewer's picture work: its PNG files read back by zlib (chunk CRCs, the stored deflate
// stream across block boundaries, the Adler-32), and its conversions of both sample formats.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "tools/camera_viewer/picture_convert.h"
#include "tools/camera_viewer/png_writer.h"

namespace {

using cameraviewer::SampleFormat;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t bigEndian(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

struct DecodedPng {
  bool ok = false;
  std::uint32_t width = 0, height = 0;
  Bytes rgb;
};

// Reads our PNGs back with an independent CRC and inflater; any defect makes ok false.
DecodedPng decode(const Bytes& png) {
  DecodedPng out;
  const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 8 || std::memcmp(png.data(), signature, 8) != 0) return out;
  Bytes idat;
  bool sawEnd = false;
  for (std::size_t pos = 8; pos + 12 <= png.size();) {
    std::uint32_t length = bigEndian(&png[pos]);
    if (pos + 12 + length > png.size()) return out;
    const std::uint8_t* type = &png[pos + 4];
    if (crc32(0, type, 4 + length) != bigEndian(&png[pos + 8 + length])) return out;
    if (std::memcmp(type, "IHDR", 4) == 0) {
      out.width = bigEndian(type + 4);
      out.height = bigEndian(type + 8);
      if (type[12] != 8 || type[13] != 2) return out;
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      idat.insert(idat.end(), type + 4, type + 4 + length);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      sawEnd = pos + 12 + length == png.size();
    }
    pos += 12 + length;
  }
  if (!sawEnd) return out;
  std::size_t row = std::size_t(out.width) * 3 + 1;
  Bytes raw(row * out.height + 1);
  uLongf rawLength = uLongf(raw.size());
  if (uncompress(raw.data(), &rawLength, idat.data(), uLong(idat.size())) != Z_OK) return out;
  if (rawLength != row * out.height) return out;
  for (std::uint32_t y = 0; y < out.height; y++) {
    if (raw[y * row] != 0) return out;  // filter type none
    out.rgb.insert(out.rgb.end(), raw.begin() + std::ptrdiff_t(y * row + 1), raw.begin() + std::ptrdiff_t((y + 1) * row));
  }
  out.ok = true;
  return out;
}

TEST(PngWriterTest, ReadsBackExactlyAtEverySizeAroundTheBlockLimit) {
  // 21845 pixels make a 65535-byte row plus its filter byte: the stream crosses a stored
  // block boundary inside the first row.
  const std::uint32_t sizes[][2] = {{1, 1}, {3, 2}, {21845, 1}, {21844, 3}, {720, 1280}};
  std::uint32_t seed = 7;
  for (const auto& size : sizes) {
    SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1]);
    Bytes rgb(std::size_t(size[0]) * size[1] * 3);
    for (std::uint8_t& v : rgb) v = std::uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    DecodedPng png = decode(cameraviewer::encodePng(rgb.data(), size[0], size[1]));
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.width, size[0]);
    EXPECT_EQ(png.height, size[1]);
    EXPECT_TRUE(png.rgb == rgb);
  }
  Bytes one(3);
  EXPECT_TRUE(cameraviewer::encodePng(one.data(), 0, 1).empty());
  EXPECT_TRUE(cameraviewer::encodePng(nullptr, 1, 1).empty());
}

TEST(PictureConvertTest, BothFormatsGiveTheSameLumaAndColours) {
  // A 4x2 picture: luma ramp, one chroma pair per two columns.
  const std::uint32_t w = 4, h = 2;
  Bytes nv12 = {16, 82, 150, 235, 20, 90, 160, 230, /* chroma row */ 128, 128, 90, 240};
  Bytes yuy2 = {16, 128, 82, 128, 150, 90, 235, 240, 20, 128, 90, 128, 160, 90, 230, 240};
  Bytes luma = {16, 82, 150, 235, 20, 90, 160, 230};
  EXPECT_EQ(cameraviewer::lumaPlane(SampleFormat::Nv12, nv12.data(), nv12.size(), w, h), luma);
  EXPECT_EQ(cameraviewer::lumaPlane(SampleFormat::Yuy2, yuy2.data(), yuy2.size(), w, h), luma);

  Bytes a = cameraviewer::toRgb(SampleFormat::Nv12, nv12.data(), nv12.size(), w, h);
  Bytes b = cameraviewer::toRgb(SampleFormat::Yuy2, yuy2.data(), yuy2.size(), w, h);
  ASSERT_EQ(a.size(), std::size_t(w) * h * 3);
  EXPECT_EQ(a, b);
  // Video-range black and white are full-range black and white on grey chroma.
  EXPECT_EQ(Bytes(a.begin(), a.begin() + 3), (Bytes{0, 0, 0}));
  // Blue-ish chroma (U 90, V 240) on luma 150: red well above blue.
  EXPECT_GT(a[2 * 3 + 0], a[2 * 3 + 2]);

  // Samples shorter than a picture, or odd sizes, give nothing rather than a read past the end.
  EXPECT_TRUE(cameraviewer::toRgb(SampleFormat::Nv12, nv12.data(), nv12.size() - 1, w, h).empty());
  EXPECT_TRUE(cameraviewer::lumaPlane(SampleFormat::Yuy2, yuy2.data(), yuy2.size() - 1, w, h).empty());
  EXPECT_TRUE(cameraviewer::toRgb(SampleFormat::Yuy2, yuy2.data(), yuy2.size(), 3, 2).empty());
}

}  // namespace
