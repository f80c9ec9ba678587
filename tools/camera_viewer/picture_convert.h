// The camera's sample formats turned into what the viewer reports and saves: the luma plane
// (for reading the frame counter) and packed RGB (for the PNG).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cameraviewer {

enum class SampleFormat { Yuy2, Nv12 };

// Bytes one picture of that format and size needs.
std::size_t sampleBytes(SampleFormat format, std::uint32_t width, std::uint32_t height);

// The Y plane, width x height bytes. Empty when the sample is shorter than a picture or a
// size is odd (both formats pair pixels).
std::vector<std::uint8_t> lumaPlane(SampleFormat format, const std::uint8_t* sample, std::size_t size,
                                    std::uint32_t width, std::uint32_t height);

// Packed RGB (BT.601, video range), width x height x 3 bytes; empty on the same conditions.
std::vector<std::uint8_t> toRgb(SampleFormat format, const std::uint8_t* sample, std::size_t size,
                                std::uint32_t width, std::uint32_t height);

}  // namespace cameraviewer
