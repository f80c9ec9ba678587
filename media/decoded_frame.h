// One decoded NV12 picture. Passed by const reference: a receiver copies what it keeps.
#pragma once

#include <cstdint>
#include <vector>

#include "pixels/nv12_view.h"
#include "media/picture_turn.h"

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
  Turn turned;                    // how the pipeline turned the decoded picture before publishing it

  // The picture as a view; only a packed one (chroma right after `height` rows) reads right.
  pixels::Nv12View view() const { return {data.data(), data.size(), width, height, stride}; }
};

}  // namespace media
