#include "transport/wifi_transport_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "receiver/protocol.h"
#include "receiver/stream_controller.h"
#include "support/log_capture.h"
#include "support/loopback_server_win.h"
#include "support/state_recorder.h"
#include "support/stream_bytes.h"
#include "support/wait.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Bytes;
using testsupport::Clock;
using testsupport::operator+;
using testsupport::secondsBetween;
using testsupport::StateRecorder;
using transport::State;

class WifiTransportTest : public ::testing::Test {
 protected:
  WifiTransportTest() { testsupport::startWinsock(); }
  testsupport::LogCapture log;
  StateRecorder states;
};

TEST_F(WifiTransportTest, RefusedPortRetriesEveryOneAndAHalfSecondsWithListeningBeforeEachAttempt) {
  std::uint16_t port = testsupport::refusedPort();
  transport::WifiTransport t("127.0.0.1", port);
  ASSERT_TRUE(t.start(states));
  ASSERT_TRUE(states.waitFor(State::Listening, 3, 8000ms));
  ASSERT_TRUE(log.waitForCount("[WifiTransport] connect() failed", 3, 3000ms));
  std::this_thread::sleep_for(200ms);  // inside the third pause
  auto before = Clock::now();
  t.stop();
  EXPECT_LT(secondsBetween(before, Clock::now()), 0.75) << "stop during a pause waits at most one 100 ms step";

  std::vector<StateRecorder::Report> r = states.reports();
  ASSERT_GE(r.size(), 4u);
  for (std::size_t i = 0; i + 1 < r.size(); ++i) EXPECT_EQ(r[i].state, State::Listening);
  EXPECT_EQ(r.back().state, State::Idle);  // the worker's last word
  for (std::size_t i = 1; i + 1 < r.size(); ++i) {
    double gap = secondsBetween(r[i - 1].at, r[i].at);
    EXPECT_GE(gap, 1.4);
    EXPECT_LT(gap, 3.0);
  }
  std::string attempt = "[WifiTransport] connect attempt to 127.0.0.1:" + std::to_string(port) + "\n";
  std::vector<std::string> lines = log.linesStartingWith("[WifiTransport]");
  ASSERT_EQ(lines.size(), 2 * (r.size() - 1));
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    EXPECT_EQ(lines[i], attempt);
    EXPECT_EQ(lines[i + 1], "[WifiTransport] connect() failed WSA=10061\n");
  }
}

TEST_F(WifiTransportTest, PeerThatClosesAtOnceIsRetriedAfterThePause) {
  testsupport::LoopbackServer server;
  transport::WifiTransport t("127.0.0.1", server.port());
  ASSERT_TRUE(t.start(states));
  SOCKET s = server.accept(5000ms);
  ASSERT_NE(s, INVALID_SOCKET);
  closesocket(s);
  ASSERT_TRUE(log.waitForCount("[WifiTransport] recv returned", 1, 5000ms));
  auto closedAt = Clock::now();
  ASSERT_TRUE(states.waitFor(State::Listening, 2, 5000ms));
  t.stop();

  std::vector<StateRecorder::Report> r = states.reports();
  ASSERT_GE(r.size(), 3u);
  EXPECT_EQ(r[0].state, State::Listening);
  EXPECT_EQ(r[1].state, State::Connected);
  EXPECT_EQ(r[2].state, State::Listening);
  EXPECT_GE(secondsBetween(closedAt, r[2].at), 1.3);
  // The second attempt may already have connected again before stop.
  std::vector<std::string> lines = log.linesStartingWith("[WifiTransport]");
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "[WifiTransport] TCP connected\n");
  EXPECT_EQ(lines[2],
            "[WifiTransport] recv returned 0 WSA=0 total=0 — will reconnect\n");
}

