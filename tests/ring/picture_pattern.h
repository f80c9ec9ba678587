// Test pictures whose every byte depends on the run's seed and the picture's number, so a copy
// that mixes two pictures, or shows another run's picture, is caught.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ringtest {

inline std::uint64_t patternKey(std::uint64_t seed, std::uint64_t number) {
  return number * 0x9E3779B97F4A7C15ull ^ (seed + 1) * 0xD6E8FEB86659FD93ull;
}

inline void fillPicture(std::uint8_t* bytes, std::size_t size, std::uint64_t seed, std::uint64_t number) {
  std::uint64_t key = patternKey(seed, number);
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word = key + i;
    std::memcpy(bytes + i, &word, 8);
  }
  for (; i < size; i++) bytes[i] = static_cast<std::uint8_t>(key >> (8 * (i % 8)));
}

inline std::vector<std::uint8_t> makePicture(std::size_t size, std::uint64_t seed, std::uint64_t number) {
  std::vector<std::uint8_t> bytes(size);
  fillPicture(bytes.data(), size, seed, number);
  return bytes;
}

inline bool pictureMatches(const std::uint8_t* bytes, std::size_t size, std::uint64_t seed, std::uint64_t number) {
  std::uint64_t key = patternKey(seed, number);
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    if (word != key + i) return false;
  }
  for (; i < size; i++) {
    if (bytes[i] != static_cast<std::uint8_t>(key >> (8 * (i % 8)))) return false;
  }
  return true;
}

// Timestamps that tie a slot's fields to its payload.
inline std::uint64_t pictureTimestamp(std::uint64_t seed, std::uint64_t number) {
  return number * 33'333 + seed * 1'000'000'007ull;
}

}  // namespace ringtest
