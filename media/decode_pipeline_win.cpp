#include "media/decode_pipeline_win.h"

#include <utility>

#include "common/debug_log.h"
#include "common/nv12_view.h"
#include "media/nv12_pack.h"

namespace media {

DecodePipelineWin::DecodePipelineWin() {
  h264_.onFrame = [this](const media::DecodedFrame& frame) { deliver(frame); };
}

bool DecodePipelineWin::start(std::uint32_t maxWidth, std::uint32_t maxHeight, const std::string& ringName) {
  if (started_) return true;
  ring::FrameRingConfig config;
  config.name = ringName;
  config.slotCount = 4;
  config.maxWidth = maxWidth;
  config.maxHeight = maxHeight;
  config.fourcc = ring::kFourccNv12;
  if (!ring_.open(config)) return false;
  if (!h264_.start()) {
    ring_.close();
    return false;
  }
  started_ = true;
  return true;
}

void DecodePipelineWin::stop() {
  if (!started_) return;
  h264_.stop();
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
                        (tight ? frame.data.size() >= common::nv12Bytes(frame.width, frame.height)
                               : packNv12(frame.data.data(), frame.data.size(), frame.stride, rows, frame.width,
                                          frame.height, packBuffer_));
  if (!readable) {
    logMediaLine("[H264Decoder] picture dropped: %ux%u in %zu bytes (%u rows of stride %u)\n", frame.width,
                 frame.height, frame.data.size(), rows, frame.stride);
    return;
  }

  if (tight) {
    ring_.publish(static_cast<std::uint64_t>(frame.timestampUs), frame.width, frame.height, frame.data.data(),
                  frame.data.size());
    if (onDecodedFrame) onDecodedFrame(frame);
    return;
  }

  ring_.publish(static_cast<std::uint64_t>(frame.timestampUs), frame.width, frame.height, packBuffer_.data(),
                packBuffer_.size());
  if (!onDecodedFrame) return;
  // Lend the pack buffer to the packed picture instead of copying it; it comes back after.
  media::DecodedFrame packed;
  packed.width = frame.width;
  packed.height = frame.height;
  packed.codedHeight = frame.height;
  packed.timestampUs = frame.timestampUs;
  packed.stride = frame.width;
  packed.data = std::move(packBuffer_);
  onDecodedFrame(packed);
  packBuffer_ = std::move(packed.data);
}

}  // namespace media
