// Builds the phone's byte stream for tests: hellos and framed payloads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

inline Bytes serverHello() { return {'S', 'H', 'L', 'O', 0, 0, 0, 1}; }

inline Bytes frameBytes(std::uint8_t type, std::uint64_t timestampUs, const Bytes& payload) {
  Bytes out = {'I', 'P', 'C', 'F', type, 0, 0, 0};
  for (int i = 7; i >= 0; --i) out.push_back(std::uint8_t(timestampUs >> (8 * i)));
  std::uint32_t length = std::uint32_t(payload.size());
  for (int i = 3; i >= 0; --i) out.push_back(std::uint8_t(length >> (8 * i)));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

// A header announcing `length` bytes, without the payload.
inline Bytes headerOnly(std::uint8_t type, std::uint64_t timestampUs, std::uint32_t length) {
  Bytes out = frameBytes(type, timestampUs, {});
  for (int i = 0; i < 4; ++i) out[16 + i] = std::uint8_t(length >> (8 * (3 - i)));
  return out;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes patternPayload(std::size_t size, std::uint8_t seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = std::uint8_t(seed + i * 7);
  return out;
}

}  // namespace testsupport
