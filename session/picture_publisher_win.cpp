#include "session/picture_publisher_win.h"

#include "common/stage_trace.h"
#include "pixels/nv12_view.h"
#include "pixels/turn.h"

namespace session {

bool PicturePublisher::open(std::uint32_t maxWidth, std::uint32_t maxHeight, const std::string& ringName) {
  if (ring_.isOpen()) return true;
  ring::FrameRingConfig config;
  config.name = ringName;
  config.slotCount = 4;
  config.maxWidth = maxWidth;
  config.maxHeight = maxHeight;
  config.fourcc = ring::kFourccNv12;
  const bool opened = ring_.open(config);
  ringFault_ = ring_.fault();
  ringError_ = ring_.error();
  return opened;
}

void PicturePublisher::picture(const media::DecodedFrame& frame) {
  if (publishTurned(frame, turn())) return;
  publish(frame.timestampUs, frame.width, frame.height, frame.data);
  preview_.put(frame);
}

pixels::Turn PicturePublisher::turn() const {
  if (!orientation_.follow.load()) return pixels::Turn();
  return pixels::Turn{orientation_.rotation.load(), orientation_.mirror.load(), orientation_.flip.load()};
}

bool PicturePublisher::publishTurned(const media::DecodedFrame& frame, pixels::Turn turn) {
  turn = pixels::canonical(turn);
  if (pixels::isIdentity(turn)) return false;
  const bool swap = pixels::swapsSides(turn);
  turned_.width = swap ? frame.height : frame.width;
  turned_.height = swap ? frame.width : frame.height;
  turned_.codedHeight = turned_.height;
  turned_.stride = turned_.width;
  turned_.timestampUs = frame.timestampUs;
  turned_.turned = turn;
  turned_.data.resize(std::size_t(pixels::nv12Bytes(turned_.width, turned_.height)));
  // A packed picture always turns; should it not, it goes out as decoded.
  if (!pixels::turnNv12(frame.view(), turn,
                        {turned_.data.data(), turned_.data.size(), turned_.width, turned_.height, turned_.width})) {
    return false;
  }
  publish(turned_.timestampUs, turned_.width, turned_.height, turned_.data);
  preview_.put(turned_);
  return true;
}

void PicturePublisher::publish(std::int64_t timestampUs, std::uint32_t width, std::uint32_t height,
                               const std::vector<std::uint8_t>& bytes) {
  ring_.publish(static_cast<std::uint64_t>(timestampUs), width, height, bytes.data(), bytes.size());
  traceStage(TraceStage::Published, std::uint64_t(timestampUs));
}

}  // namespace session
