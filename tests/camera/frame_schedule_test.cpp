// The sample schedule: on time, late by less than an interval, late by several (skipped, never
// a burst), before a clocked run's start, and after stream time went back.
#include <gtest/gtest.h>

#include "camera/frame_schedule.h"

namespace camera {
namespace {

constexpr std::int64_t kInterval = 166'666;

TEST(FrameScheduleTest, FollowsTheGridAndSkipsWhatThePastHasTaken) {
  FrameSchedule s;
  s.reset(kInterval);
  EXPECT_FALSE(s.started());
  EXPECT_EQ(s.due(), 0);
  EXPECT_EQ(s.take(-50'000), 0) << "woken just before a clocked run's start";
  EXPECT_TRUE(s.started());
  EXPECT_EQ(s.take(kInterval + 100'000), kInterval) << "late by less than an interval keeps its slot";
  EXPECT_EQ(s.due(), 2 * kInterval);
  // Three slots have passed by now: the sample takes the latest, the next one is due after it.
  EXPECT_EQ(s.take(5 * kInterval + 7), 5 * kInterval);
  EXPECT_EQ(s.due(), 6 * kInterval);
  EXPECT_EQ(s.take(6 * kInterval), 6 * kInterval);

  EXPECT_EQ(s.take(6 * kInterval + 3), 7 * kInterval) << "woken a little early, the due time holds";
  EXPECT_EQ(s.due(), 8 * kInterval);
  // Stream time went back by more than FrameSchedule::kRealign: the grid restarts at now.
  FrameSchedule back;
  back.reset(kInterval);
  back.take(100 * kInterval);
  EXPECT_EQ(back.take(-kInterval - 1), -2 * kInterval) << "floored onto the grid, also below 0";
  EXPECT_EQ(back.due(), -kInterval);

  s.reset(2 * kInterval);
  EXPECT_FALSE(s.started());
  EXPECT_EQ(s.take(0), 0);
  EXPECT_EQ(s.due(), 2 * kInterval);
}

}  // namespace
}  // namespace camera
