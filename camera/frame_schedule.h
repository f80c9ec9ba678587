// When a live stream's samples are due, in stream time (100-ns units): one per frame interval,
// on a grid of whole intervals from 0. A consumer that falls behind makes the stream skip the
// grid points already past instead of catching up with a burst, so no sample carries a time more
// than one interval old. Portable arithmetic; the waiting is the caller's.
#pragma once

#include <cstdint>

namespace camera {

class FrameSchedule {
 public:
  // The first sample is due at 0.
  void reset(std::int64_t interval);

  std::int64_t interval() const { return interval_; }
  // Stream time at which the next sample is due.
  std::int64_t due() const { return next_; }
  // True once a sample has been taken since reset.
  bool started() const { return started_; }

  // Takes the next sample at stream time `now` and returns its start time: due(), or, when
  // `now` is a whole interval or more past it, the latest grid point not after `now`. The
  // sample after it is due one interval later. A due time more than kRealign ahead of `now`
  // (stream time went back) is given up in the same way, so the stream never stalls on it.
  std::int64_t take(std::int64_t now);

  static constexpr std::int64_t kRealign = 10'000'000;  // 1 s

 private:
  std::int64_t interval_ = 166'666;
  std::int64_t next_ = 0;
  bool started_ = false;
};

}  // namespace camera
