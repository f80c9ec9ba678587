// A minimal PNG encoder: 8-bit RGB, no filtering, the image data in stored (uncompressed)
// deflate blocks. Large files, but any PNG reader opens them.
#pragma once

#include <cstdint>
#include <vector>

namespace cameraviewer {

// The PNG file for `width` x `height` pixels of packed RGB (3 bytes a pixel, rows follow each
// other). Empty when a size is 0 or the image is too large for one file.
std::vector<std::uint8_t> encodePng(const std::uint8_t* rgb, std::uint32_t width, std::uint32_t height);

}  // namespace cameraviewer
