#include "media/decode_pipeline_win.h"

#include <utility>

#include "common/debug_log.h"
#include "pixels/nv12_view.h"
#include "pixels/pack.h"

namespace media {

DecodePipeline::DecodePipeline(PictureSink& sink) : sink_(sink), h264_(static_cast<PictureSink&>(*this)) {}

bool DecodePipeline::start() {
  if (!started_) started_ = h264_.start();
  return started_;
}

void DecodePipeline::stop() {
  if (started_) h264_.stop();
  started_ = false;
}

void DecodePipeline::decode(std::span<const std::uint8_t> payload, std::uint64_t timestampUs) {
  if (!started_) return;
  h264_.feed(payload, timestampUs);
}

void DecodePipeline::deliver(const DecodedFrame& frame) {
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
  if (tight) {
    sink_.picture(frame);
    return;
  }
  // Lend the packing buffer to the packed picture instead of copying it; it comes back after.
  DecodedFrame packed;
  packed.width = frame.width;
  packed.height = frame.height;
  packed.codedHeight = frame.height;
  packed.timestampUs = frame.timestampUs;
  packed.stride = frame.width;
  packed.data = std::move(packBuffer_);
  sink_.picture(packed);
  packBuffer_ = std::move(packed.data);
}

}  // namespace media
