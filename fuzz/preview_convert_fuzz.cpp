// The preview's NV12 to RGBA conversion with any geometry: odd sizes, strides wider than the
// picture or too narrow, a byte count around what the picture needs, any row pitch. Source and
// destination are exactly sized on the heap. Every kernel this processor runs must write the
// same bytes, each pixel by the formula with the chroma pair the rules pick, and nothing outside
// its rows; a refused picture writes nothing.
//
// Input: pixel bytes; the geometry is read from the end.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "pixels/to_rgba.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr std::uint8_t kUntouched = 0xA5;

std::uint8_t clampByte(std::int32_t v) { return std::uint8_t(std::clamp(v, 0, 255)); }

// Pixel (x, y) as the header states it, from the picture's bytes alone.
void expectedPixel(const pixels::Nv12View& p, std::uint32_t x, std::uint32_t y, std::uint8_t out[4]) {
  const std::uint64_t luma = std::uint64_t(p.stride) * p.height;
  const std::uint64_t chromaRows = std::min<std::uint64_t>((p.size - luma) / p.stride, (p.height + 1) / 2);
  const std::uint32_t pairs = std::min((p.width + 1) / 2, p.stride / 2);  // complete pairs a row uses
  std::int32_t u = 128, v = 128;
  if (chromaRows > 0 && pairs > 0) {
    const std::uint64_t row = std::min<std::uint64_t>(y / 2, chromaRows - 1);
    const std::uint32_t pair = std::min(x / 2, pairs - 1);
    const std::uint8_t* uv = p.data + luma + row * p.stride + 2 * pair;
    u = uv[0];
    v = uv[1];
  }
  const std::int32_t Y = 298 * std::int32_t(p.data[std::size_t(y) * p.stride + x]);
  out[0] = clampByte((Y + 409 * v - 56992) >> 8);
  out[1] = clampByte((Y - 100 * u - 208 * v + 34784) >> 8);
  out[2] = clampByte((Y + 516 * u - 70688) >> 8);
  out[3] = 255;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // Wide enough for every vector path and its tail, high enough for odd last rows.
  const std::uint32_t width = in.ConsumeIntegralInRange<std::uint32_t>(0, 160);
  const std::uint32_t height = in.ConsumeIntegralInRange<std::uint32_t>(0, 12);
  const std::uint32_t stride = in.ConsumeBool() ? width + in.ConsumeIntegralInRange<std::uint32_t>(0, 40)
                                                : in.ConsumeIntegralInRange<std::uint32_t>(0, 200);
  const std::uint64_t needed = std::uint64_t(stride) * (height + height / 2);
  const std::int64_t rows = 2 * std::int64_t(stride) + 2;  // a little over two rows either way
  const std::int64_t slack = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::int64_t>(-rows, rows) : 0;
  const std::size_t sourceSize = std::size_t(std::max<std::int64_t>(0, std::int64_t(needed) + slack));
  const std::size_t pitch = in.ConsumeBool() ? 4 * std::size_t(width) + in.ConsumeIntegralInRange<std::size_t>(0, 12)
                                             : in.ConsumeIntegralInRange<std::size_t>(0, 660);
  const std::vector<std::uint8_t> pixels = in.ConsumeRemainingBytes<std::uint8_t>();

  const std::vector<std::uint8_t> source = fuzzsupport::tiled(pixels, sourceSize);
  const pixels::Nv12View picture{source.data(), source.size(), width, height, stride};
  const bool accepted =
      width > 0 && height > 0 && stride >= width && sourceSize >= needed && pitch >= 4 * std::size_t(width);
  const std::size_t destinationSize = height > 0 ? (height - 1) * pitch + 4 * std::size_t(width) : 0;

  std::vector<std::uint8_t> first;
  using pixels::PixelKernel;
  for (PixelKernel kernel :
       {PixelKernel::Scalar, PixelKernel::Sse2, PixelKernel::Ssse3, PixelKernel::Avx2, PixelKernel::Best}) {
    if (!pixels::kernelAvailable(kernel)) continue;
    std::vector<std::uint8_t> rgba(destinationSize, kUntouched);
    const pixels::TargetView target = {rgba.data(), rgba.size(), width, height, std::uint32_t(pitch)};
    FUZZ_CHECK(pixels::nv12ToRgba(picture, target, kernel) == accepted);
    if (first.empty()) {
      first = rgba;
    } else {
      FUZZ_CHECK(rgba == first);
    }
  }
  if (!accepted) {
    FUZZ_CHECK(std::ranges::all_of(first, [](std::uint8_t b) { return b == kUntouched; }));
    return 0;
  }
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = first.data() + std::size_t(y) * pitch;
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint8_t pixel[4];
      expectedPixel(picture, x, y, pixel);
      FUZZ_CHECK(std::equal(pixel, pixel + 4, row + 4 * std::size_t(x)));
    }
    if (y + 1 == height) break;
    FUZZ_CHECK(std::all_of(row + 4 * std::size_t(width), row + pitch, [](std::uint8_t b) { return b == kUntouched; }));
  }
  return 0;
}
