// The whole road through a USB tunnel: phone simulator, emulated service, transport and stream
// controller, over TCP and over the named pipe; and stop, which must come back promptly in
// every state the worker can be in.
#include "transport/usbmux_transport_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "receiver/stream_controller.h"
#include "support/frame_record.h"
#include "support/log_capture.h"
#include "support/loopback_server.h"
#include "support/wait.h"
#include "tools/phone_sim/phone_simulator.h"
#include "usbmux_test_support.h"

namespace {

using namespace std::chrono_literals;
using usbmuxemu::EmulatorOptions;
using usbmuxemu::Fault;
using usbmuxtest::startEmulator;
using usbmuxtest::State;
using usbmuxtest::timedStop;

const char* const kClip = BRINDLE_CLIP_DIR "/clip_1280x720.264";

class UsbMuxStreamTest : public ::testing::Test {
 protected:
  UsbMuxStreamTest() { testsupport::startWinsock(); }

  // Streams `frames` video frames (with audio and metadata) through the tunnel and checks that
  // every frame arrived whole and in order, after exactly one client hello.
  void streamThroughTunnel(bool overPipe, std::uint16_t phonePort) {
    phonesim::SimulatorOptions so;
    so.port = phonePort;
    so.clipPath = kClip;
    so.maxFrames = 60;
    so.fps = 60.0;
    phonesim::PhoneSimulator sim(so);
    sim.onLog = [](const std::string& line) { std::printf("  phone: %s\n", line.c_str()); };
    ASSERT_TRUE(sim.start()) << "clip " << kClip;

    auto emulator = startEmulator(usbmuxtest::servedWith({3}, !overPipe, overPipe));
    ASSERT_TRUE(emulator);

    receiver::StreamController controller;
    testsupport::FrameRecorder arrived;
    controller.onFrame = [&](const receiver::Frame& f) { arrived.record(f); };
    std::mutex mutex;
    std::vector<State> states;
    controller.onState = [&](State s) {
      std::lock_guard<std::mutex> lock(mutex);
      states.push_back(s);
    };
    controller.start(std::make_unique<transport::UsbMuxTransport>(sim.port()));

    auto done = [&] {
      std::vector<phonesim::ConnectionRecord> c = sim.connections();
      return !c.empty() && c[0].streamDone;
    };
    ASSERT_TRUE(testsupport::waitUntil(done, 20000ms));
    std::size_t sent = sim.connections()[0].frames.size();
    EXPECT_TRUE(testsupport::waitUntil([&] { return controller.stats().frames == sent; }, 5000ms));
    controller.stop();
    EXPECT_LT(timedStop(*emulator), 2.0);
    sim.stop();

    std::vector<phonesim::ConnectionRecord> connections = sim.connections();
    ASSERT_EQ(connections.size(), 1u) << "one tunnel, never dropped";
    const phonesim::ConnectionRecord& record = connections[0];
    EXPECT_TRUE(record.clientHello);
    EXPECT_EQ(record.clientByteCount, 16u) << "the client hello, once, and nothing else";
    testsupport::expectArrivedAsSent(arrived.frames(), record.frames);
    receiver::StreamController::Stats stats = controller.stats();
    EXPECT_EQ(record.videoFrames, 60u);
    EXPECT_EQ(stats.keys, record.keyFrames);
    EXPECT_EQ(stats.bytes, record.bytesSent);
    EXPECT_EQ(log.count("[StreamController] CHLO sent (ok)"), 1u);
    EXPECT_EQ(log.count("[UsbMux] tunnel open to device 3 port " + std::to_string(sim.port()) + "\n"), 1u);
    EXPECT_EQ(emulator->tunnels(), 1);
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_GE(states.size(), 2u);
    EXPECT_EQ(states[0], State::Listening);
    EXPECT_EQ(states[1], State::Connected);
  }

  testsupport::LogCapture log;
};

TEST_F(UsbMuxStreamTest, WholeStreamOverTcpToThePhonesPort) {
  streamThroughTunnel(false, 5555);
  EXPECT_EQ(log.count("[UsbMux] connected via TCP 127.0.0.1:27015\n"), 2u);
}

TEST_F(UsbMuxStreamTest, WholeStreamOverThePipe) {
  streamThroughTunnel(true, 0);
  EXPECT_EQ(log.count("[UsbMux] connected via named pipe iTunes_USBMuxService\n"), 2u);
}

// Stop during the handshake, with the tunnel blocked in recv or in a pipe read, and during the
// pause: each comes back well within a second and the worker's last report is Idle.
TEST_F(UsbMuxStreamTest, StopReturnsPromptlyInEveryState) {
  struct Case {
    const char* name;
    bool pipe;
    bool service;
    Fault listFault;
    std::string waitFor;
  };
  const Case cases[] = {
      {"handshake over TCP", false, true, Fault::HalfHeaderStall, "[UsbMux] connected via TCP"},
      {"handshake over the pipe", true, true, Fault::HalfHeaderStall, "[UsbMux] connected via named pipe"},
      {"tunnel blocked in recv", false, true, Fault::None, "[UsbMux] tunnel open"},
      {"tunnel blocked in a pipe read", true, true, Fault::None, "[UsbMux] tunnel open"},
      {"pause", false, false, Fault::None, "[UsbMux] could NOT reach"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    testsupport::LoopbackServer phone;  // accepts into its backlog and never sends
    std::unique_ptr<usbmuxemu::UsbMuxEmulator> emulator;
    if (c.service) {
      EmulatorOptions eo = usbmuxtest::servedWith({1}, !c.pipe, c.pipe);
      eo.listFault = c.listFault;
      emulator = startEmulator(eo);
      ASSERT_TRUE(emulator);
    }
    transport::UsbMuxTransport t(phone.port());
    usbmuxtest::StateRecorder states;
    states.attach(t);
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(log.waitForCount(c.waitFor, 1, 5000ms));
    std::this_thread::sleep_for(300ms);  // into the blocking call, or into the pause
    EXPECT_LT(timedStop(t), 1.0);
    ASSERT_FALSE(states.reports().empty());
    EXPECT_EQ(states.reports().back().state, State::Idle);
    if (emulator) {
      EXPECT_LT(timedStop(*emulator), 2.0);
    }
  }
}

}  // namespace
