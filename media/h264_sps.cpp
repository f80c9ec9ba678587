#include "media/h264_sps.h"

namespace media {

namespace {

constexpr std::uint8_t kSpsNalType = 7;
constexpr std::uint32_t kMaxPictureSide = 16384;

// Bits of a NAL unit's payload, most significant first, with the emulation prevention bytes
// (0x03 after two zero bytes) taken out. Reading past the end fails and stays failed.
class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool failed() const { return failed_; }

  std::uint32_t bit() {
    if (bitsLeft_ == 0 && !loadByte()) return 0;
    --bitsLeft_;
    return (current_ >> bitsLeft_) & 1u;
  }
  std::uint32_t bits(int count) {
    std::uint32_t v = 0;
    for (int i = 0; i < count; ++i) v = (v << 1) | bit();
    return v;
  }
  // Exp-Golomb, unsigned; codes with more than 31 leading zeros are refused.
  std::uint32_t ue() {
    int zeros = 0;
    while (bit() == 0) {
      if (failed_ || ++zeros > 31) {
        failed_ = true;
        return 0;
      }
    }
    const std::uint64_t value = (std::uint64_t(1) << zeros) - 1 + bits(zeros);
    if (value > 0xFFFFFFFEu) failed_ = true;
    return failed_ ? 0 : std::uint32_t(value);
  }
  std::int32_t se() {
    const std::uint32_t k = ue();
    return (k & 1u) ? std::int32_t((k + 1) / 2) : -std::int32_t(k / 2);
  }

 private:
  bool loadByte() {
    if (next_ < bytes_.size() && zeros_ >= 2 && bytes_[next_] == 3) {
      ++next_;
      zeros_ = 0;
    }
    if (next_ >= bytes_.size()) {
      failed_ = true;
      return false;
    }
    current_ = bytes_[next_++];
    zeros_ = current_ == 0 ? zeros_ + 1 : 0;
    bitsLeft_ = 8;
    return true;
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t next_ = 0;
  int zeros_ = 0;
  std::uint32_t current_ = 0;
  int bitsLeft_ = 0;
  bool failed_ = false;
};

// A scaling list is read only to be skipped; its deltas lie in -128..127.
bool skipScalingList(BitReader& r, int size) {
  std::int32_t last = 8;
  std::int32_t next = 8;
  for (int j = 0; j < size && !r.failed(); ++j) {
    if (next != 0) {
      const std::int32_t delta = r.se();
      if (delta < -128 || delta > 127) return false;
      next = (last + delta + 256) % 256;
    }
    if (next != 0) last = next;
  }
  return !r.failed();
}

bool hasChromaFormat(std::uint32_t profile) {
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<SequencePictureSize> readSequencePictureSize(std::span<const std::uint8_t> nalUnit) {
  if (nalUnit.empty() || (nalUnit[0] & 0x1F) != kSpsNalType) return std::nullopt;
  BitReader r(nalUnit.subspan(1));

  const std::uint32_t profile = r.bits(8);
  r.bits(16);  // constraint flags, level
  r.ue();      // seq_parameter_set_id
  std::uint32_t chromaFormat = 1;
  bool separatePlanes = false;
  if (hasChromaFormat(profile)) {
    chromaFormat = r.ue();
    if (chromaFormat > 3) return std::nullopt;
    if (chromaFormat == 3) separatePlanes = r.bit() != 0;
    if (r.ue() > 6 || r.ue() > 6) return std::nullopt;  // bit depths beyond 14
    r.bit();  // qpprime_y_zero_transform_bypass_flag
    if (r.bit()) {  // seq_scaling_matrix_present_flag
      const int lists = chromaFormat != 3 ? 8 : 12;
      for (int i = 0; i < lists && !r.failed(); ++i) {
        if (r.bit() && !skipScalingList(r, i < 6 ? 16 : 64)) return std::nullopt;
      }
    }
  }
  r.ue();  // log2_max_frame_num_minus4
  const std::uint32_t pocType = r.ue();
  if (pocType == 0) {
    r.ue();
  } else if (pocType == 1) {
    r.bit();
    r.se();
    r.se();
    const std::uint32_t cycle = r.ue();
    if (cycle > 255) return std::nullopt;
    for (std::uint32_t i = 0; i < cycle && !r.failed(); ++i) r.se();  // offsets for ref frames
  } else if (pocType != 2) {
    return std::nullopt;
  }
  r.ue();   // max_num_ref_frames
  r.bit();  // gaps_in_frame_num_value_allowed_flag
  const std::uint32_t widthMbs = r.ue() + 1;
  const std::uint32_t heightUnits = r.ue() + 1;
  const bool frameMbsOnly = r.bit() != 0;
  if (!frameMbsOnly) r.bit();  // mb_adaptive_frame_field_flag
  r.bit();                     // direct_8x8_inference_flag
  std::uint32_t crop[4] = {0, 0, 0, 0};  // left, right, top, bottom, in crop units
  if (r.bit()) {
    for (std::uint32_t& c : crop) c = r.ue();
  }
  if (r.failed()) return std::nullopt;
  if (widthMbs > kMaxPictureSide / 16 || heightUnits > kMaxPictureSide / 16) return std::nullopt;

  SequencePictureSize size;
  size.codedWidth = widthMbs * 16;
  size.codedHeight = heightUnits * 16 * (frameMbsOnly ? 1 : 2);
  if (size.codedHeight > kMaxPictureSide) return std::nullopt;
  // Crop units: chroma samples, and pairs of rows for field-coded frames.
  const std::uint32_t chromaArray = separatePlanes ? 0 : chromaFormat;
  const std::uint32_t unitX = chromaArray == 1 || chromaArray == 2 ? 2 : 1;
  const std::uint32_t unitY = (chromaArray == 1 ? 2 : 1) * (frameMbsOnly ? 1 : 2);
  for (std::uint32_t c : crop) {
    if (c > kMaxPictureSide) return std::nullopt;
  }
  size.cropLeft = crop[0] * unitX;
  size.cropRight = crop[1] * unitX;
  size.cropTop = crop[2] * unitY;
  size.cropBottom = crop[3] * unitY;
  if (std::uint64_t(size.cropLeft) + size.cropRight >= size.codedWidth ||
      std::uint64_t(size.cropTop) + size.cropBottom >= size.codedHeight) {
    return std::nullopt;
  }
  return size;
}

std::optional<SequencePictureSize> findSequencePictureSize(std::span<const std::uint8_t> accessUnit) {
  for (std::size_t i = 2; i + 1 < accessUnit.size(); ++i) {
    if (accessUnit[i] != 1 || accessUnit[i - 1] != 0 || accessUnit[i - 2] != 0) continue;
    if ((accessUnit[i + 1] & 0x1F) != kSpsNalType) continue;
    // The unit runs to the next start code (or the end); trailing zeros belong to that code.
    std::size_t end = i + 1;
    while (end + 2 < accessUnit.size() &&
           !(accessUnit[end] == 0 && accessUnit[end + 1] == 0 && accessUnit[end + 2] <= 1)) {
      ++end;
    }
    if (end + 2 >= accessUnit.size()) end = accessUnit.size();
    return readSequencePictureSize(accessUnit.subspan(i + 1, end - (i + 1)));
  }
  return std::nullopt;
}

}  // namespace media
