#include "receiver/stream_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "receiver/protocol.h"
#include "support/fake_transport.h"
#include "support/log_capture.h"
#include "support/stream_bytes.h"
#include "support/wait.h"

namespace {

using testsupport::Bytes;
using testsupport::FakeTransport;
using testsupport::frameBytes;
using testsupport::serverHello;
using testsupport::operator+;
using transport::State;

class StreamControllerTest : public ::testing::Test, protected receiver::StreamSink {
 protected:
  void frame(const receiver::Frame& f) override {
    types.push_back(f.type);
    log.events.push_back("frame");
  }
  void streamState(State s) override { states.push_back(s); }
  void streamStats(const receiver::StreamStats& s) override { snapshots.push_back(s.kbps); }
  void SetUp() override {
    auto t = std::make_unique<FakeTransport>(log);
    fake = t.get();
    controller.start(std::move(t));
  }

  testsupport::LogCapture lines;
  FakeTransport::Log log;
  FakeTransport* fake = nullptr;
  receiver::StreamController controller{static_cast<receiver::StreamSink&>(*this)};
  std::vector<std::uint8_t> types;
  std::vector<State> states;
  std::vector<double> snapshots;  // the rate of each new window
};

const Bytes kClientHello(receiver::kClientHello, receiver::kClientHello + 16);

TEST_F(StreamControllerTest, ClientHelloGoesOutOnceAfterTheFramesOfTheHelloChunk) {
  EXPECT_EQ(log.starts, 1);
  Bytes hello = serverHello();
  fake->deliver(Bytes(hello.begin(), hello.begin() + 5));
  EXPECT_TRUE(log.sent.empty());
  fake->deliver(Bytes(hello.begin() + 5, hello.end()) + frameBytes(1, 1, {1}) + frameBytes(2, 2, {2}));
  ASSERT_EQ(log.sent.size(), 1u);
  EXPECT_EQ(log.sent[0], kClientHello);
  EXPECT_EQ(log.events, (std::vector<std::string>{"frame", "frame", "send"}));
  fake->deliver(frameBytes(1, 3, {3}) + serverHello());  // a second hello is just garbage now
  EXPECT_EQ(log.sent.size(), 1u);
  EXPECT_EQ(lines.linesStartingWith("[StreamController]"),
            (std::vector<std::string>{"[StreamController] CHLO sent (ok)\n"}));
}

TEST_F(StreamControllerTest, FailedClientHelloIsLoggedAndNotRetried) {
  log.sendResult = false;
  fake->deliver(serverHello());
  fake->deliver(frameBytes(1, 1, {}));
  EXPECT_EQ(log.sent.size(), 1u);
  EXPECT_EQ(lines.linesStartingWith("[StreamController]"),
            (std::vector<std::string>{"[StreamController] CHLO sent (FAIL)\n"}));
}

TEST_F(StreamControllerTest, EveryNewConnectionWaitsForItsOwnHello) {
  Bytes hello = serverHello();
  fake->deliver(Bytes(hello.begin(), hello.begin() + 7));
  fake->report(State::Listening);  // connection lost: the partial hello is forgotten
  fake->report(State::Connected);
  fake->deliver(Bytes{'O'} + frameBytes(1, 1, {}));
  EXPECT_TRUE(log.sent.empty());
  fake->deliver(hello + frameBytes(1, 2, {}));
  EXPECT_EQ(log.sent.size(), 1u);
  fake->report(State::Idle);
  fake->report(State::Connected);
  fake->deliver(hello);
  EXPECT_EQ(log.sent.size(), 2u);  // one hello per connection
  EXPECT_EQ(states, (std::vector<State>{State::Listening, State::Connected, State::Idle, State::Connected}));
}

TEST_F(StreamControllerTest, ConnectedReportKeepsAPartialFrame) {
  fake->deliver(serverHello());
  Bytes frame = frameBytes(1, 5, {1, 2, 3});
  fake->deliver(Bytes(frame.begin(), frame.begin() + 12));
  fake->report(State::Connected);
  fake->deliver(Bytes(frame.begin() + 12, frame.end()));
  EXPECT_EQ(types, (std::vector<std::uint8_t>{1}));
}

TEST_F(StreamControllerTest, StatisticsCountEveryFrameKeysAndAllBytes) {
  Bytes stream = serverHello() + frameBytes(1, 0, {1, 2}) + frameBytes(2, 0, {}) + frameBytes(0x10, 0, {'{', '}'}) +
                 frameBytes(0x30, 0, {}) + frameBytes(0x31, 0, Bytes(100)) + frameBytes(2, 0, {7}) + frameBytes(0x77, 0, {});
  fake->deliver(stream);
  receiver::StreamController::Stats s = controller.stats();
  EXPECT_EQ(s.frames, 7u);
  EXPECT_EQ(s.keys, 2u);
  EXPECT_EQ(s.bytes, stream.size());
  EXPECT_EQ(types, (std::vector<std::uint8_t>{1, 2, 0x10, 0x30, 0x31, 2, 0x77}));
}

TEST_F(StreamControllerTest, RateChangesAtMostOncePerSecondAndFallsToZeroWhenTheStreamStalls) {
  Bytes chunk = serverHello() + frameBytes(1, 0, Bytes(992));  // 1,020 bytes
  fake->deliver(chunk);
  EXPECT_EQ(controller.stats().kbps, 0.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  fake->deliver(frameBytes(1, 0, Bytes(1000)));
  EXPECT_EQ(controller.stats().kbps, 0.0);  // window not yet a second old
  std::this_thread::sleep_for(std::chrono::milliseconds(550));
  fake->deliver(frameBytes(1, 0, Bytes(1000)));
  double kbps = controller.stats().kbps;
  // 3,060 bytes over a little more than a second.
  EXPECT_GT(kbps, 3060 * 8.0 / 1000.0 / 2.0);
  EXPECT_LE(kbps, 3060 * 8.0 / 1000.0);
  ASSERT_EQ(snapshots.size(), 1u);
  EXPECT_EQ(snapshots[0], kbps);
  fake->deliver(frameBytes(1, 0, Bytes(10)));  // a fresh window: no new rate yet
  EXPECT_EQ(controller.stats().kbps, kbps);
  EXPECT_TRUE(testsupport::waitUntil([&] { return controller.stats().kbps == 0.0; }, std::chrono::milliseconds(2000)))
      << "a stalled stream shows no rate within 2 s";
  EXPECT_EQ(snapshots.size(), 1u);
}

TEST_F(StreamControllerTest, StopDetachesAndDestroysTheTransport) {
  fake->deliver(serverHello() + frameBytes(2, 0, {}));
  controller.stop();
  EXPECT_EQ(log.stops, 1);
  EXPECT_TRUE(log.destroyed);
  EXPECT_EQ(controller.stats().frames, 1u);  // statistics survive stop
  controller.stop();                         // nothing to stop
  EXPECT_EQ(log.stops, 1);
}

TEST_F(StreamControllerTest, StartWithAnEmptyTransportOnlyStopsTheCurrentOne) {
  fake->deliver(serverHello() + frameBytes(2, 0, {}));
  controller.start(nullptr);
  EXPECT_TRUE(log.destroyed);
  EXPECT_EQ(controller.stats().frames, 1u);
  EXPECT_EQ(controller.stats().keys, 1u);

  FakeTransport::Log second;
  controller.start(std::make_unique<FakeTransport>(second));
  EXPECT_EQ(second.starts, 1);
  EXPECT_EQ(controller.stats().frames, 0u);  // reset only when a transport starts
  EXPECT_EQ(controller.stats().bytes, 0u);
  controller.stop();  // before `second` goes out of scope
}

// The owner detaches while the transport's worker keeps calling. A transport's worker may be in
// the middle of a chunk when stop begins and deliver more before it is joined: stop detaches
// first, so none of that reaches the controller's sink. And nothing races
// (the sanitizers watch).
TEST(StreamControllerDetach, StopWhileAWorkerIsDelivering) {
  struct Watch : receiver::StreamSink {
    void frame(const receiver::Frame&) override { ++frames; }
    std::atomic<int> frames{0};  // counted by the controller's handler
    int framesAtStop = -1;
    int deliveredWhileStopping = 0;
  };
  class ThreadedTransport : public transport::ITransport {
   public:
    explicit ThreadedTransport(Watch& watch) : watch_(watch) {}
    bool start(transport::TransportSink& sink) override {
      running_ = true;
      worker_ = std::thread([this, sink = &sink] {
        Bytes hello = serverHello();
        Bytes frame = frameBytes(1, 0, {1});
        sink->received(std::span<const std::uint8_t>(hello.data(), hello.size()));
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (running_ && std::chrono::steady_clock::now() < end) {
          sink->received(std::span<const std::uint8_t>(frame.data(), frame.size()));
          ++deliveries_;
        }
      });
      return true;
    }
    // Lets the worker go on delivering before it is joined. The second delivery to end after
    // stop began also began after it (one thread), so after the controller detached.
    void stop() override {
      if (!worker_.joinable()) return;
      int begun = deliveries_;
      testsupport::waitUntil([&] { return deliveries_ >= begun + 2; }, std::chrono::seconds(2));
      watch_.framesAtStop = watch_.frames.load();
      int detached = deliveries_;
      testsupport::waitUntil([&] { return deliveries_ >= detached + 50; }, std::chrono::seconds(2));
      watch_.deliveredWhileStopping = deliveries_ - detached;
      running_ = false;
      worker_.join();
    }
    bool send(std::span<const std::uint8_t>) override { return true; }
    ~ThreadedTransport() override { stop(); }

   private:
    Watch& watch_;
    std::atomic<bool> running_{false};
    std::atomic<int> deliveries_{0};
    std::thread worker_;
  };

  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Watch watch;
    receiver::StreamController controller(watch);
    controller.start(std::make_unique<ThreadedTransport>(watch));
    std::this_thread::sleep_for(std::chrono::milliseconds(round % 4));
    controller.stop();
    EXPECT_GE(watch.deliveredWhileStopping, 50) << "the worker kept delivering during stop";
    EXPECT_EQ(watch.frames.load(), watch.framesAtStop) << "a frame reached the handler after stop began";
    EXPECT_EQ(controller.stats().frames, std::uint64_t(watch.frames.load()));
  }
}

}  // namespace
