#include "tools/camera_viewer/picture_convert.h"

#include <algorithm>

namespace cameraviewer {

namespace {

bool usable(SampleFormat format, std::size_t size, std::uint32_t width, std::uint32_t height) {
  return width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0 &&
         size >= sampleBytes(format, width, height);
}

std::uint8_t clamp255(int v) { return std::uint8_t(std::clamp(v, 0, 255)); }

// BT.601 video range in 16.16 fixed point.
void yuvToRgb(int y, int u, int v, std::uint8_t* rgb) {
  int c = (y - 16) * 76309;
  int d = u - 128, e = v - 128;
  rgb[0] = clamp255((c + 104597 * e + 32768) >> 16);
  rgb[1] = clamp255((c - 25675 * d - 53279 * e + 32768) >> 16);
  rgb[2] = clamp255((c + 132201 * d + 32768) >> 16);
}

}  // namespace

std::size_t sampleBytes(SampleFormat format, std::uint32_t width, std::uint32_t height) {
  std::size_t pixels = std::size_t(width) * height;
  return format == SampleFormat::Yuy2 ? pixels * 2 : pixels * 3 / 2;
}

std::vector<std::uint8_t> lumaPlane(SampleFormat format, const std::uint8_t* sample, std::size_t size,
                                    std::uint32_t width, std::uint32_t height) {
  if (!sample || !usable(format, size, width, height)) return {};
  std::size_t pixels = std::size_t(width) * height;
  if (format == SampleFormat::Nv12) return std::vector<std::uint8_t>(sample, sample + pixels);
  std::vector<std::uint8_t> luma(pixels);
  for (std::size_t i = 0; i < pixels; i++) luma[i] = sample[i * 2];
  return luma;
}

std::vector<std::uint8_t> toRgb(SampleFormat format, const std::uint8_t* sample, std::size_t size,
                                std::uint32_t width, std::uint32_t height) {
  if (!sample || !usable(format, size, width, height)) return {};
  std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
  for (std::uint32_t y = 0; y < height; y++) {
    for (std::uint32_t x = 0; x < width; x++) {
      int luma, u, v;
      if (format == SampleFormat::Yuy2) {
        const std::uint8_t* pair = sample + (std::size_t(y) * width + (x & ~1u)) * 2;
        luma = pair[(x & 1) * 2];
        u = pair[1];
        v = pair[3];
      } else {
        const std::uint8_t* chroma = sample + std::size_t(width) * height + std::size_t(y / 2) * width + (x & ~1u);
        luma = sample[std::size_t(y) * width + x];
        u = chroma[0];
        v = chroma[1];
      }
      yuvToRgb(luma, u, v, &rgb[(std::size_t(y) * width + x) * 3]);
    }
  }
  return rgb;
}

}  // namespace cameraviewer
