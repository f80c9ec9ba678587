// The simulator on loopback, read by a plain socket and the receiver's frame parser.
#include "tools/phone_sim/phone_simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "receiver/frame_parser.h"
#include "receiver/protocol.h"
#include "support/frame_record.h"
#include "support/wait.h"
#include "tools/phone_sim/wire_format.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using phonesim::PhoneSimulator;
using phonesim::SentFrame;
using phonesim::SimulatorOptions;
using phonesim::Socket;

const char* const kClip = BRINDLE_CLIP_DIR "/clip_1280x720.264";

Bytes readFile(const std::string& path) {
  Bytes out;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return out;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.insert(out.end(), buffer, buffer + n);
  std::fclose(file);
  return out;
}

using Arrived = receiver::Frame;

// Keeps a copy of every frame a parser cuts.
struct Frames : receiver::StreamSink, std::vector<Arrived> {
  void frame(const receiver::Frame& f) override { push_back(f); }
};

// A receiver in miniature: keeps every byte, parses frames, answers the hello once.
struct Client {
  Socket socket;
  Frames frames;
  receiver::FrameParser parser{frames};
  Bytes raw;
  bool closed = false;

  explicit Client(std::uint16_t port, bool answerHello = true) {
    std::string error;
    socket = Socket::connectTcp("127.0.0.1", port, error);
    EXPECT_TRUE(socket.valid()) << error;
    answer_ = answerHello;
  }

  // Reads until `done` holds, the peer closes, or the (bounded) timeout passes.
  template <class Done>
  bool readUntil(Done done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buffer[65536];
    while (!done()) {
      if (closed || std::chrono::steady_clock::now() >= deadline) return false;
      if (socket.waitReadable(20) != Socket::Wait::Ready) continue;
      long n = socket.receive(buffer, sizeof buffer);
      if (n <= 0) {
        closed = true;
        continue;
      }
      raw.insert(raw.end(), buffer, buffer + n);
      bool had = parser.helloReceived();
      parser.feed(std::span<const std::uint8_t>(buffer, std::size_t(n)));
      if (answer_ && !had && parser.helloReceived()) {
        socket.sendAll(receiver::kClientHello, sizeof receiver::kClientHello);
      }
    }
    return true;
  }

 private:
  bool answer_ = true;
};

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

void expectSameFrames(const std::vector<Arrived>& arrived, const std::vector<SentFrame>& sent) {
  std::vector<testsupport::ArrivedFrame> got;
  for (const Arrived& a : arrived) got.push_back(testsupport::arrivedFrame(a));
  testsupport::expectArrivedAsSent(got, sent);
}

class PhoneSimulatorTest : public ::testing::Test {
 protected:
  void startSimulator(SimulatorOptions options) {
    options.port = 0;
    options.clipPath = options.clipPath.empty() ? kClip : options.clipPath;
    sim = std::make_unique<PhoneSimulator>(options);
    sim->onLog = [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(logMutex);
      log.push_back(line);
    };
    ASSERT_TRUE(sim->start()) << "clip " << options.clipPath;
  }
  std::vector<std::string> logLines() {
    std::lock_guard<std::mutex> lock(logMutex);
    return log;
  }
  phonesim::ConnectionRecord record(std::size_t i) {
    auto all = sim->connections();
    return i < all.size() ? all[i] : phonesim::ConnectionRecord{};
  }
  bool streamDone(std::size_t i) { return record(i).streamDone; }

  void TearDown() override {
    if (sim) sim->stop();
  }

  std::unique_ptr<PhoneSimulator> sim;
  std::mutex logMutex;
  std::vector<std::string> log;
};

