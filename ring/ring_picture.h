// One picture copied out of the frame ring. Invalid when there was nothing new to copy or no
// complete, well-formed picture could be copied; then only `valid` is meaningful.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "pixels/nv12_view.h"

namespace ring {

struct RingPicture {
  bool valid = false;
  std::uint64_t frameNumber = 0;  // the picture's number in the writer's current run
  std::uint64_t timestampUs = 0;  // as the writer was given it
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t fourcc = 0;       // the ring's pixel format code
  std::unique_ptr<std::uint8_t[]> pixels;  // owned, `size` bytes of packed NV12 at the front
  std::size_t size = 0;                    // holds at least pixels::nv12Bytes(width, height)
  std::size_t capacity = 0;                // bytes allocated at `pixels`, at least `size`

  pixels::Nv12View view() const { return {pixels.get(), size, width, height, width}; }
};

}  // namespace ring
