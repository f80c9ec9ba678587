// A time value in 100-ns units, the unit of DirectShow's clocks and sample times.
#pragma once

#include "dshow/dshow_common_win.h"

namespace dshow {

class CRefTime {
 public:
  CRefTime() = default;
  CRefTime(REFERENCE_TIME time) : time_(time) {}

  operator REFERENCE_TIME() const { return time_; }
  CRefTime& operator+=(const CRefTime& other) {
    time_ += other.time_;
    return *this;
  }
  CRefTime& operator-=(const CRefTime& other) {
    time_ -= other.time_;
    return *this;
  }
  LONG Millisecs() const { return static_cast<LONG>(time_ / 10000); }

  REFERENCE_TIME time_ = 0;
};

}  // namespace dshow
