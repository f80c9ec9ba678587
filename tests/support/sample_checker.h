// Judges every sample a camera delivers while a writer publishes test pictures (test_picture.h)
// of one size and seed: all grey, which is right only before the first picture, or exactly the
// sample the reference makes of the picture whose number the sample shows.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "support/camera_reference.h"
#include "support/test_picture.h"

namespace testsupport {

inline bool allGrey(const std::uint8_t* bytes, std::size_t size) {
  return std::all_of(bytes, bytes + size, [](std::uint8_t v) { return v == 128; });
}

class SampleChecker {
 public:
  // Pictures of sw x sh from run `seed`, samples of W x H in YUY2 or NV12.
  SampleChecker(std::uint32_t sw, std::uint32_t sh, std::uint64_t seed, std::uint32_t W, std::uint32_t H, bool yuy2)
      : sw_(sw), sh_(sh), W_(W), H_(H), seed_(seed), yuy2_(yuy2) {
    // Where the picture's first two luma pixels, which hold its number, land in the sample.
    reference::Geometry g = {};
    if (sw != W || sh != H) g = reference::geometry(sw, sh, W, H);
    std::size_t pixel = std::size_t(g.y0) * W + g.x0;
    low_ = yuy2 ? pixel * 2 : pixel;
    high_ = yuy2 ? low_ + 2 : low_ + 1;
  }

  // On the camera's worker thread, one sample at a time.
  void check(const std::uint8_t* bytes, std::size_t size) {
    if (allGrey(bytes, size)) {
      if (!seen_.empty()) ++mismatches;
      ++grey;
      return;
    }
    if (size <= high_) {
      ++mismatches;
      return;
    }
    std::uint32_t n = bytes[low_] | std::uint32_t(bytes[high_]) << 8;
    if (n != lastNumber_) {
      expected_ = reference::sample(makePicture(sw_, sh_, seed_, n), sw_, sh_, W_, H_, yuy2_);
      lastNumber_ = n;
    }
    if (size != expected_.size() || !std::equal(bytes, bytes + size, expected_.begin())) {
      ++mismatches;
      return;
    }
    seen_.insert(n);
    pictures = int(seen_.size());
  }

  std::atomic<int> grey{0}, pictures{0}, mismatches{0};

 private:
  std::uint32_t sw_, sh_, W_, H_;
  std::uint64_t seed_;
  bool yuy2_;
  std::size_t low_ = 0, high_ = 0;
  std::uint32_t lastNumber_ = 0xFFFFFFFFu;
  std::vector<std::uint8_t> expected_;
  std::set<std::uint32_t> seen_;
};

}  // namespace testsupport
