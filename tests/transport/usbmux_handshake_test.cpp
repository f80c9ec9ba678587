// The transport against the emulated Apple Mobile Device Service: how the service is reached,
// the ListDevices and Connect exchanges, every failure row with its exact lines, malformed and
// stalled replies, and the retries that follow each. Then the whole road through a USB tunnel
// (phone simulator, emulated service, transport and stream controller, over TCP and over the
// named pipe), and stop, which must come back promptly in every state the worker can be in.
#include "transport/usbmux_transport_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "receiver/stream_controller.h"
#include "support/frame_record.h"
#include "support/log_capture.h"
#include "support/loopback_server_win.h"
#include "support/stream_bytes.h"
#include "support/wait.h"
#include "transport/usbmux_protocol.h"
#include "tools/phone_sim/phone_simulator.h"
#include "usbmux_test_support.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Bytes;
using usbmuxemu::EmulatorOptions;
using usbmuxemu::Fault;
using usbmuxemu::Via;
using usbmuxtest::Clock;
using usbmuxtest::secondsBetween;
using usbmuxtest::servedWith;
using usbmuxtest::startEmulator;
using usbmuxtest::State;
using usbmuxtest::timedStop;

const char* const kClip = BRINDLE_CLIP_DIR "/clip_1280x720.264";

const std::string kTcpRefused = "[UsbMux] TCP 27015 connect failed WSA=10061\n";
const std::string kViaTcp = "[UsbMux] connected via TCP 127.0.0.1:27015\n";
const std::string kViaPipe = "[UsbMux] connected via named pipe iTunes_USBMuxService\n";
const std::string kEmptyList = "[UsbMux] empty response to ListDevices\n";

std::string countLine(std::size_t ids, std::size_t bytes) {
  return "[UsbMux] ListDevices → " + std::to_string(ids) + " device(s)  (resp " + std::to_string(bytes) + " bytes)\n";
}

std::string rejectedLine(int number, const std::string& answer) {
  return "[UsbMux] Connect rejected, Number=" + std::to_string(number) + "  resp head: " + answer.substr(0, 200) + "\n";
}

std::string headLine(const std::string& reply) { return "[UsbMux] response head: " + reply.substr(0, 200) + "\n"; }

class UsbMuxHandshakeTest : public ::testing::Test {
 protected:
  UsbMuxHandshakeTest() { testsupport::startWinsock(); }

  std::vector<std::string> lines() const { return log.linesStartingWith("[UsbMux]"); }

  // Runs a transport until `n` lines starting with `prefix` were logged, then stops it.
  void runUntil(transport::UsbMuxTransport& t, const std::string& prefix, std::size_t n,
                std::chrono::milliseconds timeout = 8000ms) {
    ASSERT_TRUE(t.start(states));
    EXPECT_TRUE(log.waitForCount(prefix, n, timeout)) << "waiting for " << n << " x " << prefix;
    EXPECT_LT(timedStop(t), 1.0);
  }

  // Starts `t`, its states recorded, and returns the tunnel's end at the phone once `t` reports
  // Connected; INVALID_SOCKET when it does not get there.
  SOCKET tunnelAtPhone(transport::UsbMuxTransport& t, testsupport::LoopbackServer& phone) {
    if (!t.start(states)) return INVALID_SOCKET;
    SOCKET s = phone.accept(5000ms);
    if (s != INVALID_SOCKET && !states.waitFor(State::Connected, 1, 5000ms)) {
      closesocket(s);
      s = INVALID_SOCKET;
    }
    return s;
  }
  // What `t` sends arrives whole at the phone's end `s`.
  void expectSentUp(transport::UsbMuxTransport& t, SOCKET s, const Bytes& up) {
    std::thread reader([&] { EXPECT_EQ(testsupport::receiveUpTo(s, up.size(), 5000ms), up); });
    EXPECT_TRUE(t.send(up));
    reader.join();
  }

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

    testsupport::FrameRecorder arrived;
    receiver::StreamController controller(arrived);
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
    const std::vector<State> states = arrived.states();
    ASSERT_GE(states.size(), 2u);
    EXPECT_EQ(states[0], State::Listening);
    EXPECT_EQ(states[1], State::Connected);
  }

  testsupport::LogCapture log;
  usbmuxtest::StateRecorder states;
};