TEST_F(WifiTransportTest, AttemptsMoreThanEightSecondsAfterTheLastByteReportIdle) {
  auto server = std::make_unique<testsupport::LoopbackServer>();
  std::uint16_t port = server->port();
  transport::WifiTransport t("127.0.0.1", port);
  ASSERT_TRUE(t.start(states));
  SOCKET s = server->accept(5000ms);
  ASSERT_NE(s, INVALID_SOCKET);
  ASSERT_TRUE(testsupport::sendAll(s, {1, 2, 3}));
  ASSERT_TRUE(log.waitForCount("[WifiTransport] recv #0  3 bytes", 1, 5000ms));
  closesocket(s);
  server.reset();  // further attempts are refused
  ASSERT_TRUE(states.waitFor(State::Idle, 1, 14000ms));

  std::vector<StateRecorder::Report> r = states.reports();
  const Clock::time_point lastByte = states.lastByte();
  ASSERT_GE(r.size(), 4u);
  EXPECT_EQ(r[1].state, State::Connected);
  for (std::size_t i = 2; i + 1 < r.size(); ++i) {
    EXPECT_EQ(r[i].state, State::Listening);
    EXPECT_LE(secondsBetween(lastByte, r[i].at), 8.1);
  }
  EXPECT_EQ(r.back().state, State::Idle);
  EXPECT_GT(secondsBetween(lastByte, r.back().at), 8.0);

  // The worker keeps trying; a phone that comes back is connected again.
  testsupport::LoopbackServer again;
  transport::WifiTransport second("127.0.0.1", again.port());
  StateRecorder secondStates;
  ASSERT_TRUE(second.start(secondStates));
  ASSERT_TRUE(secondStates.waitFor(State::Connected, 1, 5000ms));
  second.stop();
  t.stop();
}

// A peer that does not answer (a full accept queue leaves connects hanging): each connect gives
// up after its time-out and is tried again, and stop during one returns at once; so does stop
// while connected to a peer that never sends.
TEST_F(WifiTransportTest, StopNeverWaitsForASilentPeer) {
  testsupport::FullListener silent;
  ASSERT_TRUE(silent.full());
  transport::WifiTransport hanging("127.0.0.1", silent.port());
  ASSERT_TRUE(hanging.start(states));
  EXPECT_FALSE(hanging.start(states)) << "a second start leaves the one worker";
  ASSERT_TRUE(log.waitForCount("[WifiTransport] connect() failed WSA=10060", 1, 9000ms));
  ASSERT_TRUE(log.waitForCount("[WifiTransport] connect attempt", 2, 3000ms));
  std::this_thread::sleep_for(300ms);  // inside the second connect
  auto before = Clock::now();
  hanging.stop();
  const double duringConnect = secondsBetween(before, Clock::now());
  EXPECT_LT(duringConnect, 1.0);
  EXPECT_EQ(states.reports().back().state, State::Idle);
  EXPECT_EQ(log.count("[WifiTransport] connect() failed"), 1u) << "a connect cut short by stop is no failure";

  testsupport::LoopbackServer server;
  transport::WifiTransport silentPeer("127.0.0.1", server.port());
  StateRecorder connected;
  ASSERT_TRUE(silentPeer.start(connected));
  SOCKET s = server.accept(5000ms);
  ASSERT_NE(s, INVALID_SOCKET);
  ASSERT_TRUE(connected.waitFor(State::Connected, 1, 5000ms));
  std::this_thread::sleep_for(300ms);  // blocked in recv
  before = Clock::now();
  silentPeer.stop();
  const double duringRecv = secondsBetween(before, Clock::now());
  EXPECT_LT(duringRecv, 1.0);
  EXPECT_EQ(connected.reports().back().state, State::Idle);
  silentPeer.stop();  // a second stop does nothing
  closesocket(s);
  std::printf("stop returned in %.1f ms during a hanging connect, %.1f ms while connected to a silent peer\n",
              duringConnect * 1000, duringRecv * 1000);
}

