#include "pixels/convert_picture.h"

#include <algorithm>
#include <cstring>

#include "pixels/nv12_view.h"
#include "pixels/letterbox.h"
#include "pixels/rows.h"

namespace pixels {

namespace {

void fillPattern4(std::uint8_t* dst, std::size_t count, const std::uint8_t pattern[4]) {
  std::size_t groups = count / 4;
  if (groups == 0) return;
  // Seed one group, then double the filled span: few large copies instead of many small stores.
  std::memcpy(dst, pattern, 4);
  std::size_t filled = 4, total = groups * 4;
  while (filled < total) {
    std::size_t n = std::min(filled, total - filled);
    std::memcpy(dst + filled, dst, n);
    filled += n;
  }
}

// One output row: out[2k] = y[k], out[2k + 1] = uv[k], which is Y0 U Y1 V for every pixel pair;
// the vector rows first, then plain code.
void interleaveRow(const rows::Yuy2Rows* vectors, const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* out,
                   std::uint32_t width) {
  std::uint32_t k = vectors != nullptr ? vectors->interleaveRow(y, uv, out, width) : 0;
  for (; k < width; k++) {
    out[2 * std::size_t(k)] = y[k];
    out[2 * std::size_t(k) + 1] = uv[k];
  }
}

}  // namespace

void fillGrey(std::uint8_t* dst, std::size_t count, bool yuy2) {
  if (yuy2) count &= ~std::size_t(3);
  if (count > 0) std::memset(dst, 128, count);
}

void fillBlackYuy2(std::uint8_t* dst, std::size_t count) {
  static const std::uint8_t kBlack[4] = {0x10, 0x80, 0x10, 0x80};
  fillPattern4(dst, count, kBlack);
}

void fillBlackNv12(std::uint8_t* dst, std::uint32_t W, std::uint32_t H) {
  std::size_t luma = std::size_t(W) * H;
  std::memset(dst, 16, luma);
  std::memset(dst + luma, 128, luma / 2);
}

bool nv12ToYuy2(const Nv12View& src, std::uint8_t* dst, std::size_t count, PixelKernel kernel) {
  const std::uint32_t w = src.width, h = src.height;
  if (w % 2 != 0 || src.stride != w || src.data == nullptr || src.size < nv12Bytes(w, h)) return false;
  if (count < std::uint64_t(w) * h * 2 || !kernelAvailable(kernel)) return false;
  const rows::Chain chain = rows::chainOf(kernel);
  const rows::Yuy2Rows* vectors = nullptr;
  for (int i = 0; i < chain.count && vectors == nullptr; i++) vectors = chain.sets[i].yuy2;
  const std::uint8_t* luma = src.data;
  const std::uint8_t* chroma = src.data + std::size_t(w) * h;
  for (std::uint32_t row = 0; row < h; row++)
    interleaveRow(vectors, luma + std::size_t(row) * w, chroma + std::size_t(row / 2) * w, dst + std::size_t(row) * w * 2, w);
  return true;
}

void copyNv12(const pixels::Nv12View& src, std::uint8_t* dst, std::size_t count) {
  std::size_t n = src.data ? std::min(src.size, count) : 0;
  if (n > 0) std::memcpy(dst, src.data, n);
  if (n < count) std::memset(dst + n, 0, count - n);
}

bool convertPicture(const pixels::Nv12View& src, std::uint8_t* dst, std::size_t count, std::uint32_t W, std::uint32_t H,
                    bool yuy2, LetterboxScaler& scaler) {
  // A picture shorter than its own size says (a corrupt slot) is never read at all.
  if (src.size < pixels::nv12Bytes(src.width, src.height) || (src.size > 0 && src.data == nullptr)) return false;
  // The kernels walk packed rows only.
  if (src.stride != src.width) return false;
  // Nor is one without a whole pixel pair, nor one for a sample that cannot hold the output:
  // nothing would be written, and the sample would carry the allocator's old bytes.
  const std::uint64_t pixels = std::uint64_t(W) * H;
  if (src.width < 2 || src.height == 0 || W == 0 || H == 0) return false;
  if (count < (yuy2 ? pixels * 2 : pixels + pixels / 2)) return false;
  const bool sameSize = src.width == W && src.height == H;
  if (yuy2) {
    if (!sameSize) {
      scaler.toYuy2(src, dst, count, W, H);
      return true;
    }
    return nv12ToYuy2(src, dst, count, scaler.kernel());
  }
  if (!sameSize) {
    scaler.toNv12(src, dst, count, W, H);
    return true;
  }
  copyNv12(src, dst, count);
  return true;
}

}  // namespace pixels
