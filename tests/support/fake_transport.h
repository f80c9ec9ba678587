// Stands in for a transport: the test plays its worker thread by calling deliver() and
// report(). What the owner does to it is written to a log that outlives it.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "support/stream_bytes.h"
#include "transport/itransport.h"

namespace testsupport {

class FakeTransport : public transport::ITransport {
 public:
  struct Log {
    int starts = 0;
    int stops = 0;
    bool destroyed = false;
    std::vector<Bytes> sent;
    bool sendResult = true;
    std::vector<std::string> events;  // "send", and whatever the test adds, in order
  };
  explicit FakeTransport(Log& log) : log_(log) {}
  ~FakeTransport() override { log_.destroyed = true; }
  bool start(transport::TransportSink& sink) override {
    ++log_.starts;
    sink_ = &sink;
    return true;
  }
  void stop() override { ++log_.stops; }
  bool send(std::span<const std::uint8_t> bytes) override {
    log_.sent.emplace_back(bytes.begin(), bytes.end());
    log_.events.push_back("send");
    return log_.sendResult;
  }
  void deliver(const Bytes& bytes) {
    if (sink_) sink_->received(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
  }
  void report(transport::State state) {
    if (sink_) sink_->transportState(state);
  }

 private:
  Log& log_;
  transport::TransportSink* sink_ = nullptr;
};

}  // namespace testsupport
