#include "camera/picture_source.h"

#include <new>
#include <utility>

#include "common/stage_trace.h"
#include "pixels/convert_picture.h"
#include "ring/frame_ring_reader.h"

namespace camera {

PictureSource::PictureSource(std::string ringName, ring::RingPlace place) : ringName_(std::move(ringName)), place_(place) {}

PictureSource::~PictureSource() = default;

void PictureSource::fill(std::uint8_t* data, std::size_t count, std::uint32_t width, std::uint32_t height, bool yuy2) {
  if (!fillPicture(data, count, width, height, yuy2)) pixels::fillGrey(data, count, yuy2);
}

bool PictureSource::fillPicture(std::uint8_t* data, std::size_t count, std::uint32_t width, std::uint32_t height,
                                bool yuy2) {
  if (!ringOpen_) {
    if (!reader_) reader_.reset(new (std::nothrow) ring::FrameRingReader);
    ringOpen_ = reader_ && reader_->open(ringName_, place_);
  }
  const auto now = std::chrono::steady_clock::now();
  if (ringOpen_) {
    try {
      // Every sample converts the newest picture straight from the ring: no copy of it, and
      // no copy of the last output kept for repeats.
      ring::RingPicture& picture = picture_;
      auto take = [&](const std::uint8_t* bytes, std::size_t size) {
        // A picture seen long ago (before a restart) is no signal: the control program
        // stopped, or its stream stalled. Back to the grey of "no picture yet" until pictures
        // flow again.
        if (picture.frameNumber == signalFrame_ && now - signalTime_ >= kNoSignalAfter) return false;
        // One too short for its own size, or one the sample cannot hold, is skipped like a
        // torn one.
        const pixels::Nv12View view = {bytes, size, picture.width, picture.height, picture.width};
        const pixels::TargetView sample = {data, count, width, height, yuy2 ? 2 * width : width};
        return pixels::convertPicture(view, sample, yuy2, scaler_);
      };
      if (reader_->useLatest(picture, take)) {
        traceStage(TraceStage::Delivered, picture.timestampUs);
        if (picture.frameNumber != signalFrame_) {
          signalFrame_ = picture.frameNumber;
          signalTime_ = now;
        }
        return true;
      }
    } catch (const std::bad_alloc&) {
      // Out of memory for the scaler's tables: no picture for this sample.
    }
  }
  return false;
}

}  // namespace camera
