// The stay-live rule on a clock the test sets, then the video thread with a sink the test holds
// back: a backlog is skipped to the newest key frame in one episode, a full queue too, and late
// sound is dropped.
#include "session/live_gate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "common/steady_clock.h"
#include "session/video_worker.h"
#include "support/log_capture.h"
#include "support/wait.h"

namespace {

using namespace std::chrono_literals;
using session::LiveGate;

constexpr std::int64_t kMs = 1000;

TEST(LiveGate, LagCountsFromTheSoonestArrivalNotTheFirst) {
  LiveGate gate;
  gate.arrived(0, 300 * kMs);            // the first frame 300 ms late
  gate.arrived(100 * kMs, 100 * kMs);    // then on time
  EXPECT_TRUE(gate.decodeVideo(100 * kMs, false, false, 340 * kMs));   // 240 ms behind
  EXPECT_FALSE(gate.decodeVideo(200 * kMs, false, false, 460 * kMs));  // 260 ms behind
  EXPECT_EQ(gate.videoSkipped(), 1u);

  gate.newConnection();  // a new phone clock: the old baseline means nothing
  gate.arrived(5'000 * kMs, 900 * kMs);
  EXPECT_TRUE(gate.decodeVideo(5'000 * kMs, false, false, 1'000 * kMs));
}

TEST(LiveGate, ABacklogIsOneEpisodeThatResumesAtTheNewestKeyFrame) {
  testsupport::LogCapture log;
  LiveGate gate;
  gate.arrived(0, 0);
  // Frames 1..9 all 400 ms behind; key frames at 4 (a newer one waits) and 8.
  std::vector<int> decoded;
  for (int i = 1; i <= 9; ++i) {
    const bool key = i == 4 || i == 8;
    if (gate.decodeVideo(std::uint64_t(i) * 10 * kMs, key, i == 4, (i * 10 + 400) * kMs)) decoded.push_back(i);
  }
  // Still late at the newest key frame: measured from there, so frame 9 is on time again.
  EXPECT_EQ(decoded, (std::vector<int>{8, 9}));
  EXPECT_EQ(gate.videoSkipped(), 7u);
  ASSERT_EQ(log.count("[LiveGate] video"), 3u);
  EXPECT_EQ(log.linesStartingWith("[LiveGate] video 400 ms behind: skipping").size(), 1u);
  EXPECT_EQ(log.linesStartingWith("[LiveGate] video resumed at a key frame after 7 frames skipped").size(), 1u);

  // A frame that then arrives on time moves the baseline back: the old lag counts again.
  gate.arrived(100 * kMs, 100 * kMs);
  EXPECT_FALSE(gate.decodeVideo(100 * kMs, false, false, 400 * kMs));

  gate.reset();
  EXPECT_EQ(gate.videoSkipped(), 0u);
}

TEST(LiveGate, LateSoundIsDroppedInOneEpisode) {
  testsupport::LogCapture log;
  LiveGate gate;
  EXPECT_TRUE(gate.playAudio(0, 0));
  EXPECT_TRUE(gate.playAudio(20 * kMs, 270 * kMs));   // 250 ms: still within
  EXPECT_FALSE(gate.playAudio(40 * kMs, 300 * kMs));  // 260 ms
  EXPECT_FALSE(gate.playAudio(60 * kMs, 500 * kMs));
  EXPECT_TRUE(gate.playAudio(80 * kMs, 100 * kMs));
  EXPECT_EQ(gate.audioDropped(), 2u);
  EXPECT_EQ(gate.videoSkipped(), 0u);
  EXPECT_EQ(log.count("[LiveGate] sound 260 ms behind"), 1u);
  EXPECT_EQ(log.count("[LiveGate] sound on time again after 2 frames dropped"), 1u);

  // A phone clock that jumps back leaves sound late for good unless the gate measures afresh.
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(gate.playAudio(100 * kMs, (1'000 + 500 * i) * kMs)) << i;
  EXPECT_TRUE(gate.playAudio(120 * kMs, 3'020 * kMs));
  EXPECT_TRUE(gate.playAudio(140 * kMs, 3'040 * kMs));
  EXPECT_EQ(log.count("[LiveGate] sound 2900 ms behind for 2020 ms of dropping: measuring from here"), 1u);
}

// Decodes on the worker's thread, held back until the test opens it.
struct HeldSink : session::VideoSink {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;
  std::vector<std::uint64_t> decoded;  // timestamps
  std::thread::id thread;
  int begins = 0, ends = 0, skips = 0;

  void threadBegins() override { ++begins; }
  void skipStarts() override { ++skips; }
  void threadEnds() override { ++ends; }
  void decode(const receiver::Frame& frame) override {
    std::unique_lock<std::mutex> lock(mutex);
    opened.wait_for(lock, 5s, [this] { return open; });
    decoded.push_back(frame.timestampUs);
    thread = std::this_thread::get_id();
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
    opened.notify_all();
  }
  std::size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return decoded.size();
  }
};

struct WorkerRig {
  HeldSink sink;
  LiveGate gate;
  session::VideoWorker worker;
  std::uint64_t t0 = std::uint64_t(steadyNowNs() / 1000);

  explicit WorkerRig(session::VideoWorker::Limits limits) : worker(sink, gate, limits) { worker.start(); }
  // Frame `id`, stamped with its time of sending.
  void push(std::uint64_t id, bool key, std::size_t bytes = 1) {
    receiver::Frame f;
    f.type = key ? receiver::kFrameVideoKey : receiver::kFrameVideo;
    const std::uint64_t elapsedMs = (std::uint64_t(steadyNowNs() / 1000) - t0) / 1000;
    f.timestampUs = elapsedMs * 1000 + id;  // the id in the microseconds
    f.payload.assign(bytes, 0);
    worker.push(f);
  }
  std::vector<std::uint64_t> decodedIds() {
    std::lock_guard<std::mutex> lock(sink.mutex);
    std::vector<std::uint64_t> ids;
    for (std::uint64_t t : sink.decoded) ids.push_back(t % 1000);
    return ids;
  }
};

TEST(VideoWorker, ASlowDecoderSkipsTheBacklogToTheNewestKeyFrame) {
  WorkerRig rig({});
  rig.push(100, true);  // held in the sink
  ASSERT_TRUE(testsupport::waitUntil([&] { return rig.worker.queued() == 0; }, 5000ms));
  for (std::uint64_t id : {1, 2, 3}) rig.push(id, false);
  rig.push(4, true);
  rig.push(5, false);
  rig.push(6, true);
  std::this_thread::sleep_for(300ms);  // everything queued is now past the bound
  rig.push(7, false);
  rig.push(8, false);
  rig.sink.release();
  ASSERT_TRUE(testsupport::waitUntil([&] { return rig.sink.count() == 4; }, 5000ms));
  EXPECT_EQ(rig.decodedIds(), (std::vector<std::uint64_t>{100, 6, 7, 8}));
  EXPECT_EQ(rig.gate.videoSkipped(), 5u);
  EXPECT_NE(rig.sink.thread, std::this_thread::get_id());
  rig.worker.stop();
  EXPECT_EQ(rig.sink.begins, 1);
  EXPECT_EQ(rig.sink.ends, 1);
  EXPECT_EQ(rig.sink.skips, 1);  // the decoder gave out what it held once, when skipping began
}

TEST(VideoWorker, AFullQueueIsDroppedUntilTheNextKeyFrame) {
  WorkerRig rig({1000, 3});
  rig.push(100, true);
  ASSERT_TRUE(testsupport::waitUntil([&] { return rig.worker.queued() == 0; }, 5000ms));
  for (std::uint64_t id : {1, 2, 3, 4}) rig.push(id, false);  // 4 overflows: 1..3 go
  EXPECT_EQ(rig.worker.queued(), 1u);
  rig.push(5, false, 2000);  // more bytes than the bound: goes itself
  rig.push(6, true);
  rig.sink.release();
  ASSERT_TRUE(testsupport::waitUntil([&] { return rig.sink.count() == 2; }, 5000ms));
  rig.worker.stop();
  EXPECT_EQ(rig.decodedIds(), (std::vector<std::uint64_t>{100, 6}));
  EXPECT_EQ(rig.gate.videoSkipped(), 5u);
  EXPECT_EQ(rig.sink.skips, 1);
}

}  // namespace
