// A frame number drawn into the luma plane as a row of solid cells that survives H.264
// compression and uniform scaling, and the reader that gets it back from a decoded picture.
//
// The row holds 19 square cells, black (16) or white (235) on mid-grey: a white and a black
// guard, the 16 bits of the number (most significant first), and an odd-parity cell. Cell size
// and position follow the picture's short side (32 px cells, 32 px from the top-left corner, for
// a short side of 1080), so a picture scaled as a whole keeps its code readable.
#pragma once

#include <cstdint>

namespace clippattern {

constexpr int kCounterBits = 16;
constexpr int kCounterCells = kCounterBits + 3;

struct CounterCodeLayout {
  double cell = 0;  // cell edge in pixels
  double x = 0;     // left edge of the first cell
  double y = 0;     // top edge of the row
};

// Where the code sits in a picture of this size.
CounterCodeLayout counterCodeLayout(int width, int height);

// Draws `value` into the luma plane; does nothing if the row does not fit.
void drawFrameCounter(std::uint8_t* luma, int width, int height, int stride, std::uint16_t value);

// The number drawn by drawFrameCounter, or -1 when the picture holds no readable code (a cell
// neither clearly black nor clearly white, a wrong guard or parity, or a picture too small).
int readFrameCounter(const std::uint8_t* luma, int width, int height, int stride);

}  // namespace clippattern
