// Decodes video on a thread of its own, so the stream thread only queues it and the sound is
// never held back by decoding. The queue is bounded by bytes and by frames; a full queue is
// emptied and the gate skips to the next key frame. Each frame taken from the queue passes the
// gate's stay-live rule before it reaches the sink.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "receiver/frame.h"
#include "session/live_gate.h"

namespace session {

// Where the worker's frames go, all on the worker's thread.
class VideoSink {
 public:
  virtual void threadBegins() {}
  virtual void decode(const receiver::Frame& frame) = 0;
  // The frame after a decoded one is skipped: what the decoder still holds must come out now.
  virtual void skipStarts() {}
  virtual void threadEnds() {}

 protected:
  ~VideoSink() = default;
};

class VideoWorker {
 public:
  struct Limits {
    std::size_t bytes = 32u << 20;
    std::size_t frames = 240;  // 4 s at 60 frames a second: far past the gate's bound
  };

  VideoWorker(VideoSink& sink, LiveGate& gate, Limits limits);
  VideoWorker(VideoSink& sink, LiveGate& gate) : VideoWorker(sink, gate, Limits{}) {}
  // Stops.
  ~VideoWorker();
  VideoWorker(const VideoWorker&) = delete;
  VideoWorker& operator=(const VideoWorker&) = delete;

  // Starts the thread; nothing when it runs.
  void start();
  // Drops what waits, lets the frame being decoded finish, and joins the thread.
  void stop();

  // Queues a copy of a video frame (any thread but the worker's), noting its arrival with the gate.
  void push(const receiver::Frame& frame);

  std::size_t queued() const;
  // Nothing waits and nothing is being decoded.
  bool idle() const;

 private:
  void run();

  VideoSink& sink_;
  LiveGate& gate_;
  const Limits limits_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<receiver::Frame> queue_;
  std::size_t queuedBytes_ = 0;
  std::size_t queuedKeys_ = 0;
  bool running_ = false;  // started and not stopping
  bool busy_ = false;     // a taken frame not yet through the sink
  bool dropped_ = false;  // a full queue was emptied since the worker last looked
  std::thread thread_;
};

}  // namespace session
