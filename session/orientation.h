// How the preview turns the pictures. The phone's orientation messages set rotation and mirror
// on the stream thread; the preview's controls set all of them on the UI thread; the video
// thread reads them. Each value is atomic, so every side sees the others' last write on its
// next read. The pictures published into the frame ring are turned the same way only while
// `follow` is set.
#pragma once

#include <atomic>
#include <cstdint>

namespace session {

struct Orientation {
  std::atomic<std::int32_t> rotation{0};  // quarter turns clockwise, 0..3
  std::atomic<bool> mirror{false};        // left-right
  std::atomic<bool> flip{false};          // top-bottom
  std::atomic<bool> follow{false};        // the camera gets the pictures turned as well
};

// Quarter turns clockwise, 0..3, for a rotation in degrees: ((degrees / 90) mod 4 + 4) mod 4,
// dividing toward zero, so 45 gives 0, 135 gives 1 and -90 gives 3.
constexpr std::int32_t quarterTurns(std::int32_t degrees) { return ((degrees / 90) % 4 + 4) % 4; }

}  // namespace session
