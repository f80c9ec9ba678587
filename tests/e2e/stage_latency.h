// Reads the stage trace of a run (common/stage_trace.h, the files of every process concatenated)
// and measures, frame by frame, how long each stage came after the frame's bytes were received,
// what the decoder transform took itself, and how long a published picture waited for the camera.
#pragma once

#include <string>

#include "common/stage_trace.h"

namespace e2e {

struct Spread {
  int frames = 0;
  double medianMs = 0;
  double p95Ms = 0;
};

struct StageReport {
  int framesReceived = 0;
  Spread afterReceived[kTraceStageCount];  // by stage; the first, received itself, stays empty
  Spread decoderOwn;                       // decoder input to decoder output
  Spread ownStages;                        // received to published, less the decoder's own time
  Spread publishToCamera;                  // published to the first camera sample with the picture
  double frameIntervalMs = 0;              // median step between consecutive frames' timestamps
  int badLines = 0;                        // neither a record nor a comment
};

// Each stage's first record per frame counts (the camera repeats pictures, a restarted decoder
// is given units again).
StageReport analyseStageTrace(const std::string& text);

}  // namespace e2e
