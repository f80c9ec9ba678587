// Finds the simulator's tone in a recording of the sound card's monitor: 16-bit little-endian
// mono samples, as parec records them with --format=s16le --channels=1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace e2e {

struct ToneResult {
  double soundSeconds = 0;  // time with sound, from the first loud sample on
  double frequencyHz = 0;   // from the median spacing of rising zero crossings; 0 when unsure
  double rms = 0;           // of the part with sound, full scale = 1
};

ToneResult analyseTone(const std::uint8_t* bytes, std::size_t size, int sampleRate);

}  // namespace e2e
