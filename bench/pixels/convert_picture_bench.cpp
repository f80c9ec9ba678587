// The camera's pixel work per sample against libyuv doing the nearest equivalent work, measured
// side by side in one run (medians). Debian's libyuv has no NV12ToYUY2: its fastest route from
// NV12 is SplitUVPlane then I420ToYUY2 (I422ToYUY2Row inside), timed whole as "libyuv route";
// the packing cases also give it the chroma already split into planes, so that I420ToYUY2 alone
// is timed against the whole of ours.
//   yuy2 direct WxH                 nv12ToYuy2          vs I420ToYUY2 (and SplitUVPlane + I420ToYUY2)
//   nv12 copy WxH                   copyNv12            vs NV12Copy
//   nv12 letterbox 1920x1080->WxH   LetterboxScaler     vs ScalePlane + UVScale (kFilterNone) + bar fills
//   yuy2 letterbox 1920x1080->1280x720  LetterboxScaler vs the faster of NV12Scale + SplitUVPlane +
//                                   I420ToYUY2 and ScalePlane x3 (source chroma split untimed) + I420ToYUY2
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <libyuv/convert_from.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>
#include <libyuv/scale_uv.h>

#include "support/bench_timer.h"
#include "pixels/convert_picture.h"
#include "pixels/letterbox.h"

namespace {

using pixels::LetterboxGeometry;
using pixels::LetterboxScaler;
using pixels::letterboxGeometry;
using pixels::copyNv12;
using pixels::nv12ToYuy2;
using Bytes = std::vector<std::uint8_t>;

struct Picture {
  Picture(std::uint32_t w, std::uint32_t h) : width(w), height(h), nv12(std::size_t(w) * h * 3 / 2) {
    for (std::size_t i = 0; i < nv12.size(); i++) nv12[i] = std::uint8_t(i * 7 + (i >> 9));
    // The same chroma as planes, for libyuv's planar functions.
    std::size_t quarter = std::size_t(w / 2) * (h / 2);
    u.resize(quarter);
    v.resize(quarter);
    const std::uint8_t* uv = nv12.data() + std::size_t(w) * h;
    for (std::size_t i = 0; i < quarter; i++) {
      u[i] = uv[2 * i];
      v[i] = uv[2 * i + 1];
    }
  }
  pixels::Nv12View view() const { return {nv12.data(), nv12.size(), width, height, width}; }
  const std::uint8_t* y() const { return nv12.data(); }
  const std::uint8_t* uv() const { return nv12.data() + std::size_t(width) * height; }

