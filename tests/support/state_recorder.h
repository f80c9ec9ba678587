// A transport's sink for tests: records the states it reports, with the time each arrived (the
// order and the pacing of connection attempts), and the bytes it received.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "support/stream_bytes.h"
#include "support/wait.h"
#include "transport/itransport.h"

namespace testsupport {

using Clock = std::chrono::steady_clock;

inline double secondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

class StateRecorder : public transport::TransportSink {
 public:
  struct Report {
    transport::State state;
    Clock::time_point at;
  };
  void received(std::span<const std::uint8_t> chunk) override {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_.insert(bytes_.end(), chunk.begin(), chunk.end());
    lastByte_ = Clock::now();
  }
  void transportState(transport::State s) override {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back({s, Clock::now()});
  }
  std::vector<Report> reports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  std::size_t count(transport::State s) const {
    std::size_t n = 0;
    for (const Report& r : reports()) n += r.state == s;
    return n;
  }
  bool waitFor(transport::State s, std::size_t n, std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return count(s) >= n; }, timeout);
  }
  Bytes bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }
  std::size_t byteCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_.size();
  }
  // When the last chunk arrived.
  Clock::time_point lastByte() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastByte_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Report> reports_;
  Bytes bytes_;
  Clock::time_point lastByte_;
};

}  // namespace testsupport
