#include "tools/phone_sim/access_unit_splitter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using phonesim::AccessUnit;
using phonesim::splitAccessUnits;

// A NAL unit with a 4-byte start code, header byte `header` and a few payload bytes.
Bytes nal(std::uint8_t header, std::initializer_list<std::uint8_t> payload = {0x88, 0x84}) {
  Bytes out = {0, 0, 0, 1, header};
  out.insert(out.end(), payload);
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

constexpr std::uint8_t kAud = 0x09, kSps = 0x67, kPps = 0x68, kSei = 0x06, kIdr = 0x65, kSlice = 0x41;

// Splits through an exactly-sized heap copy, so the sanitizer sees any read past the end.
std::vector<AccessUnit> split(const Bytes& stream) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[stream.size() + 1]);
  if (!stream.empty()) std::memcpy(copy.get(), stream.data(), stream.size());
  return splitAccessUnits(std::span<const std::uint8_t>(copy.get(), stream.size()));
}

TEST(AccessUnitSplitter, CutsAtDelimitersAndMarksIdrUnitsAsKeys) {
  Bytes key = nal(kAud, {0x10}) + nal(kSps) + nal(kPps) + nal(kSei) + nal(kIdr);
  Bytes p1 = nal(kAud, {0x30}) + nal(kSlice);
  // Two slices of one picture stay together; a 3-byte start code counts as well.
  Bytes p2 = nal(kAud, {0x30}) + nal(kSlice) + Bytes{0, 0, 1, kSlice, 0x9A};
  std::vector<AccessUnit> units = split(key + p1 + p2);
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[0].offset, 0u);
  EXPECT_EQ(units[0].size, key.size());
  EXPECT_TRUE(units[0].isKey);
  EXPECT_EQ(units[1].offset, key.size());
  EXPECT_EQ(units[1].size, p1.size());
  EXPECT_FALSE(units[1].isKey);
  EXPECT_EQ(units[2].offset, key.size() + p1.size());
  EXPECT_EQ(units[2].size, p2.size());
}

TEST(AccessUnitSplitter, ThreeByteDelimiterStartCodeBeginsTheUnit) {
  Bytes first = Bytes{0, 0, 1, kAud, 0x10} + nal(kIdr);
  Bytes second = Bytes{0, 0, 1, kAud, 0x30} + nal(kSlice);
  std::vector<AccessUnit> units = split(first + second);
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[1].offset, first.size());
  EXPECT_EQ(units[0].size + units[1].size, first.size() + second.size());
}

TEST(AccessUnitSplitter, LeavesOutWhatHoldsNoPicture) {
  Bytes picture = nal(kAud) + nal(kIdr);
  // Parameter sets before the first delimiter belong to no unit.
  Bytes before = nal(kSps) + nal(kPps);
  std::vector<AccessUnit> units = split(before + picture);
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].offset, before.size());

  // A stream cut short after a delimiter and a parameter set, or inside a start code.
  EXPECT_EQ(split(picture + nal(kAud) + nal(kSps)).size(), 1u);
  EXPECT_EQ(split(picture + nal(kAud) + Bytes{0, 0, 0, 1}).size(), 1u);
  EXPECT_EQ(split(picture + Bytes{0, 0, 0}).size(), 1u);
  EXPECT_EQ(split(picture + Bytes{0, 0, 0, 1, kAud}).size(), 1u);

  EXPECT_TRUE(split({}).empty());
  EXPECT_TRUE(split(nal(kSps) + nal(kIdr) + nal(kSlice)).empty());  // no delimiters at all
}

TEST(AccessUnitSplitter, KeepsALastUnitCutInsideItsSlice) {
  // The cut cannot be seen without parsing the slice: the unit is handed on as it is.
  Bytes stream = nal(kAud) + nal(kIdr) + nal(kAud) + Bytes{0, 0, 0, 1, kSlice, 0x9A};
  std::vector<AccessUnit> units = split(stream);
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[1].offset + units[1].size, stream.size());
}

TEST(AccessUnitSplitter, GeneratedClipHasOneUnitPerPictureWithKeysEveryThirty) {
  std::FILE* file = std::fopen(BRINDLE_CLIP_DIR "/clip_1280x720.264", "rb");
  ASSERT_NE(file, nullptr) << "clip missing: build the brindle_clips target";
  Bytes clip;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) clip.insert(clip.end(), buffer, buffer + n);
  std::fclose(file);

  std::vector<AccessUnit> units = splitAccessUnits(clip);
  ASSERT_EQ(units.size(), 60u);
  std::size_t next = 0;
  for (std::size_t i = 0; i < units.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(units[i].offset, next);  // back to back, nothing lost
    next = units[i].offset + units[i].size;
    EXPECT_EQ(units[i].isKey, i % 30 == 0);
    const std::uint8_t* u = clip.data() + units[i].offset;
    EXPECT_EQ(0, std::memcmp(u, "\0\0\0\1\x09", 5));
    // The delimiter has one payload byte; the sequence parameter set follows it in key units.
    if (units[i].isKey) {
      EXPECT_EQ(u[10] & 0x1F, 7) << "parameter sets must precede every key frame";
    }
  }
  EXPECT_EQ(next, clip.size());
}

}  // namespace
