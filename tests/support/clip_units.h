// The generated test clips as the phone sends them: one access unit per video frame, with
// timestamps 33,333 us apart from a base, so a picture's time tells which unit it came from.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "receiver/frame.h"
#include "tools/phone_sim/access_unit_splitter.h"

namespace decodertest {

constexpr std::uint64_t kBaseUs = 5'000'000;
constexpr std::uint64_t kStepUs = 33'333;

struct Clip {
  std::vector<std::uint8_t> bytes;
  std::vector<phonesim::AccessUnit> units;

  std::vector<std::uint8_t> unit(std::size_t i) const {
    const phonesim::AccessUnit& u = units.at(i);
    return {bytes.begin() + std::ptrdiff_t(u.offset), bytes.begin() + std::ptrdiff_t(u.offset + u.size)};
  }
  // Unit `i` as a video frame stamped for picture number `number`.
  receiver::Frame frame(std::size_t i, std::uint64_t number) const {
    receiver::Frame f;
    f.type = units.at(i).isKey ? receiver::kFrameVideoKey : receiver::kFrameVideo;
    f.timestampUs = kBaseUs + number * kStepUs;
    f.payload = unit(i);
    return f;
  }
};

// `name` is a file in the generated clip folder, e.g. "clip_1280x720.264"; empty when missing.
inline Clip loadClip(const std::string& name, const std::string& folder) {
  Clip clip;
  std::FILE* file = std::fopen((folder + "/" + name).c_str(), "rb");
  if (file == nullptr) return clip;
  std::uint8_t buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) clip.bytes.insert(clip.bytes.end(), buffer, buffer + n);
  std::fclose(file);
  clip.units = phonesim::splitAccessUnits(clip.bytes);
  return clip;
}

inline std::int64_t numberOf(std::int64_t timestampUs) {
  return (timestampUs - std::int64_t(kBaseUs)) / std::int64_t(kStepUs);
}

}  // namespace decodertest