TEST_F(PhoneSimulatorTest, StreamsHelloMetadataLoopedClipAndToneOnSchedule) {
  SimulatorOptions o;
  o.rotation = 90;
  o.mirror = true;
  o.fps = 240;  // the schedule is the same at any pace; this keeps the test short
  o.maxFrames = 65;
  startSimulator(o);
  Client client(sim->port());
  ASSERT_TRUE(client.readUntil([&] { return streamDone(0) && client.frames.size() == record(0).frames.size(); }, 10s));

  ASSERT_GE(client.raw.size(), 8u);
  EXPECT_EQ(0, std::memcmp(client.raw.data(), "SHLO", 4));
  ASSERT_GE(client.frames.size(), 2u);
  EXPECT_EQ(client.frames[0].type, 0x10);
  EXPECT_EQ(text(client.frames[0].payload), R"({"rotation":90,"mirror":true})");
  EXPECT_EQ(client.frames[1].type, 0x30);
  EXPECT_EQ(text(client.frames[1].payload),
            R"({"sr":48000,"ch":2,"bits":32,"float":true,"noninterleaved":false,"bigendian":false,"bytesPerFrame":8})");
  const std::uint64_t base = client.frames[0].timestampUs;
  EXPECT_EQ(client.frames[1].timestampUs, base);

  std::vector<const Arrived*> video, audio;
  std::uint64_t previous = 0;
  for (const Arrived& f : client.frames) {
    EXPECT_GE(f.timestampUs, previous) << "frames leave in timestamp order";
    previous = f.timestampUs;
    if (f.type == 1 || f.type == 2) video.push_back(&f);
    if (f.type == 0x31) audio.push_back(&f);
  }
  ASSERT_EQ(video.size(), 65u);
  Bytes clip = readFile(kClip);
  Bytes joined;
  for (std::size_t i = 0; i < video.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(video[i]->type, i % 30 == 0 ? 2 : 1);
    EXPECT_EQ(video[i]->timestampUs, base + std::uint64_t(std::llround(i * 1e6 / 240)));
    if (i < 60) joined.insert(joined.end(), video[i]->payload.begin(), video[i]->payload.end());
  }
  EXPECT_TRUE(joined == clip) << "one loop of the clip must be the clip, byte for byte";
  EXPECT_TRUE(video[60]->payload == video[0]->payload) << "the clip loops";

  // 65 frames at 240 fps last 270 ms: 27 tone frames.
  ASSERT_EQ(audio.size(), 27u);
  for (std::size_t j = 0; j < audio.size(); ++j) {
    SCOPED_TRACE(j);
    EXPECT_EQ(audio[j]->timestampUs, base + 10000 * j);
    ASSERT_EQ(audio[j]->payload.size(), 3840u);
    for (int k = 0; k < 480; k += 7) {
      float left, right;
      std::memcpy(&left, audio[j]->payload.data() + 8 * k, 4);
      std::memcpy(&right, audio[j]->payload.data() + 8 * k + 4, 4);
      EXPECT_NEAR(left, 0.25 * std::sin(2 * 3.14159265358979 * 1000 * k / 48000), 1e-6) << k;
      EXPECT_EQ(left, right);
    }
  }

  expectSameFrames(client.frames, record(0).frames);
  auto r = record(0);
  EXPECT_EQ(r.videoFrames, 65u);
  EXPECT_EQ(r.keyFrames, 3u);
  EXPECT_EQ(r.bytesSent, client.raw.size());
  ASSERT_TRUE(testsupport::waitUntil([&] { return record(0).clientByteCount == 16; }, 5s));
  r = record(0);
  EXPECT_TRUE(r.clientHello);
  EXPECT_EQ(r.clientBytes, Bytes(receiver::kClientHello, receiver::kClientHello + 16));
  auto lines = logLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "connection #1: client hello (16 bytes)"), 1);
}

TEST_F(PhoneSimulatorTest, SmallPiecesAndGarbageChangeNothingButTheBytesBeforeTheHello) {
  SimulatorOptions o;
  o.fps = 240;
  o.maxFrames = 5;
  o.chunk = 7;
  o.garbage = 13;
  o.garbagePauseMs = 0;
  startSimulator(o);
  Client client(sim->port(), /*answerHello=*/false);
  // Garbage and hello arrive as one chunk here, so the parser would drop both: read the bytes.
  ASSERT_TRUE(client.readUntil([&] { return streamDone(0) && client.raw.size() == record(0).bytesSent; }, 10s));
  ASSERT_GT(client.raw.size(), 21u);
  EXPECT_NE(client.raw[0], 'S');
  EXPECT_EQ(0, std::memcmp(client.raw.data() + 13, "SHLO", 4));
  EXPECT_TRUE(client.frames.empty()) << "the receiver's rule: bytes before the hello drop the whole chunk";

  Frames frames;
  receiver::FrameParser parser(frames);
  parser.feed(std::span<const std::uint8_t>(client.raw.data() + 13, client.raw.size() - 13));
  expectSameFrames(frames, record(0).frames);

  // A client that writes something other than the client hello is reported.
  Bytes wrong(16, 'x');
  client.socket.sendAll(wrong.data(), wrong.size());
  ASSERT_TRUE(testsupport::waitUntil([&] { return record(0).clientByteCount == 16; }, 5s));
  EXPECT_FALSE(record(0).clientHello);
}

