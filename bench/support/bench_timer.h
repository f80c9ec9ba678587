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
  double subject;     // median seconds of the case
  double baseline;    // median seconds of its baseline
  double roundRatio;  // median over the rounds of the case's time over the baseline's
  // The per-round median: a burst of load lands on both halves of a round, and drift over the
  // run cancels, where a ratio of two medians keeps both.
  double ratio() const { return roundRatio; }
};

// Each round times both, the order swapped every round so that neither always runs on the
// caches the other left warm.
template <class Subject, class Baseline>
Pair sideBySide(int rounds, Subject&& subject, Baseline&& baseline) {
  std::vector<double> a, b, r;
  for (int i = 0; i < rounds; ++i) {
    double sa, sb;
    if (i % 2 == 0) {
      sa = secondsOf(subject);
      sb = secondsOf(baseline);
    } else {
      sb = secondsOf(baseline);
      sa = secondsOf(subject);
    }
    a.push_back(sa);
    b.push_back(sb);
    r.push_back(sa / sb);
  }
  return {median(a), median(b), median(r)};
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
