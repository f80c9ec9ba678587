// The end-to-end test's own verdicts: matching camera pictures with sent pictures by their
// frame counter across loops of the clip, and finding the tone in a recording.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "tests/e2e/frame_latency.h"
#include "tests/support/tone_analysis.h"

namespace {

using e2e::TimedCounter;

// Counters 0..loop-1 sent every 33 ms, `loops` times, from `startUs`.
std::vector<TimedCounter> sentLoops(int loop, int loops, std::int64_t startUs) {
  std::vector<TimedCounter> sent;
  for (int i = 0; i < loop * loops; i++) sent.push_back({i % loop, startUs + i * 33'000LL});
  return sent;
}

TEST(FrameLatency, MatchesEachNewPictureWithTheLatestSendOfItsCounter) {
  auto sent = sentLoops(60, 3, 1'000'000);
  std::vector<TimedCounter> seen;
  // Second loop: each picture arrives 150 ms after it was sent, twice (the camera repeats it).
  for (int i = 60; i < 90; i++) {
    std::int64_t at = 1'000'000 + i * 33'000LL + 150'000;
    seen.push_back({i % 60, at});
    seen.push_back({i % 60, at + 10'000});
  }
  e2e::LatencyReport r = e2e::matchPictures(sent, seen, 60);
  EXPECT_EQ(r.samples, 60);
  EXPECT_EQ(r.newPictures, 30);
  EXPECT_EQ(r.matched, 30);
  EXPECT_EQ(r.backwardSteps, 0);
  EXPECT_DOUBLE_EQ(r.medianMs, 150.0);
  EXPECT_DOUBLE_EQ(r.p95Ms, 150.0);
}

TEST(FrameLatency, ADelayGrowingPastOneLoopIsMeasuredWhole) {
  auto sent = sentLoops(60, 5, 0);
  std::vector<TimedCounter> seen;
  // From 100 ms to 3,080 ms late, every other picture: the latest send before each would be a
  // loop (1,980 ms) later than the real one once the delay passes a loop.
  for (int i = 0; i < 150; i += 2) seen.push_back({i % 60, i * 33'000LL + 100'000 + i * 20'000LL});
  e2e::LatencyReport r = e2e::matchPictures(sent, seen, 60);
  EXPECT_EQ(r.matched, 75);
  EXPECT_DOUBLE_EQ(r.latenciesMs.front(), 100.0);
  EXPECT_DOUBLE_EQ(r.maxMs, 3060.0);

  // Already more than a loop late at the first picture, then catching up to 100 ms: the match
  // reads a loop short until that would precede the send, then starts again and reads true.
  seen.clear();
  for (int i = 60; i <= 140; i++) seen.push_back({i % 60, i * 33'000LL + 2'500'000 - (i - 60) * 30'000LL});
  r = e2e::matchPictures(sent, seen, 60);
  EXPECT_EQ(r.matched, 81);
  EXPECT_DOUBLE_EQ(r.latenciesMs.back(), 100.0);
  // A warm-up: the pictures before it anchor the match but are not counted.
  r = e2e::matchPictures(sent, seen, 60, seen[40].wallUs);
  EXPECT_EQ(r.newPictures, 41);
  EXPECT_DOUBLE_EQ(r.latenciesMs.back(), 100.0);
}

TEST(FrameLatency, CountsWrapAroundAsForwardAndGreyAsUnreadable) {
  auto sent = sentLoops(60, 2, 0);
  std::vector<TimedCounter> seen = {{-1, 100}, {-1, 200}};
  for (int i = 55; i < 65; i++) seen.push_back({i % 60, i * 33'000LL + 40'000});
  e2e::LatencyReport r = e2e::matchPictures(sent, seen, 60);
  EXPECT_EQ(r.unreadable, 2);
  EXPECT_EQ(r.newPictures, 10);
  EXPECT_EQ(r.backwardSteps, 0);  // 59 -> 0 is a step forward
  EXPECT_EQ(r.matched, 10);
  EXPECT_DOUBLE_EQ(r.medianMs, 40.0);
}

TEST(FrameLatency, FlagsPicturesNeverSentAndPicturesGoingBack) {
  std::vector<TimedCounter> sent = {{10, 1'000}, {11, 2'000}, {12, 3'000}};
  // 12 arrives before it was sent: not a picture of this run. 11 after 12 goes back.
  std::vector<TimedCounter> seen = {{10, 1'500}, {12, 2'500}, {11, 2'600}, {70, 9'000}};
  e2e::LatencyReport r = e2e::matchPictures(sent, seen, 60);
  EXPECT_EQ(r.newPictures, 3);
  EXPECT_EQ(r.matched, 2);
  EXPECT_EQ(r.backwardSteps, 1);
  EXPECT_EQ(r.unreadable, 1);  // outside the loop
}

TEST(FrameLatency, PercentilesAreNearestRank) {
  std::vector<double> v;
  for (int i = 100; i >= 1; i--) v.push_back(i);
  EXPECT_DOUBLE_EQ(e2e::percentile(v, 50), 50);
  EXPECT_DOUBLE_EQ(e2e::percentile(v, 95), 95);
  EXPECT_DOUBLE_EQ(e2e::percentile({7.0}, 95), 7);
  EXPECT_DOUBLE_EQ(e2e::percentile({}, 50), 0);
}

TEST(FrameLatency, ReadsOnlyWellFormedLinesOfItsTag) {
  const char* text =
      "video 1 5 1700000000123456\n"
      "[phone_sim] listening on 127.0.0.1:5555\n"
      "video 1 x 12\n"
      "video 1 6\n"
      "sample 99 3\n"
      "video 2 7 1700000000223456\r\n";
  auto v = e2e::readTimedCounters(text, "video", 2, 3);
  ASSERT_EQ(v.size(), 2u);  // a CRLF line ending is whitespace
  EXPECT_EQ(v[0].counter, 5);
  EXPECT_EQ(v[0].wallUs, 1700000000123456LL);
  EXPECT_EQ(v[1].counter, 7);
  auto s = e2e::readTimedCounters("sample 99 3\nsample 100 -1\n", "sample", 2, 1);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[1].counter, -1);
}

std::vector<std::uint8_t> s16(const std::vector<double>& samples) {
  std::vector<std::uint8_t> bytes;
  for (double v : samples) {
    auto x = std::uint16_t(std::int16_t(std::lround(v * 32767)));
    bytes.push_back(std::uint8_t(x & 0xFF));
    bytes.push_back(std::uint8_t(x >> 8));
  }
  return bytes;
}

TEST(ToneCheck, FindsTheToneAfterSilenceAndThroughShortGaps) {
  const int rate = 48000;
  std::vector<double> samples(rate / 2, 0.0);  // half a second before playback starts
  for (int i = 0; i < rate; i++) {
    // 2 ms of underrun every 100 ms; then, starting at a peak so the edges add no quiet
    // samples, exactly 20 ms (not a long gap) and 25 ms (one).
    bool gap = i % 4800 < 96 || (i >= 26412 && i < 26412 + 960) || (i >= 31212 && i < 31212 + 1200);
    samples.push_back(gap ? 0.0 : 0.25 * std::sin(2 * std::numbers::pi * 1000.0 * i / rate));
  }
  auto bytes = s16(samples);
  testsupport::ToneAnalysis t = testsupport::analyseS16Mono(bytes.data(), bytes.size(), rate);
  EXPECT_NEAR(t.seconds, 1.0, 0.01);
  EXPECT_NEAR(t.frequencyHz, 1000.0, 2.0);
  EXPECT_GT(t.rms, 0.1);
  EXPECT_NEAR(t.longestGapMs, 25.0, 0.1);
  EXPECT_EQ(t.gapsOver20Ms, 1);
}

TEST(ToneCheck, SilenceAndOddSizesGiveNoTone) {
  std::vector<std::uint8_t> silence(9601, 0);  // odd: the last byte is ignored
  testsupport::ToneAnalysis t = testsupport::analyseS16Mono(silence.data(), silence.size(), 48000);
  EXPECT_EQ(t.seconds, 0);
  EXPECT_EQ(t.frequencyHz, 0);
  EXPECT_EQ(testsupport::analyseS16Mono(nullptr, 0, 48000).seconds, 0);
}

}  // namespace
