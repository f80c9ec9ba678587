// An NV12 picture owned elsewhere, and the one rule for how many bytes it takes. Portable.
//
// Layout: `height` rows of `stride` luma bytes, then (height + 1) / 2 rows of `stride` bytes of
// interleaved chroma, U first; a packed picture has stride == width. Owners (the decoder's
// output, a picture copied out of the ring) keep the bytes and hand out views.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixels {

struct Nv12View {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;  // bytes readable at `data`
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t stride = 0;  // bytes per row, both planes
};

// Bytes of an NV12 picture with rows of `rowBytes`: height luma rows and one chroma row per two
// luma rows, the last one covering the bottom row of an odd height. Never wraps.
constexpr std::uint64_t nv12Bytes(std::uint32_t rowBytes, std::uint32_t height) {
  return std::uint64_t(rowBytes) * (std::uint64_t(height) + (std::uint64_t(height) + 1) / 2);
}

}  // namespace pixels
