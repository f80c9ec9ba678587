#include "receiver/frame_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "receiver/protocol.h"
#include "support/log_capture.h"
#include "support/stream_bytes.h"

namespace {

using testsupport::Bytes;
using testsupport::frameBytes;
using testsupport::headerOnly;
using testsupport::serverHello;
using testsupport::operator+;

struct Received {
  std::uint8_t type;
  std::uint64_t timestampUs;
  Bytes payload;
  bool operator==(const Received&) const = default;
};

class FrameParserTest : public ::testing::Test, protected receiver::StreamSink {
 protected:
  void frame(const receiver::Frame& f) override {
    frames.push_back({f.type, f.timestampUs, f.payload});
    capacity = f.payload.capacity();
  }
  void feed(const Bytes& bytes) { parser.feed(std::span<const std::uint8_t>(bytes.data(), bytes.size())); }
  // Feeds through an exactly-sized heap copy, so the sanitizer sees any read past the chunk.
  void feedExact(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    parser.feed(std::span<const std::uint8_t>(copy.get(), size));
  }

  receiver::FrameParser parser{static_cast<receiver::StreamSink&>(*this)};
  std::vector<Received> frames;
  std::size_t capacity = 0;  // of the last frame's reused payload buffer
};

TEST_F(FrameParserTest, HelloIsRecognisedOnlyWhenComplete) {
  Bytes hello = serverHello();
  feed(Bytes(hello.begin(), hello.begin() + 5));
  EXPECT_FALSE(parser.helloReceived());
  feed(Bytes(hello.begin() + 5, hello.end()));
  EXPECT_TRUE(parser.helloReceived());
  EXPECT_EQ(parser.bufferedBytes(), 0u);
}

TEST_F(FrameParserTest, BytesBeforeHelloThatAreNotShloAreDroppedWhole) {
  // A valid hello later in the same chunk is dropped with the garbage.
  feed(Bytes{'X', 'H', 'L', 'O', 1, 2, 3, 4} + serverHello() + frameBytes(1, 5, {9}));
  EXPECT_FALSE(parser.helloReceived());
  EXPECT_EQ(parser.bufferedBytes(), 0u);
  EXPECT_TRUE(frames.empty());
  // Fewer than 8 bytes wait, whatever they are.
  feed(Bytes{'g', 'a', 'r'});
  EXPECT_EQ(parser.bufferedBytes(), 3u);
  feed(Bytes{'b', 'a', 'g', 'e', '!'});
  EXPECT_EQ(parser.bufferedBytes(), 0u);
  // The next chunk that begins with a hello starts the stream.
  feed(serverHello() + frameBytes(2, 7, {1, 2}));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (Received{2, 7, {1, 2}}));
}

TEST_F(FrameParserTest, FramesInTheHelloChunkAndBackToBack) {
  feed(serverHello() + frameBytes(1, 0x0102030405060708ull, {1, 2, 3}) + frameBytes(0x31, 42, {}));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], (Received{1, 0x0102030405060708ull, {1, 2, 3}}));
  EXPECT_EQ(frames[1], (Received{0x31, 42, {}}));  // length 0: empty payload
}

TEST_F(FrameParserTest, FrameSplitOverManyChunksIsDeliveredOnceWhenComplete) {
  Bytes payload = testsupport::patternPayload(1000, 3);
  Bytes stream = serverHello() + frameBytes(0x10, 123456789, payload);
  for (std::size_t i = 0; i < stream.size(); ++i) {
    EXPECT_TRUE(frames.empty()) << "delivered early at byte " << i;
    feedExact(&stream[i], 1);
  }
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (Received{0x10, 123456789, payload}));
}

// Damage after the hello: the parser scans on to the next "IPCF" with a plausible header (a
// type the phone sends, a length within the bound) and loses only what lay before it.
TEST_F(FrameParserTest, DamagedHeadersAreSkippedToTheNextPlausibleFrame) {
  testsupport::LogCapture log;
  feed(serverHello());
  Bytes bad = frameBytes(1, 1, {1, 'I', 'P', 'C', 'F'});
  bad[0] = 'X';
  // Inside the garbage: a magic with a type the phone never sends, and one with a huge length.
  Bytes oddType = headerOnly(0x77, 9, 1), huge = headerOnly(1, 9, receiver::kMaxFramePayload + 1);
  feed(bad + oddType + huge + frameBytes(1, 2, {2}) + frameBytes(0x77, 3, {3}));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], (Received{1, 2, {2}}));
  EXPECT_EQ(frames[1], (Received{0x77, 3, {3}})) << "once in step, any type is a frame";
  EXPECT_TRUE(parser.helloReceived());  // a new hello is not expected
  EXPECT_TRUE(log.lines().empty()) << "lengths seen while scanning are not reported";

  // Damage completed across chunks, and a magic cut in two by the chunk boundary.
  Bytes next = frameBytes(2, 4, {4});
  feed(Bytes(bad.begin(), bad.begin() + 10));
  feed(Bytes(bad.begin() + 10, bad.end()) + Bytes(next.begin(), next.begin() + 2));
  feed(Bytes(next.begin() + 2, next.end()));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[2], (Received{2, 4, {4}}));
  EXPECT_EQ(parser.bufferedBytes(), 0u);
}

