// Matches the pictures a capture application received from the camera with the pictures the
// phone simulator sent, by the frame counter drawn in each picture, and measures the delay
// between the two on one wall clock.
//
// The clip loops, so a counter is sent again every `loopLength` pictures: the first received
// picture is matched with the latest send of its counter at or before it was received, each later
// one with the first send of its counter after the previous picture's send (the latest again when
// there is none), so a delay that grows past one loop is measured whole as long as the first
// picture came within a loop. Samples that repeat
// the previous picture (the camera repeats the last picture when nothing new came) are not new
// pictures and are not measured.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct TimedCounter {
  int counter = -1;          // -1 when the picture held no readable counter
  std::int64_t wallUs = 0;   // wall-clock microseconds
};

struct LatencyReport {
  int samples = 0;           // every sample received
  int unreadable = 0;        // samples without a readable counter (grey before the first picture)
  int newPictures = 0;       // samples whose counter differs from the sample before
  int matched = 0;           // new pictures with a send of their counter before them
  int backwardSteps = 0;     // new pictures that went back in the loop instead of forward
  std::vector<double> latenciesMs;
  double medianMs = 0;
  double p95Ms = 0;
  double maxMs = 0;
};

// `sent` in any order; `seen` in the order received. Samples received before `measureFromUs` (a
// warm-up) are matched but neither counted nor measured.
LatencyReport matchPictures(const std::vector<TimedCounter>& sent, const std::vector<TimedCounter>& seen,
                            int loopLength, std::int64_t measureFromUs = INT64_MIN);

// Nearest-rank percentile (0 < p <= 100) of `values`; 0 for an empty list.
double percentile(std::vector<double> values, double p);

// Reads the lines of a log that begin with `tag`, taking the counter and the wall time from
// the given whitespace-separated fields (0 = the tag). Other and malformed lines are skipped.
std::vector<TimedCounter> readTimedCounters(const std::string& text, const std::string& tag, int counterField,
                                            int wallField);

}  // namespace e2e
