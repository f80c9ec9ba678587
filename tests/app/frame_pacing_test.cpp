#include "app/frame_pacing.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kMs = 1000000;

TEST(FramePacing, HoldsALoopThatPresentDoesNotPaceToTheRefreshRateAndLeavesOneThatItDoes) {
  app::FramePacing pacing;  // 60 Hz until told otherwise
  const std::int64_t period = pacing.periodNs();
  EXPECT_EQ(period, 16666666);
  const std::int64_t t = 1000 * kMs;
  EXPECT_EQ(pacing.nextFrameAt(t), t) << "the first frame goes on";

  // Present returned at once: each frame waits for the end of its period, without drifting.
  EXPECT_EQ(pacing.nextFrameAt(t + 3 * kMs), t + period);
  EXPECT_EQ(pacing.nextFrameAt(t + period + 3 * kMs), t + 2 * period);

  // Present waited for a vertical blank a little early: no wait on top of it.
  const std::int64_t blank = t + 3 * period - kMs;
  EXPECT_EQ(pacing.nextFrameAt(blank), blank);
  // A slow frame goes on at once and starts a new period: no burst to catch up.
  const std::int64_t slow = blank + 50 * kMs;
  EXPECT_EQ(pacing.nextFrameAt(slow), slow);
  EXPECT_EQ(pacing.nextFrameAt(slow + kMs), slow + period);

  // 0 and 1 mean the display does not say.
  for (std::uint32_t unknown : {0u, 1u}) {
    pacing.setRefreshRate(unknown);
    EXPECT_EQ(pacing.periodNs(), 16666666);
  }
  pacing.setRefreshRate(144);
  EXPECT_EQ(pacing.periodNs(), 6944444);
}

TEST(FrameDemand, DrawsWhileInUseOrForANewPictureAndOtherwiseAFewTimesASecond) {
  app::FrameDemand demand;
  const std::int64_t t = 1000 * kMs;
  EXPECT_TRUE(demand.due(t, false)) << "the first frame";
  demand.drew(t);
  EXPECT_FALSE(demand.due(t + 20 * kMs, false));
  EXPECT_TRUE(demand.due(t + 20 * kMs, true)) << "a new picture is drawn at once";
  EXPECT_TRUE(demand.due(t + 250 * kMs, false)) << "figures and states stay current";

  demand.drew(t + 250 * kMs);
  demand.messagesArrived(t + 260 * kMs);
  for (std::int64_t at = 270; at < 1260; at += 17) {
    EXPECT_TRUE(demand.due(t + at * kMs, false)) << at;
    demand.drew(t + at * kMs);
  }
  EXPECT_FALSE(demand.due(t + 1270 * kMs, false)) << "a second after the last message, idle again";
}

}  // namespace
