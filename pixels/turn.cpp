#include "pixels/turn.h"

#include <cstring>
#include <functional>

#include "pixels/nv12_view.h"
#include "pixels/rows.h"

namespace pixels {
namespace {

using rows::TurnRows;

// Where output pixel (x, y) of a turned picture comes from in a source of w x h: the turns in
// canonical form, as a transpose (output rows are source columns) and reversals of the source's
// columns and rows.
struct Mapping {
  bool transpose = false;
  bool reverseColumns = false;
  bool reverseRows = false;
};

Mapping mappingOf(pixels::Turn turn) {
  const pixels::Turn c = pixels::canonical(turn);
  switch (c.rotation | (c.mirror ? 4 : 0)) {
    case 0: return {false, false, false};
    case 1: return {true, false, true};   // a quarter turn clockwise: the bottom row becomes the left column
    case 2: return {false, true, true};
    case 3: return {true, true, false};
    case 4: return {false, true, false};  // mirrored
    case 5: return {true, false, false};  // a quarter turn, mirrored: the transpose
    case 6: return {false, false, true};  // half a turn, mirrored: flipped
    default: return {true, true, true};
  }
}

// One plane of elements (a luma byte or a chroma pair): `width` elements a row, `rowBytes`
// bytes. In an odd-width chroma plane the last element is a lone U byte.
struct Plane {
  std::uint8_t* bytes;
  std::uint32_t width, height, rowBytes;
};

struct ConstPlane {
  const std::uint8_t* bytes;
  std::uint32_t width, height, rowBytes;
};

// Element (x, y) of a plane of `element`-byte elements, copied from `from` (column fx, row fy):
// a missing V reads as 128 and is not written.
void copyElement(const ConstPlane& from, std::uint32_t fx, std::uint32_t fy, const Plane& to, std::uint32_t x,
                 std::uint32_t y, std::uint32_t element) {
  const std::uint8_t* s = from.bytes + std::size_t(fy) * from.rowBytes + std::size_t(fx) * element;
  std::uint8_t* d = to.bytes + std::size_t(y) * to.rowBytes + std::size_t(x) * element;
  d[0] = s[0];
  if (element == 2 && std::size_t(x) * 2 + 1 < to.rowBytes) {
    d[1] = std::size_t(fx) * 2 + 1 < from.rowBytes ? s[1] : std::uint8_t(128);
  }
}

// The reference: every output element fetched from where the mapping says.
void turnPlaneScalar(const ConstPlane& src, const Plane& dst, Mapping m, std::uint32_t element) {
  for (std::uint32_t y = 0; y < dst.height; y++) {
    for (std::uint32_t x = 0; x < dst.width; x++) {
      std::uint32_t sx = m.transpose ? y : x, sy = m.transpose ? x : y;
      if (m.reverseColumns) sx = src.width - 1 - sx;
      if (m.reverseRows) sy = src.height - 1 - sy;
      copyElement(src, sx, sy, dst, x, y, element);
    }
  }
}

// The vector sets to try in order, best first; plain code finishes what they leave.
struct Chain {
  const TurnRows* sets[3] = {nullptr, nullptr, nullptr};
};

// Output rows in source order, each copied or reversed.
void turnRows(const ConstPlane& src, const Plane& dst, Mapping m, std::uint32_t element, const Chain& chain) {
  const std::ptrdiff_t srcStride = m.reverseRows ? -std::ptrdiff_t(src.rowBytes) : std::ptrdiff_t(src.rowBytes);
  const std::uint8_t* top = src.bytes + (m.reverseRows ? std::ptrdiff_t(src.height - 1) * src.rowBytes : 0);
  if (!m.reverseColumns) {
    for (const TurnRows* k : chain.sets) {
      if (k == nullptr || k->copyRows == nullptr) continue;
      if (k->copyRows(top, srcStride, dst.bytes, dst.rowBytes, dst.rowBytes, dst.height)) return;
    }
    for (std::uint32_t y = 0; y < dst.height; y++) {
      std::memcpy(dst.bytes + std::size_t(y) * dst.rowBytes, top + std::ptrdiff_t(y) * srcStride, dst.rowBytes);
    }
    return;
  }
  const std::uint32_t w = src.width;
  // Elements with both bytes: a lone U at the end of an odd chroma row is reversed by hand.
  const bool lone = element == 2 && (src.rowBytes & 1) != 0;
  const std::uint32_t first = lone ? 1 : 0, last = lone ? w - 1 : w;  // whole elements [first, last)
  const std::uint32_t n = last > first ? last - first : 0;
  for (std::uint32_t y = 0; lone && y < dst.height; y++) {
    const std::uint32_t sy = m.reverseRows ? src.height - 1 - y : y;
    copyElement(src, w - 1, sy, dst, 0, y, element);
    if (w > 1) copyElement(src, 0, sy, dst, w - 1, y, element);
  }
  // Elements [first, last) of every row reversed into the same span of the output: the whole
  // plane in one call of the first set that takes rows this long (per-row calls showed in
  // profiles), else by hand.
  const std::uint8_t* from = top + std::size_t(first) * element;
  std::uint8_t* to = dst.bytes + std::size_t(first) * element;
  for (const TurnRows* k : chain.sets) {
    if (k == nullptr) continue;
    if ((element == 1 ? k->mirrorBytes : k->mirrorPairs)(from, srcStride, to, dst.rowBytes, n, dst.height)) return;
  }
  for (std::uint32_t y = 0; y < dst.height; y++) {
    const std::uint8_t* s = from + std::ptrdiff_t(y) * srcStride;
    std::uint8_t* d = to + std::size_t(y) * dst.rowBytes;
    for (std::uint32_t i = 0; i < n; i++) {
      std::memcpy(d + std::size_t(i) * element, s + std::size_t(n - 1 - i) * element, element);
    }
  }
}

// Output rows are source columns. With the source's rows walked upwards when they are reversed
// and the output's rows walked upwards when the columns are, every case is one transpose: source
// element (x, k) of the walk goes to output element (k, x) of its walk.
struct Walk {
  const std::uint8_t* src;
  std::ptrdiff_t srcStride;
  std::uint8_t* dst;
  std::ptrdiff_t dstStride;
  std::uint32_t element;
};

void transposeScalar(const Walk& w, std::uint32_t x0, std::uint32_t x1, std::uint32_t k0, std::uint32_t k1) {
  for (std::uint32_t k = k0; k < k1; k++) {
    for (std::uint32_t x = x0; x < x1; x++) {
      std::memcpy(w.dst + std::ptrdiff_t(x) * w.dstStride + std::ptrdiff_t(k) * w.element,
                  w.src + std::ptrdiff_t(k) * w.srcStride + std::ptrdiff_t(x) * w.element, w.element);
    }
  }
}

// Columns [x0, x1) of rows [k0, k1): whole blocks of the first set, the strips beside and below
// them by the next, the rest by plain code.
void transposeRegion(const Walk& w, std::uint32_t x0, std::uint32_t x1, std::uint32_t k0, std::uint32_t k1,
                     const TurnRows* const* sets, int count) {
  if (x1 <= x0 || k1 <= k0) return;
  if (count == 0 || sets[0] == nullptr) {
    if (count > 0) return transposeRegion(w, x0, x1, k0, k1, sets + 1, count - 1);
    return transposeScalar(w, x0, x1, k0, k1);
  }
  const TurnRows& k = *sets[0];
  const std::uint32_t cols = w.element == 1 ? k.byteBlockCols : k.pairBlockCols;
  const std::uint32_t rows = w.element == 1 ? k.byteBlockRows : k.pairBlockRows;
  const std::uint32_t xb = x0 + (x1 - x0) / cols * cols, kb = k0 + (k1 - k0) / rows * rows;
  (w.element == 1 ? k.transposeBytes : k.transposePairs)(
      w.src + std::ptrdiff_t(k0) * w.srcStride + std::ptrdiff_t(x0) * w.element, w.srcStride,
      w.dst + std::ptrdiff_t(x0) * w.dstStride + std::ptrdiff_t(k0) * w.element, w.dstStride, xb - x0, kb - k0);
  transposeRegion(w, xb, x1, k0, k1, sets + 1, count - 1);
  transposeRegion(w, x0, xb, kb, k1, sets + 1, count - 1);
}

void turnTransposed(const ConstPlane& src, const Plane& dst, Mapping m, std::uint32_t element, const Chain& chain) {
  Walk w;
  w.element = element;
  w.srcStride = m.reverseRows ? -std::ptrdiff_t(src.rowBytes) : std::ptrdiff_t(src.rowBytes);
  w.src = src.bytes + (m.reverseRows ? std::ptrdiff_t(src.height - 1) * src.rowBytes : 0);
  w.dstStride = m.reverseColumns ? -std::ptrdiff_t(dst.rowBytes) : std::ptrdiff_t(dst.rowBytes);
  w.dst = dst.bytes + (m.reverseColumns ? std::ptrdiff_t(dst.height - 1) * dst.rowBytes : 0);
  // Lone U bytes: the last source column of an odd source width, the last output column of an
  // odd output width (the last source row of the walk). Those go element by element.
  const bool loneIn = element == 2 && (src.rowBytes & 1) != 0;
  const bool loneOut = element == 2 && (dst.rowBytes & 1) != 0;
  const std::uint32_t xs = src.width - (loneIn ? 1 : 0), ks = src.height - (loneOut ? 1 : 0);
  transposeRegion(w, 0, xs, 0, ks, chain.sets, 3);
  if (!loneIn && !loneOut) return;
  for (std::uint32_t y = 0; y < dst.height; y++) {
    for (std::uint32_t x = 0; x < dst.width; x++) {
      if (y < xs && x < ks) continue;
      std::uint32_t sx = y, sy = x;
      // Output (x, y) in walk terms is source column y, walk row x; undo the walks' directions.
      const std::uint32_t oy = m.reverseColumns ? dst.height - 1 - y : y;
      if (m.reverseRows) sy = src.height - 1 - sy;
      copyElement(src, sx, sy, dst, x, oy, element);
    }
  }
}

}  // namespace

bool turnNv12(const Nv12View& source, pixels::Turn turn, const TargetView& target, PixelKernel kernel) {
  const std::uint8_t* src = source.data;
  std::uint8_t* dst = target.data;
  const std::uint32_t width = source.width, height = source.height;
  if (!kernelAvailable(kernel) || src == nullptr || dst == nullptr || width == 0 || height == 0) return false;
  const Mapping m = mappingOf(turn);
  const std::uint32_t dstWidth = m.transpose ? height : width, dstHeight = m.transpose ? width : height;
  if (source.stride != width || target.width != dstWidth || target.height != dstHeight || target.stride != dstWidth) {
    return false;
  }
  // With an odd side a quarter turn moves the lone chroma bytes, so the two sizes may differ.
  const std::uint64_t srcBytes = nv12Bytes(width, height), dstBytes = nv12Bytes(dstWidth, dstHeight);
  if (source.size < srcBytes || target.size < dstBytes) return false;
  if (std::less<const std::uint8_t*>()(src, dst + dstBytes) && std::less<const std::uint8_t*>()(dst, src + srcBytes)) {
    return false;
  }

  const std::size_t luma = std::size_t(width) * height;
  const ConstPlane srcY = {src, width, height, width};
  const ConstPlane srcUV = {src + luma, (width + 1) / 2, (height + 1) / 2, width};
  const Plane dstY = {dst, dstWidth, dstHeight, dstWidth};
  const Plane dstUV = {dst + luma, (dstWidth + 1) / 2, (dstHeight + 1) / 2, dstWidth};

  const rows::Chain sets = rows::chainOf(kernel);
  if (sets.count == 0) {
    turnPlaneScalar(srcY, dstY, m, 1);
    turnPlaneScalar(srcUV, dstUV, m, 2);
    return true;
  }
  Chain chain;
  for (int i = 0; i < sets.count; i++) chain.sets[i] = sets.sets[i].turn;
  auto turnPlane = m.transpose ? turnTransposed : turnRows;
  turnPlane(srcY, dstY, m, 1, chain);
  turnPlane(srcUV, dstUV, m, 2, chain);
  return true;
}

}  // namespace pixels
