#include "media/audio_player_queue.h"

#include <algorithm>
#include <cstring>

namespace media {

AudioQueueLimits audioQueueLimits(std::uint32_t frameBytes, std::uint32_t sampleRate) {
  AudioQueueLimits limits;
  if (frameBytes == 0) return limits;
  std::uint64_t bytesPerSecond = std::uint64_t(frameBytes) * sampleRate;
  std::uint64_t keep = bytesPerSecond * 40 / 1000;
  // Rates that are not a multiple of 25 would otherwise start the kept part mid-frame, and
  // every later frame would be played shifted by those bytes.
  keep -= keep % frameBytes;
  std::uint64_t start = bytesPerSecond * 60 / 1000;
  start -= start % frameBytes;
  limits.keep = static_cast<std::size_t>(keep);
  limits.limit = static_cast<std::size_t>(bytesPerSecond * 120 / 1000);
  limits.start = static_cast<std::size_t>(start);
  limits.frame = frameBytes;
  return limits;
}

std::size_t audioToPlay(std::size_t queued, std::size_t held, std::size_t want, AudioQueueLimits limits,
                        bool& playing) {
  if (limits.frame == 0) return 0;
  // A partial frame stays queued for the bytes that complete it; giving it would shift every
  // later frame's channels.
  std::size_t whole = queued - queued % limits.frame;
  want -= want % limits.frame;
  // The device has nothing left and the queue cannot fill its room: the sound ran dry.
  if (playing && held == 0 && whole < want) playing = false;
  if (!playing) {
    if (limits.start == 0 || whole + held < limits.start) return 0;
    playing = true;
  }
  return std::min(whole, want);
}

void appendAudio(std::vector<std::uint8_t>& queue, const std::uint8_t* bytes, std::size_t count,
                 AudioQueueLimits limits) {
  if (count == 0) return;
  std::size_t total = queue.size() + count;
  if (total <= limits.limit) {
    queue.insert(queue.end(), bytes, bytes + count);
    return;
  }
  // Keep only the newest `keep` bytes of old queue + new bytes, without building the whole.
  std::size_t keep = std::min(limits.keep, total);
  if (count >= keep) {
    queue.assign(bytes + (count - keep), bytes + count);
    return;
  }
  std::size_t fromQueue = keep - count;
  std::memmove(queue.data(), queue.data() + (queue.size() - fromQueue), fromQueue);
  queue.resize(fromQueue);
  queue.insert(queue.end(), bytes, bytes + count);
}

void takeAudio(std::vector<std::uint8_t>& queue, std::size_t want, std::vector<std::uint8_t>& taken) {
  if (queue.size() <= want) {
    taken.swap(queue);
    queue.clear();
    return;
  }
  taken.assign(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(want));
  queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(want));
}

void fillAudioBuffer(std::uint8_t* buffer, std::size_t size, const std::vector<std::uint8_t>& taken) {
  std::size_t copied = std::min(size, taken.size());
  if (copied > 0) std::memcpy(buffer, taken.data(), copied);
  if (size > copied) std::memset(buffer + copied, 0, size - copied);
}

}  // namespace media
