// Rings damaged at random, field by field: the reader may refuse them or return nothing, but it
// must never read outside the block (the block is exactly its size on the heap, so
// AddressSanitizer sees any overread) and a picture it does return must be self-consistent.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "pixels/nv12_view.h"
#include "ring/frame_ring_block.h"

namespace {

struct Field {
  std::uint64_t offset;
  int width;  // 4 or 8 bytes
};

std::uint64_t interesting(std::mt19937_64& rng, std::uint32_t stride, std::uint64_t blockSize) {
  switch (rng() % 10) {
    case 0: return 0;
    case 1: return 1;
    case 2: return 0xFFFFFFFFu;
    case 3: return ~0ull;
    case 4: return stride - 32 + rng() % 3;  // around the payload capacity
    case 5: return stride + (rng() % 17) - 8;
    case 6: return blockSize + (rng() % 17) - 8;
    case 7: return rng() % 64;
    case 8: return rng() & 0xFFFFFFFFu;
    default: return rng();
  }
}

TEST(FrameRingFuzz, DamagedRingsAreNeverReadOutsideTheBlock) {
  std::mt19937_64 rng(20240611);
  const std::uint32_t widths[] = {2, 4, 6, 8, 12, 16, 20};
  int formatted = 0, attachedAfterDamage = 0, validPictures = 0;

  for (int iteration = 0; iteration < 20'000; iteration++) {
    ring::FrameRingConfig config;
    config.slotCount = 1 + rng() % 5;
    config.maxWidth = widths[rng() % 7];
    config.maxHeight = widths[rng() % 7];
    std::uint32_t stride = ring::frameRingSlotStride(config.maxWidth, config.maxHeight);
    std::uint64_t needed = ring::frameRingSectionSize(config.slotCount, stride);
    // Mostly the exact size, sometimes a little more or (refused by the writer) less.
    std::int64_t slack = (rng() % 4 == 0) ? std::int64_t(rng() % 33) - 16 : 0;
    std::uint64_t size = std::uint64_t(std::max<std::int64_t>(8, std::int64_t(needed) + slack));
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]);
    for (std::uint64_t i = 0; i < size; i++) block[i] = std::uint8_t(rng());

    ring::FrameRingBlockWriter writer;
    if (writer.format(block.get(), size, config)) {
      formatted++;
      std::uint8_t source[1024];
      for (auto& b : source) b = std::uint8_t(rng());
      int pictures = rng() % 7;
      for (int i = 0; i < pictures; i++) {
        writer.publish(rng(), rng() % 24, rng() % 24, source, rng() % (stride + 8));
      }
    }

    ring::FrameRingBlockReader before;  // attached before the damage, keeps the geometry it saw
    before.attach(block.get(), size);

    std::vector<Field> fields = {{0, 4}, {4, 4}, {8, 4}, {12, 4}, {16, 4}, {20, 4}, {24, 4}, {28, 4}, {32, 8}};
    for (std::uint32_t i = 0; i < config.slotCount; i++) {
      std::uint64_t at = 40 + std::uint64_t(i) * stride;
      for (Field f : {Field{0, 8}, Field{8, 8}, Field{16, 4}, Field{20, 4}, Field{24, 4}, Field{28, 4}}) {
        if (at + f.offset + f.width <= size) fields.push_back({at + f.offset, f.width});
      }
    }
    int damage = 1 + rng() % 4;
    for (int d = 0; d < damage; d++) {
      Field f = fields[rng() % fields.size()];
      if (f.offset + f.width > size) continue;
      std::uint64_t v = interesting(rng, stride, size);
      if (f.offset == 0 && rng() % 2) v = ring::kFrameRingMagic;  // keep the header plausible often
      if (f.offset == 4 && rng() % 2) v = ring::kFrameRingVersion;
      std::memcpy(block.get() + f.offset, &v, f.width);
    }

    ring::FrameRingBlockReader after;
    if (after.attach(block.get(), size)) attachedAfterDamage++;
    for (const ring::FrameRingBlockReader* reader : {&before, &after}) {
      for (int r = 0; r < 3; r++) {
        std::uint64_t lastSeen = r == 0 ? 0 : interesting(rng, stride, size);
        ring::RingPicture p = reader->readLatest(lastSeen);
        if (!p.valid) continue;
        validPictures++;
        ASSERT_NE(p.pixels, nullptr);
        ASSERT_LE(p.size, std::uint64_t(reader->slotStride()) - 32);
        ASSERT_GE(p.size, pixels::nv12Bytes(p.width, p.height));
        volatile std::uint8_t sink = p.pixels[p.size - 1];
        (void)sink;
      }
    }
  }
  // The run must actually exercise both sides, not refuse everything.
  EXPECT_GT(formatted, 10'000);
  EXPECT_GT(attachedAfterDamage, 2'000);
  EXPECT_GT(validPictures, 1'000);
}

}  // namespace
