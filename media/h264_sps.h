// The picture size an H.264 sequence parameter set gives: the coded size in macroblocks and the
// frame cropping that leaves the displayed picture (a 1080-row stream is coded as 1088 rows and
// cropped by 8). Read from the stream itself, for decoders that report no display aperture.
//
// The reader is bounded: it never reads past the bytes it is given, and refuses Exp-Golomb codes
// longer than 32 bits, values out of their syntax's range, sides beyond 16384 pixels and crops
// that leave no picture. Portable.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace media {

struct SequencePictureSize {
  std::uint32_t codedWidth = 0;   // macroblock columns x 16
  std::uint32_t codedHeight = 0;  // macroblock rows x 16 (both fields of a field-coded frame)
  std::uint32_t cropLeft = 0;     // pixels cropped at each edge, in luma samples
  std::uint32_t cropRight = 0;
  std::uint32_t cropTop = 0;
  std::uint32_t cropBottom = 0;

  std::uint32_t width() const { return codedWidth - cropLeft - cropRight; }
  std::uint32_t height() const { return codedHeight - cropTop - cropBottom; }
};

// Reads one sequence parameter set NAL unit: its header byte (type 7) and what follows, with
// emulation prevention bytes still in place. Nothing when it is not one or is malformed.
std::optional<SequencePictureSize> readSequencePictureSize(std::span<const std::uint8_t> nalUnit);

// The first sequence parameter set in an Annex B access unit (start code delimited), read as
// above; nothing when the unit carries none or it is malformed.
std::optional<SequencePictureSize> findSequencePictureSize(std::span<const std::uint8_t> accessUnit);

}  // namespace media
