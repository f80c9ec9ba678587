#include "tools/clip_pattern/frame_counter_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "tools/clip_pattern/test_pattern.h"

namespace {

using clippattern::drawFrameCounter;
using clippattern::readFrameCounter;

struct Plane {
  int width, height, stride;
  std::vector<std::uint8_t> pixels;
  Plane(int w, int h, int s, std::uint8_t fill = 128)
      : width(w), height(h), stride(s), pixels(std::size_t(s) * h, fill) {}
  std::uint8_t& at(int x, int y) { return pixels[std::size_t(y) * stride + x]; }
  int read() const { return readFrameCounter(pixels.data(), width, height, stride); }
};

// Rows below this hold no code; the slow helpers leave them alone.
constexpr int kCodeRows = 140;

// Noise, blur and a slight level shift together, roughly what compression does to flat blocks.
void degrade(Plane& p, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-20, 20);
  std::vector<std::uint8_t> copy = p.pixels;
  for (int y = 0; y < std::min(p.height, kCodeRows); ++y) {
    for (int x = 0; x < p.width; ++x) {
      int sum = 0, count = 0;
      for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
          int sx = std::clamp(x + dx, 0, p.width - 1), sy = std::clamp(y + dy, 0, p.height - 1);
          sum += copy[std::size_t(sy) * p.stride + sx];
          ++count;
        }
      }
      p.at(x, y) = std::uint8_t(std::clamp(sum / count + noise(rng) + 6, 0, 255));
    }
  }
}

// Bilinear scaling of the whole picture, as a camera converting to its output size would.
Plane scaled(const Plane& src, int width, int height) {
  Plane out(width, height, width);
  for (int y = 0; y < std::min(height, kCodeRows); ++y) {
    double sy = std::max(0.0, (y + 0.5) * src.height / height - 0.5);
    int y0 = std::min(int(sy), src.height - 1), y1 = std::min(y0 + 1, src.height - 1);
    double fy = sy - y0;
    for (int x = 0; x < width; ++x) {
      double sx = std::max(0.0, (x + 0.5) * src.width / width - 0.5);
      int x0 = std::min(int(sx), src.width - 1), x1 = std::min(x0 + 1, src.width - 1);
      double fx = sx - x0;
      auto px = [&](int xx, int yy) { return double(src.pixels[std::size_t(yy) * src.stride + xx]); };
      double v = (px(x0, y0) * (1 - fx) + px(x1, y0) * fx) * (1 - fy) + (px(x0, y1) * (1 - fx) + px(x1, y1) * fx) * fy;
      out.at(x, y) = std::uint8_t(std::lround(v));
    }
  }
  return out;
}

TEST(FrameCounterCode, ReadsBackWhatWasDrawnAtEveryClipSizeAndStride) {
  const int sizes[][2] = {{1920, 1080}, {1280, 720}, {1080, 1920}, {720, 1280}, {640, 360}};
  const int values[] = {0, 1, 2, 59, 0x5555, 0xAAAA, 0x8000, 65535};
  for (auto& size : sizes) {
    for (int value : values) {
      Plane p(size[0], size[1], size[0] + 64);  // padded rows, as decoders hand them out
      drawFrameCounter(p.pixels.data(), p.width, p.height, p.stride, std::uint16_t(value));
      EXPECT_EQ(p.read(), value) << size[0] << "x" << size[1];
    }
  }
}

TEST(FrameCounterCode, SurvivesNoiseBlurAndScaling) {
  for (int value : {0, 7, 1234, 65535}) {
    Plane p(1920, 1080, 1920);
    drawFrameCounter(p.pixels.data(), p.width, p.height, p.stride, std::uint16_t(value));
    degrade(p, unsigned(value));
    EXPECT_EQ(p.read(), value);
    // 1080p turned into the camera's 1280x720, and a portrait picture into 720x1280.
    EXPECT_EQ(scaled(p, 1280, 720).read(), value);
    Plane portrait(1080, 1920, 1080);
    drawFrameCounter(portrait.pixels.data(), portrait.width, portrait.height, portrait.stride, std::uint16_t(value));
    EXPECT_EQ(scaled(portrait, 720, 1280).read(), value);
  }
}

TEST(FrameCounterCode, ReportsMissingOrDamagedCodes) {
  Plane grey(1280, 720, 1280);
  EXPECT_EQ(grey.read(), -1);
  Plane black(1280, 720, 1280, 16);
  EXPECT_EQ(black.read(), -1);  // all-black cells fail the parity
  Plane white(1280, 720, 1280, 235);
  EXPECT_EQ(white.read(), -1);  // the guard must be white then black

  Plane noise(1280, 720, 1280);
  std::mt19937 rng(3);
  for (auto& v : noise.pixels) v = std::uint8_t(rng());
  EXPECT_EQ(noise.read(), -1);

  // One cell flipped: the parity no longer holds.
  Plane p(1280, 720, 1280);
  drawFrameCounter(p.pixels.data(), p.width, p.height, p.stride, 1234);
  clippattern::CounterCodeLayout l = clippattern::counterCodeLayout(p.width, p.height);
  int cx = int(l.x + 5.5 * l.cell), cy = int(l.y + l.cell / 2);
  std::uint8_t flipped = p.at(cx, cy) > 128 ? 16 : 235;
  for (int y = cy - 8; y < cy + 8; ++y)
    for (int x = cx - 8; x < cx + 8; ++x) p.at(x, y) = flipped;
  EXPECT_EQ(p.read(), -1);

  // A half-grey cell is neither black nor white.
  drawFrameCounter(p.pixels.data(), p.width, p.height, p.stride, 1234);
  for (int y = cy - 8; y < cy + 8; ++y)
    for (int x = cx - 8; x < cx + 8; ++x) p.at(x, y) = 128;
  EXPECT_EQ(p.read(), -1);

  // Too small for the row, or nonsense arguments: no read at all.
  Plane tiny(100, 60, 100);
  EXPECT_EQ(tiny.read(), -1);
  EXPECT_EQ(readFrameCounter(nullptr, 1280, 720, 1280), -1);
  EXPECT_EQ(readFrameCounter(grey.pixels.data(), 1280, 720, 100), -1);
  EXPECT_EQ(readFrameCounter(grey.pixels.data(), 0, 720, 1280), -1);
}

TEST(FrameCounterCode, TestPatternCarriesItsFrameNumberAndMovesEveryFrame) {
  const int w = 1280, h = 720;
  std::vector<std::uint8_t> a(std::size_t(w) * h * 3 / 2), b(a.size());
  auto view = [&](std::vector<std::uint8_t>& v) {
    return clippattern::I420View{w, h, v.data(), v.data() + w * h, v.data() + w * h + w * h / 4};
  };
  for (int i : {0, 1, 29, 59, 65535, 65536}) {
    ASSERT_TRUE(clippattern::drawTestPattern(view(a), i));
    EXPECT_EQ(readFrameCounter(a.data(), w, h, w), i & 0xFFFF);
    ASSERT_TRUE(clippattern::drawTestPattern(view(b), i + 1));
    // Beyond the counter the picture changes too, so an encoder has something to do.
    int lowerChanges = 0;
    for (std::size_t k = std::size_t(w) * (h / 3); k < std::size_t(w) * h; ++k) lowerChanges += a[k] != b[k];
    EXPECT_GT(lowerChanges, 1000) << i;
  }
  std::vector<std::uint8_t> odd(std::size_t(101) * 100 * 2);
  EXPECT_FALSE(clippattern::drawTestPattern({101, 100, odd.data(), odd.data(), odd.data()}, 0));
}

}  // namespace
