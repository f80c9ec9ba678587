// The ring's layout, numbering, capacity and read rules, on a plain block of memory.
#include "ring/frame_ring_block.h"

#include <gtest/gtest.h>

#include <cstring>

#include "pixels/nv12_view.h"
#include "support/exact_bytes.h"
#include "support/test_picture.h"

namespace {

using testsupport::patternBytes;
using testsupport::pictureMatches;
using testsupport::pictureTimestamp;

// Exact heap blocks that start out as 0xAB, so untouched bytes show.
struct Block : testsupport::ExactBytes {
  explicit Block(std::uint64_t n) : ExactBytes(std::size_t(n), 0xAB) {}
};

constexpr std::uint64_t kSystemSize = 22'118'568;
constexpr std::uint32_t kSystemStride = 5'529'632;

// A block formatted by a writer, and a reader attached to it.
struct Ring {
  explicit Ring(std::uint64_t size, const ring::FrameRingConfig& config = ring::FrameRingConfig{}) : block(size) {
    EXPECT_TRUE(writer.format(block.data(), block.size, config));
    EXPECT_TRUE(reader.attach(block.data(), block.size));
  }
  Block block;
  ring::FrameRingBlockWriter writer;
  ring::FrameRingBlockReader reader;
};

std::uint64_t slotOffset(std::uint32_t slot, std::uint32_t stride) { return 40 + std::uint64_t(slot) * stride; }

ring::FrameRingConfig smallConfig(std::uint32_t slots = 4) {
  ring::FrameRingConfig config;
  config.slotCount = slots;
  config.maxWidth = 16;
  config.maxHeight = 16;  // capacity 384, stride 416
  return config;
}

bool publishPattern(ring::FrameRingBlockWriter& writer, std::uint32_t w, std::uint32_t h, std::uint64_t seed = 1) {
  std::uint64_t n = writer.frameCounter() + 1;
  std::vector<std::uint8_t> picture = patternBytes(pixels::nv12Bytes(w, h), seed, n);
  return writer.publish(pictureTimestamp(seed, n), w, h, picture.data(), picture.size());
}

void expectPicture(const ring::RingPicture& p, std::uint64_t number, std::uint32_t w, std::uint32_t h, std::uint64_t seed = 1) {
  ASSERT_TRUE(p.valid);
  EXPECT_EQ(p.frameNumber, number);
  EXPECT_EQ(p.width, w);
  EXPECT_EQ(p.height, h);
  EXPECT_EQ(p.fourcc, ring::kFourccNv12);
  EXPECT_EQ(p.timestampUs, pictureTimestamp(seed, number));
  ASSERT_EQ(p.size, pixels::nv12Bytes(w, h));
  EXPECT_TRUE(pictureMatches(p.pixels.get(), p.size, seed, number));
}

TEST(FrameRingLayout, FreshRingIsLaidOutByteForByteAndHasNothingToRead) {
  Block block(kSystemSize);
  ring::FrameRingBlockWriter writer;
  ASSERT_TRUE(writer.format(block.data(), block.size, ring::FrameRingConfig{}));
  EXPECT_EQ(writer.slotStride(), kSystemStride);

  EXPECT_EQ(std::memcmp(block.data(), "IPCR", 4), 0);
  EXPECT_EQ(block.get<std::uint32_t>(4), 2u);
  EXPECT_EQ(block.get<std::uint32_t>(8), 4u);
  EXPECT_EQ(block.get<std::uint32_t>(12), kSystemStride);
  EXPECT_EQ(block.get<std::uint32_t>(16), 1920u);
  EXPECT_EQ(block.get<std::uint32_t>(20), 1920u);
  EXPECT_EQ(std::memcmp(block.data() + 24, "NV12", 4), 0);
  EXPECT_EQ(block.get<std::uint32_t>(28), 0u);
  EXPECT_EQ(block.get<std::uint64_t>(32), 0u);
  for (std::uint32_t i = 0; i < 4; i++) {
    std::uint64_t at = slotOffset(i, kSystemStride);
    for (int b = 0; b < 32; b++) EXPECT_EQ(block.bytes[at + b], 0) << "slot " << i << " byte " << b;
    EXPECT_EQ(block.bytes[at + 32], 0xAB) << "payloads are not cleared";
  }
  EXPECT_EQ(block.bytes[kSystemSize - 1], 0xAB);

  ring::FrameRingBlockReader reader;
  ASSERT_TRUE(reader.attach(block.data(), block.size));
  EXPECT_FALSE(reader.readLatest(0).valid);

  // One byte short of the section is refused without touching it.
  Block shortBlock(kSystemSize - 1);
  EXPECT_FALSE(writer.format(shortBlock.data(), shortBlock.size, ring::FrameRingConfig{}));
  EXPECT_EQ(shortBlock.bytes[0], 0xAB);
  EXPECT_FALSE(writer.publish(0, 1, 1, "xx", 2));
}

TEST(FrameRingPublish, FirstPictureLandsInSlotOneAndPictureFourInSlotZero) {
  ring::FrameRingConfig config = smallConfig();
  const std::uint32_t stride = 416;
  Block block(40 + 4 * stride);
  ring::FrameRingBlockWriter writer;
  ASSERT_TRUE(writer.format(block.data(), block.size, config));
  ring::FrameRingBlockReader reader;
  ASSERT_TRUE(reader.attach(block.data(), block.size));

  ASSERT_TRUE(publishPattern(writer, 16, 16));
  std::uint64_t slot1 = slotOffset(1, stride);
  EXPECT_EQ(block.get<std::uint64_t>(32), 1u);
  EXPECT_EQ(block.get<std::uint64_t>(slot1), 2u);
  EXPECT_EQ(block.get<std::uint64_t>(slot1 + 8), pictureTimestamp(1, 1));
  EXPECT_EQ(block.get<std::uint32_t>(slot1 + 16), 384u);
  EXPECT_EQ(block.get<std::uint32_t>(slot1 + 20), 16u);
  EXPECT_EQ(block.get<std::uint32_t>(slot1 + 24), 16u);
  EXPECT_TRUE(pictureMatches(block.data() + slot1 + 32, 384, 1, 1));
  EXPECT_EQ(block.get<std::uint64_t>(slotOffset(0, stride)), 0u);
  expectPicture(reader.readLatest(0), 1, 16, 16);

  ASSERT_TRUE(publishPattern(writer, 16, 16));
  ASSERT_TRUE(publishPattern(writer, 16, 16));
  ASSERT_TRUE(publishPattern(writer, 8, 8));
  EXPECT_EQ(block.get<std::uint64_t>(32), 4u);
  EXPECT_EQ(block.get<std::uint64_t>(slotOffset(0, stride)), 8u);
  EXPECT_EQ(block.get<std::uint64_t>(slotOffset(3, stride)), 6u);
  expectPicture(reader.readLatest(1), 4, 8, 8);
}

TEST(FrameRingPublish, CapacityIsExactAndARefusedPictureUsesNoNumber) {
  Ring r(kSystemSize);
  std::vector<std::uint8_t> big = patternBytes(5'529'601, 1, 1);
  ASSERT_TRUE(r.writer.publish(pictureTimestamp(1, 1), 1920, 1920, big.data(), 5'529'600));
  expectPicture(r.reader.readLatest(0), 1, 1920, 1920);

  EXPECT_FALSE(r.writer.publish(5, 1920, 1920, big.data(), 5'529'601));
  EXPECT_FALSE(r.writer.publish(5, 16, 16, nullptr, 384));
  EXPECT_EQ(r.writer.frameCounter(), 1u);
  EXPECT_EQ(r.block.get<std::uint64_t>(32), 1u);
  EXPECT_EQ(r.block.get<std::uint64_t>(slotOffset(2, kSystemStride)), 0u);

  ASSERT_TRUE(publishPattern(r.writer, 1280, 720));
  expectPicture(r.reader.readLatest(1), 2, 1280, 720);
  EXPECT_EQ(r.block.get<std::uint64_t>(slotOffset(2, kSystemStride)), 4u);
}

TEST(FrameRingRead, LastSeenDecidesWhatIsNew) {
  Ring r(40 + 4 * 416, smallConfig());
  for (int i = 0; i < 3; i++) ASSERT_TRUE(publishPattern(r.writer, 16, 16));

  EXPECT_FALSE(r.reader.readLatest(3).valid);
  expectPicture(r.reader.readLatest(2), 3, 16, 16);
  expectPicture(r.reader.readLatest(0), 3, 16, 16);

  // A caller that passes back what it last got never gets the same picture twice in a row.
  std::uint64_t lastSeen = 0;
  for (int round = 0; round < 10; round++) {
    if (round % 3 != 2) {
      ASSERT_TRUE(publishPattern(r.writer, 8, 8));
    }
    ring::RingPicture first = r.reader.readLatest(lastSeen);
    if (round % 3 != 2) {
      ASSERT_TRUE(first.valid);
      EXPECT_EQ(first.frameNumber, r.writer.frameCounter());
      lastSeen = first.frameNumber;
    } else {
      EXPECT_FALSE(first.valid);
    }
    EXPECT_FALSE(r.reader.readLatest(lastSeen).valid);
  }

  // The writer starts a new run while the reader stays attached: numbering restarts at 1 and the
  // reader's number from the earlier run does not hide the new pictures.
  lastSeen = r.writer.frameCounter();
  ASSERT_TRUE(r.writer.format(r.block.data(), r.block.size, smallConfig()));
  EXPECT_FALSE(r.reader.readLatest(lastSeen).valid);
  ASSERT_TRUE(publishPattern(r.writer, 16, 16, 2));
  expectPicture(r.reader.readLatest(lastSeen), 1, 16, 16, 2);
  // Only a number that happens to equal the old one is skipped, until the next picture.
  EXPECT_FALSE(r.reader.readLatest(1).valid);
  ASSERT_TRUE(publishPattern(r.writer, 16, 16, 2));
  expectPicture(r.reader.readLatest(1), 2, 16, 16, 2);
}

TEST(FrameRingRead, SlotBusyOnEveryAttemptGivesNothing) {
  Ring r(40 + 4 * 416, smallConfig());
  ASSERT_TRUE(publishPattern(r.writer, 16, 16));

  // As if the writer stopped inside publish of picture 2 in slot 1 (reached by latestFrame 1).
  r.block.set<std::uint64_t>(slotOffset(1, 416), 3);
  EXPECT_FALSE(r.reader.readLatest(0).valid);
  r.block.set<std::uint64_t>(slotOffset(1, 416), 2);
  expectPicture(r.reader.readLatest(0), 1, 16, 16);
}

TEST(FrameRingRead, PicturesUsedInPlaceCountOnlyIfTheyHeldStill) {
  Ring r(40 + 4 * 416, smallConfig());
  ring::RingPicture picture;
  int calls = 0;
  auto matches = [&](const std::uint8_t* bytes, std::size_t size) {
    calls++;
    return pictureMatches(bytes, size, 1, picture.frameNumber);
  };
  EXPECT_FALSE(r.reader.useLatest(picture, matches));  // nothing published yet
  for (int i = 0; i < 3; i++) ASSERT_TRUE(publishPattern(r.writer, 16, 16));
  ASSERT_TRUE(r.reader.useLatest(picture, matches));
  EXPECT_TRUE(picture.valid);
  EXPECT_EQ(picture.frameNumber, 3u);
  EXPECT_EQ(picture.timestampUs, pictureTimestamp(1, 3));
  EXPECT_EQ(picture.size, pixels::nv12Bytes(16, 16));
  EXPECT_EQ(picture.pixels, nullptr);  // nothing copied
  // Seen before is no reason to refuse it: the same picture again.
  ASSERT_TRUE(r.reader.useLatest(picture, matches));
  EXPECT_EQ(picture.frameNumber, 3u);
  EXPECT_FALSE(r.reader.useLatest(picture, [](const std::uint8_t*, std::size_t) { return false; }));

  // The writer laps the ring while the picture is used: it did not hold still, so it is tried
  // again, and given up after four attempts.
  calls = 0;
  auto lapped = [&](const std::uint8_t*, std::size_t) {
    calls++;
    for (int i = 0; i < 4; i++) EXPECT_TRUE(publishPattern(r.writer, 16, 16));
    return true;
  };
  EXPECT_FALSE(r.reader.useLatest(picture, lapped));
  EXPECT_FALSE(picture.valid);
  EXPECT_EQ(calls, 4);
  // Lapped once only: the second attempt takes the newest picture.
  calls = 0;
  auto lappedOnce = [&](const std::uint8_t* bytes, std::size_t size) {
    return calls == 1 ? matches(bytes, size) : lapped(bytes, size);
  };
  ASSERT_TRUE(r.reader.useLatest(picture, lappedOnce));
  EXPECT_EQ(picture.frameNumber, r.writer.frameCounter());
  EXPECT_EQ(calls, 2);

  // A slot being written, or one whose fields are damaged, is never handed out.
  calls = 0;
  const std::uint64_t newest = slotOffset(std::uint32_t(r.writer.frameCounter() % 4), 416);
  r.block.set<std::uint64_t>(newest, 2 * r.writer.frameCounter() + 1);
  EXPECT_FALSE(r.reader.useLatest(picture, matches));
  r.block.set<std::uint64_t>(newest, 2 * r.writer.frameCounter());
  r.block.set<std::uint32_t>(newest + 16, 385);
  EXPECT_FALSE(r.reader.useLatest(picture, matches));
  EXPECT_EQ(calls, 0);
}

TEST(FrameRingRead, RefusesOtherMagicOrVersion) {
  Block block(40 + 4 * 416);
  ring::FrameRingBlockWriter writer;
  ASSERT_TRUE(writer.format(block.data(), block.size, smallConfig()));
  ring::FrameRingBlockReader reader;

  block.set<std::uint32_t>(4, 1);
  EXPECT_FALSE(reader.attach(block.data(), block.size));
  EXPECT_FALSE(reader.readLatest(0).valid);
  block.set<std::uint32_t>(4, 3);
  EXPECT_FALSE(reader.attach(block.data(), block.size));
  block.set<std::uint32_t>(4, 2);
  std::memcpy(block.data(), "IPCQ", 4);
  EXPECT_FALSE(reader.attach(block.data(), block.size));
  std::memcpy(block.data(), "IPCR", 4);
  EXPECT_TRUE(reader.attach(block.data(), block.size));
}

TEST(FrameRingRead, PicturesOfDifferentSizesFollowEachOther) {
  Ring r(kSystemSize);
  const std::uint32_t sizes[][2] = {{1920, 1080}, {1280, 720}, {1080, 1920}, {640, 480}, {1280, 720}};
  std::uint64_t lastSeen = 0;
  for (const auto& s : sizes) {
    ASSERT_TRUE(publishPattern(r.writer, s[0], s[1]));
    ring::RingPicture p = r.reader.readLatest(lastSeen);
    expectPicture(p, r.writer.frameCounter(), s[0], s[1]);
    lastSeen = p.frameNumber;
  }
  // Picture 5 (1280x720) took slot 1 from picture 1 (1920x1080): the rest still holds picture 1.
  std::uint64_t payload = slotOffset(1, kSystemStride) + 32;
  EXPECT_EQ(r.block.get<std::uint32_t>(payload - 16), 1'382'400u);
  std::vector<std::uint8_t> old = patternBytes(3'110'400, 1, 1);
  EXPECT_EQ(std::memcmp(r.block.data() + payload + 1'382'400, old.data() + 1'382'400, 3'110'400 - 1'382'400), 0);
}

TEST(FrameRingGeometry, WriterRefusesLayoutsItCannotKeep) {
  Block block(4096);
  ring::FrameRingBlockWriter writer;
  auto refused = [&](std::uint32_t slots, std::uint32_t w, std::uint32_t h, std::uint8_t* base, std::uint64_t size) {
    ring::FrameRingConfig c;
    c.slotCount = slots;
    c.maxWidth = w;
    c.maxHeight = h;
    return !writer.format(base, size, c) && !writer.formatted();
  };
  EXPECT_TRUE(refused(0, 16, 16, block.data(), block.size));           // no slot to put a picture in
  EXPECT_TRUE(refused(4, 2, 2, block.data(), block.size));             // stride 38: unaligned sequences
  EXPECT_TRUE(refused(1, 65536, 65536, block.data(), block.size));     // capacity would wrap in 32 bits
  EXPECT_TRUE(refused(800, 1920, 1920, block.data(), ~0ull));          // slot offsets past 32 bits
  EXPECT_TRUE(refused(4, 16, 16, nullptr, block.size));
  EXPECT_TRUE(refused(4, 16, 16, block.data() + 4, block.size - 4));   // base not 8-aligned
  EXPECT_TRUE(refused(4, 16, 16, block.data(), 40 + 4 * 416 - 1));
  EXPECT_EQ(block.bytes[0], 0xAB);

  ring::FrameRingConfig ok = smallConfig(9);
  EXPECT_TRUE(writer.format(block.data(), block.size, ok));
  EXPECT_EQ(ring::frameRingSectionSize(9, writer.slotStride()), 40u + 9 * 416);
}

TEST(FrameRingDamage, ReaderRefusesHeadersWhoseSlotsLeaveTheBlock) {
  const std::uint64_t size = 40 + 4 * 416;
  Block block(size);
  ring::FrameRingBlockWriter writer;
  ASSERT_TRUE(writer.format(block.data(), block.size, smallConfig()));
  ring::FrameRingBlockReader reader;
  auto attachWith = [&](std::uint32_t count, std::uint32_t stride) {
    block.set<std::uint32_t>(8, count);
    block.set<std::uint32_t>(12, stride);
    return reader.attach(block.data(), block.size);
  };
  EXPECT_FALSE(attachWith(0, 416));
  EXPECT_FALSE(attachWith(4, 24));         // shorter than a slot header
  EXPECT_FALSE(attachWith(4, 420));        // unaligned sequence words
  EXPECT_FALSE(attachWith(5, 416));        // one slot past the end
  EXPECT_FALSE(attachWith(0xFFFFFFFFu, 0xFFFFFFF8u));
  EXPECT_TRUE(attachWith(4, 416));
  EXPECT_TRUE(attachWith(1, 416 * 4));     // a different but fitting geometry is taken as it is
  EXPECT_FALSE(reader.attach(block.data(), 39));
  EXPECT_FALSE(reader.attach(nullptr, size));
}

TEST(FrameRingDamage, MalformedSlotGivesNothingAndIsNeverCopiedPastItsEnd) {
  const std::uint32_t stride = 416;
  Block block(40 + 4 * stride);
  ring::FrameRingBlockWriter writer;
  ASSERT_TRUE(writer.format(block.data(), block.size, smallConfig()));
  ASSERT_TRUE(publishPattern(writer, 16, 16));
  ASSERT_TRUE(publishPattern(writer, 16, 16));
  ASSERT_TRUE(publishPattern(writer, 16, 16));
  ring::FrameRingBlockReader reader;
  ASSERT_TRUE(reader.attach(block.data(), block.size));
  const std::uint64_t slot3 = slotOffset(3, stride);
  auto withFields = [&](std::uint32_t size, std::uint32_t w, std::uint32_t h) {
    block.set<std::uint32_t>(slot3 + 16, size);
    block.set<std::uint32_t>(slot3 + 20, w);
    block.set<std::uint32_t>(slot3 + 24, h);
    return reader.readLatest(0);
  };
  EXPECT_FALSE(withFields(385, 16, 16).valid);          // larger than the slot holds
  EXPECT_FALSE(withFields(0xFFFFFFFFu, 16, 16).valid);
  EXPECT_FALSE(withFields(384, 16, 17).valid);          // too few bytes for its own size
  EXPECT_FALSE(withFields(384, 0x10000, 0x10000).valid);
  EXPECT_FALSE(withFields(0, 0, 16).valid);
  EXPECT_FALSE(withFields(384, 16, 0).valid);
  ring::RingPicture spare = withFields(384, 8, 8);            // more bytes than needed is a sound picture
  ASSERT_TRUE(spare.valid);
  EXPECT_EQ(spare.size, 384u);
  expectPicture(withFields(384, 16, 16), 3, 16, 16);

  // latestFrame pointing at a slot that was never written (or was just cleared).
  block.set<std::uint64_t>(32, 4);
  EXPECT_FALSE(reader.readLatest(0).valid);
}

}  // namespace
