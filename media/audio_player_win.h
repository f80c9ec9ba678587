// Plays the phone's PCM on the default Windows output device through WASAPI in shared mode.
// configure() opens the device for a format (the audio engine converts rate and sample type);
// push() queues bytes that the render thread writes whenever the device frees buffer space.
// The queue is trimmed to the newest 40 ms once it passes 120 ms, so delay stays bounded.
// configure and push come from the receiving thread, stop from any one thread, never at the
// same time as configure. Windows only.
#pragma once

#include <wrl/client.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "media/audio_player_queue.h"
#include "media/stream_metadata.h"

struct IMMDeviceEnumerator;
struct IAudioClient;
struct IAudioRenderClient;

namespace media {

class AudioPlayer {
 public:
  AudioPlayer();
  ~AudioPlayer();

  // True when the device is open for `format`. A format equal in rate, channels, bits, float and
  // non-interleaved to the open one changes nothing. Otherwise the player is stopped (queued
  // bytes are lost) and reopened; on failure it stays closed and push drops everything.
  bool configure(const AudioFormat& format);
  // Queues `count` bytes while open; drops them while closed.
  void push(const std::uint8_t* bytes, std::size_t count);
  // Ends the render thread, stops and releases the device, empties the queue. Idempotent.
  void stop();

  // For diagnostics and tests.
  bool opened() const { return opened_; }
  AudioFormat format() const { return format_; }
  std::size_t queuedBytes() const;
  std::uint64_t renderPasses() const { return renderPasses_.load(); }

 private:
  bool openDevice();
  void renderLoop();

  AudioFormat format_;
  bool opened_ = false;
  Microsoft::WRL::ComPtr<IMMDeviceEnumerator> enumerator_;
  Microsoft::WRL::ComPtr<IAudioClient> client_;
  Microsoft::WRL::ComPtr<IAudioRenderClient> renderClient_;
  void* bufferEvent_ = nullptr;
  std::uint32_t bufferFrames_ = 0;
  std::uint32_t deviceFrameBytes_ = 0;  // nBlockAlign of the open device format
  AudioQueueLimits limits_;

  mutable std::mutex queueMutex_;
  std::vector<std::uint8_t> queue_;

  std::atomic<bool> running_{false};
  std::atomic<std::uint64_t> renderPasses_{0};
  std::thread renderThread_;
};

}  // namespace media
