// Where the decoded pictures go: each packed picture is turned as the preview shows it while the
// orientation's `follow` is set, published into the shared frame ring for the virtual camera
// (while it is open) and put in the preview's slot, in that order, on the decoding thread. While
// the Media Foundation camera's source hosts its global ring (ring/global_ring_host.h), each
// picture goes there too: the publisher looks for it at most once a second while it has none,
// and lets go when its host is gone or a picture is refused. No lock: open and close must not
// run while pictures flow. Windows only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/decoded_frame.h"
#include "pixels/picture_turn.h"
#include "ring/frame_ring_format.h"
#include "ring/frame_ring_writer.h"
#include "session/orientation.h"
#include "session/picture_slot.h"

namespace session {

class PicturePublisher final : public media::PictureSink {
 public:
  // Both outlive the publisher.
  PicturePublisher(const Orientation& orientation, PictureSlot& preview) : orientation_(orientation), preview_(preview) {}
  ~PicturePublisher() { close(); }
  PicturePublisher(const PicturePublisher&) = delete;
  PicturePublisher& operator=(const PicturePublisher&) = delete;

  // Opens the frame ring `ringName` with 4 NV12 slots of maxWidth x maxHeight, and mirrors into
  // the global ring `mirrorName` whenever it is hosted. Without the ring, pictures still reach
  // the preview; ringFault() says why it did not open. Already open: true.
  bool open(std::uint32_t maxWidth, std::uint32_t maxHeight, const std::string& ringName = ring::kFrameRingName,
            const std::string& mirrorName = ring::kGlobalFrameRingName);
  // Closes the ring and lets go of the mirror. Nothing when it is closed.
  void close();

  // One packed picture (stride = width, chroma at row height).
  void picture(const media::DecodedFrame& frame) override;

  bool ringOpen() const { return ring_.isOpen(); }
  bool mirroring() const { return mirror_.isOpen(); }
  // Why the ring did not open at the last open (None when it did), and the system's code.
  ring::RingFault ringFault() const { return ringFault_; }
  unsigned long ringError() const { return ringError_; }

 private:
  // The turn the camera follows: none unless `follow` is set.
  pixels::Turn turn() const;
  // Publishes the picture turned and puts it in the preview; false, with nothing done, for a
  // turn that leaves it as it is.
  bool publishTurned(const media::DecodedFrame& frame, pixels::Turn turn);
  void publish(std::int64_t timestampUs, std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& bytes);
  // The same picture into the global ring, when there is one to write.
  void mirror(std::int64_t timestampUs, std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& bytes);
  void letGoOfMirror(const char* why);

  const Orientation& orientation_;
  PictureSlot& preview_;
  ring::FrameRingWriter ring_;
  ring::FrameRingWriter mirror_;
  ring::FrameRingConfig mirrorConfig_ = ring::globalFrameRingConfig();
  bool mirrorWanted_ = false;           // from open to close, whether the ring opened or not
  std::int64_t nextMirrorCheckNs_ = 0;  // when to look for the host next, attached or not
  bool mirrorRefusalLogged_ = false;    // a hosted ring this program may not write: said once
  media::DecodedFrame turned_;  // reused so its bytes are not reallocated per picture
  ring::RingFault ringFault_ = ring::RingFault::None;
  unsigned long ringError_ = 0;
};

}  // namespace session
