// Test pictures whose every byte depends on the run's seed and the picture's number, so a copy
// that mixes two pictures, or shows another run's picture, is caught. The first two bytes hold
// the number's low 16 bits: in a packed NV12 picture they are the first two luma pixels, which
// a camera sample shows even after scaling, so a sample tells which picture it came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "pixels/nv12_view.h"
#include "ring/frame_ring_format.h"

namespace testsupport {

inline std::uint64_t patternKey(std::uint64_t seed, std::uint64_t number) {
  return number * 0x9E3779B97F4A7C15ull ^ (seed + 1) * 0xD6E8FEB86659FD93ull;
}

inline std::uint8_t patternByte(std::size_t i, std::uint64_t key, std::uint64_t number) {
  if (i < 2) return static_cast<std::uint8_t>(number >> (8 * i));
  std::uint64_t word = key + (i & ~std::size_t(7));
  return static_cast<std::uint8_t>(word >> (8 * (i % 8)));
}

inline void fillPicture(std::uint8_t* bytes, std::size_t size, std::uint64_t seed, std::uint64_t number) {
  const std::uint64_t key = patternKey(seed, number);
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word = key + i;
    std::memcpy(bytes + i, &word, 8);
  }
  for (; i < size; i++) bytes[i] = patternByte(i, key, number);
  for (i = 0; i < 2 && i < size; i++) bytes[i] = patternByte(i, key, number);
}

inline bool pictureMatches(const std::uint8_t* bytes, std::size_t size, std::uint64_t seed, std::uint64_t number) {
  const std::uint64_t key = patternKey(seed, number);
  std::size_t i = 0;
  for (; i < 8 && i < size; i++) {
    if (bytes[i] != patternByte(i, key, number)) return false;
  }
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    if (word != key + i) return false;
  }
  for (; i < size; i++) {
    if (bytes[i] != patternByte(i, key, number)) return false;
  }
  return true;
}

// `size` bytes of the pattern, for payloads of any length.
inline std::vector<std::uint8_t> patternBytes(std::size_t size, std::uint64_t seed, std::uint64_t number) {
  std::vector<std::uint8_t> bytes(size);
  fillPicture(bytes.data(), size, seed, number);
  return bytes;
}

// A packed NV12 picture of that size.
inline std::vector<std::uint8_t> makePicture(std::uint32_t width, std::uint32_t height, std::uint64_t seed,
                                             std::uint64_t number) {
  return patternBytes(std::size_t(pixels::nv12Bytes(width, height)), seed, number);
}

// Timestamps that tie a ring slot's fields to its payload.
inline std::uint64_t pictureTimestamp(std::uint64_t seed, std::uint64_t number) {
  return number * 33'333 + seed * 1'000'000'007ull;
}

}  // namespace testsupport
