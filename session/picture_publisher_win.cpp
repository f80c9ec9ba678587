#include "session/picture_publisher_win.h"

#include "common/debug_log.h"
#include "common/stage_trace.h"
#include "common/steady_clock.h"
#include "pixels/nv12_view.h"
#include "pixels/turn.h"
#include "ring/global_ring_host.h"

namespace session {

namespace {

// How often the publisher looks for the global ring's host: one failed open a second is all
// the mirror costs while no Media Foundation camera runs.
constexpr std::int64_t kMirrorCheckIntervalNs = 1'000'000'000;

}  // namespace

bool PicturePublisher::open(std::uint32_t maxWidth, std::uint32_t maxHeight, const std::string& ringName,
                            const std::string& mirrorName) {
  if (ring_.isOpen()) return true;
  mirrorWanted_ = true;
  mirrorConfig_.name = mirrorName;
  nextMirrorCheckNs_ = 0;
  mirrorRefusalLogged_ = false;
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
  mirror(timestampUs, width, height, bytes);
  traceStage(TraceStage::Published, std::uint64_t(timestampUs));
}

void PicturePublisher::mirror(std::int64_t timestampUs, std::uint32_t width, std::uint32_t height,
                              const std::vector<std::uint8_t>& bytes) {
  if (!mirrorWanted_) return;
  const std::int64_t now = steadyNowNs();
  if (now >= nextMirrorCheckNs_) {
    nextMirrorCheckNs_ = now + kMirrorCheckIntervalNs;
    const bool hosted = ring::GlobalRingHost::running(mirrorConfig_.name);
    if (mirror_.isOpen() && !hosted) {
      letGoOfMirror("its camera closed it");
    } else if (!mirror_.isOpen() && hosted) {
      if (mirror_.attach(mirrorConfig_, ring::RingPlace::Global)) {
        logLine("[Publisher] the Media Foundation camera's ring %s%s is attached: pictures go there too\n",
                ring::kGlobalNamespace, mirrorConfig_.name.c_str());
      } else if (!mirrorRefusalLogged_) {
        mirrorRefusalLogged_ = true;
        logLine("[Publisher] the Media Foundation camera's ring %s%s is hosted but not one to write into "
                "(fault %d, error %lu): it gets no pictures\n",
                ring::kGlobalNamespace, mirrorConfig_.name.c_str(), static_cast<int>(mirror_.fault()), mirror_.error());
      }
    }
  }
  if (!mirror_.isOpen()) return;
  if (!mirror_.publish(static_cast<std::uint64_t>(timestampUs), width, height, bytes.data(), bytes.size())) {
    letGoOfMirror("it refused a picture");
  }
}

void PicturePublisher::letGoOfMirror(const char* why) {
  logLine("[Publisher] the Media Foundation camera's ring %s%s is let go: %s\n", ring::kGlobalNamespace,
          mirrorConfig_.name.c_str(), why);
  mirror_.close();
}

void PicturePublisher::close() {
  if (mirror_.isOpen()) letGoOfMirror("the stream stopped");
  mirrorWanted_ = false;
  ring_.close();
}

}  // namespace session
