// A writer republishing into one slot at full speed while reader threads copy out of it. Every
// valid copy must be exactly the picture its number names: fields and every payload byte.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "pixels/nv12_view.h"
#include "ring/frame_ring_format.h"
#include "support/test_picture.h"

namespace ringtest {

// Ring geometry for the check: one slot, so every picture overwrites the one being read.
inline ring::FrameRingConfig tornReadConfig(const char* name) {
  ring::FrameRingConfig config;
  config.name = name;
  config.slotCount = 1;
  config.maxWidth = 160;
  config.maxHeight = 128;
  return config;
}

// Sizes change with the number so that a torn size or width is caught too.
inline std::uint32_t tornWidth(std::uint64_t number) { return 96 + 32 * std::uint32_t(number % 3); }
inline std::uint32_t tornHeight(std::uint64_t number) { return 64 + 32 * std::uint32_t(number % 2); }

struct TornReadCounts {
  std::uint64_t published = 0;
  std::uint64_t reads = 0;
  std::uint64_t valid = 0;
  std::uint64_t mismatches = 0;
};

// Runs until the readers made `wantedReads` reads with `wantedValid` valid ones, or `limit`.
template <class Writer, class Reader>
TornReadCounts runTornReads(Writer& writer, const std::vector<const Reader*>& readers, std::uint64_t wantedReads,
                            std::uint64_t wantedValid, std::chrono::milliseconds limit) {
  const std::uint64_t seed = 7;
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> reads{0}, valid{0}, mismatches{0};
  TornReadCounts counts;

  std::thread writerThread([&] {
    std::vector<std::uint8_t> picture;
    for (std::uint64_t n = writer.frameCounter() + 1; !stop.load(std::memory_order_relaxed); n++) {
      std::uint32_t w = tornWidth(n), h = tornHeight(n);
      picture.resize(pixels::nv12Bytes(w, h));
      testsupport::fillPicture(picture.data(), picture.size(), seed, n);
      if (writer.publish(testsupport::pictureTimestamp(seed, n), w, h, picture.data(), picture.size())) counts.published++;
    }
  });

  std::vector<std::thread> readerThreads;
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (const Reader* reader : readers) {
    readerThreads.emplace_back([&, reader] {
      std::uint64_t lastSeen = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        ring::RingPicture p = reader->readLatest(lastSeen);
        reads++;
        if (p.valid) {
          valid++;
          lastSeen = p.frameNumber;
          bool ok = p.width == tornWidth(p.frameNumber) && p.height == tornHeight(p.frameNumber) &&
                    p.size == pixels::nv12Bytes(p.width, p.height) &&
                    p.timestampUs == testsupport::pictureTimestamp(seed, p.frameNumber) &&
                    testsupport::pictureMatches(p.pixels.get(), p.size, seed, p.frameNumber);
          if (!ok) mismatches++;
        }
        bool enough = reads.load() >= wantedReads && valid.load() >= wantedValid;
        if (enough || std::chrono::steady_clock::now() >= deadline) stop.store(true);
      }
    });
  }
  for (std::thread& t : readerThreads) t.join();
  writerThread.join();
  counts.reads = reads.load();
  counts.valid = valid.load();
  counts.mismatches = mismatches.load();
  return counts;
}

// Prints the counts; no mismatch, and enough reads and valid ones to mean something.
inline void expectWholePictures(const TornReadCounts& counts) {
  std::printf("published %llu, reads %llu, valid %llu, mismatched %llu\n", (unsigned long long)counts.published,
              (unsigned long long)counts.reads, (unsigned long long)counts.valid,
              (unsigned long long)counts.mismatches);
  EXPECT_EQ(counts.mismatches, 0u);
  EXPECT_GE(counts.reads, 10'000u);
  EXPECT_GE(counts.valid, 100u);
}

}  // namespace ringtest
