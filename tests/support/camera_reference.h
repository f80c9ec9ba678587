// The camera's pixel work written plainly, pixel by pixel, from the definition of its output
// (direct YUY2, NV12 copy, letterboxed nearest-neighbour scaling), for the product's fast code
// and the camera's samples to be compared with. Every position is computed as the definition
// says; where that lies past the picture (the second pixel of a pair in the last column, the
// chroma pair of an odd width), the picture's accessors take the nearest one inside it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace reference {

struct Picture {
  std::uint32_t width, height;
  const std::uint8_t* bytes;  // packed NV12: luma rows of `width` bytes, then a UV row per two

  std::uint8_t y(std::uint32_t row, std::uint32_t col) const {
    return bytes[std::size_t(inside(row, height)) * width + inside(col, width)];
  }
  // U (k = 0) or V (k = 1) of chroma pair `pair` in chroma row `row`; only whole pairs count.
  std::uint8_t uv(std::uint32_t row, std::uint32_t pair, int k) const {
    std::size_t at = std::size_t(inside(row, (height + 1) / 2)) * width + 2 * std::size_t(inside(pair, width / 2)) + k;
    return bytes[std::size_t(width) * height + at];
  }
  // A picture without a whole chroma pair has nothing to sample.
  bool empty() const { return width < 2 || height == 0; }

 private:
  static std::uint32_t inside(std::uint32_t position, std::uint32_t count) { return std::min(position, count - 1); }
};

// Output rows y: Y[y][x], U, Y[y][x + 1], V for each even x, chroma from chroma row y / 2.
inline void yuy2Direct(const Picture& p, std::uint8_t* out) {
  for (std::uint32_t row = 0; row < p.height; row++) {
    for (std::uint32_t x = 0; x < p.width; x += 2) {
      std::uint8_t* o = out + (std::size_t(row) * p.width + x) * 2;
      o[0] = p.y(row, x);
      o[1] = p.uv(row / 2, x / 2, 0);
      o[2] = p.y(row, x + 1);
      o[3] = p.uv(row / 2, x / 2, 1);
    }
  }
}

// scale = min(H / sh, W / sw); the scaled size truncated and made even; the offsets halved and
// made even; output position i samples source position truncate(i / scale).
struct Geometry {
  double scale;
  std::uint32_t ow, oh, x0, y0;
  std::uint32_t source(std::uint32_t i) const { return std::uint32_t(i / scale); }
};

inline Geometry geometry(std::uint32_t sw, std::uint32_t sh, std::uint32_t W, std::uint32_t H) {
  Geometry g;
  g.scale = std::min(double(H) / sh, double(W) / sw);
  g.ow = std::uint32_t(sw * g.scale) & ~1u;
  g.oh = std::uint32_t(sh * g.scale) & ~1u;
  g.x0 = ((W - g.ow) / 2) & ~1u;
  g.y0 = ((H - g.oh) / 2) & ~1u;
  return g;
}

// Black in whole 4-byte groups, then each output pair from source Y[sy][sx], Y[sy][sx + 1] and
// the chroma pair starting at column sx with its lowest bit cleared, in chroma row sy / 2.
// Nothing is written into too small a sample or for an empty picture.
inline void yuy2Letterbox(const Picture& p, std::uint8_t* out, std::size_t count, std::uint32_t W, std::uint32_t H) {
  if (count < std::size_t(W) * H * 2 || p.empty() || W == 0 || H == 0) return;
  for (std::size_t i = 0; i + 4 <= count; i += 4) {
    const std::uint8_t black[4] = {0x10, 0x80, 0x10, 0x80};
    std::memcpy(out + i, black, 4);
  }
  Geometry g = geometry(p.width, p.height, W, H);
  for (std::uint32_t j = 0; j < g.oh; j++) {
    std::uint32_t sy = g.source(j);
    for (std::uint32_t i = 0; i < g.ow; i += 2) {
      std::uint32_t sx = g.source(i);
      std::uint8_t* o = out + (std::size_t(g.y0 + j) * W + g.x0 + i) * 2;
      o[0] = p.y(sy, sx);
      o[1] = p.uv(sy / 2, sx / 2, 0);
      o[2] = p.y(sy, sx + 1);
      o[3] = p.uv(sy / 2, sx / 2, 1);
    }
  }
}

// An empty picture gives all grey; too small a sample is not written; otherwise a black frame
// with luma (y0 + j, x0 + i) from Y[truncate(j / scale)][truncate(i / scale)] and chroma pair i
// of chroma row y0 / 2 + j from source pair truncate(i / scale) of chroma row truncate(j / scale).
inline void nv12Letterbox(const Picture& p, std::uint8_t* out, std::size_t count, std::uint32_t W, std::uint32_t H) {
  if (p.empty() || W == 0 || H == 0) {
    std::fill(out, out + count, std::uint8_t(128));
    return;
  }
  std::size_t luma = std::size_t(W) * H;
  if (count < luma + luma / 2) return;
  std::fill(out, out + luma, std::uint8_t(16));
  std::fill(out + luma, out + luma + luma / 2, std::uint8_t(128));
  Geometry g = geometry(p.width, p.height, W, H);
  for (std::uint32_t j = 0; j < g.oh; j++)
    for (std::uint32_t i = 0; i < g.ow; i++) out[std::size_t(g.y0 + j) * W + g.x0 + i] = p.y(g.source(j), g.source(i));
  std::uint8_t* chroma = out + luma;
  for (std::uint32_t j = 0; j < g.oh / 2; j++) {
    for (std::uint32_t i = 0; i < g.ow / 2; i++) {
      std::uint8_t* o = chroma + std::size_t(g.y0 / 2 + j) * W + g.x0 + 2 * i;
      o[0] = p.uv(g.source(j), g.source(i), 0);
      o[1] = p.uv(g.source(j), g.source(i), 1);
    }
  }
}

// A camera sample of W x H from the picture: the direct conversion or a copy (zeros after a
// shorter picture) when the sizes agree, letterboxed scaling otherwise. `size` is the
// picture's byte count.
inline void convert(const Picture& p, std::size_t size, std::uint8_t* out, std::size_t count, std::uint32_t W,
                    std::uint32_t H, bool yuy2) {
  if (p.width != W || p.height != H) {
    if (yuy2) yuy2Letterbox(p, out, count, W, H);
    else nv12Letterbox(p, out, count, W, H);
  } else if (yuy2) {
    if (count >= std::size_t(W) * H * 2) yuy2Direct(p, out);
  } else {
    std::size_t n = std::min(size, count);
    std::memcpy(out, p.bytes, n);
    std::fill(out + n, out + count, std::uint8_t(0));
  }
}

inline std::vector<std::uint8_t> sample(const std::vector<std::uint8_t>& picture, std::uint32_t sw, std::uint32_t sh,
                                        std::uint32_t W, std::uint32_t H, bool yuy2) {
  std::vector<std::uint8_t> out(yuy2 ? std::size_t(W) * H * 2 : std::size_t(W) * H * 3 / 2);
  convert({sw, sh, picture.data()}, picture.size(), out.data(), out.size(), W, H, yuy2);
  return out;
}

}  // namespace reference
