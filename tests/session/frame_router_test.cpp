// The one switch over frame types, with a sink that records every call: each of the 256 types
// reaches exactly the destination the protocol gives it, and the two text messages arrive read.
#include "session/frame_router.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "session/orientation.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Recorder : session::FrameSink {
  std::vector<media::AudioFormat> formats;
  std::vector<Bytes> samples;
  std::vector<std::uint64_t> sampleTimes;
  std::vector<std::pair<int, bool>> orientations;
  std::vector<receiver::Frame> videos;

  void audioFormat(const media::AudioFormat& format) override { formats.push_back(format); }
  void audioSamples(std::span<const std::uint8_t> bytes, std::uint64_t timestampUs) override {
    samples.emplace_back(bytes.begin(), bytes.end());
    sampleTimes.push_back(timestampUs);
  }
  void phoneOrientation(int degrees, bool mirror) override { orientations.emplace_back(degrees, mirror); }
  void videoFrame(const receiver::Frame& frame) override { videos.push_back(frame); }
};

receiver::Frame frame(std::uint8_t type, const std::string& text, std::uint64_t timestampUs = 0) {
  receiver::Frame f;
  f.type = type;
  f.timestampUs = timestampUs;
  f.payload.assign(text.begin(), text.end());
  return f;
}

TEST(FrameRouter, EachTypeReachesOnlyItsDestination) {
  for (int type = 0; type < 256; ++type) {
    SCOPED_TRACE(type);
    Recorder sink;
    const receiver::Frame f = frame(static_cast<std::uint8_t>(type), "{\"rotation\":90,\"sr\":8000}", 1234);
    session::routeFrame(f, sink);

    const bool video = type == 1 || type == 2 || type == 3;
    EXPECT_EQ(sink.videos.size(), video ? 1u : 0u);
    EXPECT_EQ(sink.orientations.size(), type == 0x10 ? 1u : 0u);
    EXPECT_EQ(sink.formats.size(), type == 0x30 ? 1u : 0u);
    EXPECT_EQ(sink.samples.size(), type == 0x31 ? 1u : 0u);
    if (video) {
      EXPECT_EQ(sink.videos[0].type, type);
      EXPECT_EQ(sink.videos[0].timestampUs, 1234u);
      EXPECT_EQ(sink.videos[0].payload, f.payload);
    }
    if (type == 0x31) {
      EXPECT_EQ(sink.samples[0], f.payload) << "samples pass as they came";
      EXPECT_EQ(sink.sampleTimes[0], 1234u);
    }
  }
}

TEST(FrameRouter, TextMessagesArriveRead) {
  Recorder sink;
  session::routeFrame(frame(0x10, R"({"rotation":270,"mirror":true})"), sink);
  session::routeFrame(frame(0x10, R"({"rotation" : 90})"), sink);
  session::routeFrame(frame(0x10, ""), sink);  // unreadable: no turn, no mirror
  EXPECT_EQ(sink.orientations, (std::vector<std::pair<int, bool>>{{270, true}, {90, false}, {0, false}}));

  session::routeFrame(frame(0x30, R"({"sr":44100,"ch":1,"bits":16,"float":false,"bytesPerFrame":2})"), sink);
  session::routeFrame(frame(0x30, ""), sink);
  ASSERT_EQ(sink.formats.size(), 2u);
  EXPECT_EQ(sink.formats[0].sampleRate, 44100);
  EXPECT_EQ(sink.formats[0].channels, 1);
  EXPECT_EQ(sink.formats[0].bitsPerSample, 16);
  EXPECT_FALSE(sink.formats[0].isFloat);
  EXPECT_EQ(sink.formats[0].bytesPerFrame, 2);
  EXPECT_EQ(sink.formats[1].sampleRate, 48000) << "an empty message is the default format";
  EXPECT_EQ(sink.formats[1].channels, 2);
  EXPECT_TRUE(sink.formats[1].isFloat);
}

TEST(Orientation, DegreesBecomeQuarterTurnsDividingTowardZero) {
  const std::pair<int, int> cases[] = {{0, 0},    {90, 1},   {180, 2},  {270, 3},  {360, 0},
                                       {450, 1},  {45, 0},   {135, 1},  {-90, 3},  {-450, 3},
                                       {-45, 0},  {INT_MAX, 1}, {INT_MIN, 3}};
  for (auto [degrees, turns] : cases) EXPECT_EQ(session::quarterTurns(degrees), turns) << degrees;
}

}  // namespace
