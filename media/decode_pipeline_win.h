// The video half of the receive chain: H.264 frames in, NV12 pictures out. Every picture is
// packed tight (stride = width, chroma at row height), turned as `publishTurn` says, published
// into the shared frame ring for the virtual camera (while it is open) and handed to
// `onDecodedFrame`, in that order, on the thread that calls decode. No lock: the callbacks and
// start/stop must not change while frames flow.
// Windows only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "media/decoded_frame.h"
#include "media/h264_decoder_win.h"
#include "media/picture_turn.h"
#include "receiver/frame.h"
#include "ring/frame_ring_format.h"
#include "ring/frame_ring_writer.h"

namespace media {

class DecodePipelineWin {
 public:
  DecodePipelineWin();
  ~DecodePipelineWin() { stop(); }
  DecodePipelineWin(const DecodePipelineWin&) = delete;
  DecodePipelineWin& operator=(const DecodePipelineWin&) = delete;

  // Opens the frame ring `ringName` with 4 NV12 slots of maxWidth x maxHeight, then starts the
  // decoder whether the ring opened or not: without the ring, pictures still reach
  // onDecodedFrame (the preview), and without the decoder the ring stays empty. True when both
  // started; ringFault() and started() say which did not. Already started: the same answer.
  bool start(std::uint32_t maxWidth, std::uint32_t maxHeight, const std::string& ringName = ring::kFrameRingName);
  // Stops the decoder, then closes the ring. Nothing when neither runs.
  void stop();

  // Feeds one video frame's payload (its type is the caller's business) to the decoder, whose
  // pictures are delivered before this returns. Ignored while stopped.
  void decode(const receiver::Frame& frame);
  // The pictures the decoder holds back, delivered now (the frames after them are skipped).
  void releaseHeldPictures() {
    if (started_) h264_.releaseHeldPictures();
  }

  // Takes one picture as the decoder lays it out, packs it when its rows or plane offset are
  // not tight, turns it, publishes it and passes it on. A picture whose bytes cannot hold the
  // rows its layout names is dropped with a log line.
  void deliver(const media::DecodedFrame& frame);

  // The decoder runs: frames are decoded.
  bool started() const { return started_; }
  bool ringOpen() const { return ring_.isOpen(); }
  // Why the ring did not open at the last start (None when it did), and the system's code.
  ring::RingFault ringFault() const { return ringFault_; }
  unsigned long ringError() const { return ringError_; }
  std::uint64_t framesDecoded() const { return h264_.framesDecoded(); }

  std::function<void(const media::DecodedFrame&)> onDecodedFrame;
  // Asked once per picture, on the decoding thread: how to turn it before it is published (a
  // quarter turn publishes height x width). Empty: every picture as decoded.
  std::function<Turn()> publishTurn;

 private:
  // Publishes the packed picture `bytes` turned and passes it on; false, with nothing done, for
  // a turn that leaves it as it is.
  bool publishPicture(const std::uint8_t* bytes, std::size_t size, const media::DecodedFrame& frame, Turn turn);
  // Hands `buffer`, a packed picture, to onDecodedFrame without copying it.
  void lend(std::vector<std::uint8_t>& buffer, std::uint32_t width, std::uint32_t height, std::int64_t timestampUs,
            Turn turned);

  H264Decoder h264_;
  ring::FrameRingWriter ring_;
  std::vector<std::uint8_t> packBuffer_;
  std::vector<std::uint8_t> turnBuffer_;
  bool started_ = false;
  ring::RingFault ringFault_ = ring::RingFault::None;
  unsigned long ringError_ = 0;
};

}  // namespace media