TEST_F(WifiTransportTest, SendWritesEverythingOnlyWhileConnected) {
  testsupport::LoopbackServer server;
  transport::WifiTransport t("127.0.0.1", server.port());
  Bytes hello(receiver::kClientHello, receiver::kClientHello + 16);
  EXPECT_FALSE(t.send(hello)) << "not connected";
  t.stop();  // never started: returns at once

  ASSERT_TRUE(t.start(states));
  SOCKET s = server.accept(5000ms);
  ASSERT_NE(s, INVALID_SOCKET);
  ASSERT_TRUE(states.waitFor(State::Connected, 1, 5000ms));
  EXPECT_TRUE(t.send({}));  // nothing to write
  Bytes big(300000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = std::uint8_t(i * 31);
  std::thread reader([&] { EXPECT_EQ(testsupport::receiveUpTo(s, 16 + big.size(), 5000ms), hello + big); });
  EXPECT_TRUE(t.send(hello));
  EXPECT_TRUE(t.send(big));
  reader.join();
  t.stop();
  closesocket(s);
}

TEST_F(WifiTransportTest, HostWithoutAnIpv4AddressFailsLikeAnUnresolvableOne) {
  transport::WifiTransport t("::1", 5555);
  ASSERT_TRUE(t.start(states));
  ASSERT_TRUE(log.waitForCount("[WifiTransport] getaddrinfo failed", 1, 5000ms));
  t.stop();
  EXPECT_EQ(log.linesStartingWith("[WifiTransport]"),
            (std::vector<std::string>{"[WifiTransport] connect attempt to ::1:5555\n", "[WifiTransport] getaddrinfo failed\n"}));
  EXPECT_EQ(states.reports().front().state, State::Listening);
}

// The spine over a real socket: hello in pieces, exactly one client hello per connection,
// frames counted, and a fresh hello expected after a reconnect.
TEST_F(WifiTransportTest, StreamControllerAnswersEachConnectionsHelloOnce) {
  testsupport::LoopbackServer server;
  struct Timestamps : receiver::StreamSink {
    void frame(const receiver::Frame& f) override {
      std::lock_guard<std::mutex> lock(mutex);
      seen.push_back(f.timestampUs);
    }
    std::mutex mutex;
    std::vector<std::uint64_t> seen;
  } arrived;
  std::vector<std::uint64_t>& timestamps = arrived.seen;
  receiver::StreamController controller(arrived);
  controller.start(std::make_unique<transport::WifiTransport>("127.0.0.1", server.port()));
  Bytes hello = testsupport::serverHello();
  const Bytes clientHello(receiver::kClientHello, receiver::kClientHello + 16);

  for (int connection = 0; connection < 2; ++connection) {
    SOCKET s = server.accept(5000ms);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_TRUE(testsupport::sendAll(s, Bytes(hello.begin(), hello.begin() + 5)));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(testsupport::sendAll(s, Bytes(hello.begin() + 5, hello.end()) + testsupport::frameBytes(2, 100, {1})));
    EXPECT_EQ(testsupport::receiveUpTo(s, 16, 3000ms), clientHello);
    ASSERT_TRUE(testsupport::sendAll(s, testsupport::frameBytes(1, 200, Bytes(70000, 7))));
    EXPECT_TRUE(testsupport::receiveUpTo(s, 1, 300ms).empty()) << "nothing after the client hello";
    ASSERT_TRUE(testsupport::waitUntil([&] { return controller.stats().frames == std::uint64_t(2 * (connection + 1)); }, 3000ms));
    closesocket(s);
  }
  controller.stop();
  receiver::StreamController::Stats stats = controller.stats();
  EXPECT_EQ(stats.frames, 4u);
  EXPECT_EQ(stats.keys, 2u);
  EXPECT_EQ(stats.bytes, 2 * (8 + 21 + 20 + 70000u));
  EXPECT_EQ(timestamps, (std::vector<std::uint64_t>{100, 200, 100, 200}));
  EXPECT_EQ(log.count("[StreamController] CHLO sent (ok)"), 2u);
}

}  // namespace
