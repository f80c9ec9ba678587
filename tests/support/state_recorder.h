// Records the states a transport reports, with the time each arrived, for tests that check the
// order and the pacing of connection attempts.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <vector>

#include "support/wait.h"
#include "transport/itransport.h"

namespace testsupport {

using Clock = std::chrono::steady_clock;

inline double secondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

class StateRecorder {
 public:
  struct Report {
    transport::State state;
    Clock::time_point at;
  };
  // Takes over the transport's onState.
  void attach(transport::ITransport& t) {
    t.onState = [this](transport::State s) {
      std::lock_guard<std::mutex> lock(mutex_);
      reports_.push_back({s, Clock::now()});
    };
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

 private:
  mutable std::mutex mutex_;
  std::vector<Report> reports_;
};

}  // namespace testsupport
