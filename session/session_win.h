// The receive chain, without any user interface: the transport chosen at start, the stream
// controller that drives it, the one switch over frame types, the decode pipeline and the
// publisher that turns its pictures and writes them into the frame ring, the audio player, the newest-picture hand-off, the preview's
// orientation and the connection state.
//
// Threads: construction, start, stop and destruction run on one thread (the UI thread). The
// stream thread, the running transport's worker, runs the state callback and the frame switch:
// it plays the sound and queues the video. The video thread decodes, writes the ring and feeds
// the hand-off, under the stay-live rule, so decoding never holds the sound back. What the UI
// reads (state, statistics, pictures, orientation) is atomic or locked. Windows only.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "receiver/stream_sink.h"
#include "receiver/stream_stats.h"
#include "ring/frame_ring_writer.h"
#include "session/frame_router.h"
#include "session/live_gate.h"
#include "session/orientation.h"
#include "session/picture_publisher_win.h"
#include "session/picture_slot.h"
#include "session/video_worker.h"
#include "transport/state.h"

namespace media {
class AudioPlayer;
class DecodePipeline;
}  // namespace media

namespace receiver {
class StreamController;
}
namespace transport {
class ITransport;
}

namespace session {

// Which transport carries the stream.
struct Link {
  enum class Kind { Usb, Wifi };
  Kind kind = Kind::Usb;  // USB through the Apple Mobile Device Service, the default
  std::string host;       // Wi-Fi only: the phone's address, passed on unchecked
};

class Session : private receiver::StreamSink, private FrameSink, private VideoSink {
 public:
  Session();
  // Stops a running chain.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Stops a running chain, then builds a new one: the publisher's frame ring, the decode
  // pipeline (when either cannot open, both stay in place, log one line each and say why through
  // ringFault and decoderMissing), the audio player, and the link's transport for port 5555,
  // started by the stream controller. While the orientation's `follow` is set, the publisher
  // publishes every picture turned as the preview shows it.
  void start(const Link& link);
  // The same over a transport of the caller's, which the stream controller takes.
  void start(std::unique_ptr<transport::ITransport> transport);
  // Stops the transport (nothing of the stream reaches the session after that), then the video
  // thread, the pipeline, the ring and the player; the state becomes Idle. The waiting picture,
  // the orientation and the statistics stay.
  void stop();
  bool running() const { return running_; }

  // Any thread.
  transport::State state() const { return state_.load(); }
  receiver::StreamStats stats() const;
  PictureSlot& pictures() { return pictures_; }
  const PictureSlot& pictures() const { return pictures_; }
  Orientation& orientation() { return orientation_; }

  // What the running chain cannot do, found when it started; nothing while stopped. The frame
  // ring that feeds the camera did not open (the preview still works), or no H.264 decoder
  // could be made (sound alone plays).
  ring::RingFault ringFault() const;
  bool decoderMissing() const;

  // For diagnostics and tests: the running chain's parts, null while stopped.
  const media::DecodePipeline* pipeline() const { return pipeline_.get(); }
  const PicturePublisher* publisher() const { return publisher_.get(); }
  const media::AudioPlayer* audioPlayer() const { return audio_.get(); }
  const VideoWorker* videoWorker() const { return video_.get(); }

 private:
  // The stream controller's, on the stream thread.
  void frame(const receiver::Frame& frame) override { routeFrame(frame, *this); }
  void streamState(transport::State state) override;
  // Where the frame switch sends each frame, on the stream thread.
  void audioFormat(const media::AudioFormat& format) override;
  void audioSamples(std::span<const std::uint8_t> samples, std::uint64_t timestampUs) override;
  void phoneOrientation(int rotationDegrees, bool mirror) override;
  void videoFrame(const receiver::Frame& frame) override;
  // The video thread's.
  void threadBegins() override;
  void decode(const receiver::Frame& frame) override;
  void skipStarts() override;
  void threadEnds() override;

  std::unique_ptr<receiver::StreamController> stream_;  // for the session's whole life
  // Replaced only while no stream thread runs: made before the transport starts, destroyed after
  // it has stopped; the video thread runs only between them.
  std::unique_ptr<PicturePublisher> publisher_;  // the pipeline's sink: made before it, gone after
  std::unique_ptr<media::DecodePipeline> pipeline_;
  std::unique_ptr<media::AudioPlayer> audio_;
  std::unique_ptr<VideoWorker> video_;
  bool comOnVideoThread_ = false;  // the video thread's alone
  LiveGate gate_;  // reset at start; its counts stay after stop, like the statistics
  bool running_ = false;
  std::atomic<transport::State> state_{transport::State::Idle};
  Orientation orientation_;
  PictureSlot pictures_;
};

}  // namespace session