TEST_F(UsbMuxHandshakeTest, UnreachableServiceLogsBothWaysEveryAttemptAndKeepsListening) {
  transport::UsbMuxTransport t(5555);
  runUntil(t, "[UsbMux] could NOT reach", 2);
  const std::vector<std::string> attempt = {
      kTcpRefused, "[UsbMux] named pipe open failed err=2\n",
      "[UsbMux] could NOT reach Apple Mobile Device Service (neither TCP 27015 nor named pipe). Is iTunes / "
      "\"Apple Mobile Device Support\" installed and running?\n"};
  std::vector<std::string> got = lines();
  ASSERT_EQ(got.size() % 3, 0u);
  ASSERT_GE(got.size(), 6u);
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], attempt[i % 3]);

  std::vector<usbmuxtest::StateRecorder::Report> r = states.reports();
  ASSERT_GE(r.size(), 3u);
  for (std::size_t i = 0; i + 1 < r.size(); ++i) EXPECT_EQ(r[i].state, State::Listening);
  EXPECT_EQ(r.back().state, State::Idle);
  EXPECT_GE(secondsBetween(r[0].at, r[1].at), 1.4) << "the pause between attempts";
  EXPECT_LT(secondsBetween(r[0].at, r[1].at), 3.0);
}

// With the service on TCP the pipe is never tried; the tunnel carries bytes both ways, and its
// end is logged and followed by a new attempt.
TEST_F(UsbMuxHandshakeTest, TcpServiceIsPreferredAndItsTunnelCarriesBothWays) {
  testsupport::LoopbackServer phone;
  auto emulator = startEmulator(servedWith({7}, true, true));
  ASSERT_TRUE(emulator);

  transport::UsbMuxTransport t(phone.port());
  EXPECT_FALSE(t.send(Bytes{1})) << "no tunnel yet";
  SOCKET s = tunnelAtPhone(t, phone);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_TRUE(t.send(Bytes{}));
  expectSentUp(t, s, testsupport::patternPayload(200000, 3));
  Bytes down = testsupport::patternPayload(100000, 9);
  ASSERT_TRUE(testsupport::sendAll(s, down));
  EXPECT_TRUE(testsupport::waitUntil([&] { return states.byteCount() >= down.size(); }, 5000ms));
  phone.closeListener();  // the phone app goes away: later Connects are refused
  closesocket(s);
  ASSERT_TRUE(log.waitForCount("[UsbMux] recv ended", 1, 5000ms));
  auto endedAt = Clock::now();
  ASSERT_TRUE(states.waitFor(State::Idle, 1, 14000ms)) << "attempts more than 8 s after the last byte";
  t.stop();
  emulator->stop();

  EXPECT_EQ(states.bytes(), down);
  const Clock::time_point lastByte = states.lastByte();
  EXPECT_EQ(emulator->connections(Via::Pipe), 0);
  std::vector<std::string> got = lines();
  ASSERT_GE(got.size(), 5u);
  std::size_t listBytes = usbmuxemu::deviceListPlist({7}).size();
  EXPECT_EQ(got[0], kViaTcp);
  EXPECT_EQ(got[1], countLine(2, listBytes)) << "the service names each phone twice";
  EXPECT_EQ(got[2], kViaTcp);
  EXPECT_EQ(got[3], "[UsbMux] tunnel open to device 7 port " + std::to_string(phone.port()) + "\n");
  EXPECT_EQ(got[4], "[UsbMux] recv ended n=0 WSA=0 — will reconnect\n");
  for (const std::string& line : got) EXPECT_EQ(line.find("named pipe"), std::string::npos) << line;

  std::vector<usbmuxemu::MuxRequest> requests = emulator->requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0].messageType, "ListDevices");
  EXPECT_EQ(requests[0].tag, 1u);
  EXPECT_EQ(requests[0].text, transport::listDevicesRequest());
  EXPECT_EQ(requests[1].messageType, "Connect");
  EXPECT_EQ(requests[1].tag, 2u);
  EXPECT_EQ(requests[1].deviceId, 7u);
  EXPECT_EQ(requests[1].portNumber, transport::swapPortBytes(phone.port()));

  std::vector<usbmuxtest::StateRecorder::Report> r = states.reports();
  ASSERT_GE(r.size(), 3u);
  EXPECT_EQ(r[0].state, State::Listening);
  EXPECT_EQ(r[1].state, State::Connected);
  EXPECT_GE(secondsBetween(endedAt, r[2].at), 1.3);
  for (std::size_t i = 2; i + 2 < r.size(); ++i) {
    EXPECT_EQ(r[i].state, State::Listening);
    EXPECT_LE(secondsBetween(lastByte, r[i].at), 8.1);
  }
  EXPECT_EQ(r[r.size() - 2].state, State::Idle);
  EXPECT_GT(secondsBetween(lastByte, r[r.size() - 2].at), 8.0);
  EXPECT_GE(log.count("[UsbMux] Connect rejected, Number=3"), r.size() - 4) << "each attempt after it";
}

