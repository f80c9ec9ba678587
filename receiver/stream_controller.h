// Speaks the phone's stream protocol over a transport it owns: counts the traffic, answers the
// server hello with the client hello once per connection, and hands every frame on.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "receiver/frame.h"
#include "receiver/frame_parser.h"
#include "common/rate_meter.h"
#include "receiver/stream_sink.h"
#include "receiver/stream_stats.h"
#include "transport/itransport.h"
#include "transport/state.h"

namespace receiver {

class StreamController final : private StreamSink, private transport::TransportSink {
 public:
  using Stats = StreamStats;

  // `sink` gets every frame, each state and each new rate window, on the transport's worker
  // thread; it outlives the controller.
  explicit StreamController(StreamSink& sink);
  ~StreamController();
  StreamController(const StreamController&) = delete;
  StreamController& operator=(const StreamController&) = delete;

  // Stops the current transport, takes the new one (may be empty), resets counters and parser,
  // and starts it. Call on the owner's thread.
  void start(std::unique_ptr<transport::ITransport> transport);
  // Detaches, stops and destroys the transport; after it returns the sink is not called.
  void stop();
  // The counters, and the rate as of now: 0 once the stream has been silent for 1.5 s.
  Stats stats() const;

 private:
  // The transport's, on its worker; ignored once stop has begun.
  void received(std::span<const std::uint8_t> chunk) override;
  void transportState(transport::State state) override;
  // The parser's frames: counted, then passed on.
  void frame(const Frame& frame) override;

  StreamSink& sink_;
  std::unique_ptr<transport::ITransport> transport_;
  std::atomic<bool> detached_{true};  // set by stop before the transport's worker is joined
  FrameParser parser_;
  mutable std::mutex statsMutex_;
  Stats stats_;
  common::RateMeter byteRate_;  // bytes per second
  std::int64_t chunkArrivedNs_ = 0;  // steady clock, the chunk being parsed
};

}  // namespace receiver
