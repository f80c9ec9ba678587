#include "app/frame_pacing.h"

namespace app {

namespace {
// A vertical blank measured a little early, or a refresh rate reported a little low, must not
// make the loop wait on top of Present and miss the next blank.
constexpr std::int64_t kSlackNs = 2000000;
}  // namespace

void FramePacing::setRefreshRate(std::uint32_t hz) {
  periodNs_ = 1000000000 / (hz > 1 ? hz : kDefaultRefreshHz);
}

std::int64_t FramePacing::nextFrameAt(std::int64_t nowNs) {
  const std::int64_t due = lastFrameNs_ + periodNs_;
  if (lastFrameNs_ == 0 || nowNs >= due - kSlackNs) {
    lastFrameNs_ = nowNs;
    return nowNs;
  }
  lastFrameNs_ = due;  // the next period starts when this one ends, not when waiting ends
  return due;
}

}  // namespace app
