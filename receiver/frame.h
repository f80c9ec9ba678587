// One protocol frame from the phone.
#pragma once

#include <cstdint>
#include <vector>

namespace receiver {

// Frame types as the phone sends them.
enum FrameType : std::uint8_t {
  kFrameVideo = 1,
  kFrameVideoKey = 2,
  kFrameVideoOther = 3,
  kFrameOrientation = 0x10,
  kFrameAudioFormat = 0x30,
  kFrameAudioSamples = 0x31,
};

// Handed to consumers by const reference and valid only during the call: copy what you keep.
struct Frame {
  std::uint8_t type = 0;
  std::uint64_t timestampUs = 0;  // as sent, microseconds
  std::vector<std::uint8_t> payload;
};

}  // namespace receiver
