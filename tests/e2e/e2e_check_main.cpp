// e2e_check: the end-to-end test's verdicts, computed from what its programs logged.
//   e2e_check latency SENT_LOG SAMPLE_LOG [LOOP]   pictures the camera delivered vs. pictures sent
//   e2e_check tone RAW_FILE RATE                    the simulator's 1 kHz tone in a recording
//   e2e_check load SENT_LOG SAMPLE_LOG RAW_FILE RATE WARMUP_S
//                                                   delay, picture rate and gaps after a warm-up
//   e2e_check stages TRACE_FILE...                  time per stage from a stage trace (latency.sh)
// Prints what it found; exit 0 when it holds, 1 when it does not, 2 on bad arguments or files.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/frame_latency.h"
#include "tests/e2e/stage_latency.h"
#include "tests/support/tone_analysis.h"

namespace {

bool readFile(const char* path, std::string* out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream s;
  s << file.rdbuf();
  *out = s.str();
  return true;
}

int latency(const char* sentPath, const char* seenPath, int loop) {
  std::string sentText, seenText;
  if (!readFile(sentPath, &sentText) || !readFile(seenPath, &seenText)) {
    std::printf("cannot read %s or %s\n", sentPath, seenPath);
    return 2;
  }
  // "video <connection> <counter> <wall us>" and "sample <wall us> <counter>"
  auto sent = e2e::readTimedCounters(sentText, "video", 2, 3);
  auto seen = e2e::readTimedCounters(seenText, "sample", 2, 1);
  e2e::LatencyReport r = e2e::matchPictures(sent, seen, loop);
  std::printf("pictures sent: %zu\n", sent.size());
  std::printf("camera samples: %d (%d without a counter)\n", r.samples, r.unreadable);
  std::printf("new pictures at the camera: %d, matched with a send: %d, backward steps: %d\n", r.newPictures,
              r.matched, r.backwardSteps);
  std::printf("latency simulator to camera: median %.1f ms, 95th percentile %.1f ms\n", r.medianMs, r.p95Ms);
  // The counters must advance through the loop, every picture must be one that was sent.
  bool ok = r.newPictures >= 10 && r.matched == r.newPictures && r.backwardSteps == 0;
  return ok ? 0 : 1;
}

int tone(const char* path, int rate) {
  std::string bytes;
  if (!readFile(path, &bytes)) {
    std::printf("cannot read %s\n", path);
    return 2;
  }
  testsupport::ToneAnalysis t =
      testsupport::analyseS16Mono(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), rate);
  std::printf("tone: %.2f s of sound, %.1f Hz, rms %.3f\n", t.seconds, t.frequencyHz, t.rms);
  return t.seconds >= 0.5 && std::fabs(t.frequencyHz - 1000.0) < 20.0 ? 0 : 1;
}

// The figures of a run under load, leaving out the first `warmupS` seconds after the camera's
// first picture and after the recording's first sound.
int load(const char* sentPath, const char* seenPath, const char* rawPath, int rate, int warmupS) {
  std::string sentText, seenText, bytes;
  if (!readFile(sentPath, &sentText) || !readFile(seenPath, &seenText) || !readFile(rawPath, &bytes)) {
    std::printf("cannot read %s, %s or %s\n", sentPath, seenPath, rawPath);
    return 2;
  }
  auto sent = e2e::readTimedCounters(sentText, "video", 2, 3);
  auto seen = e2e::readTimedCounters(seenText, "sample", 2, 1);
  // Warm-up from the first picture; the pictures before it still anchor the match.
  auto first = std::find_if(seen.begin(), seen.end(), [](const e2e::TimedCounter& s) { return s.counter >= 0; });
  std::int64_t fromUs = first == seen.end() ? 0 : first->wallUs + std::int64_t(warmupS) * 1'000'000;
  e2e::LatencyReport r = e2e::matchPictures(sent, seen, 60, fromUs);
  double spanS = seen.empty() || seen.back().wallUs <= fromUs ? 0 : double(seen.back().wallUs - fromUs) / 1e6;
  std::printf("delay: median %.0f ms, p95 %.0f ms, max %.0f ms (after %d s)\n", r.medianMs, r.p95Ms, r.maxMs,
              warmupS);
  std::printf("camera: %.1f pictures/s (%d new of %d samples in %.1f s, %d not sent before)\n",
              spanS > 0 ? r.newPictures / spanS : 0.0, r.newPictures, r.samples, spanS, r.newPictures - r.matched);

  testsupport::ToneAnalysis t =
      testsupport::analyseS16Mono(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), rate, warmupS);
  double silentPercent = t.seconds > 0 ? t.silentMs / (10.0 * t.seconds) : 100.0;
  std::printf("sound: silent %.1f %%, longest gap %.0f ms, gaps over 20 ms: %d (%.1f s of %.0f Hz)\n",
              silentPercent, t.longestGapMs, t.gapsOver20Ms, t.seconds, t.frequencyHz);
  return r.matched > 0 && t.sound ? 0 : 1;
}

