// The stage trace as latency.sh reads it: a process's records written by the tracer, analysed
// frame by frame; nothing kept while tracing is off.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/stage_trace.h"
#include "tests/e2e/stage_latency.h"

namespace {

constexpr std::int64_t kMs = 1'000'000;

TEST(StageTrace, WritesWhatIsMarkedOnceOnAndTheAnalysisTimesEachStage) {
  // Off, as in every process without BRINDLE_STAGE_TRACE: marks leave no record.
  ASSERT_FALSE(stageTraceOn());
  for (int i = 0; i < 100; ++i) traceStage(TraceStage::Received, 7);

  const std::string pid = std::to_string(getpid());
  const std::string base = (std::filesystem::temp_directory_path() / ("stage_trace_test_" + pid)).string();
  const std::string file = base + "." + pid;
  std::filesystem::remove(file);
  ASSERT_TRUE(startStageTrace(base));
  ASSERT_TRUE(stageTraceOn());
  EXPECT_FALSE(startStageTrace(base));

  // 20 frames at 60 fps: cut 0.1 ms after the bytes, decoder input at 0.2, 30 ms in the
  // decoder, published 1 ms after it, and the camera's first sample 5 or 20 ms later and again
  // a frame later (a repeat).
  for (int i = 0; i < 20; ++i) {
    const std::uint64_t ts = 1'000'000 + std::uint64_t(i) * 16'667;
    const std::int64_t t0 = 5'000 * kMs + i * 16'667'000;
    const std::int64_t published = t0 + 31 * kMs + kMs / 5;
    traceStageAt(TraceStage::Received, ts, t0);
    traceStageAt(TraceStage::Cut, ts, t0 + kMs / 10);
    traceStageAt(TraceStage::DecoderIn, ts, t0 + kMs / 5);
    traceStageAt(TraceStage::DecoderOut, ts, t0 + 30 * kMs + kMs / 5);
    traceStageAt(TraceStage::Published, ts, published);
    traceStageAt(TraceStage::Delivered, ts, published + (i % 2 ? 5 : 20) * kMs);
    traceStageAt(TraceStage::Delivered, ts, published + 40 * kMs);
  }
  traceStageAt(TraceStage::Received, 9'000'000, 9'000 * kMs);  // received, never decoded
  flushStageTrace();

  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::remove(file);
  EXPECT_EQ(text.str().find("received 7 "), std::string::npos);
  EXPECT_TRUE(text.str().ends_with("received 9000000 9000000000\n")) << text.str();

  const e2e::StageReport r = e2e::analyseStageTrace(text.str() + "garbage\n# comment\n");
  EXPECT_EQ(r.framesReceived, 21);
  EXPECT_EQ(r.badLines, 1);
  EXPECT_NEAR(r.frameIntervalMs, 16.667, 1e-9);
  const e2e::Spread& cut = r.afterReceived[int(TraceStage::Cut)];
  EXPECT_EQ(cut.frames, 20);
  EXPECT_NEAR(cut.medianMs, 0.1, 1e-9);
  EXPECT_NEAR(r.afterReceived[int(TraceStage::Published)].p95Ms, 31.2, 1e-9);
  EXPECT_EQ(r.decoderOwn.frames, 20);
  EXPECT_NEAR(r.decoderOwn.medianMs, 30.0, 1e-9);
  EXPECT_EQ(r.ownStages.frames, 20);
  EXPECT_NEAR(r.ownStages.medianMs, 1.2, 1e-9);
  // The camera's first sample of each picture counts, not its repeats.
  EXPECT_NEAR(r.publishToCamera.medianMs, 5.0, 1e-9);
  EXPECT_NEAR(r.publishToCamera.p95Ms, 20.0, 1e-9);
}

}  // namespace
