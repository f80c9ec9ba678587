#include "pixels/convert_picture.h"

#include <algorithm>
#include <cstring>

#include "pixels/nv12_view.h"
#include "pixels/letterbox.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define BRINDLE_HAVE_SSE2 1
#endif

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

// One output row: out[2k] = y[k], out[2k + 1] = uv[k], which is Y0 U Y1 V for every pixel pair.
void interleaveRow(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* out, std::uint32_t width) {
  std::size_t k = 0;
#if defined(BRINDLE_HAVE_SSE2)
  for (; k + 32 <= width; k += 32) {
    __m128i luma0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + k));
    __m128i luma1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + k + 16));
    __m128i chroma0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + k));
    __m128i chroma1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + k + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k), _mm_unpacklo_epi8(luma0, chroma0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k + 16), _mm_unpackhi_epi8(luma0, chroma0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k + 32), _mm_unpacklo_epi8(luma1, chroma1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k + 48), _mm_unpackhi_epi8(luma1, chroma1));
  }
  for (; k + 16 <= width; k += 16) {
    __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + k));
    __m128i chroma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k), _mm_unpacklo_epi8(luma, chroma));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k + 16), _mm_unpackhi_epi8(luma, chroma));
  }
#endif
  for (; k < width; k++) {
    out[2 * k] = y[k];
    out[2 * k + 1] = uv[k];
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

bool nv12ToYuy2(const pixels::Nv12View& src, std::uint8_t* dst, std::size_t count) {
  const std::uint32_t w = src.width, h = src.height;
  if (w % 2 != 0 || src.stride != w || src.data == nullptr || src.size < pixels::nv12Bytes(w, h)) return false;
  if (count < std::uint64_t(w) * h * 2) return false;
  const std::uint8_t* luma = src.data;
  const std::uint8_t* chroma = src.data + std::size_t(w) * h;
  for (std::uint32_t row = 0; row < h; row++)
    interleaveRow(luma + std::size_t(row) * w, chroma + std::size_t(row / 2) * w, dst + std::size_t(row) * w * 2, w);
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
    return nv12ToYuy2(src, dst, count);
  }
  if (!sameSize) {
    scaler.toNv12(src, dst, count, W, H);
    return true;
  }
  copyNv12(src, dst, count);
  return true;
}

}  // namespace pixels
