// The sequence parameter set reader: the sizes x264 writes into the generated clips, the
// rarer syntax (high profiles' scaling lists, field coding, picture order type 1, emulation
// prevention), and malformed input, which it refuses without reading past it.
#include "media/h264_sps.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "support/clip_units.h"
#include "support/exact_bytes.h"
#include "support/sps_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::SpsWriter;

// Read from exactly the unit's bytes, so that the sanitizers see any read past them.
std::optional<media::SequencePictureSize> readExact(const Bytes& nal) {
  testsupport::ExactBytes exact(nal.size());
  std::copy(nal.begin(), nal.end(), exact.data());
  return media::readSequencePictureSize(std::span<const std::uint8_t>(exact.data(), exact.size));
}

TEST(SequenceParameterSet, GeneratedClipsGiveTheirDisplaySize) {
  struct Case {
    const char* clip;
    std::uint32_t codedWidth, codedHeight, width, height;
  };
  for (const Case& c : {Case{"clip_1920x1080.264", 1920, 1088, 1920, 1080}, Case{"clip_1280x720.264", 1280, 720, 1280, 720},
                        Case{"clip_1080x1920.264", 1088, 1920, 1080, 1920}}) {
    SCOPED_TRACE(c.clip);
    const decodertest::Clip clip = decodertest::loadClip(c.clip, BRINDLE_CLIP_DIR);
    ASSERT_FALSE(clip.units.empty());
    const auto size = media::findSequencePictureSize(clip.unit(0));
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->codedWidth, c.codedWidth);
    EXPECT_EQ(size->codedHeight, c.codedHeight);
    EXPECT_EQ(size->width(), c.width);
    EXPECT_EQ(size->height(), c.height);
    EXPECT_FALSE(media::findSequencePictureSize(clip.unit(1)).has_value()) << "a unit without parameter sets";
  }
}

// High profile 4:2:0 with scaling lists, picture order type 1, field coding and all four crops.
SpsWriter highProfileFields() {
  SpsWriter w;
  w.bits(100, 8);  // profile_idc
  w.bits(0, 8);
  w.bits(40, 8);   // level
  w.ue(0);         // seq_parameter_set_id
  w.ue(1);         // chroma_format_idc 4:2:0
  w.ue(0);
  w.ue(0);
  w.bits(0, 1);
  w.bits(1, 1);  // seq_scaling_matrix_present_flag
  for (int i = 0; i < 8; ++i) {
    w.bits(i % 3 == 0 ? 1 : 0, 1);  // lists 0, 3 and 6 are present
    if (i == 0) {
      for (int delta : {2, -1, 5, -14}) w.se(delta);  // the scale reaches 0: the list ends early
    } else if (i == 3) {
      w.se(-8);
    } else if (i == 6) {
      for (int j = 0; j < 64; ++j) w.se(0);  // an 8x8 list read to its end
    }
  }
  w.ue(0);  // log2_max_frame_num_minus4
  w.ue(1);  // pic_order_cnt_type 1
  w.bits(0, 1);
  w.se(-3);
  w.se(5);
  w.ue(2);
  w.se(7);
  w.se(-7);
  w.ue(4);       // max_num_ref_frames
  w.bits(0, 1);
  w.ue(44);      // 45 macroblocks wide: 720
  w.ue(17);      // 18 map units of a field pair: 576 rows
  w.bits(0, 1);  // frame_mbs_only_flag 0
  w.bits(1, 1);
  w.bits(1, 1);
  w.bits(1, 1);  // frame_cropping_flag
  w.ue(1);       // left 2 pixels
  w.ue(3);       // right 6
  w.ue(1);       // top 4 rows (units of 4 in fields)
  w.ue(2);       // bottom 8
  w.bits(0, 1);  // no VUI
  return w;
}

