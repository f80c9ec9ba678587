// The stay-live rule: when the receiver falls behind the phone, video skips ahead to a key frame
// and late sound is dropped, so the picture and the sound stay within a bound of real time.
//
// Lag is measured on the local steady clock against the frames' own timestamps (microseconds on
// the phone's clock, shared by sound and video): the baseline is the smallest (arrival - media
// time) seen on the connection, so a late first frame does not hide later lag, and a frame's
// lag is (now - media time - baseline).
//
// Video: a frame about to be decoded whose lag is over the bound starts a skip episode; it and
// every following frame is skipped until a key frame with no newer key frame waiting behind it,
// which is decoded. A late key frame with none newer waiting is decoded at once: skipping it
// would only wait longer. Sound: samples already over the bound on arrival are dropped; sound
// still late after kAudioGiveUpUs of dropping is no backlog (dropping drains one at once) but a
// phone clock that jumped, so the lag is measured from there. Each episode writes one line
// when it starts and one when it ends.
//
// Threads: arrivals and sound on the stream thread, video decisions on the decoding thread; a
// lock keeps the few fields consistent.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace session {

class LiveGate {
 public:
  static constexpr std::int64_t kBoundUs = 250'000;
  static constexpr std::int64_t kAudioGiveUpUs = 2'000'000;

  // A new connection: forgets the baseline and ends any episode (its line is written).
  void newConnection();
  // newConnection, and the counters back to 0. Only while no other thread uses the gate.
  void reset();

  // A video frame arrived: only moves the baseline.
  void arrived(std::uint64_t mediaUs, std::int64_t nowUs);
  // Whether to decode the video frame at the head of the queue. `newerKeyWaiting`: a key frame
  // queued behind this one.
  bool decodeVideo(std::uint64_t mediaUs, bool key, bool newerKeyWaiting, std::int64_t nowUs);
  // `frames` queued video frames thrown away because the queue was full: a skip episode that
  // ends at the next key frame.
  void videoOverflow(std::uint64_t frames);
  // An audio frame arrived: moves the baseline, and whether to play it.
  bool playAudio(std::uint64_t mediaUs, std::int64_t nowUs);

  std::uint64_t videoSkipped() const { return videoSkipped_.load(); }
  std::uint64_t audioDropped() const { return audioDropped_.load(); }

 private:
  // Lag under the lock; moves the baseline first when `arrival`.
  std::int64_t lagLocked(std::uint64_t mediaUs, std::int64_t nowUs, bool arrival);
  void endVideoEpisodeLocked(const char* how);
  void endAudioEpisodeLocked();

  std::mutex mutex_;
  bool based_ = false;
  std::int64_t baselineUs_ = 0;
  bool videoSkipping_ = false;
  std::uint64_t videoEpisodeFrames_ = 0;
  bool audioDropping_ = false;
  std::uint64_t audioEpisodeFrames_ = 0;
  std::int64_t audioEpisodeStartUs_ = 0;  // local time of the episode's first dropped frame
  std::atomic<std::uint64_t> videoSkipped_{0};
  std::atomic<std::uint64_t> audioDropped_{0};
};

}  // namespace session
