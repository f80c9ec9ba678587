// The picture of one test-clip frame, in I420: a mid-grey field with the frame number drawn
// twice near the top-left (as a machine-readable counter code and as big decimal digits) and
// moving coloured shapes below them, so that every frame differs from the one before.
#pragma once

#include <cstdint>

namespace clippattern {

struct I420View {
  int width = 0;  // even
  int height = 0;  // even
  std::uint8_t* y = nullptr;  // stride width
  std::uint8_t* u = nullptr;  // stride width / 2
  std::uint8_t* v = nullptr;  // stride width / 2
};

// Draws frame `index` (the number shown, modulo 65536). Pictures smaller than 64x64 or with odd
// sizes are left untouched; returns whether it drew.
bool drawTestPattern(const I420View& picture, int index);

}  // namespace clippattern
