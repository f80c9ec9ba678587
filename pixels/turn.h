// Turning a packed NV12 picture (picture_turn.h): a quarter turn gives a picture of the other
// shape, mirror and flip one of the same shape. Portable, no allocation; libyuv's pattern: a
// scalar reference written from the definition, and SSE2 and AVX2 paths that tests prove equal
// to it, byte for byte, odd sizes included.
//
// Packed NV12 (as the decode pipeline publishes it): `height` rows of `width` luma bytes, then
// (height + 1) / 2 rows of `width` chroma bytes, U V for every two columns. Luma pixels move
// exactly. Chroma moves as a grid of (width + 1) / 2 by (height + 1) / 2 pairs, each pair as one
// pixel; in an odd width the last pair of a row is a lone U byte, read with V = 128 and written
// without its V.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixels/kernel.h"
#include "pixels/nv12_view.h"
#include "pixels/target_view.h"
#include "pixels/picture_turn.h"

namespace pixels {

// Writes `src`, a packed width x height picture, turned, into `dst`: packed again, height x width
// when the turn swaps sides (swapsSides), else width x height. False, with nothing written, when
// the picture has no pixels, either view is not packed or not of those sizes, holds fewer bytes
// than its packed size (nv12Bytes), the two overlap, or the kernel is not available.
bool turnNv12(const Nv12View& src, Turn turn, const TargetView& dst, PixelKernel kernel = PixelKernel::Best);

}  // namespace pixels
