#include "session/live_gate.h"

#include "common/debug_log.h"

namespace session {

namespace {

// arrival - media time. Unsigned arithmetic: a hostile timestamp wraps instead of overflowing.
std::int64_t offsetOf(std::uint64_t mediaUs, std::int64_t nowUs) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(nowUs) - mediaUs);
}

long long ms(std::int64_t us) { return static_cast<long long>(us / 1000); }

}  // namespace

void LiveGate::newConnection() {
  std::lock_guard<std::mutex> lock(mutex_);
  based_ = false;
  endVideoEpisodeLocked("skipping ended with the connection");
  endAudioEpisodeLocked();
}

void LiveGate::reset() {
  newConnection();
  videoSkipped_ = 0;
  audioDropped_ = 0;
}

std::int64_t LiveGate::lagLocked(std::uint64_t mediaUs, std::int64_t nowUs, bool arrival) {
  const std::int64_t offset = offsetOf(mediaUs, nowUs);
  if (arrival && (!based_ || offset < baselineUs_)) {
    baselineUs_ = offset;
    based_ = true;
  }
  if (!based_) return 0;
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(offset) - static_cast<std::uint64_t>(baselineUs_));
}

void LiveGate::arrived(std::uint64_t mediaUs, std::int64_t nowUs) {
  std::lock_guard<std::mutex> lock(mutex_);
  lagLocked(mediaUs, nowUs, true);
}

bool LiveGate::decodeVideo(std::uint64_t mediaUs, bool key, bool newerKeyWaiting, std::int64_t nowUs) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::int64_t lag = lagLocked(mediaUs, nowUs, false);
  if (key && !newerKeyWaiting) {
    // Still late at the newest key frame: the lag is no backlog this side can skip (a phone
    // clock that runs slow, or one that jumped back). Measure from here; any frame that then
    // arrives sooner moves the baseline back down.
    if (lag > kBoundUs) {
      logLine("[LiveGate] video %lld ms behind at the newest key frame: measuring from here\n", ms(lag));
      baselineUs_ = offsetOf(mediaUs, nowUs);
    }
    endVideoEpisodeLocked("resumed at a key frame");
    return true;
  }
  if (!videoSkipping_ && lag > kBoundUs) {
    logLine("[LiveGate] video %lld ms behind: skipping to the next key frame\n", ms(lag));
    videoSkipping_ = true;
  }
  if (!videoSkipping_) return true;
  ++videoEpisodeFrames_;
  ++videoSkipped_;
  return false;
}

void LiveGate::videoOverflow(std::uint64_t frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!videoSkipping_) logLine("[LiveGate] video queue full: skipping to the next key frame\n");
  videoSkipping_ = true;
  videoEpisodeFrames_ += frames;
  videoSkipped_ += frames;
}

bool LiveGate::playAudio(std::uint64_t mediaUs, std::int64_t nowUs) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::int64_t lag = lagLocked(mediaUs, nowUs, true);
  if (lag <= kBoundUs) {
    endAudioEpisodeLocked();
    return true;
  }
  if (!audioDropping_) {
    logLine("[LiveGate] sound %lld ms behind: dropping late samples\n", ms(lag));
    audioDropping_ = true;
    audioEpisodeStartUs_ = nowUs;
  } else if (nowUs - audioEpisodeStartUs_ > kAudioGiveUpUs) {
    // Without video, no key frame would ever measure afresh: sound would stay dropped for good.
    logLine("[LiveGate] sound %lld ms behind for %lld ms of dropping: measuring from here\n", ms(lag),
            ms(nowUs - audioEpisodeStartUs_));
    baselineUs_ = offsetOf(mediaUs, nowUs);
    endAudioEpisodeLocked();
    return true;
  }
  ++audioEpisodeFrames_;
  ++audioDropped_;
  return false;
}

void LiveGate::endVideoEpisodeLocked(const char* how) {
  if (!videoSkipping_) return;
  logLine("[LiveGate] video %s after %llu frames skipped\n", how,
          static_cast<unsigned long long>(videoEpisodeFrames_));
  videoSkipping_ = false;
  videoEpisodeFrames_ = 0;
}

void LiveGate::endAudioEpisodeLocked() {
  if (!audioDropping_) return;
  logLine("[LiveGate] sound on time again after %llu frames dropped\n",
          static_cast<unsigned long long>(audioEpisodeFrames_));
  audioDropping_ = false;
  audioEpisodeFrames_ = 0;
}

}  // namespace session
