// What a camera sample shows: the newest picture in the frame ring, converted straight from the
// ring (letterboxed when its size differs), the last picture again when nothing new has arrived,
// and mid-grey before the first one and after kNoSignalAfter without a new one. The ring is
// looked for at every call until it exists, since the control program may start at any time.
// Not thread-safe: each camera stream owns one and calls it from one thread at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "pixels/letterbox.h"
#include "ring/frame_ring_format.h"
#include "ring/ring_picture.h"

namespace ring {
class FrameRingReader;
}

namespace camera {

class PictureSource {
 public:
  // The ring `ringName` in `place`, as ring::FrameRingReader::open takes them.
  explicit PictureSource(std::string ringName = ring::kFrameRingName, ring::RingPlace place = ring::RingPlace::Session);
  ~PictureSource();
  PictureSource(const PictureSource&) = delete;
  PictureSource& operator=(const PictureSource&) = delete;

  // Writes one sample of `count` bytes, width x height in YUY2 or NV12 (packed rows): the ring's
  // picture, or grey.
  void fill(std::uint8_t* data, std::size_t count, std::uint32_t width, std::uint32_t height, bool yuy2);
  // The same, but without a picture to show it writes nothing and returns false, so that a
  // caller with another source of pictures can try that one first.
  bool fillPicture(std::uint8_t* data, std::size_t count, std::uint32_t width, std::uint32_t height, bool yuy2);

  // A picture repeats for this long without a new one; then the samples are grey again.
  static constexpr std::chrono::seconds kNoSignalAfter{2};

 private:
  std::string ringName_;
  ring::RingPlace place_;
  std::unique_ptr<ring::FrameRingReader> reader_;
  bool ringOpen_ = false;
  ring::RingPicture picture_;  // describes the picture last used in the ring
  pixels::LetterboxScaler scaler_;
  // The newest ring picture seen and when it was first seen; kept across runs.
  std::uint64_t signalFrame_ = 0;
  std::chrono::steady_clock::time_point signalTime_;
};

}  // namespace camera
