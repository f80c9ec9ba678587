// When each picture passes each stage on its way from the socket to the camera, for
// scripts/latency.sh: bytes received, frame cut, decoder input, decoder output, ring publish,
// camera sample delivered. Records are keyed by the frame's timestamp, which travels unchanged
// through decoder, ring and camera, and timed on the steady clock, which every process of a run
// reads alike.
//
// Off unless the environment variable BRINDLE_STAGE_TRACE names a file when the process starts;
// then the process appends its records to that name followed by ".<process id>", one line each,
// "<stage> <timestamp us> <steady ns>". Records go into a buffer allocated at start and are
// written by a background thread: a thread that marks a stage never does I/O.
//
// Off, a mark costs one relaxed load of a bool and a branch not taken; nothing else runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/steady_clock.h"

enum class TraceStage : std::uint8_t { Received, Cut, DecoderIn, DecoderOut, Published, Delivered };
constexpr int kTraceStageCount = 6;

// "received", "cut", "decoder_in", "decoder_out", "published", "delivered".
const char* traceStageName(TraceStage stage);

namespace stagetrace_detail {
extern std::atomic<bool> on;
void record(TraceStage stage, std::uint64_t timestampUs, std::int64_t atNs);
}  // namespace stagetrace_detail

inline bool stageTraceOn() { return stagetrace_detail::on.load(std::memory_order_relaxed); }

// Marks that the frame with `timestampUs` passes `stage` now.
inline void traceStage(TraceStage stage, std::uint64_t timestampUs) {
  if (stageTraceOn()) [[unlikely]] stagetrace_detail::record(stage, timestampUs, steadyNowNs());
}

// The same, at a moment taken earlier on the steady clock.
inline void traceStageAt(TraceStage stage, std::uint64_t timestampUs, std::int64_t atNs) {
  if (stageTraceOn()) [[unlikely]] stagetrace_detail::record(stage, timestampUs, atNs);
}

// Turns tracing on into `path`.<process id>, as the environment variable does at start; false
// when it already is on or the buffer cannot be had. For tests and tools.
bool startStageTrace(const std::string& path);
// Writes out every record made so far, on the calling thread (the background thread does this
// every 100 ms).
void flushStageTrace();
