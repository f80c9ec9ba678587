// packNv12 of a decoder-shaped 1080p picture (1920 stride, chroma at row 1088) against memcpy
// of the same number of packed bytes.
#include <cstdio>
#include <cstring>
#include <vector>

#include "pixels/nv12_view.h"
#include "pixels/pack.h"
#include "support/bench_timer.h"

int main() {
  const std::uint32_t width = 1920, height = 1080, rows = 1088, stride = 1920;
  std::vector<std::uint8_t> source(std::size_t(stride) * (rows + rows / 2));
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = std::uint8_t(i * 13);
  const std::size_t packedBytes = std::size_t(pixels::nv12Bytes(width, height));
  std::vector<std::uint8_t> packed, copy(packedBytes);

  bool ok = true;
  bench::Pair pair = bench::sideBySide(
      41,
      [&] {
        const pixels::Nv12View view = {source.data(), source.size(), width, height, stride};
        for (int i = 0; i < 10; ++i) ok &= pixels::packNv12(view, rows, packed);
      },
      [&] {
        for (int i = 0; i < 10; ++i) std::memcpy(copy.data(), source.data(), packedBytes);
      });
  if (!ok || packed.size() != packedBytes) {
    std::printf("pack_nv12_1080p: failed\n");
    return 1;
  }
  std::printf("pack_nv12_1080p_vs_memcpy: %.2fx memcpy of %zu bytes (%.3f ms vs %.3f ms)\n", pair.ratio(), packedBytes,
              pair.subject * 100.0, pair.baseline * 100.0);
  return 0;
}
