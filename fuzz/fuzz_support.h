// Shared by the fuzz programs: a check that ends the run (libFuzzer then keeps the input as a
// reproducer), and silence for the diagnostic lines that bad input rightly produces.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/debug_output_hook.h"

#define FUZZ_CHECK(condition)                                                                \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

namespace fuzzsupport {

inline const bool kLogsSilenced = [] {
  debuglog::setOutputHook([](const char*, void*) {}, nullptr);
  return true;
}();

// Exactly `size` bytes (so AddressSanitizer sees a read past them): `pattern` over and over,
// or 0x5A bytes when it is empty.
inline std::vector<std::uint8_t> tiled(const std::vector<std::uint8_t>& pattern, std::size_t size) {
  std::vector<std::uint8_t> out(size, 0x5A);
  for (std::size_t at = 0; !pattern.empty() && at < size; at += pattern.size())
    std::copy_n(pattern.begin(), std::min(pattern.size(), size - at), out.begin() + std::ptrdiff_t(at));
  return out;
}

}  // namespace fuzzsupport
