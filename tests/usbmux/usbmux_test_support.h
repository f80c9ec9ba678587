// Shared by the USB mux tests: state reports with their times, and the emulator started on the
// service's own port (tests run one program at a time, so 27015 and the pipe name are free).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/wait.h"
#include "tools/usbmux_emulator/usbmux_emulator.h"
#include "transport/itransport.h"

namespace usbmuxtest {

using Clock = std::chrono::steady_clock;
using transport::State;

class StateRecorder {
 public:
  struct Report {
    State state;
    Clock::time_point at;
  };
  void attach(transport::ITransport& t) {
    t.onState = [this](State s) {
      std::lock_guard<std::mutex> lock(mutex_);
      reports_.push_back({s, Clock::now()});
    };
  }
  std::vector<Report> reports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  std::size_t count(State s) const {
    std::size_t n = 0;
    for (const Report& r : reports()) n += r.state == s;
    return n;
  }
  bool waitFor(State s, std::size_t n, std::chrono::milliseconds timeout) const {
    return testsupport::waitUntil([&] { return count(s) >= n; }, timeout);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Report> reports_;
};

inline double secondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// The emulator's own lines go to the test output, so a failing run shows what it saw.
inline std::unique_ptr<usbmuxemu::UsbMuxEmulator> startEmulator(usbmuxemu::EmulatorOptions options) {
  auto emulator = std::make_unique<usbmuxemu::UsbMuxEmulator>(std::move(options));
  emulator->onLog = [](const std::string& line) { std::printf("  emulator: %s\n", line.c_str()); };
  if (!emulator->start()) {
    ADD_FAILURE() << "the emulator did not start: " << emulator->error();
    return nullptr;
  }
  return emulator;
}

// Times a stop; every stop is expected back well within a second.
template <class Stoppable>
double timedStop(Stoppable& s) {
  auto before = Clock::now();
  s.stop();
  return secondsBetween(before, Clock::now());
}

}  // namespace usbmuxtest
