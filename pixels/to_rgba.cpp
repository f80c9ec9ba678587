#include "pixels/to_rgba.h"

#include <algorithm>

#include "pixels/rows.h"

namespace pixels {

namespace {

// The reference conversion of one pixel.
void pixel(std::uint8_t Y, std::uint8_t U, std::uint8_t V, std::uint8_t* out) {
  const std::int32_t y = 298 * std::int32_t(Y);
  const std::int32_t u = U, v = V;
  const std::int32_t r = (y + 409 * v - 56992) >> 8;
  const std::int32_t g = (y - 100 * u - 208 * v + 34784) >> 8;
  const std::int32_t b = (y + 516 * u - 70688) >> 8;
  out[0] = std::uint8_t(std::clamp(r, 0, 255));
  out[1] = std::uint8_t(std::clamp(g, 0, 255));
  out[2] = std::uint8_t(std::clamp(b, 0, 255));
  out[3] = 255;
}

void scalarRow(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::uint32_t count) {
  for (std::uint32_t x = 0; x < count; x++) {
    const std::uint32_t c = x & ~1u;
    pixel(y[x], uv[c], uv[c + 1], dst + 4 * std::size_t(x));
  }
}

}  // namespace

bool nv12ToRgba(const Nv12View& src, const TargetView& target, PixelKernel kernel) {
  if (!kernelAvailable(kernel)) return false;
  std::uint8_t* const dst = target.data;
  const std::uint32_t width = src.width, height = src.height, stride = src.stride;
  if (src.data == nullptr || dst == nullptr || width == 0 || height == 0 || stride < width) return false;
  // stride * height fits 64 bits; adding the chroma bytes to it might not, so those are counted in rows.
  const std::uint64_t luma = std::uint64_t(stride) * height;
  if (src.size < luma || (src.size - luma) / stride < height / 2) return false;
  const std::size_t dstPitch = target.stride;
  if (dstPitch / 4 < width || target.width != width || target.height != height) return false;
  if (target.size < std::uint64_t(height - 1) * dstPitch + 4 * std::uint64_t(width)) return false;

  // Whole chroma rows present: a last odd row may have one, a packed picture leaves it out.
  const std::uint64_t chromaRows = std::min<std::uint64_t>((src.size - luma) / stride, (std::uint64_t(height) + 1) / 2);
  // Columns whose own pair lies inside the row: all of them unless an odd width fills the stride.
  const std::uint32_t paired = std::min(width, stride & ~1u);
  const std::uint8_t* yPlane = src.data;
  const std::uint8_t* uvPlane = src.data + luma;

  // The row sets to run, widest first; the first one's row pairs, where it has them, do both
  // rows of a chroma row at once.
  const rows::RgbaRows* sets[3] = {};
  int count = 0;
  const rows::Chain chain = rows::chainOf(kernel);
  for (int i = 0; i < chain.count; i++) {
    if (chain.sets[i].rgba != nullptr) sets[count++] = chain.sets[i].rgba;
  }
  const auto rowPair = count > 0 ? sets[0]->rowPair : nullptr;

  // The rest of a row from column x on, after whatever the set before `from` did.
  auto finish = [&](const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* out, std::uint32_t x, int from) {
    for (int i = from; i < count; i++) x += sets[i]->row(y + x, uv + x, out + 4 * std::size_t(x), paired - x);
    scalarRow(y + x, uv + x, out + 4 * std::size_t(x), paired - x);
    // An odd width that fills the stride: the last column borrows the pair before it.
    for (x = paired; x < width; x++) pixel(y[x], uv[paired - 2], uv[paired - 1], out + 4 * std::size_t(x));
  };
  for (std::uint32_t row = 0; row < height; row++) {
    const std::uint8_t* y = yPlane + std::size_t(row) * stride;
    std::uint8_t* out = dst + std::size_t(row) * dstPitch;
    if (chromaRows == 0 || paired == 0) {
      // No complete pair anywhere: luma alone.
      for (std::uint32_t x = 0; x < width; x++) pixel(y[x], 128, 128, out + 4 * std::size_t(x));
      continue;
    }
    const std::uint8_t* uv = uvPlane + std::size_t(std::min<std::uint64_t>(row / 2, chromaRows - 1)) * stride;
    if (rowPair != nullptr && row % 2 == 0 && row + 1 < height) {
      const std::uint8_t* y1 = y + stride;
      std::uint8_t* out1 = out + dstPitch;
      const std::uint32_t x = rowPair(y, y1, uv, out, out1, paired);
      finish(y, uv, out, x, 1);
      finish(y1, uv, out1, x, 1);
      row++;
      continue;
    }
    finish(y, uv, out, 0, 0);
  }
  return true;
}

}  // namespace pixels
