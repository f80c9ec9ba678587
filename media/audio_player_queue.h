// The byte queue between the receiving thread and the audio render thread: append with
// trimming, a jitter buffer that decides how much the device gets, take from the front, and
// fill a device buffer. Plain functions over the caller's vector; the caller holds the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace media {

struct AudioQueueLimits {
  std::size_t keep = 0;   // bytes left after a trim: the newest 40 ms, whole frames
  std::size_t limit = 0;  // a queue above this many bytes (120 ms) is trimmed
  std::size_t start = 0;  // playing (re)starts once this much (60 ms, whole frames) is buffered
  std::size_t frame = 0;  // one device frame
};

// From the size of one device frame in bytes and the sample rate. Zero for either gives zero
// limits, which keep nothing.
AudioQueueLimits audioQueueLimits(std::uint32_t frameBytes, std::uint32_t sampleRate);

// Appends `count` bytes; when the queue then holds more than `limit`, only its newest `keep`
// bytes remain. A push far larger than the limit never grows the queue past it.
void appendAudio(std::vector<std::uint8_t>& queue, const std::uint8_t* bytes, std::size_t count,
                 AudioQueueLimits limits);

// The jitter buffer: how many of the `queued` bytes the device gets now, when it has room for
// `want` bytes and still holds `held` bytes not yet played; whole frames only. Once the device
// holds nothing and the queue cannot fill its room, the sound has run dry and `playing` ends.
// While not `playing` nothing is given until queue and device together hold `start` bytes, so a
// stalled sender costs one gap and then a fresh cushion, not a stutter of small gaps.
std::size_t audioToPlay(std::size_t queued, std::size_t held, std::size_t want, AudioQueueLimits limits,
                        bool& playing);

// Moves up to `want` bytes from the front of the queue into `taken` (replacing its contents).
void takeAudio(std::vector<std::uint8_t>& queue, std::size_t want, std::vector<std::uint8_t>& taken);

// Copies `taken` into the `size` bytes at `buffer`, as much as fits, and zeroes the rest.
void fillAudioBuffer(std::uint8_t* buffer, std::size_t size, const std::vector<std::uint8_t>& taken);

}  // namespace media
