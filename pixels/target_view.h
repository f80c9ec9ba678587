// The picture a pixel operation writes, owned elsewhere, as Nv12View describes the one it
// reads. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixels {

// `size` writable bytes at `data`: `height` rows `stride` bytes apart (RGBA: 4 bytes a pixel,
// YUY2: 2), or for NV12 the planes as in Nv12View.
struct TargetView {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t stride = 0;
};

}  // namespace pixels
