// Readers racing a writer that republishes into the same slot without pause: a copy that the
// writer disturbed must never come out as a valid picture.
#include <gtest/gtest.h>

#include <memory>

#include "ring/frame_ring_block.h"
#include "torn_read_check.h"

namespace {

TEST(FrameRingTornRead, ValidCopiesAreAlwaysWholePictures) {
  ring::FrameRingConfig config = ringtest::tornReadConfig("unused");
  std::uint64_t size = ring::frameRingSectionSize(1, ring::frameRingSlotStride(config.maxWidth, config.maxHeight));
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]);
  ring::FrameRingBlockWriter writer;
  ASSERT_TRUE(writer.format(block.get(), size, config));
  ring::FrameRingBlockReader first, second;
  ASSERT_TRUE(first.attach(block.get(), size));
  ASSERT_TRUE(second.attach(block.get(), size));

  ringtest::TornReadCounts counts =
      ringtest::runTornReads(writer, std::vector<const ring::FrameRingBlockReader*>{&first, &second}, 40'000, 2'000,
                             std::chrono::seconds(20));
  ringtest::expectWholePictures(counts);
}

}  // namespace
