// DecodePipelineWin's life cycle and hand-over of pictures: frames outside start and stop, the
// ring opened at each start, and what deliver does with each layout.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "clip_units.h"
#include "packed_picture.h"
#include "media/decode_pipeline_win.h"
#include "ring/frame_ring_reader.h"
#include "support/log_capture.h"

namespace {

std::string uniqueRing(const char* what) {
  return "brindle-pipeline-test-" + std::to_string(GetCurrentProcessId()) + "-" + what;
}

// The clip's units as the phone sends them.
const decodertest::Clip& clip720() {
  static decodertest::Clip clip = decodertest::loadClip("clip_1280x720.264", BRINDLE_CLIP_DIR);
  return clip;
}

struct Observed {
  std::vector<media::DecodedFrame> pictures;
  const media::DecodedFrame* lastAddress = nullptr;
  void attach(media::DecodePipelineWin& p) {
    p.onDecodedFrame = [this](const media::DecodedFrame& f) {
      pictures.push_back(f);
      lastAddress = &f;
    };
  }
};

TEST(DecodePipeline, FramesOutsideStartAndStopAreIgnoredSilently) {
  const decodertest::Clip& clip = clip720();
  ASSERT_EQ(clip.units.size(), 60u);
  testsupport::LogCapture log;
  media::DecodePipelineWin pipeline;
  Observed seen;
  seen.attach(pipeline);
  for (std::size_t i = 0; i < 10; ++i) pipeline.decode(clip.frame(i, i));
  EXPECT_TRUE(log.lines().empty());

  ASSERT_TRUE(pipeline.start(1920, 1920, uniqueRing("outside")));
  EXPECT_TRUE(pipeline.start(1920, 1920, uniqueRing("outside")));  // already started
  EXPECT_EQ(log.count("[H264Decoder] started\n"), 1u);
  for (std::size_t i = 0; i < 10; ++i) pipeline.decode(clip.frame(i, i));
  EXPECT_GE(seen.pictures.size(), 5u);
  pipeline.stop();
  EXPECT_FALSE(pipeline.started());
  EXPECT_EQ(log.count("[H264Decoder] stopped\n"), 1u);

  log.clear();
  const std::size_t before = seen.pictures.size();
  for (std::size_t i = 10; i < 20; ++i) pipeline.decode(clip.frame(i, i));
  pipeline.stop();
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(seen.pictures.size(), before);
}

TEST(DecodePipeline, StartOpensTheRingFirstAndEachStartNumbersFromOne) {
  const std::string ring = uniqueRing("restart");
  testsupport::LogCapture log;
  // A section of the ring's name too small for it: the ring cannot open, the decoder is not started.
  HANDLE blocker = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, ("Local\\" + ring).c_str());
  ASSERT_NE(blocker, nullptr);
  media::DecodePipelineWin pipeline;
  EXPECT_FALSE(pipeline.start(1920, 1920, ring));
  EXPECT_FALSE(pipeline.started());
  EXPECT_EQ(log.count("[H264Decoder]"), 0u);
  CloseHandle(blocker);

  media::DecodedFrame tight;
  tight.width = 16;
  tight.height = 8;
  tight.stride = 16;
  tight.data.assign(16 * 12, 0x42);
  ring::FrameRingReader reader;
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(pipeline.start(1920, 1920, ring));
    ASSERT_TRUE(reader.open(ring));
    EXPECT_FALSE(reader.readLatest(0).valid);  // a fresh ring
    for (std::int64_t t = 1; t <= 3; ++t) {
      tight.timestampUs = t;
      pipeline.deliver(tight);
    }
    ring::RingPicture p = reader.readLatest(0);
    ASSERT_TRUE(p.valid);
    EXPECT_EQ(p.frameNumber, 3u);
    EXPECT_EQ(p.timestampUs, 3u);
    pipeline.stop();
  }
  EXPECT_EQ(log.count("[H264Decoder] started\n"), 2u);
  EXPECT_EQ(log.count("[H264Decoder] stopped\n"), 2u);
}

