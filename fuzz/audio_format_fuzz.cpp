// The audio format message (frame type 0x30), the device format the player asks for, and the
// player's queue fed with the samples that follow.
//
// Input: the message, then (after the first 0 byte, if any) the sample bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "media/audio_player_format.h"
#include "media/audio_player_queue.h"
#include "media/stream_metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* end = data + size;
  const std::uint8_t* split = std::find(data, end, 0);
  const std::string_view text(reinterpret_cast<const char*>(data), std::size_t(split - data));

  const media::AudioFormat format = media::parseAudioFormat(text);
  if (unplayableReason(format) != nullptr) return 0;

  const media::AudioDeviceFormat device = media::audioDeviceFormat(format);
  FUZZ_CHECK(device.blockAlign > 0 && device.samplesPerSec > 0 && device.channels > 0);
  FUZZ_CHECK(device.avgBytesPerSec == std::uint32_t(device.blockAlign) * device.samplesPerSec);

  const media::AudioQueueLimits limits = media::audioQueueLimits(device.blockAlign, device.samplesPerSec);
  FUZZ_CHECK(limits.keep <= limits.limit && limits.keep % device.blockAlign == 0);

  // The samples arrive in pushes of up to 251 bytes; the queue never holds more than its limit
  // and always ends with the newest bytes.
  std::vector<std::uint8_t> queue, taken;
  const std::uint8_t* samples = split == end ? end : split + 1;
  for (const std::uint8_t* p = samples; p < end;) {
    std::size_t n = std::min<std::size_t>(std::size_t(end - p), 1 + *p % 251);
    media::appendAudio(queue, p, n, limits);
    p += n;
    FUZZ_CHECK(queue.size() <= limits.limit);
    std::size_t tail = std::min(queue.size(), n);
    FUZZ_CHECK(tail == 0 || std::memcmp(queue.data() + queue.size() - tail, p - tail, tail) == 0);
    if (n % 3 == 0) {
      std::size_t before = queue.size(), want = n;
      media::takeAudio(queue, want, taken);
      FUZZ_CHECK(taken.size() == std::min(before, want) && queue.size() == before - taken.size());
    }
  }
  return 0;
}
