#include "common/rate_meter.h"

namespace common {

void RateMeter::reset(std::int64_t nowNs) {
  *this = RateMeter{};
  windowStartNs_ = nowNs;
}

bool RateMeter::count(std::int64_t nowNs, double amount) {
  if (windowStartNs_ == 0) windowStartNs_ = nowNs;
  lastCountNs_ = nowNs;
  windowAmount_ += amount;
  const double seconds = double(nowNs - windowStartNs_) / 1e9;
  if (seconds < 1.0) return false;
  rate_ = windowAmount_ / seconds;
  windowAmount_ = 0.0;
  windowStartNs_ = nowNs;
  return true;
}

double RateMeter::rate(std::int64_t nowNs) const {
  return lastCountNs_ != 0 && nowNs - lastCountNs_ >= kSilenceNs ? 0.0 : rate_;
}

}  // namespace common