TEST(DecodePipeline, DeliverPassesTightPicturesOnAsTheyArePacksTheRestAndDropsShortOnes) {
  const std::string ring = uniqueRing("deliver");
  testsupport::LogCapture log;
  media::DecodePipelineWin pipeline;
  Observed seen;
  seen.attach(pipeline);
  ASSERT_TRUE(pipeline.start(64, 64, ring));
  ring::FrameRingReader reader;
  ASSERT_TRUE(reader.open(ring));

  // Tight: the very frame goes to the callback, its bytes to the ring.
  media::DecodedFrame tight;
  tight.width = 32;
  tight.height = 16;
  tight.timestampUs = 11;
  tight.stride = 32;
  for (int i = 0; i < 32 * 24; ++i) tight.data.push_back(std::uint8_t(i));
  pipeline.deliver(tight);
  EXPECT_EQ(seen.lastAddress, &tight);
  ring::RingPicture p = reader.readLatest(0);
  ASSERT_TRUE(p.valid);
  ASSERT_EQ(p.size, tight.data.size());
  EXPECT_EQ(std::memcmp(p.pixels.get(), tight.data.data(), p.size), 0);

  // Long rows, spare rows and an odd height: packed, with a chroma row for the bottom row, and
  // the ring's reader takes it as a whole picture.
  media::DecodedFrame loose;
  loose.width = 30;
  loose.height = 15;
  loose.codedHeight = 16;
  loose.timestampUs = 12;
  loose.stride = 40;
  loose.data.assign(40 * 24, 0);
  for (int r = 0; r < 24; ++r) std::memset(loose.data.data() + r * 40, r, 30);
  pipeline.deliver(loose);
  ASSERT_EQ(seen.pictures.size(), 2u);
  const media::DecodedFrame& packed = seen.pictures[1];
  ASSERT_TRUE(decodertest::isPacked(packed, 30, 15));  // 15 rows: a chroma row for the bottom one
  EXPECT_EQ(packed.timestampUs, 12);
  for (int r = 0; r < 15 + 8; ++r) EXPECT_EQ(packed.data[r * 30 + 29], r < 15 ? r : 16 + (r - 15)) << r;
  p = reader.readLatest(1);
  ASSERT_TRUE(p.valid);
  EXPECT_EQ(p.frameNumber, 2u);
  ASSERT_EQ(p.size, packed.data.size());
  EXPECT_EQ(std::memcmp(p.pixels.get(), packed.data.data(), p.size), 0);

  // Too short for its own layout, or empty: dropped with one line each, nothing published.
  media::DecodedFrame cut = loose;
  cut.data.resize(40 * 23 + 29);
  pipeline.deliver(cut);
  media::DecodedFrame cutTight = tight;
  cutTight.data.resize(32 * 24 - 1);
  pipeline.deliver(cutTight);
  pipeline.deliver(media::DecodedFrame{});
  EXPECT_EQ(log.count("[H264Decoder] picture dropped: 30x15 in 949 bytes (16 rows of stride 40)\n"), 1u);
  EXPECT_EQ(log.count("[H264Decoder] picture dropped: 32x16 in 767 bytes (16 rows of stride 32)\n"), 1u);
  EXPECT_EQ(log.count("[H264Decoder] picture dropped: 0x0 in 0 bytes (0 rows of stride 0)\n"), 1u);
  EXPECT_EQ(seen.pictures.size(), 2u);
  EXPECT_FALSE(reader.readLatest(2).valid);

  // Larger than the ring's slots: the ring refuses it, the preview still gets it.
  media::DecodedFrame big;
  big.width = 128;
  big.height = 64;
  big.stride = 128;
  big.data.assign(128 * 96, 1);
  pipeline.deliver(big);
  EXPECT_EQ(seen.pictures.size(), 3u);
  EXPECT_FALSE(reader.readLatest(2).valid);
}

}  // namespace