TEST(SequenceParameterSet, HighProfileFieldCodingAndEmulationPrevention) {
  const Bytes nal = highProfileFields().nal();
  auto size = readExact(nal);
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(size->codedWidth, 720u);
  EXPECT_EQ(size->codedHeight, 576u);
  EXPECT_EQ(size->cropLeft, 2u);
  EXPECT_EQ(size->cropRight, 6u);
  EXPECT_EQ(size->cropTop, 4u);
  EXPECT_EQ(size->cropBottom, 8u);
  EXPECT_EQ(size->width(), 712u);
  EXPECT_EQ(size->height(), 564u);

  // Large codes leave zero bytes, escaped by 0x03, which the reader takes out again.
  SpsWriter w;
  w.bits(66, 8);
  w.bits(0, 16);
  w.ue(31);        // seq_parameter_set_id: many zeros
  w.ue((1u << 30) - 1);  // log2_max_frame_num_minus4: thirty zeros twice (nonsense, but readable)
  w.ue(2);
  w.ue(0);
  w.bits(0, 1);
  w.ue(79);
  w.ue(44);
  w.bits(1, 1);
  w.bits(0, 1);
  w.bits(0, 1);
  w.bits(0, 1);
  const Bytes escaped = w.nal();
  bool hasEscape = false;
  for (std::size_t i = 2; i < escaped.size(); ++i) hasEscape |= escaped[i] == 3 && escaped[i - 1] == 0 && escaped[i - 2] == 0;
  ASSERT_TRUE(hasEscape);
  size = readExact(escaped);
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(size->width(), 1280u);
  EXPECT_EQ(size->height(), 720u);
}

TEST(SequenceParameterSet, MalformedInputIsRefusedWithoutReadingPastIt) {
  const Bytes good = highProfileFields().nal();
  for (std::size_t n = 0; n + 1 < good.size(); ++n) {
    EXPECT_FALSE(readExact(Bytes(good.begin(), good.begin() + std::ptrdiff_t(n))).has_value()) << "cut at " << n;
  }
  Bytes notSps = good;
  notSps[0] = 0x68;
  EXPECT_FALSE(readExact(notSps).has_value());

  auto sized = [](std::uint32_t w, std::uint32_t h, std::uint32_t cropRight) { return testsupport::baselineSps(w, h, cropRight); };
  EXPECT_TRUE(readExact(sized(1024, 1024, 0)).has_value()) << "16384 pixels is the largest side";
  EXPECT_FALSE(readExact(sized(1025, 4, 0)).has_value());
  EXPECT_FALSE(readExact(sized(4, 1025, 0)).has_value());
  EXPECT_TRUE(readExact(sized(4, 4, 31)).has_value()) << "64 wide, 62 cropped";
  EXPECT_FALSE(readExact(sized(4, 4, 32)).has_value()) << "a crop that leaves nothing";
  EXPECT_FALSE(readExact(Bytes{0x67, 66, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).has_value()) << "a code of 32+ zeros";
  SpsWriter wide;  // a scaling list delta far out of range: refused, not summed into an overflow
  wide.bits(100, 8);
  wide.bits(0, 16);
  wide.ue(0);
  wide.ue(1);
  wide.ue(0);
  wide.ue(0);
  wide.bits(0, 1);
  wide.bits(1, 1);
  wide.bits(1, 1);
  wide.se(0x7FFFFFFF);
  EXPECT_FALSE(readExact(wide.nal()).has_value());

  // Random bytes behind a valid start: any answer, but never a read past them (the sanitizers
  // watch), and the search of an access unit stops at its end too.
  std::mt19937 rng(5);
  for (int round = 0; round < 3000; ++round) {
    Bytes nal(1 + rng() % 40);
    for (auto& b : nal) b = std::uint8_t(rng() % 4 == 0 ? 0 : rng());
    nal[0] = 0x67;
    if (auto size = readExact(nal)) {
      EXPECT_GT(size->width(), 0u);
      EXPECT_GT(size->height(), 0u);
      EXPECT_LE(size->codedWidth, 16384u);
    }
    Bytes unit = {0, 0, 1};
    unit.insert(unit.end(), nal.begin(), nal.end());
    testsupport::ExactBytes exact(unit.size());
    std::copy(unit.begin(), unit.end(), exact.data());
    media::findSequencePictureSize(std::span<const std::uint8_t>(exact.data(), exact.size));
  }
}

}  // namespace
