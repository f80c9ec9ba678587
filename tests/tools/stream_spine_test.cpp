// The stream spine end to end on real loopback sockets: the phone simulator on a thread,
// transport::WifiTransport and receiver::StreamController on the other side.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "receiver/protocol.h"
#include "receiver/stream_controller.h"
#include "support/frame_record.h"
#include "support/log_capture.h"
#include "support/wait.h"
#include "tools/phone_sim/phone_simulator.h"
#include "transport/wifi_transport_win.h"

namespace {

using namespace std::chrono_literals;
using phonesim::ConnectionRecord;
using phonesim::PhoneSimulator;
using phonesim::SentFrame;
using phonesim::SimulatorOptions;

using Received = testsupport::ArrivedFrame;

const std::vector<std::uint8_t> kHello(receiver::kClientHello, receiver::kClientHello + sizeof receiver::kClientHello);

class StreamSpineTest : public ::testing::Test {
 protected:
  void start(SimulatorOptions options, const char* clip = BRINDLE_CLIP_DIR "/clip_1920x1080.264") {
    options.port = 0;
    options.clipPath = clip;
    sim = std::make_unique<PhoneSimulator>(options);
    ASSERT_TRUE(sim->start()) << options.clipPath;
    controller.start(std::make_unique<transport::WifiTransport>("127.0.0.1", sim->port()));
  }

  void TearDown() override {
    controller.stop();
    if (sim) sim->stop();
  }

  std::vector<Received> arrived() { return received.frames(); }
  std::vector<ConnectionRecord> connections() { return sim->connections(); }
  // Streaming on the first connection is over and every frame of it has been handed on.
  bool firstConnectionDelivered() {
    auto c = connections();
    return !c.empty() && c[0].streamDone && arrived().size() == c[0].frames.size();
  }

  // One connection streamed completely within `limit`: everything counted, the client hello
  // exactly once.
  void expectOneCleanConnection(std::uint64_t videoFrames, std::uint64_t keyFrames, std::chrono::seconds limit) {
    ASSERT_TRUE(testsupport::waitUntil([&] { return firstConnectionDelivered(); }, limit));
    controller.stop();
    // The simulator reads the client's bytes up to its close; then its record is final.
    EXPECT_TRUE(testsupport::waitUntil([&] { return connections()[0].closed; }, 5s));
    sim->stop();
    auto c = connections();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].videoFrames, videoFrames);
    EXPECT_EQ(c[0].keyFrames, keyFrames);
    testsupport::expectArrivedAsSent(arrived(), c[0].frames);
    receiver::StreamController::Stats stats = controller.stats();
    EXPECT_EQ(stats.frames, c[0].frames.size());
    EXPECT_EQ(stats.keys, keyFrames);
    EXPECT_EQ(stats.bytes, c[0].bytesSent);
    EXPECT_EQ(c[0].clientByteCount, 16u);
    EXPECT_EQ(c[0].clientBytes, kHello);
    EXPECT_EQ(log.count("[StreamController] CHLO sent (ok)"), 1u);
  }

  testsupport::LogCapture log;
  std::unique_ptr<PhoneSimulator> sim;
  testsupport::FrameRecorder received;
  receiver::StreamController controller{received};
};

TEST_F(StreamSpineTest, EveryFrameArrivesAsSentAndTheClientHelloOnce) {
  SimulatorOptions o;
  o.maxFrames = 45;  // 1.5 s at the clip's 30 fps, key frames at 0 and 30
  start(o);
  ASSERT_TRUE(testsupport::waitUntil([&] { return firstConnectionDelivered(); }, 20s));
  std::vector<Received> got = arrived();
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[0].type, 0x10);
  EXPECT_EQ(got[1].type, 0x30);
  // Tone frames every 10 ms up to the last picture at 44/30 s.
  EXPECT_EQ(std::count_if(got.begin(), got.end(), [](const Received& r) { return r.type == 0x31; }), 147);
  expectOneCleanConnection(45, 2, 1s);
}

TEST_F(StreamSpineTest, SevenBytePiecesReassembleIntoTheSameFrames) {
  SimulatorOptions o;
  o.maxFrames = 8;
  o.chunk = 7;  // every header and hello split across pieces
  start(o, BRINDLE_CLIP_DIR "/clip_1280x720.264");
  expectOneCleanConnection(8, 1, 30s);
}

TEST_F(StreamSpineTest, GarbageInAChunkOfItsOwnIsDroppedAndTheHelloStillCounts) {
  SimulatorOptions o;
  o.maxFrames = 8;
  o.garbage = 13;  // sent alone, then a pause: the receiver drops that chunk whole
  o.garbagePauseMs = 500;
  start(o, BRINDLE_CLIP_DIR "/clip_1080x1920.264");
  expectOneCleanConnection(8, 1, 20s);
}

TEST_F(StreamSpineTest, GarbageJoinedToTheHelloLosesTheWholeConnection) {
  // Fewer than 8 garbage bytes always end up in the same 8-byte hello check as the start of the
  // hello, however the bytes are cut: the receiver drops them, and with them the only hello of
  // the connection, so nothing on it is parsed and no client hello is sent.
  SimulatorOptions o;
  o.maxFrames = 8;
  o.garbage = 5;
  start(o);
  ASSERT_TRUE(testsupport::waitUntil(
      [&] {
        auto c = connections();
        return !c.empty() && c[0].streamDone && controller.stats().bytes == c[0].bytesSent;
      },
      20s));
  EXPECT_EQ(controller.stats().frames, 0u);
  EXPECT_TRUE(arrived().empty());
  EXPECT_EQ(connections()[0].clientByteCount, 0u);
  EXPECT_EQ(log.count("[StreamController] CHLO sent"), 0u);
}

TEST_F(StreamSpineTest, ACutConnectionResumesWithAFreshHelloAfterReconnecting) {
  SimulatorOptions o;
  o.closeAfter = 6000;  // inside the first tone frame, after the first picture
  start(o);
  ASSERT_TRUE(testsupport::waitUntil([&] { auto c = connections(); return c.size() >= 2 && c[1].closed; }, 20s));
  // Everything written before each cut arrives; the frame being cut does not.
  std::vector<ConnectionRecord> records = connections();
  std::vector<SentFrame> expected;
  for (int i = 0; i < 2; ++i) {
    for (const SentFrame& f : records[i].frames) {
      if (f.complete) expected.push_back(f);
    }
  }
  ASSERT_TRUE(testsupport::waitUntil([&] { return arrived().size() >= expected.size(); }, 10s));
  controller.stop();
  std::vector<Received> got = arrived();
  got.resize(expected.size());  // a third connection may have begun meanwhile
  testsupport::expectArrivedAsSent(got, expected);
  records = connections();
  for (int i = 0; i < 2; ++i) {
    const ConnectionRecord& c = records[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(c.bytesSent, 6000u);
    EXPECT_FALSE(c.frames.back().complete);
    EXPECT_EQ(c.clientBytes, kHello) << "one client hello per connection";
  }
  EXPECT_GE(log.count("[StreamController] CHLO sent (ok)"), 2u);
}

}  // namespace