TEST_F(PhoneSimulatorTest, ClosesAfterTheByteBudgetAndServesTheNextConnection) {
  SimulatorOptions o;
  o.fps = 240;
  o.closeAfter = 5000;
  startSimulator(o);
  {
    Client first(sim->port());
    // A second client waits in the backlog while the first is served.
    Client second(sim->port());
    first.readUntil([] { return false; }, 10s);
    EXPECT_TRUE(first.closed);
    EXPECT_EQ(first.raw.size(), 5000u);
    EXPECT_TRUE(second.raw.empty());

    auto r = record(0);
    EXPECT_EQ(r.bytesSent, 5000u);
    ASSERT_FALSE(r.frames.empty());
    EXPECT_FALSE(r.frames.back().complete) << "the frame being written when the budget ran out";
    r.frames.pop_back();
    expectSameFrames(first.frames, r.frames);
    // Our FIN reached the client before its hello reached us; the simulator reads on after it.
    EXPECT_TRUE(testsupport::waitUntil([&] { return record(0).clientHello; }, 5s));

    second.readUntil([] { return false; }, 10s);
    EXPECT_EQ(second.raw.size(), 5000u);
    EXPECT_EQ(0, std::memcmp(second.raw.data(), "SHLO", 4));
    ASSERT_FALSE(first.frames.empty());
    ASSERT_FALSE(second.frames.empty());
    EXPECT_GT(second.frames.front().timestampUs, first.frames.back().timestampUs) << "timestamps keep increasing";
  }
  ASSERT_TRUE(testsupport::waitUntil([&] { return record(1).closed; }, 5s));
}

TEST_F(PhoneSimulatorTest, StopEndsAnIdleConnectionAndRefusesToStartOnBadInput) {
  SimulatorOptions o;
  o.maxFrames = 0;
  startSimulator(o);
  Client client(sim->port());
  ASSERT_TRUE(client.readUntil([&] { return streamDone(0); }, 5s));
  sim->stop();
  client.readUntil([] { return false; }, 5s);
  EXPECT_TRUE(client.closed);

  auto refuses = [](SimulatorOptions bad, const std::string& expected) {
    PhoneSimulator s(bad);
    std::string last;
    s.onLog = [&](const std::string& line) { last = line; };
    EXPECT_FALSE(s.start());
    EXPECT_NE(last.find(expected), std::string::npos) << last;
  };
  SimulatorOptions bad;
  bad.port = 0;
  bad.clipPath = "/nonexistent/clip.264";
  refuses(bad, "cannot open clip");
  // A stream without access unit delimiters cannot be cut into frames.
  std::string noDelimiters = testing::TempDir() + "/no_delimiters.264";
  std::FILE* f = std::fopen(noDelimiters.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  const std::uint8_t idr[] = {0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x65, 0x88, 0x84};
  std::fwrite(idr, 1, sizeof idr, f);
  std::fclose(f);
  bad.clipPath = noDelimiters;
  refuses(bad, "no access units");
  std::remove(noDelimiters.c_str());
  bad.clipPath = kClip;
  bad.bindAddress = "localhost";
  refuses(bad, "not an IPv4 address");
  bad.bindAddress = "127.0.0.1";
  bad.fps = 0;
  refuses(bad, "frame rate");

  // A port already taken.
  SimulatorOptions first;
  first.port = 0;
  first.clipPath = kClip;
  PhoneSimulator holder(first);
  ASSERT_TRUE(holder.start());
  SimulatorOptions clash = first;
  clash.port = holder.port();
  refuses(clash, "cannot listen");
}

}  // namespace