  std::uint32_t width, height;
  Bytes nv12, u, v;
};

constexpr int kRounds = 101;
std::uint64_t g_sink = 0;

void report(const char* name, bench::Pair p) {
  std::printf("%s: %.2fx libyuv  (%.3f ms vs %.3f ms)\n", name, p.ratio(), p.subject * 1e3, p.baseline * 1e3);
}

void yuy2Direct(std::uint32_t w, std::uint32_t h) {
  Picture src(w, h);
  Bytes ours(std::size_t(w) * h * 2), theirs(std::size_t(w) * h * 2), route(std::size_t(w) * h * 2);
  Bytes u(src.u.size()), v(src.v.size());
  auto yuy2 = [&](const std::uint8_t* pu, const std::uint8_t* pv, std::uint8_t* out) {
    libyuv::I420ToYUY2(src.y(), int(w), pu, int(w / 2), pv, int(w / 2), out, int(w * 2), int(w), int(h));
  };
  auto pair = bench::sideBySide(
      kRounds, [&] { nv12ToYuy2(src.view(), {ours.data(), ours.size(), w, h, 2 * w}); },
      [&] { yuy2(src.u.data(), src.v.data(), theirs.data()); });
  auto whole = bench::sideBySide(
      kRounds, [&] { nv12ToYuy2(src.view(), {ours.data(), ours.size(), w, h, 2 * w}); },
      [&] {
        libyuv::SplitUVPlane(src.uv(), int(w), u.data(), int(w / 2), v.data(), int(w / 2), int(w / 2), int(h / 2));
        yuy2(u.data(), v.data(), route.data());
      });
  g_sink += ours[12345] + theirs[12345] + route[12345];
  char name[64];
  std::snprintf(name, sizeof(name), "yuy2 direct %ux%u", w, h);
  if (ours != theirs || ours != route) std::printf("(%s: outputs differ)\n", name);
  report(name, pair);
  std::snprintf(name, sizeof(name), "yuy2 direct %ux%u, libyuv route", w, h);
  report(name, whole);
}

void nv12Copy(std::uint32_t w, std::uint32_t h) {
  Picture src(w, h);
  const std::size_t luma = std::size_t(w) * h;
  Bytes ours(src.nv12.size()), theirs(src.nv12.size());
  auto pair = bench::sideBySide(
      kRounds, [&] { copyNv12(src.view(), {ours.data(), ours.size(), w, h, w}); },
      [&] {
        libyuv::NV12Copy(src.y(), int(w), src.uv(), int(w), theirs.data(), int(w), theirs.data() + luma, int(w),
                         int(w), int(h));
      });
  g_sink += ours[777] + theirs[777];
  char name[64];
  std::snprintf(name, sizeof(name), "nv12 copy %ux%u", w, h);
  if (ours != theirs) std::printf("(%s: outputs differ)\n", name);
  report(name, pair);
}

void nv12Letterbox(std::uint32_t width, std::uint32_t height, const char* name) {
  Picture src(1920, 1080);
  LetterboxScaler scaler;
  const std::size_t luma = std::size_t(width) * height;
  Bytes ours(luma * 3 / 2), theirs(luma * 3 / 2);
  LetterboxGeometry g = letterboxGeometry(1920, 1080, width, height);
  auto pair = bench::sideBySide(
      kRounds, [&] { scaler.toNv12(src.view(), {ours.data(), ours.size(), width, height, width}); },
      [&] {
        // The bars, then the picture scaled into its place in both planes.
        std::uint8_t* y = theirs.data();
        std::uint8_t* uv = theirs.data() + luma;
        std::memset(y, 16, std::size_t(g.y0) * width);
        std::memset(y + std::size_t(g.y0 + g.height) * width, 16, std::size_t(height - g.y0 - g.height) * width);
        std::memset(uv, 128, std::size_t(g.y0 / 2) * width);
        std::memset(uv + std::size_t((g.y0 + g.height) / 2) * width, 128,
                    std::size_t(height - g.y0 - g.height) / 2 * width);
        libyuv::ScalePlane(src.y(), 1920, 1920, 1080, y + std::size_t(g.y0) * width + g.x0, int(width), int(g.width),
                           int(g.height), libyuv::kFilterNone);
        libyuv::UVScale(src.uv(), 1920, 960, 540, uv + std::size_t(g.y0 / 2) * width + g.x0, int(width), int(g.width / 2),
                        int(g.height / 2), libyuv::kFilterNone);
      });
  g_sink += ours[777] + theirs[777];
  report(name, pair);
}

void yuy2Letterbox() {
  Picture src(1920, 1080);
  LetterboxScaler scaler;
  Bytes ours(1280 * 720 * 2), theirs(1280 * 720 * 2);
  Bytes scaled(1280 * 720 * 3 / 2), y(1280 * 720), u(640 * 360), v(640 * 360);
  auto run = [&] { scaler.toYuy2(src.view(), {ours.data(), ours.size(), 1280, 720, 2 * 1280}); };
  // Through NV12: scale both planes as NV12, split the small chroma, pack.
  auto viaNv12 = bench::sideBySide(kRounds, run, [&] {
    std::uint8_t* uv = scaled.data() + 1280 * 720;
    libyuv::NV12Scale(src.y(), 1920, src.uv(), 1920, 1920, 1080, scaled.data(), 1280, uv, 1280, 1280, 720,
                      libyuv::kFilterNone);
    libyuv::SplitUVPlane(uv, 1280, u.data(), 640, v.data(), 640, 640, 360);
    libyuv::I420ToYUY2(scaled.data(), 1280, u.data(), 640, v.data(), 640, theirs.data(), 1280 * 2, 1280, 720);
  });
  // Through planes, given the source chroma already split (untimed): three plane scales, pack.
  auto viaPlanes = bench::sideBySide(kRounds, run, [&] {
    libyuv::ScalePlane(src.y(), 1920, 1920, 1080, y.data(), 1280, 1280, 720, libyuv::kFilterNone);
    libyuv::ScalePlane(src.u.data(), 960, 960, 540, u.data(), 640, 640, 360, libyuv::kFilterNone);
    libyuv::ScalePlane(src.v.data(), 960, 960, 540, v.data(), 640, 640, 360, libyuv::kFilterNone);
    libyuv::I420ToYUY2(y.data(), 1280, u.data(), 640, v.data(), 640, theirs.data(), 1280 * 2, 1280, 720);
  });
  g_sink += ours[777] + theirs[777];
  // Against whichever of libyuv's routes was faster in this run.
  const bool nv12Faster = viaNv12.baseline <= viaPlanes.baseline;
  report("yuy2 letterbox 1920x1080->1280x720", nv12Faster ? viaNv12 : viaPlanes);
  std::printf("(yuy2 letterbox: libyuv's faster route was %s)\n",
              nv12Faster ? "NV12Scale + SplitUVPlane + I420ToYUY2" : "ScalePlane x3 + I420ToYUY2");
}

}  // namespace

int main() {
  yuy2Direct(1280, 720);
  yuy2Direct(1920, 1080);
  yuy2Direct(1080, 1920);
  nv12Copy(1920, 1080);
  nv12Copy(1080, 1920);
  nv12Letterbox(1280, 720, "nv12 letterbox 1920x1080->1280x720");
  nv12Letterbox(720, 1280, "nv12 letterbox 1920x1080->720x1280");
  yuy2Letterbox();
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(g_sink));
  return 0;
}
