// Where a decoded picture lies in the H.264 decoder's NV12 output buffers, read from the
// transform's current output media type. Windows only.
#pragma once

#include <cstdint>

struct IMFMediaType;

namespace media {

struct H264OutputLayout {
  std::uint32_t codedWidth = 0;   // MF_MT_FRAME_SIZE; 0 x 0 when unreadable
  std::uint32_t codedHeight = 0;  // luma rows before the chroma plane
  std::uint32_t width = 0;        // visible: the minimum display aperture when it has an area,
  std::uint32_t height = 0;       // else the coded size (the aperture's offsets are not used)
  std::uint32_t stride = 0;       // MF_MT_DEFAULT_STRIDE, else the NV12 stride of codedWidth, else codedWidth
  bool hasAperture = false;       // whether width and height came from the aperture
};

// `type` may be null (nothing readable).
H264OutputLayout readOutputLayout(IMFMediaType* type);

}  // namespace media
