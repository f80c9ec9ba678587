// Plain, slow reference versions of the camera's pixel work, written pixel by pixel from the
// rules rather than from the product code, for the fast versions to be compared with. Source
// positions are held inside the picture, as the product promises.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace reference {

struct Picture {
  std::uint32_t width, height;
  const std::uint8_t* bytes;  // packed NV12
  std::uint8_t y(std::uint32_t row, std::uint32_t col) const {
    row = std::min(row, height - 1);
    col = std::min(col, width - 1);
    return bytes[std::size_t(row) * width + col];
  }
  // Byte `col` of chroma row `row`.
  std::uint8_t c(std::uint32_t row, std::uint32_t col) const {
    row = std::min(row, (height + 1) / 2 - 1);
    return bytes[std::size_t(width) * height + std::size_t(row) * width + col];
  }
};

inline void yuy2Direct(const Picture& p, std::uint8_t* out) {
  for (std::uint32_t row = 0; row < p.height; row++) {
    for (std::uint32_t x = 0; x < p.width; x += 2) {
      std::uint8_t* o = out + (std::size_t(row) * p.width + x) * 2;
      o[0] = p.y(row, x);
      o[1] = p.c(row / 2, x);
      o[2] = p.y(row, x + 1);
      o[3] = p.c(row / 2, x + 1);
    }
  }
}

struct Geometry {
  double scale;
  std::uint32_t ow, oh, x0, y0;
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

inline void yuy2Letterbox(const Picture& p, std::uint8_t* out, std::size_t count, std::uint32_t W, std::uint32_t H) {
  if (count < std::size_t(W) * H * 2 || p.width < 2 || p.height == 0) return;
  for (std::size_t i = 0; i + 4 <= count; i += 4) {
    out[i] = 0x10;
    out[i + 1] = 0x80;
    out[i + 2] = 0x10;
    out[i + 3] = 0x80;
  }
  Geometry g = geometry(p.width, p.height, W, H);
  for (std::uint32_t j = 0; j < g.oh; j++) {
    std::uint32_t sy = std::uint32_t(j / g.scale);
    for (std::uint32_t i = 0; i < g.ow; i += 2) {
      std::uint32_t sx = std::min(std::uint32_t(i / g.scale), p.width - 1);
      std::uint32_t cx = std::min(sx & ~1u, (p.width - 2) & ~1u);
      std::uint8_t* o = out + (std::size_t(g.y0 + j) * W + g.x0 + i) * 2;
      o[0] = p.y(sy, sx);
      o[1] = p.c(sy / 2, cx);
      o[2] = p.y(sy, sx + 1);
      o[3] = p.c(sy / 2, cx + 1);
    }
  }
}

inline void nv12Letterbox(const Picture& p, std::uint8_t* out, std::size_t count, std::uint32_t W, std::uint32_t H) {
  if (p.width < 2 || p.height == 0) {
    std::fill(out, out + count, std::uint8_t(128));
    return;
  }
  std::size_t luma = std::size_t(W) * H;
  if (count < luma + luma / 2) return;
  std::fill(out, out + luma, std::uint8_t(16));
  std::fill(out + luma, out + luma + luma / 2, std::uint8_t(128));
  Geometry g = geometry(p.width, p.height, W, H);
  for (std::uint32_t j = 0; j < g.oh; j++)
    for (std::uint32_t i = 0; i < g.ow; i++)
      out[std::size_t(g.y0 + j) * W + g.x0 + i] = p.y(std::uint32_t(j / g.scale), std::uint32_t(i / g.scale));
  std::uint8_t* uv = out + luma;
  for (std::uint32_t j = 0; j < g.oh / 2; j++) {
    for (std::uint32_t i = 0; i < g.ow / 2; i++) {
      std::uint32_t pair = std::min(std::uint32_t(i / g.scale), p.width / 2 - 1);
      std::uint32_t row = std::uint32_t(j / g.scale);
      uv[std::size_t(g.y0 / 2 + j) * W + g.x0 + 2 * i] = p.c(row, 2 * pair);
      uv[std::size_t(g.y0 / 2 + j) * W + g.x0 + 2 * i + 1] = p.c(row, 2 * pair + 1);
    }
  }
}

}  // namespace reference
