// Test pictures for the capture tests: packed NV12 noise that depends on the picture's number,
// with that number drawn as a frame counter code into the luma plane, and what the camera's
// sample of the same size holds for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/clip_pattern/frame_counter_code.h"

namespace dlltest {

inline std::vector<std::uint8_t> makeCounterPicture(std::uint32_t width, std::uint32_t height, std::uint32_t number) {
  std::vector<std::uint8_t> bytes(std::size_t(width) * height * 3 / 2);
  std::uint32_t x = number * 2654435761u + 12345u;
  for (std::uint8_t& b : bytes) {
    x = x * 1664525u + 1013904223u;
    b = std::uint8_t(x >> 24);
  }
  clippattern::drawFrameCounter(bytes.data(), int(width), int(height), int(width), std::uint16_t(number));
  return bytes;
}

// The sample of a same-size picture: NV12 is copied, YUY2 interleaves each luma pair with the
// chroma pair of its chroma row.
inline std::vector<std::uint8_t> expectedSample(const std::vector<std::uint8_t>& nv12, std::uint32_t width,
                                                std::uint32_t height, bool yuy2) {
  if (!yuy2) return nv12;
  std::vector<std::uint8_t> out(std::size_t(width) * height * 2);
  const std::uint8_t* chroma = nv12.data() + std::size_t(width) * height;
  for (std::uint32_t y = 0; y < height; y++) {
    for (std::uint32_t x = 0; x < width; x += 2) {
      std::uint8_t* o = &out[(std::size_t(y) * width + x) * 2];
      const std::uint8_t* uv = chroma + std::size_t(y / 2) * width + x;
      o[0] = nv12[std::size_t(y) * width + x];
      o[1] = uv[0];
      o[2] = nv12[std::size_t(y) * width + x + 1];
      o[3] = uv[1];
    }
  }
  return out;
}

}  // namespace dlltest
