#include "pixels/picture_turn.h"

namespace pixels {

// Every turn is M^m R^r: R a quarter turn clockwise, M the mirror. A flip is M R^2, and R^2
// commutes with M, so it adds half a turn and toggles the mirror. R M = M R^-1 moves the
// mirrors to the front when turns are chained.

Turn canonical(Turn turn) {
  Turn c;
  c.rotation = ((turn.rotation & 3) + (turn.flip ? 2 : 0)) & 3;
  c.mirror = turn.mirror != turn.flip;
  return c;
}

bool sameTurn(Turn a, Turn b) {
  const Turn x = canonical(a), y = canonical(b);
  return x.rotation == y.rotation && x.mirror == y.mirror;
}

Turn inverse(Turn turn) {
  Turn c = canonical(turn);
  // M R^r is its own inverse; R^r's is R^-r.
  if (!c.mirror) c.rotation = (4 - c.rotation) & 3;
  return c;
}

Turn followedBy(Turn first, Turn second) {
  const Turn a = canonical(first), b = canonical(second);
  // M^mb R^rb M^ma R^ra = M^(ma + mb) R^(ra +- rb), the sign minus when a mirrors.
  Turn c;
  c.mirror = a.mirror != b.mirror;
  c.rotation = (a.rotation + (a.mirror ? -b.rotation : b.rotation)) & 3;
  return c;
}

}  // namespace pixels
