// Plays the phone's PCM on the default Windows output device through WASAPI in shared mode.
// configure() opens the device for a format (the audio engine converts rate and sample type);
// push() queues bytes that the render thread writes whenever the device frees buffer space.
// Playing starts once 60 ms is buffered, and again after the sound ran dry (silence meanwhile),
// so short stalls of the sender go unheard. The queue is trimmed to the newest 40 ms once it
// passes 120 ms, so delay stays bounded.
// When a device call of the render thread fails (the device was unplugged or invalidated) or
// the default output device changes, the render thread opens the current default device again,
// at once and then every 100 ms until it succeeds; the queue and its bounds stay as they were.
// A device that is missing, busy or failing when the format arrives is tried the same way, every
// 100 ms, and plays from the first attempt that succeeds, with what was queued meanwhile.
// configure and push come from the receiving thread, stop from any one thread, never at the
// same time as configure. Windows only.
#pragma once

#include <wrl/client.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
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

  // True when the player took `format`: it plays on the device now or, when no device can be
  // opened yet, as soon as one can. A format equal in rate, channels, bits, float and
  // non-interleaved to the open one changes nothing. Otherwise the player is stopped (queued
  // bytes are lost) and reopened. A format no device can play (refused before or by the audio
  // engine) leaves it closed, and push drops everything.
  bool configure(const AudioFormat& format);
  // Queues `count` bytes while open; drops them while closed.
  void push(const std::uint8_t* bytes, std::size_t count);
  // Ends the render thread, stops and releases the device, empties the queue. Idempotent.
  void stop();

  // What the default-device notification does: the render thread moves to the new default
  // device. Any thread; nothing happens while closed.
  void followDefaultDevice();

  // For diagnostics and tests.
  bool opened() const { return opened_; }
  AudioFormat format() const { return format_; }
  std::size_t queuedBytes() const;
  std::uint64_t renderPasses() const { return renderPasses_.load(); }
  // Test seam: the render thread's next device call fails with `hr` as if the device had.
  void failNextDeviceCall(long hr) { injectedFailure_.store(hr); }
  // Test seam: the next `count` device opens fail at Initialize with `hr`, as while another
  // program holds the device in exclusive mode. Outlasts stop, so it can precede configure.
  void failDeviceOpens(int count, long hr) {
    failedOpenResult_.store(hr);
    failedOpens_.store(count);
  }

 private:
  class DefaultDeviceWatch;

  enum class DeviceOpen { Now, Later, Refused };
  DeviceOpen openDevice();
  // The audio client on the current default device, started; otherwise the failing step's
  // result, logged when `log` is set.
  long openClient(bool log);
  void closeClient();
  // Starts by opening the device when `deviceOpen` is false.
  void renderLoop(bool deviceOpen);

  AudioFormat format_;
  bool opened_ = false;
  Microsoft::WRL::ComPtr<IMMDeviceEnumerator> enumerator_;
  Microsoft::WRL::ComPtr<IAudioClient> client_;
  Microsoft::WRL::ComPtr<IAudioRenderClient> renderClient_;
  std::unique_ptr<DefaultDeviceWatch> watch_;  // registered with enumerator_ while open
  void* bufferEvent_ = nullptr;                 // one event for the open player, handed to every client
  std::uint32_t bufferFrames_ = 0;
  std::uint32_t deviceFrameBytes_ = 0;  // nBlockAlign of the open device format
  AudioQueueLimits limits_;

  mutable std::mutex queueMutex_;
  std::vector<std::uint8_t> queue_;

  std::atomic<bool> running_{false};
  std::atomic<bool> defaultChanged_{false};
  std::atomic<long> injectedFailure_{0};
  std::atomic<int> failedOpens_{0};
  std::atomic<long> failedOpenResult_{0};
  std::atomic<std::uint64_t> renderPasses_{0};
  std::thread renderThread_;
};

}  // namespace media
