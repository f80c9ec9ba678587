// Writing one packed NV12 ring picture (a view with stride == width; any other is refused)
// into one output sample, as YUY2 or NV12: the direct
// conversion or copy when the sizes agree, letterboxed scaling when they do not, and the grey
// and black fills. Portable: no platform headers, no allocation per picture.
//
// YUY2 output rows are width * 2 bytes (Y0 U Y1 V per pixel pair) and follow each other
// directly. NV12 output is width * height luma bytes, then width * height / 2 chroma bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixels/kernel.h"
#include "pixels/nv12_view.h"
#include "pixels/target_view.h"

namespace pixels {

// All-128 is mid-grey in both formats. YUY2 is filled in whole 4-byte groups: the trailing
// bytes of a count that is not a multiple of 4 stay as they were.
void fillGrey(std::uint8_t* dst, std::size_t count, bool yuy2);
// Black in whole 4-byte groups (bytes 0x10 0x80 0x10 0x80).
void fillBlackYuy2(std::uint8_t* dst, std::size_t count);
// Luma width * height bytes of 16, then width * height / 2 chroma bytes of 128. `dst` holds at
// least that much.
void fillBlackNv12(std::uint8_t* dst, std::uint32_t width, std::uint32_t height);

// Same-size conversion: output row y holds Y[y][x], U, Y[y][x + 1], V per pixel pair, with U V
// from chroma row y / 2. Needs an even width, a packed picture of at least nv12Bytes(width,
// height) and a `dst` of its size with rows of 2 * width bytes and at least width * height * 2
// bytes; false, with nothing written, otherwise, or when the kernel is not available.
bool nv12ToYuy2(const Nv12View& src, const TargetView& dst, PixelKernel kernel = PixelKernel::Best);

// Copies min(src.size, dst.size) bytes and zeroes the rest of the sample.
void copyNv12(const Nv12View& src, const TargetView& dst);

class LetterboxScaler;

// One ring picture into a sample (`dst`, packed rows: 2 * width bytes for YUY2, width for
// NV12): direct conversion or copy when the picture has the output's size, letterboxed scaling
// otherwise. True when the sample now holds the picture. False, with nothing written, when the
// picture holds fewer bytes than its own size needs, is narrower than 2 pixels or has no rows,
// the output has no pixels or other rows, or its size is smaller than one output picture: the
// caller treats it as no picture at all.
bool convertPicture(const Nv12View& src, const TargetView& dst, bool yuy2, LetterboxScaler& scaler);

}  // namespace pixels
