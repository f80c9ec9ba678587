// Finds a tone in a recording of what a sound device played: its pitch from the median spacing
// of rising zero crossings (a player fills short underruns with silence, which a plain crossing
// count would read as a lower tone), how long it sounded, and the silences in it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

struct ToneAnalysis {
  bool sound = false;       // some sample reached 0.02 of full scale
  double seconds = 0;       // from that first loud sample to the end
  double frequencyHz = 0;   // 0 with too few crossings to tell
  double rms = 0;           // from the first loud sample on, full scale = 1
  double longestGapMs = 0;  // the longest run of quiet samples (below 0.01) after it
  double silentMs = 0;      // quiet samples in runs longer than four, added up
  int gapsOver20Ms = 0;     // quiet runs longer than 20 ms: gaps a listener hears
};

// `sample(i)` is sample i of one channel, full scale = 1; `count` of them at `rate` per second.
// The first `warmupS` seconds after the first loud sample are left out.
template <class Sample>
ToneAnalysis analyseTone(Sample sample, std::size_t count, int rate, double warmupS = 0) {
  ToneAnalysis result;
  if (rate <= 0) return result;
  std::size_t first = 0;
  while (first < count && std::fabs(sample(first)) < 0.02) first++;
  first += std::min(count - first, std::size_t(std::max(0.0, warmupS) * rate));
  if (first == count) return result;
  result.sound = true;
  result.seconds = double(count - first) / rate;

  double energy = 0;
  std::size_t quiet = 0, longestQuiet = 0, silent = 0;
  const std::size_t audibleGap = std::size_t(rate) / 50;
  std::vector<double> crossings;
  for (std::size_t i = first; i < count; i++) {
    double v = sample(i);
    energy += v * v;
    quiet = std::fabs(v) < 0.01 ? quiet + 1 : 0;
    longestQuiet = std::max(longestQuiet, quiet);
    if (quiet > 4) silent++;
    if (quiet == audibleGap + 1) result.gapsOver20Ms++;
    if (i > first) {
      double before = sample(i - 1);
      if (before < 0 && v >= 0) crossings.push_back(double(i - 1) + -before / (v - before));
    }
  }
  result.rms = std::sqrt(energy / double(count - first));
  result.longestGapMs = 1000.0 * double(longestQuiet) / rate;
  result.silentMs = 1000.0 * double(silent) / rate;
  if (crossings.size() > 10) {
    std::vector<double> periods;
    for (std::size_t i = 1; i < crossings.size(); i++) periods.push_back(crossings[i] - crossings[i - 1]);
    std::nth_element(periods.begin(), periods.begin() + std::ptrdiff_t(periods.size() / 2), periods.end());
    result.frequencyHz = double(rate) / periods[periods.size() / 2];
  }
  return result;
}

// 16-bit little-endian mono, as parec records it with --format=s16le --channels=1.
inline ToneAnalysis analyseS16Mono(const std::uint8_t* bytes, std::size_t size, int rate, double warmupS = 0) {
  auto sample = [bytes](std::size_t i) {
    return double(std::int16_t(std::uint16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)))) / 32768.0;
  };
  return analyseTone(sample, bytes ? size / 2 : 0, rate, warmupS);
}

}  // namespace testsupport
