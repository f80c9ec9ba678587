#include "pixels/nv12_view.h"
#include "pixels/pack.h"

#include <cstring>

namespace pixels {

std::uint64_t nv12SourceBytesNeeded(std::uint32_t sourceStride, std::uint32_t sourceRows, std::uint32_t width,
                                    std::uint32_t height) {
  if (width == 0 || height == 0) return 0;
  const std::uint64_t chromaRows = (std::uint64_t(height) + 1) / 2;
  // The last chroma row needs only its `width` bytes, not a whole stride.
  return (std::uint64_t(sourceRows) + chromaRows - 1) * sourceStride + width;
}

bool packNv12(const Nv12View& src, std::uint32_t chromaRow, std::vector<std::uint8_t>& destination) {
  const std::uint8_t* source = src.data;
  const std::size_t sourceSize = src.size;
  const std::uint32_t sourceStride = src.stride, sourceRows = chromaRow, width = src.width, height = src.height;
  if (sourceStride < width || sourceRows < height) return false;
  if (nv12SourceBytesNeeded(sourceStride, sourceRows, width, height) > sourceSize) return false;
  const std::uint64_t packedSize = nv12Bytes(width, height);
  if (packedSize > SIZE_MAX) return false;
  destination.resize(std::size_t(packedSize));
  if (packedSize == 0) return true;

  const std::size_t w = width;
  const std::size_t stride = sourceStride;
  const std::size_t chromaRows = (std::size_t(height) + 1) / 2;
  std::uint8_t* out = destination.data();

  if (stride == w) {
    // Rows already tight: each plane is one block.
    std::memcpy(out, source, w * height);
    std::memcpy(out + w * height, source + stride * sourceRows, w * chromaRows);
    return true;
  }
  for (std::size_t r = 0; r < height; ++r) std::memcpy(out + r * w, source + r * stride, w);
  const std::uint8_t* chroma = source + stride * sourceRows;
  out += w * height;
  for (std::size_t r = 0; r < chromaRows; ++r) std::memcpy(out + r * w, chroma + r * stride, w);
  return true;
}

}  // namespace pixels
