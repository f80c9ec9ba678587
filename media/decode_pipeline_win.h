// The video half of the receive chain's decoding: H.264 access units in, packed NV12 pictures
// out. Every picture is packed tight (stride = width, chroma at row height) and handed to the
// sink on the thread that calls decode. Where the pictures go from there (the frame ring, the
// preview) is the sink's business. Windows only.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "media/decoded_frame.h"
#include "media/h264_decoder_win.h"

namespace media {

class DecodePipeline final : private PictureSink {
 public:
  // `sink` outlives the pipeline.
  explicit DecodePipeline(PictureSink& sink);
  ~DecodePipeline() { stop(); }
  DecodePipeline(const DecodePipeline&) = delete;
  DecodePipeline& operator=(const DecodePipeline&) = delete;

  // Starts the decoder; true when it runs (also when it ran already).
  bool start();
  // Stops the decoder. Nothing when it does not run.
  void stop();

  // Feeds one video frame's payload (an access unit) to the decoder, whose pictures are
  // delivered before this returns. Ignored while stopped.
  void decode(std::span<const std::uint8_t> payload, std::uint64_t timestampUs);
  // The pictures the decoder holds back, delivered now (the frames after them are skipped).
  void releaseHeldPictures() {
    if (started_) h264_.releaseHeldPictures();
  }

  // Takes one picture as the decoder lays it out, packs it when its rows or plane offset are
  // not tight and passes it on. A picture whose bytes cannot hold the rows its layout names is
  // dropped with a log line.
  void deliver(const DecodedFrame& frame);

  // The decoder runs: frames are decoded.
  bool started() const { return started_; }
  std::uint64_t framesDecoded() const { return h264_.framesDecoded(); }

 private:
  void picture(const DecodedFrame& frame) override { deliver(frame); }

  PictureSink& sink_;
  H264Decoder h264_;
  std::vector<std::uint8_t> packBuffer_;
  bool started_ = false;
};

}  // namespace media
