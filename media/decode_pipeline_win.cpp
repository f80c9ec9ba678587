#include "media/decode_pipeline_win.h"

#include <utility>

#include "common/debug_log.h"
#include "pixels/nv12_view.h"
#include "common/stage_trace.h"
#include "pixels/pack.h"
#include "pixels/turn.h"

namespace media {

DecodePipelineWin::DecodePipelineWin() {
  h264_.onFrame = [this](const media::DecodedFrame& frame) { deliver(frame); };
}

bool DecodePipelineWin::start(std::uint32_t maxWidth, std::uint32_t maxHeight, const std::string& ringName) {
  if (started_ || ring_.isOpen()) return started_ && ring_.isOpen();
  ring::FrameRingConfig config;
  config.name = ringName;
  config.slotCount = 4;
  config.maxWidth = maxWidth;
  config.maxHeight = maxHeight;
  config.fourcc = ring::kFourccNv12;
  const bool ringOpened = ring_.open(config);
  ringFault_ = ring_.fault();
  ringError_ = ring_.error();
  started_ = h264_.start();
  return ringOpened && started_;
}

void DecodePipelineWin::stop() {
  if (started_) h264_.stop();
  ring_.close();
  started_ = false;
}

void DecodePipelineWin::decode(const receiver::Frame& frame) {
  if (!started_) return;
  h264_.feed(frame.payload, frame.timestampUs);
}

void DecodePipelineWin::deliver(const media::DecodedFrame& frame) {
  const std::uint32_t rows = frame.codedHeight != 0 ? frame.codedHeight : frame.height;
  const bool tight = frame.stride == frame.width && rows == frame.height;
  // Nothing is read past the picture's bytes: a short or empty one goes nowhere.
  const bool readable = frame.width != 0 && frame.height != 0 &&
                        (tight ? frame.data.size() >= pixels::nv12Bytes(frame.width, frame.height)
                               : pixels::packNv12({frame.data.data(), frame.data.size(), frame.width,
                                                   frame.height, frame.stride},
                                                  rows, packBuffer_));
  if (!readable) {
    logMediaLine("[H264Decoder] picture dropped: %ux%u in %zu bytes (%u rows of stride %u)\n", frame.width,
                 frame.height, frame.data.size(), rows, frame.stride);
    return;
  }

  if (publishTurn && publishPicture(tight ? frame.data.data() : packBuffer_.data(),
                                     tight ? frame.data.size() : packBuffer_.size(), frame, publishTurn())) {
    return;
  }

  if (tight) {
    ring_.publish(static_cast<std::uint64_t>(frame.timestampUs), frame.width, frame.height, frame.data.data(),
                  frame.data.size());
    traceStage(TraceStage::Published, std::uint64_t(frame.timestampUs));
    if (onDecodedFrame) onDecodedFrame(frame);
    return;
  }

  ring_.publish(static_cast<std::uint64_t>(frame.timestampUs), frame.width, frame.height, packBuffer_.data(),
                packBuffer_.size());
  traceStage(TraceStage::Published, std::uint64_t(frame.timestampUs));
  lend(packBuffer_, frame.width, frame.height, frame.timestampUs, Turn());
}

bool DecodePipelineWin::publishPicture(const std::uint8_t* bytes, std::size_t size, const media::DecodedFrame& frame,
                                       Turn turn) {
  turn = canonical(turn);
  if (isIdentity(turn)) return false;
  const bool swap = swapsSides(turn);
  const std::uint32_t width = swap ? frame.height : frame.width, height = swap ? frame.width : frame.height;
  turnBuffer_.resize(std::size_t(pixels::nv12Bytes(width, height)));
  // A readable packed picture always turns; should it not, it goes out as decoded.
  if (!pixels::turnNv12({bytes, size, frame.width, frame.height, frame.width}, turn,
                        {turnBuffer_.data(), turnBuffer_.size(), width, height, width})) {
    return false;
  }
  ring_.publish(static_cast<std::uint64_t>(frame.timestampUs), width, height, turnBuffer_.data(), turnBuffer_.size());
  traceStage(TraceStage::Published, std::uint64_t(frame.timestampUs));
  lend(turnBuffer_, width, height, frame.timestampUs, turn);
  return true;
}

void DecodePipelineWin::lend(std::vector<std::uint8_t>& buffer, std::uint32_t width, std::uint32_t height,
                             std::int64_t timestampUs, Turn turned) {
  if (!onDecodedFrame) return;
  // Lend the buffer to the packed picture instead of copying it; it comes back after.
  media::DecodedFrame packed;
  packed.width = width;
  packed.height = height;
  packed.codedHeight = height;
  packed.timestampUs = timestampUs;
  packed.stride = width;
  packed.turned = turned;
  packed.data = std::move(buffer);
  onDecodedFrame(packed);
  buffer = std::move(packed.data);
}

}  // namespace media
