#include "receiver/stream_controller.h"

#include <utility>

#include "common/debug_log.h"
#include "common/stage_trace.h"
#include "common/steady_clock.h"
#include "receiver/protocol.h"

namespace receiver {

namespace {
double kbpsOf(double bytesPerSecond) { return bytesPerSecond * 8.0 / 1000.0; }
}  // namespace

StreamController::StreamController(StreamSink& sink) : sink_(sink), parser_(static_cast<StreamSink&>(*this)) {}

StreamController::~StreamController() { stop(); }

void StreamController::start(std::unique_ptr<transport::ITransport> transport) {
  stop();
  transport_ = std::move(transport);
  if (!transport_) return;
  {
    std::lock_guard<std::mutex> lock(statsMutex_);
    stats_ = Stats{};
    byteRate_.reset(steadyNowNs());
  }
  parser_.reset();
  detached_.store(false);
  transport_->start(static_cast<transport::TransportSink&>(*this));
}

void StreamController::stop() {
  if (!transport_) return;
  // A chunk the worker is in the middle of finishes; nothing after it reaches the sink.
  detached_.store(true);
  transport_->stop();
  transport_.reset();
}

StreamController::Stats StreamController::stats() const {
  std::lock_guard<std::mutex> lock(statsMutex_);
  Stats now = stats_;
  now.kbps = kbpsOf(byteRate_.rate(steadyNowNs()));
  return now;
}

void StreamController::received(std::span<const std::uint8_t> chunk) {
  if (detached_.load()) return;
  bool windowClosed = false;
  chunkArrivedNs_ = steadyNowNs();
  {
    std::lock_guard<std::mutex> lock(statsMutex_);
    stats_.bytes += chunk.size();
    windowClosed = byteRate_.count(chunkArrivedNs_, double(chunk.size()));
  }
  bool hadHello = parser_.helloReceived();
  parser_.feed(chunk);
  if (!hadHello && parser_.helloReceived() && transport_) {
    bool ok = transport_->send(std::span<const std::uint8_t>(kClientHello, sizeof kClientHello));
    logLine("[StreamController] CHLO sent (%s)\n", ok ? "ok" : "FAIL");
  }

  if (windowClosed) sink_.streamStats(stats());
}

void StreamController::transportState(transport::State state) {
  if (detached_.load()) return;
  if (state != transport::State::Connected) parser_.reset();
  sink_.streamState(state);
}

void StreamController::frame(const Frame& frame) {
  {
    std::lock_guard<std::mutex> lock(statsMutex_);
    stats_.frames += 1;
    if (frame.type == kFrameVideoKey) stats_.keys += 1;
  }
  if (stageTraceOn() && (frame.type == kFrameVideo || frame.type == kFrameVideoKey)) {
    // A frame counts as received when the chunk that completed it arrived.
    traceStageAt(TraceStage::Received, frame.timestampUs, chunkArrivedNs_);
    traceStage(TraceStage::Cut, frame.timestampUs);
  }
  sink_.frame(frame);
}

}  // namespace receiver
