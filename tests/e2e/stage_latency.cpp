#include "tests/e2e/stage_latency.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <sstream>
#include <vector>

#include "tests/e2e/frame_latency.h"

namespace e2e {

namespace {

constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max();
using StageTimes = std::array<std::int64_t, kTraceStageCount>;

int stageOf(const std::string& name) {
  for (int s = 0; s < kTraceStageCount; ++s) {
    if (name == traceStageName(TraceStage(s))) return s;
  }
  return -1;
}

Spread spreadOf(const std::vector<double>& ms) {
  return {int(ms.size()), percentile(ms, 50), percentile(ms, 95)};
}

double msBetween(std::int64_t fromNs, std::int64_t toNs) { return double(toNs - fromNs) / 1e6; }

}  // namespace

StageReport analyseStageTrace(const std::string& text) {
  StageReport report;
  std::map<std::uint64_t, StageTimes> frames;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name;
    std::uint64_t timestampUs = 0;
    std::int64_t atNs = 0;
    const int stage = (fields >> name >> timestampUs >> atNs) ? stageOf(name) : -1;
    if (stage < 0) {
      report.badLines++;
      continue;
    }
    auto [it, added] = frames.try_emplace(timestampUs);
    if (added) it->second.fill(kNone);
    std::int64_t& at = it->second[std::size_t(stage)];
    at = std::min(at, atNs);
  }

  constexpr auto kReceived = std::size_t(TraceStage::Received), kIn = std::size_t(TraceStage::DecoderIn),
                 kOut = std::size_t(TraceStage::DecoderOut), kPublished = std::size_t(TraceStage::Published),
                 kDelivered = std::size_t(TraceStage::Delivered);
  std::vector<double> after[kTraceStageCount], decoder, own, toCamera, steps;
  std::uint64_t previousUs = 0;
  for (const auto& [timestampUs, t] : frames) {
    if (t[kReceived] == kNone) continue;
    if (report.framesReceived++ > 0) steps.push_back(double(timestampUs - previousUs) / 1000.0);
    previousUs = timestampUs;
    for (std::size_t s = kReceived + 1; s < t.size(); ++s) {
      if (t[s] != kNone) after[s].push_back(msBetween(t[kReceived], t[s]));
    }
    const bool decoded = t[kIn] != kNone && t[kOut] != kNone;
    if (decoded) decoder.push_back(msBetween(t[kIn], t[kOut]));
    if (decoded && t[kPublished] != kNone) {
      own.push_back(msBetween(t[kReceived], t[kPublished]) - msBetween(t[kIn], t[kOut]));
    }
    if (t[kPublished] != kNone && t[kDelivered] != kNone) toCamera.push_back(msBetween(t[kPublished], t[kDelivered]));
  }
  for (int s = 1; s < kTraceStageCount; ++s) report.afterReceived[s] = spreadOf(after[s]);
  report.decoderOwn = spreadOf(decoder);
  report.ownStages = spreadOf(own);
  report.publishToCamera = spreadOf(toCamera);
  report.frameIntervalMs = percentile(steps, 50);
  return report;
}

}  // namespace e2e
