#include "tests/e2e/frame_latency.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace e2e {

LatencyReport matchPictures(const std::vector<TimedCounter>& sent, const std::vector<TimedCounter>& seen,
                            int loopLength, std::int64_t measureFromUs) {
  LatencyReport report;
  if (loopLength <= 0) return report;

  std::vector<std::vector<std::int64_t>> sendsByCounter(static_cast<std::size_t>(loopLength));
  for (const TimedCounter& s : sent) {
    if (s.counter >= 0 && s.counter < loopLength) sendsByCounter[std::size_t(s.counter)].push_back(s.wallUs);
  }
  for (auto& times : sendsByCounter) std::sort(times.begin(), times.end());

  int previous = -1;
  std::int64_t previousSendUs = -1;
  for (const TimedCounter& r : seen) {
    int measured = r.wallUs >= measureFromUs ? 1 : 0;
    report.samples += measured;
    if (r.counter < 0 || r.counter >= loopLength) {
      report.unreadable += measured;
      continue;
    }
    if (r.counter == previous) continue;
    if (previous >= 0) {
      int step = ((r.counter - previous) % loopLength + loopLength) % loopLength;
      if (step > loopLength / 2) report.backwardSteps += measured;
    }
    previous = r.counter;
    report.newPictures += measured;

    const std::vector<std::int64_t>& times = sendsByCounter[std::size_t(r.counter)];
    auto after = std::upper_bound(times.begin(), times.end(), r.wallUs);
    if (after == times.begin()) continue;  // never sent before it arrived: not our picture
    // Pictures arrive in the order sent, so each is the first send of its counter past the
    // previous picture's: a delay growing beyond one loop is not read as a loop shorter. When
    // there is none, the first match was already a loop short: start again from the latest.
    auto send = after - 1;
    if (previousSendUs >= 0) {
      auto next = std::upper_bound(times.begin(), after, previousSendUs);
      if (next != after) send = next;
    }
    previousSendUs = *send;
    if (!measured) continue;
    report.matched++;
    report.latenciesMs.push_back(double(r.wallUs - *send) / 1000.0);
  }
  report.medianMs = percentile(report.latenciesMs, 50);
  report.p95Ms = percentile(report.latenciesMs, 95);
  report.maxMs = percentile(report.latenciesMs, 100);
  return report;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty() || !(p > 0) || p > 100) return 0;
  std::sort(values.begin(), values.end());
  std::size_t rank = std::size_t(std::ceil(p / 100.0 * double(values.size())));
  if (rank < 1) rank = 1;
  return values[rank - 1];
}

std::vector<TimedCounter> readTimedCounters(const std::string& text, const std::string& tag, int counterField,
                                            int wallField) {
  std::vector<TimedCounter> out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string w; fields >> w;) f.push_back(w);
    if (f.empty() || f[0] != tag) continue;
    if (counterField >= int(f.size()) || wallField >= int(f.size())) continue;
    char* end = nullptr;
    long counter = std::strtol(f[std::size_t(counterField)].c_str(), &end, 10);
    if (*end != '\0') continue;
    long long wall = std::strtoll(f[std::size_t(wallField)].c_str(), &end, 10);
    if (*end != '\0') continue;
    if (counter < -1 || counter > 1 << 20) continue;
    out.push_back({int(counter), std::int64_t(wall)});
  }
  return out;
}

}  // namespace e2e
