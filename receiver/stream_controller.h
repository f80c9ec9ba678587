// Speaks the phone's stream protocol over a transport it owns: counts the traffic, answers the
// server hello with the client hello once per connection, and hands every frame on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>

#include "receiver/frame.h"
#include "receiver/frame_parser.h"
#include "receiver/rate_meter.h"
#include "receiver/stream_stats.h"
#include "transport/itransport.h"
#include "transport/state.h"

namespace receiver {

class StreamController {
 public:
  using Stats = StreamStats;

  StreamController();
  ~StreamController();
  StreamController(const StreamController&) = delete;
  StreamController& operator=(const StreamController&) = delete;

  // Stops the current transport, takes the new one (may be empty), resets counters and parser,
  // and starts it. Call on the owner's thread.
  void start(std::unique_ptr<transport::ITransport> transport);
  // Detaches, stops and destroys the transport; after it returns no callback runs.
  void stop();
  // The counters, and the rate as of now: 0 once the stream has been silent for 1.5 s.
  Stats stats() const;

  // Called on the transport's worker thread.
  std::function<void(const Frame&)> onFrame;
  std::function<void(transport::State)> onState;
  std::function<void(const Stats&)> onStats;  // optional: each new rate window

 private:
  void onTransportData(std::span<const std::uint8_t> chunk);
  void onTransportState(transport::State state);
  void countFrame(const Frame& frame);

  std::unique_ptr<transport::ITransport> transport_;
  FrameParser parser_;
  mutable std::mutex statsMutex_;
  Stats stats_;
  RateMeter byteRate_;  // bytes per second
  std::int64_t chunkArrivedNs_ = 0;  // steady clock, the chunk being parsed
};

}  // namespace receiver
