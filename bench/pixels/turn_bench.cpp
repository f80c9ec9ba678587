// Turning a 1920x1080 NV12 picture against libyuv's fastest route to the same NV12 bytes,
// measured side by side in one run (medians). This libyuv has no NV12 rotation, so a quarter
// turn is RotatePlane for luma, then SplitRotateUV into U and V planes and MergeUVPlane back;
// the turns with a mirror pass a negative height (the source read upwards). Mirror and half a
// turn are NV12Mirror (negative height for the half turn), flip is NV12Copy with a negative
// height. Every case also checks that both wrote the same bytes.
#include <cstdint>
#include <cstdio>
#include <vector>

#include <libyuv/planar_functions.h>
#include <libyuv/rotate.h>

#include "pixels/turn.h"
#include "support/bench_timer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kRounds = 101;
constexpr int kW = 1920, kH = 1080;
std::uint64_t g_sink = 0;

struct Case {
  const char* name;
  pixels::Turn turn;
};

// libyuv's route for `turn` from src (kW x kH) into dst, with two scratch chroma planes.
void libyuvTurn(pixels::Turn turn, const Bytes& src, Bytes& dst, Bytes& u, Bytes& v) {
  const std::uint8_t* y = src.data();
  const std::uint8_t* uv = src.data() + kW * kH;
  std::uint8_t* dy = dst.data();
  std::uint8_t* duv = dst.data() + kW * kH;
  const pixels::Turn c = pixels::canonical(turn);
  if (c.rotation % 2 == 1) {
    // Output kH x kW; a negative height reads the source upwards, which adds the mirror.
    const int sign = c.mirror ? -1 : 1;
    const libyuv::RotationMode mode = c.rotation == 1 ? libyuv::kRotate90 : libyuv::kRotate270;
    libyuv::RotatePlane(y, kW, dy, kH, kW, sign * kH, mode);
    libyuv::SplitRotateUV(uv, kW, u.data(), kH / 2, v.data(), kH / 2, kW / 2, sign * kH / 2, mode);
    libyuv::MergeUVPlane(u.data(), kH / 2, v.data(), kH / 2, duv, kH, kH / 2, kW / 2);
  } else if (c.rotation == 0 && c.mirror) {
    libyuv::NV12Mirror(y, kW, uv, kW, dy, kW, duv, kW, kW, kH);
  } else if (c.rotation == 2 && !c.mirror) {
    libyuv::NV12Mirror(y, kW, uv, kW, dy, kW, duv, kW, kW, -kH);
  } else if (c.rotation == 2 && c.mirror) {
    libyuv::NV12Copy(y, kW, uv, kW, dy, kW, duv, kW, kW, -kH);
  } else {
    libyuv::NV12Copy(y, kW, uv, kW, dy, kW, duv, kW, kW, kH);
  }
}

}  // namespace

int main() {
  Bytes src(std::size_t(kW) * kH * 3 / 2);
  for (std::size_t i = 0; i < src.size(); i++) src[i] = std::uint8_t(i * 7 + (i >> 9));
  Bytes ours(src.size()), theirs(src.size()), u(src.size() / 6), v(src.size() / 6);
  const Case cases[] = {{"turn 1920x1080 rotate 90", {1, false, false}},
                        {"turn 1920x1080 rotate 180", {2, false, false}},
                        {"turn 1920x1080 rotate 270", {3, false, false}},
                        {"turn 1920x1080 mirror", {0, true, false}},
                        {"turn 1920x1080 flip", {0, false, true}},
                        {"turn 1920x1080 rotate 90 mirrored", {1, true, false}},
                        {"turn 1920x1080 rotate 270 mirrored", {3, true, false}}};
  for (const Case& c : cases) {
    const std::uint32_t tw = pixels::swapsSides(c.turn) ? kH : kW, th = pixels::swapsSides(c.turn) ? kW : kH;
    const pixels::Nv12View from = {src.data(), src.size(), kW, kH, kW};
    const pixels::TargetView to = {ours.data(), ours.size(), tw, th, tw};
    auto pair = bench::sideBySide(
        kRounds, [&] { pixels::turnNv12(from, c.turn, to); },
        [&] { libyuvTurn(c.turn, src, theirs, u, v); });
    g_sink += ours[4321] + theirs[4321];
    if (ours != theirs) std::printf("(%s: outputs differ)\n", c.name);
    std::printf("%s: %.2fx libyuv  (%.3f ms vs %.3f ms)\n", c.name, pair.ratio(), pair.subject * 1e3,
                pair.baseline * 1e3);
  }
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(g_sink));
  return 0;
}
