#include "tools/phone_sim/sine_tone.h"

#include <cmath>
#include <cstring>

namespace phonesim {

static_assert(kToneSamplesPerFrame * kToneFrequency % kToneSampleRate == 0, "a frame must hold whole periods");

std::vector<std::uint8_t> sineToneFrame() {
  std::vector<std::uint8_t> out;
  out.reserve(kToneFrameBytes);
  const double step = 2.0 * 3.14159265358979323846 * kToneFrequency / kToneSampleRate;
  for (int i = 0; i < kToneSamplesPerFrame; ++i) {
    float sample = float(kToneAmplitude * std::sin(step * i));
    std::uint32_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    for (int c = 0; c < kToneChannels; ++c) {
      for (int b = 0; b < 4; ++b) out.push_back(std::uint8_t(bits >> (8 * b)));  // little-endian
    }
  }
  return out;
}

}  // namespace phonesim
