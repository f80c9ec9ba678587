#include "camera/frame_schedule.h"

namespace camera {

void FrameSchedule::reset(std::int64_t interval) {
  interval_ = interval > 0 ? interval : 1;
  next_ = 0;
  started_ = false;
}

std::int64_t FrameSchedule::take(std::int64_t now) {
  std::int64_t start = next_;
  if (now - next_ >= interval_ || next_ - now > kRealign) {
    // Floor to the grid, also for the negative stream times before a clocked run's start.
    std::int64_t offset = now % interval_;
    if (offset < 0) offset += interval_;
    start = now - offset;
  }
  next_ = start + interval_;
  started_ = true;
  return start;
}

}  // namespace camera
