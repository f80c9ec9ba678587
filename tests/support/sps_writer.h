// Writes H.264 sequence parameter sets for tests: fields most significant bit first, then the
// NAL unit with its emulation prevention bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

class SpsWriter {
 public:
  void bits(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bits_.push_back((value >> i) & 1u);
  }
  void ue(std::uint32_t value) {
    const std::uint64_t coded = std::uint64_t(value) + 1;
    int length = 0;
    while ((coded >> length) > 1) ++length;
    bits(0, length);
    bits(std::uint32_t(coded), length + 1);
  }
  void se(std::int32_t value) {
    const std::uint32_t magnitude = value > 0 ? std::uint32_t(value) : 0u - std::uint32_t(value);
    ue(value > 0 ? 2 * magnitude - 1 : 2 * magnitude);
  }
  // The NAL unit: header 0x67, the bits with a stop bit, emulation prevention applied.
  std::vector<std::uint8_t> nal() const {
    std::vector<int> all = bits_;
    all.push_back(1);
    while (all.size() % 8) all.push_back(0);
    std::vector<std::uint8_t> out = {0x67};
    int zeros = 0;
    for (std::size_t i = 0; i < all.size(); i += 8) {
      std::uint8_t byte = 0;
      for (int b = 0; b < 8; ++b) byte = std::uint8_t((byte << 1) | all[i + b]);
      if (zeros >= 2 && byte <= 3) {
        out.push_back(3);
        zeros = 0;
      }
      out.push_back(byte);
      zeros = byte == 0 ? zeros + 1 : 0;
    }
    return out;
  }

 private:
  std::vector<int> bits_;
};

// A baseline profile set for widthMbs x heightMbs macroblocks, cropped by `cropRight` and
// `cropBottom` units of 2 pixels on the right and at the bottom.
inline std::vector<std::uint8_t> baselineSps(std::uint32_t widthMbs, std::uint32_t heightMbs,
                                             std::uint32_t cropRight = 0, std::uint32_t cropBottom = 0) {
  SpsWriter w;
  w.bits(66, 8);  // profile
  w.bits(0, 16);  // constraint flags, level
  w.ue(0);        // seq_parameter_set_id
  w.ue(0);        // log2_max_frame_num_minus4
  w.ue(2);        // pic_order_cnt_type
  w.ue(1);        // max_num_ref_frames
  w.bits(0, 1);
  w.ue(widthMbs - 1);
  w.ue(heightMbs - 1);
  w.bits(1, 1);  // frame_mbs_only_flag
  w.bits(1, 1);
  const bool cropped = cropRight != 0 || cropBottom != 0;
  w.bits(cropped ? 1 : 0, 1);
  if (cropped) {
    w.ue(0);
    w.ue(cropRight);
    w.ue(0);
    w.ue(cropBottom);
  }
  w.bits(0, 1);  // no VUI
  return w.nal();
}

}  // namespace testsupport
