// The traffic counters of one run of the stream controller.
#pragma once

#include <cstdint>

namespace receiver {

struct StreamStats {
  std::uint64_t frames = 0;   // frames since start, every type
  std::uint64_t keys = 0;     // frames of type 2 since start
  std::uint64_t bytes = 0;    // bytes received since start, hellos and headers included
  std::uint64_t skipped = 0;  // video frames skipped to stay live (counted by the session)
  double kbps = 0.0;          // rate of the last window of at least a second; 0 after 1.5 s of silence
};

}  // namespace receiver