// TCP refused, the pipe served: each attempt logs the TCP failure once per connection and runs
// both connections over the pipe; the pipe tunnel carries bytes both ways.
TEST_F(UsbMuxHandshakeTest, PipeCarriesBothConnectionsWhenTcpIsRefused) {
  testsupport::LoopbackServer phone;
  auto emulator = startEmulator(servedWith({21}, false, true));
  ASSERT_TRUE(emulator);

  transport::UsbMuxTransport t(phone.port());
  SOCKET s = tunnelAtPhone(t, phone);
  ASSERT_NE(s, INVALID_SOCKET);
  expectSentUp(t, s, testsupport::patternPayload(150000, 5));  // WriteFile on the pipe tunnel
  ASSERT_TRUE(testsupport::sendAll(s, testsupport::patternPayload(90000, 1)));
  EXPECT_TRUE(testsupport::waitUntil([&] { return states.byteCount() == 90000u; }, 5000ms));
  closesocket(s);
  ASSERT_TRUE(log.waitForCount("[UsbMux] pipe read ended", 1, 5000ms));
  t.stop();
  emulator->stop();

  EXPECT_EQ(emulator->connections(Via::Pipe), 2);
  std::vector<std::string> got = lines();
  ASSERT_GE(got.size(), 7u);
  EXPECT_EQ(got[0], kTcpRefused);
  EXPECT_EQ(got[1], kViaPipe);
  EXPECT_EQ(got[2], countLine(2, usbmuxemu::deviceListPlist({21}).size()));
  EXPECT_EQ(got[3], kTcpRefused);
  EXPECT_EQ(got[4], kViaPipe);
  EXPECT_EQ(got[5], "[UsbMux] tunnel open to device 21 port " + std::to_string(phone.port()) + "\n");
  EXPECT_EQ(got[6], "[UsbMux] pipe read ended ok=0 got=0 — will reconnect\n");
}

// Several phones attached: Connect goes to the first listed; its rejection is logged and retried.
TEST_F(UsbMuxHandshakeTest, RejectedConnectToTheFirstPhoneIsLoggedWithItsNumberAndRetriedAfterThePause) {
  EmulatorOptions options = servedWith({40, 12, 3}, true, false);
  options.rejectWith = 3;
  auto emulator = startEmulator(options);
  ASSERT_TRUE(emulator);
  transport::UsbMuxTransport t(5555);
  runUntil(t, "[UsbMux] Connect rejected", 2);
  emulator->stop();

  std::vector<usbmuxemu::MuxRequest> requests = emulator->requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[1].deviceId, 40u);
  EXPECT_EQ(requests[1].portNumber, 45845u) << "port 5555 with its bytes swapped";
  const std::string rejected = rejectedLine(3, usbmuxemu::resultPlist(3));
  std::vector<std::string> got = lines();
  ASSERT_GE(got.size(), 8u);
  for (std::size_t i = 0; i < 8; i += 4) {
    EXPECT_EQ(got[i], kViaTcp);
    EXPECT_EQ(got[i + 1], countLine(6, usbmuxemu::deviceListPlist({40, 12, 3}).size()));
    EXPECT_EQ(got[i + 2], kViaTcp);
    EXPECT_EQ(got[i + 3], rejected);
  }
  std::vector<usbmuxtest::StateRecorder::Report> r = states.reports();
  ASSERT_GE(r.size(), 3u);
  EXPECT_EQ(r[1].state, State::Listening);
  EXPECT_GE(secondsBetween(r[0].at, r[1].at), 1.4);
  EXPECT_LT(secondsBetween(r[0].at, r[1].at), 3.0);
  EXPECT_EQ(emulator->connections(Via::Tcp), int(2 * (r.size() - 1)));
}

