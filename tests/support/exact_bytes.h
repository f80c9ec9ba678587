// Exactly `size` bytes on the heap and not one more, so that AddressSanitizer catches a read or
// write past the end: filled with one value, with bytes that depend on a seed, or with a text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace testsupport {

struct ExactBytes {
  explicit ExactBytes(std::size_t n, std::uint8_t fill = 0) : bytes(new std::uint8_t[n ? n : 1]), size(n) {
    std::memset(bytes.get(), fill, n);
  }
  explicit ExactBytes(std::string_view text) : ExactBytes(text.size()) {
    if (size) std::memcpy(bytes.get(), text.data(), size);
  }
  static ExactBytes seeded(std::size_t n, std::uint32_t seed) {
    ExactBytes b(n);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (std::size_t i = 0; i < n; i++) {
      x = x * 1664525u + 1013904223u;
      b.bytes[i] = std::uint8_t(x >> 24);
    }
    return b;
  }

  std::uint8_t* data() const { return bytes.get(); }
  std::vector<std::uint8_t> copy() const { return std::vector<std::uint8_t>(data(), data() + size); }
  std::string_view view() const { return std::string_view(reinterpret_cast<const char*>(data()), size); }
  bool operator==(const ExactBytes& o) const { return size == o.size && std::memcmp(data(), o.data(), size) == 0; }
  template <class T>
  T get(std::uint64_t offset) const {
    T v;
    std::memcpy(&v, data() + offset, sizeof(v));
    return v;
  }
  template <class T>
  void set(std::uint64_t offset, T v) {
    std::memcpy(data() + offset, &v, sizeof(v));
  }

  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t size;
};

}  // namespace testsupport
