#include "common/rate_meter.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kMs = 1'000'000;

// Windows of at least a second, each closed by the count after its second; a pause's first
// window spans the pause; and silence shows as 0 rather than as the last rate.
TEST(RateMeter, RatePerClosedWindowAndZeroAfterSilence) {
  common::RateMeter meter;
  // 30 pictures 1/30 s apart, then one more at exactly one second: 31 counted over 1.0 s.
  const std::int64_t t0 = 5'000 * kMs;
  for (int i = 0; i < 30; i++) EXPECT_FALSE(meter.count(t0 + i * 1000 * kMs / 30, 1.0));
  EXPECT_EQ(meter.rate(t0 + 999 * kMs), 0.0);
  EXPECT_TRUE(meter.count(t0 + 1000 * kMs, 1.0));
  EXPECT_DOUBLE_EQ(meter.rate(t0 + 1000 * kMs), 31.0);
  EXPECT_DOUBLE_EQ(meter.rate(t0 + 2499 * kMs), 31.0) << "kept until 1.5 s without a count";
  EXPECT_EQ(meter.rate(t0 + 2500 * kMs), 0.0);
  // After a 9-second pause the first rate spans the pause and is therefore low.
  EXPECT_TRUE(meter.count(t0 + 10'000 * kMs, 1.0));
  EXPECT_DOUBLE_EQ(meter.rate(t0 + 10'000 * kMs), 1.0 / 9.0);

  // reset starts the window at once, so the first count can close it.
  meter.reset(t0);
  EXPECT_EQ(meter.rate(t0 + 10'000 * kMs), 0.0);
  EXPECT_TRUE(meter.count(t0 + 2000 * kMs, 500.0));
  EXPECT_DOUBLE_EQ(meter.rate(t0 + 2000 * kMs), 250.0);
}

}  // namespace