// Answers the transport cannot use: the Connect result without a number, or no result at all,
// and ListDevices replies with nothing usable in them. Each is logged and retried.
TEST_F(UsbMuxHandshakeTest, UnusableAnswersAreLoggedAndRetried) {
  struct Case {
    const char* name;
    EmulatorOptions options;
    std::string prefix;    // the line that ends an attempt
    std::string expected;  // that line in full
  };
  std::vector<Case> cases;
  {
    EmulatorOptions o;
    o.connectFault = Fault::NoNumber;
    cases.push_back({"no Number", o, "[UsbMux] Connect rejected", rejectedLine(-1, usbmuxemu::resultPlist({}))});
    o.connectFault = Fault::CloseEarly;
    cases.push_back({"Connect unanswered", o, "[UsbMux] Connect rejected", rejectedLine(-1, "")});
    o.connectFault = Fault::BogusLength;
    o.bogusLength = 16777217;
    cases.push_back({"Connect answer too long", o, "[UsbMux] Connect rejected", rejectedLine(-1, "")});
  }
  {
    EmulatorOptions o;
    o.listFault = Fault::CloseEarly;
    cases.push_back({"ListDevices unanswered", o, kEmptyList, kEmptyList});
    o.listFault = Fault::BogusLength;
    for (std::uint32_t length : {15u, 16u, 16777217u, 0u, 0xFFFFFFFFu}) {
      o.bogusLength = length;
      cases.push_back({"ListDevices length", o, kEmptyList, kEmptyList});
    }
  }
  const std::string nonNumeric =
      "<plist><dict><key>DeviceList</key><array><dict><key>DeviceID</key><integer>abc</integer>"
      "<key>DeviceID</key><integer>-4</integer></dict></array></dict></plist>";
  const std::string tooLarge = "<key>DeviceID</key><integer>4294967296</integer>";
  const std::string unclosed = "<key>DeviceID</key><integer>5";
  for (const std::string& reply : {std::string(nonNumeric), tooLarge, unclosed}) {
    EmulatorOptions o;
    o.listReply = reply;
    cases.push_back({"ListDevices without identifiers", o, "[UsbMux] response head", headLine(reply)});
  }
  {
    EmulatorOptions o;
    o.deviceIds = {};
    std::string none = usbmuxemu::deviceListPlist({});
    cases.push_back({"no phone", o, "[UsbMux] response head", headLine(none)});
  }

  for (Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ", length " + std::to_string(c.options.bogusLength));
    log.clear();
    auto emulator = startEmulator(c.options);
    ASSERT_TRUE(emulator);
    transport::UsbMuxTransport t(5555);
    runUntil(t, c.prefix, 2, 6000ms);
    emulator->stop();
    std::vector<std::string> ends = log.linesStartingWith(c.prefix);
    ASSERT_GE(ends.size(), 2u);
    EXPECT_EQ(ends[0], c.expected);
    EXPECT_EQ(ends[1], c.expected);
    if (c.prefix == "[UsbMux] response head") {
      EXPECT_EQ(log.count("[UsbMux] ListDevices → 0 device(s)"), ends.size());
    }
  }
}

