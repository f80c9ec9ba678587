// The device format the audio player asks WASAPI for, worked out from the phone's AudioFormat
// without Windows headers so the arithmetic can be checked anywhere.
#pragma once

#include <cstdint>

#include "media/stream_metadata.h"

namespace media {

// Field for field what goes into WAVEFORMATEXTENSIBLE (tag 0xFFFE, cbSize 22).
struct AudioDeviceFormat {
  std::uint16_t channels = 0;            // nChannels: low 16 bits of `channels`
  std::uint32_t samplesPerSec = 0;       // nSamplesPerSec
  std::uint16_t blockAlign = 0;          // nBlockAlign: bits * channels / 8 from the low 16 bits
  std::uint32_t avgBytesPerSec = 0;      // nAvgBytesPerSec: blockAlign * rate
  std::uint16_t bitsPerSample = 0;       // wBitsPerSample and wValidBitsPerSample
  std::uint32_t channelMask = 0;         // 4 (front centre) below 2 channels, else 3 (L and R)
  bool isFloat = false;                  // SubFormat IEEE float, else PCM
};

AudioDeviceFormat audioDeviceFormat(const AudioFormat& format);

// The fields that decide the device format. bigEndian and bytesPerFrame are not among them.
bool sameDeviceFields(const AudioFormat& a, const AudioFormat& b);

// Null when the format can be handed to the device; otherwise why not. A phone can announce
// anything, and a zero block align would make the render loop's arithmetic meaningless.
const char* unplayableReason(const AudioFormat& format);

}  // namespace media
