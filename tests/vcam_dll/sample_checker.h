// Classifies every sample a capture graph receives from the camera while a writer publishes
// counter pictures of the sample's size: grey (only before the first picture), or exactly the
// picture whose counter it shows. Called on the camera's worker thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <set>
#include <vector>

#include "counter_picture.h"
#include "tools/camera_viewer/camera_capture.h"
#include "tools/camera_viewer/picture_convert.h"
#include "tools/clip_pattern/frame_counter_code.h"

namespace dlltest {

class SampleChecker {
 public:
  explicit SampleChecker(const cameraviewer::CaptureFormat& format) : format_(format) {}
  void check(const std::uint8_t* bytes, std::size_t size) {
    std::vector<std::uint8_t> sample(bytes, bytes + size);
    if (std::all_of(sample.begin(), sample.end(), [](std::uint8_t v) { return v == 128; })) {
      if (pictures > 0) ++mismatches;
      ++grey;
      return;
    }
    std::vector<std::uint8_t> luma = cameraviewer::lumaPlane(format_.format, bytes, size, format_.width, format_.height);
    int n = luma.empty() ? -1 : clippattern::readFrameCounter(luma.data(), int(format_.width), int(format_.height),
                                                              int(format_.width));
    if (n < 1) {
      ++mismatches;
      return;
    }
    if (n != lastNumber_) {
      std::vector<std::uint8_t> picture = makeCounterPicture(format_.width, format_.height, std::uint32_t(n));
      expected_ = expectedSample(picture, format_.width, format_.height,
                                 format_.format == cameraviewer::SampleFormat::Yuy2);
      lastNumber_ = n;
    }
    if (sample != expected_) {
      ++mismatches;
      return;
    }
    seen_.insert(n);
    pictures = int(seen_.size());
  }
  std::atomic<int> grey{0}, pictures{0}, mismatches{0};

 private:
  cameraviewer::CaptureFormat format_;
  int lastNumber_ = -1;
  std::vector<std::uint8_t> expected_;
  std::set<int> seen_;
};

}  // namespace dlltest
