// Shared by the USB mux tests: the emulator started on the service's own port (tests run one
// program at a time, so 27015 and the pipe name are free), and timed stops.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/state_recorder.h"
#include "tools/usbmux_emulator/usbmux_emulator.h"

namespace usbmuxtest {

using testsupport::Clock;
using testsupport::secondsBetween;
using testsupport::StateRecorder;
using transport::State;

// The service with the phones `ids`, on TCP 27015 and/or its named pipe.
inline usbmuxemu::EmulatorOptions servedWith(std::vector<std::uint32_t> ids, bool tcp, bool pipe) {
  usbmuxemu::EmulatorOptions options;
  options.tcp = tcp;
  options.pipe = pipe;
  options.deviceIds = std::move(ids);
  return options;
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
