#include "tests/e2e/tone_check.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace e2e {

ToneResult analyseTone(const std::uint8_t* bytes, std::size_t size, int sampleRate) {
  ToneResult result;
  std::size_t count = size / 2;
  if (count == 0 || sampleRate <= 0) return result;
  auto sample = [&](std::size_t i) {
    return double(std::int16_t(std::uint16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)))) / 32768.0;
  };

  std::size_t first = 0;
  while (first < count && std::fabs(sample(first)) < 0.02) first++;
  if (first == count) return result;
  result.soundSeconds = double(count - first) / sampleRate;

  double energy = 0;
  std::vector<double> crossings;
  for (std::size_t i = first; i < count; i++) {
    double v = sample(i);
    energy += v * v;
    if (i > first) {
      double before = sample(i - 1);
      if (before < 0 && v >= 0) crossings.push_back(double(i - 1) + -before / (v - before));
    }
  }
  result.rms = std::sqrt(energy / double(count - first));
  // Underruns filled with silence stretch a few periods; the median ignores them.
  if (crossings.size() > 10) {
    std::vector<double> periods;
    for (std::size_t i = 1; i < crossings.size(); i++) periods.push_back(crossings[i] - crossings[i - 1]);
    std::nth_element(periods.begin(), periods.begin() + std::ptrdiff_t(periods.size() / 2), periods.end());
    result.frequencyHz = double(sampleRate) / periods[periods.size() / 2];
  }
  return result;
}

}  // namespace e2e
