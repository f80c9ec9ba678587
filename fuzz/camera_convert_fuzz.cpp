// The camera's per-sample pixel work: a ring picture of any size (its byte count a little off
// now and then, as a damaged slot could make it) into a sample of the camera's formats' shape or
// of any other even width, the sample a few bytes larger or smaller than the format needs. Both
// buffers are exactly sized on the heap. The result must be the plain reference's, byte for byte,
// and a refused picture must leave the sample untouched. Two pictures go through one scaler, so
// its kept tables meet a change of geometry.
//
// Input: pixel bytes; the geometry is read from the end.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "pixels/nv12_view.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/camera_reference.h"
#include "pixels/convert_picture.h"
#include "pixels/letterbox.h"

namespace {

using pixels::LetterboxScaler;
using pixels::convertPicture;

constexpr std::uint8_t kUntouched = 0xA5;

struct Case {
  std::uint32_t sw, sh, width, height;
  bool yuy2;
  std::size_t sourceSize, count;
};

std::size_t offBy(std::uint64_t size, int slack) {
  return std::size_t(std::max<std::int64_t>(0, std::int64_t(size) + slack));
}

Case readCase(FuzzedDataProvider& in) {
  Case c;
  // Any shape of up to 9,216 pixels: up to 96 x 96, and strips up to 4,096 wide or 9,216 high.
  c.sw = in.ConsumeIntegralInRange<std::uint32_t>(0, in.ConsumeBool() ? 4096 : 96);
  const std::uint32_t maxHeight = std::max<std::uint32_t>(2, 9216 / std::max<std::uint32_t>(c.sw, 1));
  c.sh = in.ConsumeIntegralInRange<std::uint32_t>(0, maxHeight);
  // The camera's own formats at an eighth of their size (full size would cost the fuzzer more
  // than a hundred times the executions and meets the same code), or any other even width.
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 6: c.width = 160, c.height = 90; break;
    case 7: c.width = 90, c.height = 160; break;
    default:
      c.width = 2 * in.ConsumeIntegralInRange<std::uint32_t>(1, 64);
      c.height = in.ConsumeIntegralInRange<std::uint32_t>(1, 128);
  }
  c.yuy2 = in.ConsumeBool();
  const std::uint64_t sample = c.yuy2 ? std::uint64_t(c.width) * c.height * 2 : std::uint64_t(c.width) * c.height * 3 / 2;
  c.sourceSize = offBy(pixels::nv12Bytes(c.sw, c.sh), in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-3, 3) : 0);
  c.count = offBy(sample, in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-5, 5) : 0);
  return c;
}

// Whether the camera takes the picture at all: a whole pixel pair, a source as long as its own
// size says and a sample that holds the whole output; otherwise the sample stays untouched.
bool takes(const Case& c, std::size_t sourceSize) {
  const std::uint64_t pixels = std::uint64_t(c.width) * c.height;
  return sourceSize >= pixels::nv12Bytes(c.sw, c.sh) && c.sw >= 2 && c.sh > 0 &&
         c.count >= (c.yuy2 ? pixels * 2 : pixels + pixels / 2);
}

// What the sample must hold afterwards, written from the rules by the reference.
std::vector<std::uint8_t> expected(const Case& c, const std::vector<std::uint8_t>& source) {
  std::vector<std::uint8_t> out(c.count, kUntouched);
  if (takes(c, source.size()))
    reference::convert({c.sw, c.sh, source.data()}, source.size(), out.data(), c.count, c.width, c.height, c.yuy2);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const Case cases[2] = {readCase(in), readCase(in)};
  // The vector kernel where the processor has it, or the plain one.
  LetterboxScaler scaler(in.ConsumeBool() ? pixels::PixelKernel::Best : pixels::PixelKernel::Scalar);
  const std::vector<std::uint8_t> pixels = in.ConsumeRemainingBytes<std::uint8_t>();

  for (const Case& c : cases) {
    const std::vector<std::uint8_t> source = fuzzsupport::tiled(pixels, c.sourceSize);
    std::vector<std::uint8_t> sample(c.count, kUntouched);

    const pixels::Nv12View picture{source.data(), source.size(), c.sw, c.sh, c.sw};
    const pixels::TargetView target = {sample.data(), sample.size(), c.width, c.height, c.yuy2 ? 2 * c.width : c.width};
    const bool converted = convertPicture(picture, target, c.yuy2, scaler);
    FUZZ_CHECK(converted == takes(c, source.size()));
    FUZZ_CHECK(sample == expected(c, source));
  }
  return 0;
}
