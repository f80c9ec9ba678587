// Where the phone's stream goes: its frames, and for a stream controller also the connection's
// state and each new rate window. Called on the thread that feeds the bytes (a transport's
// worker); fixed before the first byte. What is handed over is valid only during the call.
#pragma once

#include "receiver/frame.h"
#include "receiver/stream_stats.h"
#include "transport/state.h"

namespace receiver {

class StreamSink {
 public:
  virtual void frame(const Frame& frame) = 0;
  virtual void streamState(transport::State) {}
  virtual void streamStats(const StreamStats&) {}

 protected:
  ~StreamSink() = default;
};

}  // namespace receiver
