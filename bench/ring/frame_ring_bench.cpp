// publish and readLatest of a packed 1920x1080 NV12 picture, each against memcpy of the same
// bytes between the same places, measured interleaved in one run; medians of the repetitions.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "pixels/nv12_view.h"
#include "ring/frame_ring_block.h"

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <class F>
double timeIt(F&& f) {
  auto start = Clock::now();
  f();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}  // namespace

int main() {
  const std::uint32_t width = 1920, height = 1080;
  const std::size_t pictureSize = pixels::nv12Bytes(width, height);
  const ring::FrameRingConfig config;
  const std::uint32_t stride = ring::frameRingSlotStride(config.maxWidth, config.maxHeight);
  const std::uint64_t sectionSize = ring::frameRingSectionSize(config.slotCount, stride);

  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[sectionSize]);
  std::memset(block.get(), 0, sectionSize);
  std::vector<std::uint8_t> picture(pictureSize);
  for (std::size_t i = 0; i < pictureSize; i++) picture[i] = std::uint8_t(i * 7 + (i >> 11));
  std::vector<std::uint8_t> copyOut(pictureSize);

  ring::FrameRingBlockWriter writer;
  ring::FrameRingBlockReader reader;
  if (!writer.format(block.get(), sectionSize, config) || !reader.attach(block.get(), sectionSize)) {
    std::printf("ring setup failed\n");
    return 1;
  }

  const int repetitions = 301;
  std::vector<double> memcpyIn, publish, memcpyOut, readLatest;
  std::uint64_t sink = 0;
  for (int rep = 0; rep < repetitions; rep++) {
    // The same slot payload publish is about to use, so both copies hit the same memory; the
    // order alternates so that neither side always finds the other's bytes in the cache.
    std::uint64_t next = writer.frameCounter() + 1;
    std::uint8_t* slotPayload = block.get() + 40 + (next % config.slotCount) * stride + 32;
    auto copyIn = [&] { memcpyIn.push_back(timeIt([&] { std::memcpy(slotPayload, picture.data(), pictureSize); })); };
    auto put = [&] { publish.push_back(timeIt([&] { writer.publish(rep, width, height, picture.data(), pictureSize); })); };
    auto copyBack = [&] { memcpyOut.push_back(timeIt([&] { std::memcpy(copyOut.data(), slotPayload, pictureSize); })); };
    auto get = [&] {
      readLatest.push_back(timeIt([&] {
        ring::RingPicture p = reader.readLatest(0);
        sink += p.valid ? p.pixels[rep % pictureSize] : 1000;
      }));
    };
    if (rep % 2 == 0) {
      copyIn();
      put();
      copyBack();
      get();
    } else {
      put();
      copyIn();
      get();
      copyBack();
    }
    sink += copyOut[rep % pictureSize];
  }

  double in = median(memcpyIn), out = median(memcpyOut);
  std::printf("publish: %.2fx memcpy\n", median(publish) / in);
  std::printf("readLatest: %.2fx memcpy\n", median(readLatest) / out);
  std::printf("(memcpy in %.0f us, out %.0f us, %zu bytes; check %llu)\n", in, out, pictureSize,
              (unsigned long long)sink);
  return 0;
}
