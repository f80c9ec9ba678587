// NV12 to RGBA for the preview texture: the integer BT.601 limited-range conversion, exact to
// the byte on every path. Portable: no platform headers, no allocation.
//
// For every pixel, with Y its luma byte and U, V the chroma pair its 2x2 block shares:
//   R = (298 Y + 409 V - 56992) >> 8
//   G = (298 Y - 100 U - 208 V + 34784) >> 8
//   B = (298 Y + 516 U - 70688) >> 8
// each clamped to 0..255, written as R, G, B, 255.
//
// Odd sizes never read past the picture: a last column without its own complete pair takes the
// nearest complete pair of its chroma row, a last row without its own chroma row takes the last
// chroma row there is, and a picture with no complete pair at all is drawn from luma alone
// (U = V = 128).
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixels/kernel.h"
#include "pixels/nv12_view.h"
#include "pixels/target_view.h"

namespace pixels {

// Converts `src` into `dst`, a picture of the same size whose row y starts at byte y * stride
// and takes 4 * width bytes; nothing else is written. False, with nothing written, when the
// picture is empty, its stride is below its width, it holds fewer than stride * (height +
// height / 2) bytes, `dst` has another size, a stride below 4 * width or fewer than
// (height - 1) * stride + 4 * width bytes, or the kernel is not available.
bool nv12ToRgba(const Nv12View& src, const TargetView& dst, PixelKernel kernel = PixelKernel::Best);

}  // namespace pixels