// A service that sends half a header and then nothing: stop must not wait for it, over TCP or
// the pipe, whether it stalls on ListDevices or on Connect.
TEST_F(UsbMuxHandshakeTest, StopEndsAHandshakeStalledOnHalfAHeader) {
  for (bool pipe : {false, true}) {
    for (bool onConnect : {false, true}) {
      SCOPED_TRACE(std::string(pipe ? "pipe" : "tcp") + (onConnect ? ", Connect" : ", ListDevices"));
      log.clear();
      EmulatorOptions o;
      o.tcp = !pipe;
      o.pipe = pipe;
      (onConnect ? o.connectFault : o.listFault) = Fault::HalfHeaderStall;
      auto emulator = startEmulator(o);
      ASSERT_TRUE(emulator);
      transport::UsbMuxTransport t(5555);
      ASSERT_TRUE(t.start(states));
      ASSERT_TRUE(log.waitForCount(onConnect ? "[UsbMux] ListDevices" : pipe ? kViaPipe : kViaTcp, 1, 5000ms));
      std::this_thread::sleep_for(300ms);  // the worker is now waiting for the rest
      EXPECT_FALSE(t.send(Bytes{1})) << "a handshake is no tunnel";
      EXPECT_LT(timedStop(t), 1.0);
      EXPECT_EQ(log.count(onConnect ? "[UsbMux] Connect rejected, Number=-1" : kEmptyList), 1u);
      EXPECT_LT(timedStop(*emulator), 2.0);
    }
  }
}

TEST_F(UsbMuxHandshakeTest, EmulatorRefusesAServicePortAlreadyTaken) {
  auto first = startEmulator(EmulatorOptions{});
  ASSERT_TRUE(first);
  usbmuxemu::UsbMuxEmulator second(EmulatorOptions{});
  EXPECT_FALSE(second.start());
  EXPECT_NE(second.error().find("27015"), std::string::npos) << second.error();
  EmulatorOptions pipeOnly;
  pipeOnly.tcp = false;
  pipeOnly.pipe = true;
  auto pipeServer = startEmulator(pipeOnly);
  ASSERT_TRUE(pipeServer);
  usbmuxemu::UsbMuxEmulator secondPipe(pipeOnly);
  EXPECT_FALSE(secondPipe.start()) << "the pipe name is taken";
}

TEST_F(UsbMuxHandshakeTest, WholeStreamOverTcpToThePhonesPort) {
  streamThroughTunnel(false, 5555);
  EXPECT_EQ(log.count("[UsbMux] connected via TCP 127.0.0.1:27015\n"), 2u);
}

TEST_F(UsbMuxHandshakeTest, WholeStreamOverThePipe) {
  streamThroughTunnel(true, 0);
  EXPECT_EQ(log.count("[UsbMux] connected via named pipe iTunes_USBMuxService\n"), 2u);
}

// Stop during a connect to a service that does not answer, during the handshake, with the
// tunnel blocked in recv or in a pipe read, and during the pause: each comes back well within a
// second and the worker's last report is Idle.
TEST_F(UsbMuxHandshakeTest, StopReturnsPromptlyInEveryState) {
  struct Case {
    const char* name;
    bool pipe;
    bool service;
    Fault listFault;
    std::string waitFor;  // empty: the connect to the service hangs, nothing is logged
  };
  const Case cases[] = {
      {"connect to a silent service", false, false, Fault::None, ""},
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
    std::unique_ptr<testsupport::FullListener> silentService;
    if (c.waitFor.empty()) {
      silentService = std::make_unique<testsupport::FullListener>(transport::kMuxTcpPort);
      ASSERT_TRUE(silentService->full());
    }
    std::unique_ptr<usbmuxemu::UsbMuxEmulator> emulator;
    if (c.service) {
      EmulatorOptions eo = usbmuxtest::servedWith({1}, !c.pipe, c.pipe);
      eo.listFault = c.listFault;
      emulator = startEmulator(eo);
      ASSERT_TRUE(emulator);
    }
    transport::UsbMuxTransport t(phone.port());
    usbmuxtest::StateRecorder recorded;
    ASSERT_TRUE(t.start(recorded));
    if (!c.waitFor.empty()) {
      ASSERT_TRUE(log.waitForCount(c.waitFor, 1, 5000ms));
    }
    std::this_thread::sleep_for(300ms);  // into the blocking call, or into the pause
    const double took = timedStop(t);
    EXPECT_LT(took, 1.0);
    std::printf("stop returned in %.1f ms: %s\n", took * 1000, c.name);
    ASSERT_FALSE(recorded.reports().empty());
    EXPECT_EQ(recorded.reports().back().state, State::Idle);
    if (silentService) {
      EXPECT_EQ(log.count("[UsbMux]"), 0u) << "a connect cut short by stop is no failure";
    }
    if (emulator) {
      EXPECT_LT(timedStop(*emulator), 2.0);
    }
  }
}

}  // namespace
