// Test pictures for the camera: packed NV12 whose bytes depend on a seed and the picture's
// number, with the number itself in the first two luma bytes so that a sample shows which
// picture it came from, even after scaling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cameratest {

inline std::vector<std::uint8_t> makePicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed,
                                             std::uint32_t number) {
  std::vector<std::uint8_t> bytes(std::size_t(width) * height * 3 / 2);
  std::uint32_t x = seed * 2654435761u ^ number * 40503u;
  for (std::size_t i = 0; i < bytes.size(); i++) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = std::uint8_t(x >> 24);
  }
  bytes[0] = std::uint8_t(number);
  bytes[1] = std::uint8_t(number >> 8);
  return bytes;
}

}  // namespace cameratest
