#include "pixels/letterbox.h"

#include <algorithm>
#include <bit>
#include <cstring>


namespace pixels {

namespace {

// Makes rows top .. top + rows - 1 of a plane, `stride` bytes each, with make(rowStart, sy) from
// source row sy = sourceOf(j). An upscale maps several output rows to one source row: those
// repeat the row already made.
template <class SourceOf, class MakeRow>
void makePictureRows(std::uint8_t* plane, std::size_t stride, std::uint32_t top, std::uint32_t rows,
                     SourceOf sourceOf, MakeRow make) {
  std::uint32_t previous = UINT32_MAX;
  for (std::uint32_t j = 0; j < rows; j++) {
    std::uint8_t* rowStart = plane + std::size_t(top + j) * stride;
    const std::uint32_t sy = sourceOf(j);
    if (sy == previous) {
      std::memcpy(rowStart, rowStart - stride, stride);
      continue;
    }
    previous = sy;
    make(rowStart, sy);
  }
}

// Gather blocks for one output row of `outBytes` bytes, where output byte o comes from source
// byte sourceOf(o) of a row of `rowBytes`; each block's count is a multiple of `step` (a chroma
// pair is never split). Stops where the next block's 16-byte store would leave the row.
template <class SourceOf>
std::vector<rows::GatherBlock> gatherBlocks(std::uint32_t outBytes, std::uint32_t rowBytes, std::uint32_t step,
                                                      SourceOf sourceOf) {
  std::vector<rows::GatherBlock> blocks;
  if (rowBytes < 32) return blocks;
  for (std::uint32_t o = 0; o + 16 <= outBytes;) {
    rows::GatherBlock block;
    // Source positions never decrease along a row, and the last one lies inside it.
    block.source = std::min(sourceOf(o), rowBytes - 32);
    std::uint32_t n = 0;
    while (n < 16) {
      const std::uint32_t at = sourceOf(o + n);
      if (at < block.source || at - block.source >= 32) break;
      const std::uint32_t offset = at - block.source;
      block.low[n] = offset < 16 ? std::uint8_t(offset) : 0x80;
      block.high[n] = offset < 16 ? 0x80 : std::uint8_t(offset - 16);
      n++;
    }
    n -= n % step;
    if (n == 0) break;
    for (std::uint32_t k = n; k < 16; k++) block.low[k] = block.high[k] = 0x80;
    block.count = n;
    blocks.push_back(block);
    o += n;
  }
  return blocks;
}

}  // namespace

// The packed pixel pairs are put together as 32-bit words in memory order.
static_assert(std::endian::native == std::endian::little);

LetterboxGeometry letterboxGeometry(std::uint32_t sw, std::uint32_t sh, std::uint32_t width, std::uint32_t height) {
  LetterboxGeometry g;
  if (sw == 0 || sh == 0 || width == 0 || height == 0) return g;
  g.scale = std::min(double(height) / sh, double(width) / sw);
  // Rounding could in theory nudge a product past the output; the bars must never go negative.
  g.width = std::min(std::uint32_t(double(sw) * g.scale), width) & ~1u;
  g.height = std::min(std::uint32_t(double(sh) * g.scale), height) & ~1u;
  g.x0 = ((width - g.width) / 2) & ~1u;
  g.y0 = ((height - g.height) / 2) & ~1u;
  return g;
}

LetterboxScaler::LetterboxScaler(PixelKernel kernel)
    : kernel_(kernelAvailable(kernel) ? kernel : PixelKernel::Scalar) {
  const rows::Chain chain = rows::chainOf(kernel_);
  for (int i = 0; i < chain.count && scale_ == nullptr; i++) scale_ = chain.sets[i].scale;
}

void LetterboxScaler::prepare(std::uint32_t sw, std::uint32_t sh, std::uint32_t width, std::uint32_t height) {
  if (sw == sw_ && sh == sh_ && width == width_ && height == height_) return;
  sw_ = sw;
  sh_ = sh;
  width_ = width;
  height_ = height;
  geometry_ = letterboxGeometry(sw, sh, width, height);
  const double scale = geometry_.scale;
  const std::uint32_t ow = geometry_.width;
  // Callers only get here with sw >= 2, so the last whole chroma pair exists.
  const std::uint32_t lastPair = sw / 2 - 1;
  const std::uint32_t lastPairByte = (sw - 2) & ~1u;

  lumaX_.resize(ow);
  for (std::uint32_t i = 0; i < ow; i++) lumaX_[i] = std::min(std::uint32_t(double(i) / scale), sw - 1);
  chromaX_.resize(ow / 2);
  for (std::uint32_t i = 0; i < ow / 2; i++) chromaX_[i] = std::min(std::uint32_t(double(i) / scale), lastPair);
  pairX_.resize(std::size_t(ow / 2) * 3);
  adjacent_ = true;
  for (std::size_t k = 0; k < ow / 2; k++) {
    std::uint32_t sx = lumaX_[2 * k];
    pairX_[3 * k] = sx;
    pairX_[3 * k + 1] = std::min(sx + 1, sw - 1);
    pairX_[3 * k + 2] = std::min(sx & ~1u, lastPairByte);
    if (pairX_[3 * k + 1] != sx + 1) adjacent_ = false;
  }
  buildBlocks();
  buildGatherBlocks();
}

void LetterboxScaler::buildGatherBlocks() {
  lumaBlocks_.clear();
  chromaBlocks_.clear();
  if (scale_ == nullptr) return;
  const std::uint32_t* lx = lumaX_.data();
  const std::uint32_t* cx = chromaX_.data();
  const std::uint32_t ow = geometry_.width;
  lumaBlocks_ = gatherBlocks(ow, sw_, 1, [lx](std::uint32_t o) { return lx[o]; });
  chromaBlocks_ = gatherBlocks(ow & ~1u, sw_, 2, [cx](std::uint32_t o) { return 2 * cx[o / 2] + (o & 1); });
}

void LetterboxScaler::buildBlocks() {
  blocks_.clear();
  if (scale_ == nullptr) return;
  // Leading blocks only: each must load 16 bytes inside its luma and chroma rows (both `sw_`
  // bytes long) and find every byte it needs within them.
  const std::size_t pairs = pairX_.size() / 3;
  for (std::size_t k = 0; k + 4 <= pairs; k += 4) {
    rows::Yuy2Block block;
    block.luma = pairX_[3 * k];
    block.chroma = pairX_[3 * k + 2];
    if (std::uint64_t(block.luma) + 16 > sw_ || std::uint64_t(block.chroma) + 16 > sw_) return;
    for (std::size_t j = 0; j < 4; j++) {
      const std::uint32_t* p = &pairX_[3 * (k + j)];
      const std::uint32_t first = p[0] - block.luma, second = p[1] - block.luma, pair = p[2] - block.chroma;
      if (p[0] < block.luma || p[2] < block.chroma || first > 15 || second > 15 || pair > 14) return;
      std::uint8_t* luma = block.lumaShuffle + 4 * j;
      std::uint8_t* chroma = block.chromaShuffle + 4 * j;
      luma[0] = std::uint8_t(first), luma[1] = 0x80, luma[2] = std::uint8_t(second), luma[3] = 0x80;
      chroma[0] = 0x80, chroma[1] = std::uint8_t(pair), chroma[2] = 0x80, chroma[3] = std::uint8_t(pair + 1);
    }
    blocks_.push_back(block);
  }
}

std::uint32_t LetterboxScaler::sourceRow(std::uint32_t j) const {
  return std::min(std::uint32_t(double(j) / geometry_.scale), sh_ - 1);
}

void LetterboxScaler::toYuy2(const Nv12View& src, const TargetView& target) {
  std::uint8_t* const dst = target.data;
  const std::size_t count = target.size;
  const std::uint32_t width = target.width, height = target.height;
  const std::uint32_t sw = src.width, sh = src.height;
  if (count < std::uint64_t(width) * height * 2 || sw < 2 || sh == 0 || width == 0 || height == 0) return;
  prepare(sw, sh, width, height);
  const LetterboxGeometry& g = geometry_;
  const std::size_t outStride = std::size_t(width) * 2;

  // Black only where the picture does not go: the bars above and below, then beside it.
  fillBlackYuy2(dst, std::size_t(g.y0) * outStride);
  std::size_t below = std::size_t(g.y0 + g.height) * outStride;
  fillBlackYuy2(dst + below, (count & ~std::size_t(3)) - below);

  const std::uint8_t* luma = src.data;
  const std::uint8_t* chroma = src.data + std::size_t(sw) * sh;
  const std::uint32_t pairs = g.width / 2;
  const std::uint32_t* px = pairX_.data();
  const auto sourceOf = [this](std::uint32_t j) { return sourceRow(j); };
  makePictureRows(dst, outStride, g.y0, g.height, sourceOf, [&](std::uint8_t* rowStart, std::uint32_t sy) {
    fillBlackYuy2(rowStart, std::size_t(g.x0) * 2);
    std::uint32_t right = (g.x0 + g.width) * 2;
    fillBlackYuy2(rowStart + right, outStride - right);

    const std::uint8_t* y = luma + std::size_t(sy) * sw;
    const std::uint8_t* uv = chroma + std::size_t(sy / 2) * sw;
    std::uint8_t* out = rowStart + std::size_t(g.x0) * 2;
    std::size_t k = 0;
    if (!blocks_.empty()) {
      scale_->yuy2Row(y, uv, out, blocks_.data(), blocks_.size());
      k = 4 * blocks_.size();
    }
    if (adjacent_) {
      // Both luma samples of every pair are neighbours: one 16-bit load each for luma and chroma.
      for (; k < pairs; k++) {
        const std::uint32_t* p = px + 3 * k;
        std::uint16_t yy, cc;
        std::memcpy(&yy, y + p[0], 2);
        std::memcpy(&cc, uv + p[2], 2);
        std::uint32_t packed = (yy & 0xFFu) | (std::uint32_t(cc & 0xFFu) << 8) | (std::uint32_t(yy & 0xFF00u) << 8) |
                               (std::uint32_t(cc & 0xFF00u) << 16);
        std::memcpy(out + 4 * std::size_t(k), &packed, 4);
      }
    } else {
      for (; k < pairs; k++) {
        const std::uint32_t* p = px + 3 * k;
        std::uint8_t* o = out + 4 * k;
        o[0] = y[p[0]];
        o[1] = uv[p[2]];
        o[2] = y[p[1]];
        o[3] = uv[p[2] + 1];
      }
    }
  });
}

void LetterboxScaler::toNv12(const Nv12View& src, const TargetView& target) {
  std::uint8_t* const dst = target.data;
  const std::size_t count = target.size;
  const std::uint32_t width = target.width, height = target.height;
  const std::uint32_t sw = src.width, sh = src.height;
  if (sw < 2 || sh == 0 || width == 0 || height == 0) {
    fillGrey(dst, count, false);
    return;
  }
  const std::size_t lumaSize = std::size_t(width) * height;
  if (count < lumaSize + lumaSize / 2) return;
  prepare(sw, sh, width, height);
  const LetterboxGeometry& g = geometry_;

  const std::uint8_t* luma = src.data;
  const std::uint8_t* chroma = src.data + std::size_t(sw) * sh;
  const std::uint32_t* lx = lumaX_.data();
  const std::uint32_t* cx = chromaX_.data();

  // Luma plane: bars, then nearest rows and columns.
  std::memset(dst, 16, std::size_t(g.y0) * width);
  std::size_t below = std::size_t(g.y0 + g.height) * width;
  std::memset(dst + below, 16, lumaSize - below);
  const auto sourceOf = [this](std::uint32_t j) { return sourceRow(j); };
  makePictureRows(dst, width, g.y0, g.height, sourceOf, [&](std::uint8_t* rowStart, std::uint32_t sy) {
    std::memset(rowStart, 16, g.x0);
    std::memset(rowStart + g.x0 + g.width, 16, width - g.x0 - g.width);
    const std::uint8_t* y = luma + std::size_t(sy) * sw;
    std::uint8_t* out = rowStart + g.x0;
    std::size_t i = 0;
    if (!lumaBlocks_.empty()) i = scale_->gatherRow(y, out, lumaBlocks_.data(), lumaBlocks_.size());
    for (; i < g.width; i++) out[i] = y[lx[i]];
  });

  // Chroma plane: width bytes per row, height / 2 rows, pairs moved as one 16-bit unit.
  std::uint8_t* uvPlane = dst + lumaSize;
  const std::uint32_t top = g.y0 / 2, rows = g.height / 2;
  std::memset(uvPlane, 128, std::size_t(top) * width);
  std::size_t uvBelow = std::size_t(top + rows) * width;
  std::memset(uvPlane + uvBelow, 128, lumaSize / 2 - uvBelow);
  const auto chromaSourceOf = [&](std::uint32_t j) {
    return std::min(std::uint32_t(double(j) / g.scale), (sh + 1) / 2 - 1);
  };
  makePictureRows(uvPlane, width, top, rows, chromaSourceOf, [&](std::uint8_t* rowStart, std::uint32_t sy) {
    std::memset(rowStart, 128, g.x0);
    std::memset(rowStart + g.x0 + g.width, 128, width - g.x0 - g.width);
    const std::uint8_t* uv = chroma + std::size_t(sy) * sw;
    std::uint8_t* out = rowStart + g.x0;
    std::size_t i = 0;
    if (!chromaBlocks_.empty()) i = scale_->gatherRow(uv, out, chromaBlocks_.data(), chromaBlocks_.size()) / 2;
    for (; i < g.width / 2; i++) {
      std::uint16_t pair;
      std::memcpy(&pair, uv + 2 * std::size_t(cx[i]), 2);
      std::memcpy(out + 2 * std::size_t(i), &pair, 2);
    }
  });
}

}  // namespace pixels
