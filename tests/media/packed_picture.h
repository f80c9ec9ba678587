// The shape every picture leaving the decode pipeline has: packed NV12 of its visible size.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "pixels/nv12_view.h"
#include "media/decoded_frame.h"

namespace decodertest {

inline testing::AssertionResult isPacked(const media::DecodedFrame& f, std::uint32_t width, std::uint32_t height) {
  if (f.width != width || f.height != height || f.stride != width || f.codedHeight != height ||
      f.data.size() != pixels::nv12Bytes(width, height)) {
    return testing::AssertionFailure() << f.width << "x" << f.height << " stride " << f.stride << " coded height "
                                       << f.codedHeight << " bytes " << f.data.size() << ", not packed " << width
                                       << "x" << height;
  }
  return testing::AssertionSuccess();
}

}  // namespace decodertest
