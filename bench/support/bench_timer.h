// Side-by-side timing for benchmarks: runs a case and its baseline alternately and compares
// the medians, so that machine noise hits both alike.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

template <class F>
double secondsOf(F&& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Pair {
  double subject;   // median seconds of the case
  double baseline;  // median seconds of its baseline
  double ratio() const { return subject / baseline; }
};

template <class Subject, class Baseline>
Pair sideBySide(int rounds, Subject&& subject, Baseline&& baseline) {
  std::vector<double> a, b;
  for (int i = 0; i < rounds; ++i) {
    a.push_back(secondsOf(subject));
    b.push_back(secondsOf(baseline));
  }
  return {median(a), median(b)};
}

// The median over `rounds` of a's time over b's, the two run back to back in each round: for
// two cases compared with each other, a ratio that load drifting over the run leaves alone.
template <class A, class B>
double medianRatio(int rounds, A&& a, B&& b) {
  std::vector<double> ratios;
  for (int i = 0; i < rounds; ++i) ratios.push_back(secondsOf(a) / secondsOf(b));
  return median(ratios);
}

}  // namespace bench
