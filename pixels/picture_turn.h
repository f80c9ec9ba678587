// How a picture is turned: a number of quarter turns clockwise, then a left-right mirror, then a
// top-bottom flip, each taken in the frame of the picture as it then stands (the preview's
// rotation, mirror and flip). Eight different pictures come out of these; different turns may
// give the same one (mirror and flip together are half a turn). Portable, plain values.
#pragma once

#include <cstdint>

namespace pixels {

struct Turn {
  std::int32_t rotation = 0;  // quarter turns clockwise; only the two lowest bits count
  bool mirror = false;
  bool flip = false;
};

// The same turn with its flip folded into the rotation and mirror: flip = false, rotation 0..3.
Turn canonical(Turn turn);
// Whether two turns give the same picture.
bool sameTurn(Turn a, Turn b);
inline bool isIdentity(Turn turn) { return sameTurn(turn, Turn()); }
// The turn that undoes `turn`.
Turn inverse(Turn turn);
// `first`, then `second`.
Turn followedBy(Turn first, Turn second);
// Whether the turned picture has its width and height exchanged.
inline bool swapsSides(Turn turn) { return (turn.rotation & 1) != 0; }

}  // namespace pixels