int stages(int count, char** paths) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    std::string one;
    if (!readFile(paths[i], &one)) {
      std::printf("cannot read %s\n", paths[i]);
      return 2;
    }
    text += one;
  }
  const e2e::StageReport r = e2e::analyseStageTrace(text);
  std::printf("frames received: %d, frame interval %.2f ms%s\n", r.framesReceived, r.frameIntervalMs,
              r.badLines != 0 ? " (unreadable lines skipped)" : "");
  for (int s = 1; s < kTraceStageCount; ++s) {
    const e2e::Spread& a = r.afterReceived[s];
    std::printf("%-12s median %8.2f ms, 95th percentile %8.2f ms after received (%d frames)\n",
                traceStageName(TraceStage(s)), a.medianMs, a.p95Ms, a.frames);
  }
  std::printf("decoder transform's own time: median %.2f ms, 95th percentile %.2f ms (%d frames)\n",
              r.decoderOwn.medianMs, r.decoderOwn.p95Ms, r.decoderOwn.frames);
  const e2e::Spread& c = r.publishToCamera;
  const double interval = r.frameIntervalMs > 0 ? r.frameIntervalMs : 1;
  std::printf("publish to camera: median %.2f ms, 95th percentile %.2f ms (%.2fx and %.2fx the frame interval, %d "
              "frames)\n",
              c.medianMs, c.p95Ms, c.medianMs / interval, c.p95Ms / interval, c.frames);
  std::printf("own stages 95th percentile: %.2f ms (%d frames)\n", r.ownStages.p95Ms, r.ownStages.frames);
  std::printf("own stages median: %.2f ms\n", r.ownStages.medianMs);
  return r.ownStages.frames >= 10 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "latency" && (argc == 4 || argc == 5)) {
    int loop = argc == 5 ? std::atoi(argv[4]) : 60;
    if (loop < 2 || loop > 100000) return 2;
    return latency(argv[2], argv[3], loop);
  }
  if (command == "tone" && argc == 4) {
    int rate = std::atoi(argv[3]);
    if (rate < 8000 || rate > 384000) return 2;
    return tone(argv[2], rate);
  }
  if (command == "load" && argc == 7) {
    int rate = std::atoi(argv[5]);
    int warmup = std::atoi(argv[6]);
    if (rate < 8000 || rate > 384000 || warmup < 0 || warmup > 3600) return 2;
    return load(argv[2], argv[3], argv[4], rate, warmup);
  }
  if (command == "stages" && argc >= 3) return stages(argc - 2, argv + 2);
  std::fprintf(stderr,
               "usage: e2e_check latency SENT_LOG SAMPLE_LOG [LOOP] | e2e_check tone RAW_FILE RATE |\n"
               "       e2e_check load SENT_LOG SAMPLE_LOG RAW_FILE RATE WARMUP_S | e2e_check stages TRACE_FILE...\n");
  return 2;
}
