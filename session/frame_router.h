// The one switch over the phone's frame types. Each frame goes to one destination by its type:
// the audio format (0x30) and the orientation (0x10) are read from their text first, audio
// samples (0x31) and the video types (1, 2, 3) are passed on as they came, and any other type
// is dropped. Runs on the stream thread; the sink's calls must not block for long.
#pragma once

#include <cstdint>
#include <span>

#include "media/stream_metadata.h"
#include "receiver/frame.h"

namespace session {

// Where routed frames go. Everything handed over is valid only during the call.
class FrameSink {
 public:
  virtual void audioFormat(const media::AudioFormat& format) = 0;
  virtual void audioSamples(std::span<const std::uint8_t> samples, std::uint64_t timestampUs) = 0;
  virtual void phoneOrientation(int rotationDegrees, bool mirror) = 0;
  virtual void videoFrame(const receiver::Frame& frame) = 0;

 protected:
  ~FrameSink() = default;
};

void routeFrame(const receiver::Frame& frame, FrameSink& sink);

}  // namespace session
