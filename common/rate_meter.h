// A rate as the statistics show it: measured over windows of at least a second, each closed by
// the first count after its second is up, and 0 once nothing has been counted for 1.5 s, so
// a stalled stream never keeps showing its last rate. Portable; the caller passes the time.
#pragma once

#include <cstdint>

namespace common {

class RateMeter {
 public:
  static constexpr std::int64_t kSilenceNs = 1'500'000'000;

  // Starts an empty window at nowNs; without it the first count starts the window.
  void reset(std::int64_t nowNs);
  // Counts `amount` at nowNs (steady clock, nanoseconds); true when this closed a window.
  bool count(std::int64_t nowNs, double amount);
  // Per second at nowNs: the last closed window's rate, or 0 after the silence above.
  double rate(std::int64_t nowNs) const;

 private:
  std::int64_t windowStartNs_ = 0;  // 0: no window yet
  std::int64_t lastCountNs_ = 0;    // 0: nothing counted yet
  double windowAmount_ = 0.0;
  double rate_ = 0.0;
};

}  // namespace common
