#include "session/frame_router.h"

#include <string_view>

namespace session {

namespace {

std::string_view textOf(const receiver::Frame& frame) {
  return std::string_view(reinterpret_cast<const char*>(frame.payload.data()), frame.payload.size());
}

}  // namespace

void routeFrame(const receiver::Frame& frame, FrameSink& sink) {
  switch (frame.type) {
    case receiver::kFrameVideo:
    case receiver::kFrameVideoKey:
    case receiver::kFrameVideoOther:
      sink.videoFrame(frame);
      break;
    case receiver::kFrameOrientation: {
      int rotation = 0;
      bool mirror = false;
      media::parseOrientation(textOf(frame), rotation, mirror);
      sink.phoneOrientation(rotation, mirror);
      break;
    }
    case receiver::kFrameAudioFormat:
      sink.audioFormat(media::parseAudioFormat(textOf(frame)));
      break;
    case receiver::kFrameAudioSamples:
      sink.audioSamples(frame.payload, frame.timestampUs);
      break;
    default:
      break;  // types nobody uses
  }
}

}  // namespace session
