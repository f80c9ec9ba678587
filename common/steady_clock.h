// The monotonic clock every timer of the program reads, as one integer.
#pragma once

#include <chrono>
#include <cstdint>

// Nanoseconds of std::chrono::steady_clock since its epoch.
inline std::int64_t steadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
