#include "session/video_worker.h"

#include <utility>

#include "common/steady_clock.h"

namespace session {

namespace {
std::int64_t nowUs() { return steadyNowNs() / 1000; }
bool isKey(const receiver::Frame& frame) { return frame.type == receiver::kFrameVideoKey; }
}  // namespace

VideoWorker::VideoWorker(VideoSink& sink, LiveGate& gate, Limits limits) : sink_(sink), gate_(gate), limits_(limits) {}

VideoWorker::~VideoWorker() { stop(); }

void VideoWorker::start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
  }
  thread_ = std::thread([this] { run(); });
}

void VideoWorker::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    queue_.clear();
    queuedBytes_ = 0;
    queuedKeys_ = 0;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void VideoWorker::push(const receiver::Frame& frame) {
  gate_.arrived(frame.timestampUs, nowUs());
  const std::size_t size = frame.payload.size();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return;
    if (queuedBytes_ + size > limits_.bytes || queue_.size() >= limits_.frames) {
      // Everything waiting is older than what comes next: drop it all, and this frame too
      // unless it alone fits.
      const bool fits = size <= limits_.bytes && limits_.frames > 0;
      gate_.videoOverflow(queue_.size() + (fits ? 0 : 1));
      dropped_ = true;
      queue_.clear();
      queuedBytes_ = 0;
      queuedKeys_ = 0;
      if (!fits) return;
    }
    queue_.push_back(frame);
    queuedBytes_ += size;
    queuedKeys_ += isKey(frame) ? 1 : 0;
  }
  wake_.notify_one();
}

std::size_t VideoWorker::queued() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

bool VideoWorker::idle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.empty() && !busy_;
}

void VideoWorker::run() {
  sink_.threadBegins();
  receiver::Frame frame;
  bool decoded = false;  // the last frame taken went to the sink
  for (;;) {
    bool newerKey = false, droppedBefore = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      busy_ = false;
      wake_.wait(lock, [this] { return !running_ || !queue_.empty(); });
      if (!running_) break;
      frame = std::move(queue_.front());
      queue_.pop_front();
      queuedBytes_ -= frame.payload.size();
      queuedKeys_ -= isKey(frame) ? 1 : 0;
      newerKey = queuedKeys_ > 0;
      droppedBefore = std::exchange(dropped_, false);
      busy_ = true;
    }
    if (droppedBefore && decoded) {
      sink_.skipStarts();
      decoded = false;
    }
    if (gate_.decodeVideo(frame.timestampUs, isKey(frame), newerKey, nowUs())) {
      sink_.decode(frame);
      decoded = true;
    } else if (decoded) {
      sink_.skipStarts();
      decoded = false;
    }
  }
  sink_.threadEnds();
}

}  // namespace session
