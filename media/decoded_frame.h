// One decoded NV12 picture, and where pictures go. Passed by const reference: a receiver copies
// what it keeps.
#pragma once

#include <cstdint>
#include <vector>

#include "pixels/nv12_view.h"
#include "pixels/picture_turn.h"

namespace media {

struct DecodedFrame {
  std::uint32_t width = 0;        // visible pixels
  std::uint32_t height = 0;
  std::uint32_t codedHeight = 0;  // luma rows in `data` before the chroma plane; 0 = `height`
  std::int64_t timestampUs = 0;   // presentation time
  // Luma rows of `stride` bytes, then from row codedHeight (or height) the interleaved Cb/Cr
  // rows, one per two luma rows. Pictures leaving the pipeline are packed: stride == width and
  // the chroma starts at row height.
  std::vector<std::uint8_t> data;
  std::uint32_t stride = 0;       // bytes per row, both planes
  pixels::Turn turned;                    // how the picture was turned after decoding (for the camera)

  // The picture as a view; only a packed one (chroma right after `height` rows) reads right.
  pixels::Nv12View view() const { return {data.data(), data.size(), width, height, stride}; }
};

// Where decoded pictures go, on the decoding thread; fixed before decoding starts. The picture
// is valid only during the call.
class PictureSink {
 public:
  virtual void picture(const DecodedFrame& picture) = 0;

 protected:
  ~PictureSink() = default;
};

}  // namespace media
