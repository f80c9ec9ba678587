// The preview's NV12 to RGBA conversion against libyuv's NV12ToABGR (whose bytes are R G B A,
// the preview texture's order) on the same picture, side by side in one run (medians). libyuv
// rounds its own way, so the outputs are compared only for the largest difference.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <libyuv/convert_argb.h>

#include "pixels/to_rgba.h"
#include "support/bench_timer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint64_t g_sink = 0;

void run(std::uint32_t width, std::uint32_t height, pixels::PixelKernel kernel, int rounds) {
  if (!pixels::kernelAvailable(kernel)) return;
  Bytes nv12(std::size_t(width) * height * 3 / 2);
  for (std::size_t i = 0; i < nv12.size(); i++) nv12[i] = std::uint8_t(i * 7 + (i >> 9));
  const std::size_t pitch = 4 * std::size_t(width);
  Bytes ours(pitch * height), theirs(pitch * height);
  const pixels::Nv12View pic{nv12.data(), nv12.size(), width, height, width};
  const std::uint8_t* uv = nv12.data() + std::size_t(width) * height;
  // One untimed pass each, so that neither pays for first-touch page faults.
  pixels::nv12ToRgba(pic, {ours.data(), ours.size(), width, height, std::uint32_t(pitch)}, kernel);
  libyuv::NV12ToABGR(nv12.data(), int(width), uv, int(width), theirs.data(), int(pitch), int(width), int(height));
  auto pair = bench::sideBySide(
      rounds, [&] { pixels::nv12ToRgba(pic, {ours.data(), ours.size(), width, height, std::uint32_t(pitch)}, kernel); },
      [&] {
        libyuv::NV12ToABGR(nv12.data(), int(width), uv, int(width), theirs.data(), int(pitch), int(width), int(height));
      });
  int diff = 0;
  for (std::size_t i = 0; i < ours.size(); i++) diff = std::max(diff, std::abs(int(ours[i]) - int(theirs[i])));
  g_sink += ours[12345] + theirs[12345];
  std::printf("nv12 to rgba %ux%u (%s): %.2fx libyuv  (%.3f ms vs %.3f ms, largest byte difference %d)\n", width, height,
              pixels::kernelName(kernel == pixels::PixelKernel::Best ? pixels::bestKernel() : kernel), pair.ratio(),
              pair.subject * 1e3, pair.baseline * 1e3, diff);
}

}  // namespace

int main() {
  for (pixels::PixelKernel k : {pixels::PixelKernel::Best, pixels::PixelKernel::Sse2, pixels::PixelKernel::Scalar}) {
    run(1920, 1080, k, k == pixels::PixelKernel::Scalar ? 21 : 101);
    run(3840, 2160, k, k == pixels::PixelKernel::Scalar ? 11 : 41);
  }
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(g_sink));
  return 0;
}
