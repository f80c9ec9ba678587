// The formats both cameras offer, and the frame intervals they accept. Portable: the DirectShow
// camera builds its media types from this table and the Media Foundation source its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camera {

struct CameraFormat {
  std::int32_t width;
  std::int32_t height;  // always positive here
  bool yuy2;            // false: NV12
};

// 1280x720 and 720x1280 in YUY2, then in NV12; then 1920x1080 and 1080x1920 the same way. The
// first row is what an application gets without choosing.
constexpr int kCameraFormatCount = 8;
inline constexpr CameraFormat kCameraFormats[kCameraFormatCount] = {
    {1280, 720, true},  {720, 1280, true},  {1280, 720, false},  {720, 1280, false},
    {1920, 1080, true}, {1080, 1920, true}, {1920, 1080, false}, {1080, 1920, false},
};

// Frame intervals in 100-ns units. The default is what every format advertises and what an
// application that asks for no rate gets: faster would only repeat the phone's pictures.
constexpr std::int64_t kCameraDefaultFrameInterval = 333333;
// The shortest interval an application may ask for (60 frames per second).
constexpr std::int64_t kCameraMinFrameInterval = 166666;
// The longest interval an application may ask for (15 frames per second).
constexpr std::int64_t kCameraMaxFrameInterval = 666666;

// Bytes of one sample of this format.
constexpr std::size_t cameraSampleBytes(const CameraFormat& format) {
  const std::size_t pixels = std::size_t(format.width) * std::size_t(format.height);
  return format.yuy2 ? pixels * 2 : pixels * 3 / 2;
}

}  // namespace camera
