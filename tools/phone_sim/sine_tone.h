// The simulator's sound: a 1 kHz sine at a quarter of full scale, both channels alike, as
// interleaved little-endian float32 at 48 kHz, cut into 10 ms frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace phonesim {

constexpr int kToneSampleRate = 48000;
constexpr int kToneFrequency = 1000;
constexpr int kToneChannels = 2;
constexpr int kToneSamplesPerFrame = kToneSampleRate / 100;                      // 10 ms
constexpr std::size_t kToneFrameBytes = std::size_t(kToneSamplesPerFrame) * kToneChannels * 4;  // 3,840
constexpr float kToneAmplitude = 0.25f;

// One 10 ms frame. 10 ms hold a whole number of periods, so every frame is the same and the
// tone runs on without a seam.
std::vector<std::uint8_t> sineToneFrame();

}  // namespace phonesim
