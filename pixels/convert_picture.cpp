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

void fillBlackNv12(std::uint8_t* dst, std::uint32_t width, std::uint32_t height) {
  std::size_t luma = std::size_t(width) * height;
  std::memset(dst, 16, luma);
  std::memset(dst + luma, 128, luma / 2);
}

bool nv12ToYuy2(const Nv12View& src, const TargetView& target, PixelKernel kernel) {
  const std::uint32_t w = src.width, h = src.height;
  std::uint8_t* const dst = target.data;
  if (w % 2 != 0 || src.stride != w || src.data == nullptr || src.size < nv12Bytes(w, h)) return false;
  if (target.width != w || target.height != h || std::uint64_t(target.stride) != std::uint64_t(w) * 2) return false;
  if (target.size < std::uint64_t(w) * h * 2 || !kernelAvailable(kernel)) return false;
  const rows::Chain chain = rows::chainOf(kernel);
  const rows::Yuy2Rows* vectors = nullptr;
  for (int i = 0; i < chain.count && vectors == nullptr; i++) vectors = chain.sets[i].yuy2;
  const std::uint8_t* luma = src.data;
  const std::uint8_t* chroma = src.data + std::size_t(w) * h;
  for (std::uint32_t row = 0; row < h; row++) {
    interleaveRow(vectors, luma + std::size_t(row) * w, chroma + std::size_t(row / 2) * w,
                  dst + std::size_t(row) * w * 2, w);
  }
  return true;
}

void copyNv12(const Nv12View& src, const TargetView& target) {
  std::uint8_t* const dst = target.data;
  const std::size_t count = target.size;
  std::size_t n = src.data ? std::min(src.size, count) : 0;
  if (n > 0) std::memcpy(dst, src.data, n);
  if (n < count) std::memset(dst + n, 0, count - n);
}

bool convertPicture(const Nv12View& src, const TargetView& dst, bool yuy2, LetterboxScaler& scaler) {
  const std::uint32_t width = dst.width, height = dst.height;
  // A picture shorter than its own size says (a corrupt slot) is never read at all.
  if (src.size < nv12Bytes(src.width, src.height) || (src.size > 0 && src.data == nullptr)) return false;
  // The kernels walk packed rows only.
  if (src.stride != src.width) return false;
  // Nor is one without a whole pixel pair, nor one for a sample that cannot hold the output:
  // nothing would be written, and the sample would carry the allocator's old bytes.
  const std::uint64_t area = std::uint64_t(width) * height;
  if (src.width < 2 || src.height == 0 || width == 0 || height == 0) return false;
  if (dst.size < (yuy2 ? area * 2 : area + area / 2)) return false;
  if (std::uint64_t(dst.stride) != (yuy2 ? std::uint64_t(width) * 2 : width)) return false;
  const bool sameSize = src.width == width && src.height == height;
  if (yuy2) {
    if (!sameSize) {
      scaler.toYuy2(src, dst);
      return true;
    }
    return nv12ToYuy2(src, dst, scaler.kernel());
  }
  if (!sameSize) {
    scaler.toNv12(src, dst);
    return true;
  }
  copyNv12(src, dst);
  return true;
}

}  // namespace pixels
