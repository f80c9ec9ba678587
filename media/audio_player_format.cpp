#include "media/audio_player_format.h"

namespace media {

namespace {
constexpr std::int32_t kMaxSampleRate = 384000;
}  // namespace

AudioDeviceFormat audioDeviceFormat(const AudioFormat& format) {
  AudioDeviceFormat device;
  device.channels = static_cast<std::uint16_t>(format.channels);
  device.samplesPerSec = static_cast<std::uint32_t>(format.sampleRate);
  device.bitsPerSample = static_cast<std::uint16_t>(format.bitsPerSample);
  // Both factors are 16-bit, so the product fits 32 unsigned bits and is never negative.
  std::uint32_t product = std::uint32_t(device.bitsPerSample) * std::uint32_t(device.channels);
  device.blockAlign = static_cast<std::uint16_t>(product / 8);
  device.avgBytesPerSec = std::uint32_t(device.blockAlign) * device.samplesPerSec;
  device.channelMask = format.channels < 2 ? 4u : 3u;
  device.isFloat = format.isFloat;
  return device;
}

bool sameDeviceFields(const AudioFormat& a, const AudioFormat& b) {
  return a.sampleRate == b.sampleRate && a.channels == b.channels && a.bitsPerSample == b.bitsPerSample &&
         a.isFloat == b.isFloat && a.nonInterleaved == b.nonInterleaved;
}

const char* unplayableReason(const AudioFormat& format) {
  // Above 384 kHz Wine's PulseAudio back end aborts the process instead of failing Initialize.
  if (format.sampleRate < 1 || format.sampleRate > kMaxSampleRate) return "sample rate";
  if (format.channels < 1 || format.channels > 0xFFFF) return "channel count";
  if (format.bitsPerSample < 1 || format.bitsPerSample > 0xFFFF) return "sample size";
  if (audioDeviceFormat(format).blockAlign == 0) return "frame size";
  return nullptr;
}

}  // namespace media