TEST_F(FrameParserTest, AnnouncedLengthThatNeverArrivesHoldsLaterBytesUntilReset) {
  feed(serverHello() + headerOnly(1, 1, 1u << 20));
  feed(frameBytes(1, 2, {2}));
  feed(frameBytes(1, 3, {3}));
  EXPECT_TRUE(frames.empty());
  EXPECT_EQ(parser.bufferedBytes(), 20u + 2 * 21u);
  parser.reset();
  EXPECT_EQ(parser.bufferedBytes(), 0u);
  EXPECT_FALSE(parser.helloReceived());
  feed(serverHello() + frameBytes(1, 4, {4}));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].timestampUs, 4u);
}

TEST_F(FrameParserTest, LengthOverTheLimitIsDamageWithOneLogLine) {
  testsupport::LogCapture log;
  feed(serverHello() + headerOnly(1, 1, receiver::kMaxFramePayload + 1) + frameBytes(1, 2, {2}));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].timestampUs, 2u);
  EXPECT_EQ(parser.bufferedBytes(), 0u);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0], "[StreamController] frame length 67108865 exceeds 67108864 — buffer discarded\n");
  // At the limit itself the frame is accepted and waits for its payload.
  feed(headerOnly(1, 3, receiver::kMaxFramePayload) + Bytes(10));
  EXPECT_EQ(parser.bufferedBytes(), 30u);
  EXPECT_EQ(log.lines().size(), 1u);
}

// A header's length is only a claim: memory follows the bytes that really come (at most 1 MiB
// ahead of them, twice what came at most) and never exceeds the length announced.
TEST_F(FrameParserTest, PayloadMemoryFollowsTheBytesThatCome) {
  feed(serverHello() + headerOnly(1, 1, receiver::kMaxFramePayload));
  const Bytes trickle(64 * 1024, 7);
  std::size_t received = 0;
  for (int i = 0; i < 64; ++i) {
    feed(trickle);
    received += trickle.size();
    ASSERT_LE(parser.payloadCapacity(), std::max<std::size_t>(std::size_t(1) << 20, 2 * received)) << received;
  }
  EXPECT_EQ(parser.bufferedBytes(), 20 + received);
  receiver::FrameParser small{static_cast<receiver::StreamSink&>(*this)};
  const Bytes start = serverHello() + headerOnly(1, 2, 1500) + Bytes(10);
  small.feed(start);
  EXPECT_EQ(small.payloadCapacity(), 1500u);
}

TEST_F(FrameParserTest, ResetInTheMiddleOfAHelloWaitsForAFreshOne) {
  Bytes hello = serverHello();
  feed(Bytes(hello.begin(), hello.begin() + 7));
  parser.reset();
  feed(Bytes{'O', 0, 0, 0, 0, 0, 0, 0});  // would complete the old hello: must not
  EXPECT_FALSE(parser.helloReceived());
  feed(hello + frameBytes(1, 9, {}));
  EXPECT_EQ(frames.size(), 1u);
}

// Any way of cutting a valid stream into chunks gives the same frames as feeding it whole.
// Every 20th frame's magic is damaged: only those frames are lost, however the stream is cut.
TEST_F(FrameParserTest, RandomChunkingGivesTheSameFrames) {
  std::mt19937 rng(1234);
  Bytes stream = serverHello();
  std::vector<Received> expected;
  for (int i = 0; i < 300; ++i) {
    std::size_t size = (i % 7 == 0) ? rng() % 70000 : rng() % 64;
    Bytes payload = testsupport::patternPayload(size, std::uint8_t(i));
    std::uint8_t type = std::uint8_t(1 + rng() % 3);
    Bytes frame = frameBytes(type, std::uint64_t(i) * 33333, payload);
    if (i % 20 == 19) {
      frame[1 + rng() % 3] ^= 0x20;
    } else {
      expected.push_back({type, std::uint64_t(i) * 33333, payload});
    }
    stream = stream + frame;
  }
  for (int round = 0; round < 20; ++round) {
    parser.reset();
    frames.clear();
    std::size_t pos = 0;
    while (pos < stream.size()) {
      std::size_t maxChunk = (round % 3 == 0) ? 7 : (round % 3 == 1) ? 1500 : 65536;
      std::size_t n = std::min<std::size_t>(stream.size() - pos, 1 + rng() % maxChunk);
      feedExact(stream.data() + pos, n);
      pos += n;
    }
    ASSERT_EQ(frames.size(), expected.size()) << "round " << round;
    for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(frames[i], expected[i]) << "frame " << i;
    EXPECT_EQ(parser.bufferedBytes(), 0u);
  }
}

// Hostile bytes: never a crash or a read past the chunk (the sanitizers watch), and the
// parser recovers when a clean stream follows a reset.
TEST_F(FrameParserTest, RandomBytesNeverBreakTheParser) {
  testsupport::LogCapture log;  // keeps over-limit lines off the console
  std::mt19937 rng(99);
  for (int round = 0; round < 2000; ++round) {
    std::size_t n = rng() % 200;
    Bytes chunk(n);
    for (auto& b : chunk) b = std::uint8_t(rng());
    if (round % 5 == 0 && n >= 8) std::memcpy(chunk.data(), "SHLO", 4);
    if (round % 3 == 0 && n >= 24) std::memcpy(chunk.data() + 8, "IPCF", 4);
    feedExact(chunk.data(), chunk.size());
    if (round % 50 == 0) parser.reset();
  }
  parser.reset();
  frames.clear();
  feed(serverHello() + frameBytes(2, 1, {5, 6}));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (Received{2, 1, {5, 6}}));
}

}  // namespace
