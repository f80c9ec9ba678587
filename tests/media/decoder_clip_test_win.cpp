// The pipeline on Media Foundation's real H.264 decoder, fed the generated clips one access
// unit per frame: picture sizes and layout, the counter drawn into each picture, timestamps,
// a size change mid-stream, damaged input, and the ring the session's publisher writes them into
// as another process reads it. Then the pipeline's life cycle and hand-over of pictures: frames
// outside start and stop, the ring opened at each start, and what deliver does with each layout.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/clip_units.h"
#include "packed_picture.h"
#include "media/decode_pipeline_win.h"
#include "media/h264_decoder_win.h"
#include "pixels/pack.h"
#include "ring/frame_ring_reader.h"
#include "session/picture_publisher_win.h"
#include "support/log_capture.h"
#include "support/ring_child_win.h"
#include "tools/clip_pattern/frame_counter_code.h"

namespace {

using decodertest::Clip;
using decodertest::loadClip;
using decodertest::numberOf;

const Clip& clip(const std::string& name) {
  static std::map<std::string, Clip> loaded;  // node-based: references stay valid
  auto it = loaded.find(name);
  if (it == loaded.end()) it = loaded.emplace(name, loadClip(name, BRINDLE_CLIP_DIR)).first;
  return it->second;
}

struct Picture {
  std::uint32_t width, height, codedHeight, stride;
  std::size_t size;
  std::int64_t timestampUs;
  int counter;  // read from the picture; -1 when unreadable
};

void feed(media::DecodePipeline& pipeline, const receiver::Frame& frame) {
  pipeline.decode(frame.payload, frame.timestampUs);
}

// The session's publisher, unturned, with the preview slot it fills.
struct Publishing {
  session::Orientation orientation;
  session::PictureSlot preview;
  session::PicturePublisher publisher{orientation, preview};
};

// A pipeline, and everything that leaves it with the last picture's bytes, then published.
struct Decoding : media::PictureSink, Publishing {
  std::vector<Picture> pictures;
  std::vector<std::uint8_t> lastData;
  media::DecodePipeline pipeline{*this};  // declared last: it stops before the vectors go

  // Starts it with a ring that holds every clip's size.
  bool start(const std::string& ring) { return publisher.open(1920, 1920, ring) && pipeline.start(); }
  void picture(const media::DecodedFrame& f) override {
    take(f);
    publisher.picture(f);
  }
  void take(const media::DecodedFrame& f) {
    int counter = f.data.size() >= std::size_t(f.stride) * f.height
                      ? clippattern::readFrameCounter(f.data.data(), int(f.width), int(f.height), int(f.stride))
                      : -1;
    pictures.push_back({f.width, f.height, f.codedHeight, f.stride, f.data.size(), f.timestampUs, counter});
    lastData = f.data;
  }
};

// Every picture is packed NV12 of the clip's own size and shows the number it was sent as.
// H.264 codes whole 16-pixel macroblocks: Windows' decoder crops 1088 back to 1080 through the
// display aperture; Wine's reports none, and the stream's frame cropping gives the size.
void expectPackedAndNumbered(const std::vector<Picture>& pictures, std::uint32_t width, std::uint32_t height,
                             std::int64_t numberOffset = 0) {
  std::int64_t previous = -1;
  for (const Picture& p : pictures) {
    SCOPED_TRACE(testing::Message() << "picture at " << p.timestampUs);
    EXPECT_EQ(p.width, width);
    EXPECT_EQ(p.height, height);
    EXPECT_EQ(p.stride, p.width);
    EXPECT_EQ(p.codedHeight, p.height);
    EXPECT_EQ(p.size, std::size_t(p.width) * p.height * 3 / 2);
    EXPECT_EQ(p.counter, numberOf(p.timestampUs) - numberOffset);
    EXPECT_GT(numberOf(p.timestampUs), previous);
    previous = numberOf(p.timestampUs);
  }
}

struct ClipCase {
  const char* file;
  std::uint32_t width;
  std::uint32_t height;
};

class DecodeClips : public testing::TestWithParam<ClipCase> {};

TEST_P(DecodeClips, EveryPictureIsPackedNumberedTimedAndInTheRing) {
  const ClipCase& c = GetParam();
  const Clip& units = clip(c.file);
  ASSERT_EQ(units.units.size(), 60u) << "clip missing: " << c.file;

  testsupport::LogCapture log;
  const std::string ring = testsupport::uniqueRingName("clip");
  Decoding seen;
  ASSERT_TRUE(seen.start(ring));
  for (std::size_t i = 0; i < units.units.size(); ++i) feed(seen.pipeline, units.frame(i, i));

  // The transform keeps a few pictures back until more input comes; all others came out.
  ASSERT_GE(seen.pictures.size(), 50u);
  EXPECT_EQ(seen.pictures.front().counter, 0);
  expectPackedAndNumbered(seen.pictures, c.width, c.height);

  // Each picture went into the ring, in order: the newest one is the last handed out.
  ring::FrameRingReader reader;
  ASSERT_TRUE(reader.open(ring));
  ring::RingPicture latest = reader.readLatest(0);
  ASSERT_TRUE(latest.valid);
  EXPECT_EQ(latest.frameNumber, seen.pictures.size());
  EXPECT_EQ(std::int64_t(latest.timestampUs), seen.pictures.back().timestampUs);
  EXPECT_EQ(latest.width, seen.pictures.back().width);
  EXPECT_EQ(latest.height, seen.pictures.back().height);
  ASSERT_EQ(latest.size, seen.lastData.size());
  EXPECT_EQ(std::memcmp(latest.pixels.get(), seen.lastData.data(), latest.size), 0);

  // Only the first three pictures of a decoder are described.
  EXPECT_EQ(log.count("[H264Decoder] decoded frame #"), 3u);
  EXPECT_EQ(log.count("[H264Decoder] decoded frame #0  visible "), 1u);
  EXPECT_EQ(log.count("[H264Decoder] ProcessOutput failed"), 0u);
  seen.pipeline.stop();
}

INSTANTIATE_TEST_SUITE_P(Clips, DecodeClips,
                         testing::Values(ClipCase{"clip_1280x720.264", 1280, 720}, ClipCase{"clip_1080x1920.264", 1080, 1920},
                                         ClipCase{"clip_1920x1080.264", 1920, 1080}));

// A 1080p stream is coded as 1088 rows: the decoder hands out 1080 visible rows, laid out as
// the transform has them, and the pipeline's packing leaves the 8 rows below them out.
TEST(DecodeLayouts, CodedRowsBelowTheVisiblePictureArePackedAway) {
  const Clip& units = clip("clip_1920x1080.264");
  ASSERT_EQ(units.units.size(), 60u);
  Decoding seen;
  ASSERT_TRUE(seen.start(testsupport::uniqueRingName("crop")));

  struct Raw : media::PictureSink {
    explicit Raw(media::DecodePipeline& p) : pipeline(p) {}
    void picture(const media::DecodedFrame& raw) override {
      ++count;
      EXPECT_EQ(raw.height, 1080u);
      EXPECT_EQ(raw.codedHeight, 1088u);
      EXPECT_EQ(raw.stride, 1920u);
      ASSERT_GE(raw.data.size(), 1920u * 1088 * 3 / 2);
      pipeline.deliver(raw);
      last = raw.data;
    }
    media::DecodePipeline& pipeline;
    std::vector<std::uint8_t> last;
    int count = 0;
  } raw(seen.pipeline);
  media::H264Decoder decoder(raw);
  ASSERT_TRUE(decoder.start());
  for (std::size_t i = 0; i < 30; ++i) decoder.feed(units.unit(i), decodertest::kBaseUs + i * decodertest::kStepUs);
  decoder.stop();
  const int raws = raw.count;
  const std::vector<std::uint8_t>& lastRaw = raw.last;

  ASSERT_GE(raws, 25);
  ASSERT_EQ(seen.pictures.size(), std::size_t(raws));
  expectPackedAndNumbered(seen.pictures, 1920, 1080);
  for (const Picture& p : seen.pictures) ASSERT_EQ(p.height, 1080u);
  // Luma rows 0-1079 as they were; chroma from the decoder's row 1088, not 1080.
  ASSERT_EQ(seen.lastData.size(), 3'110'400u);
  EXPECT_EQ(std::memcmp(seen.lastData.data(), lastRaw.data(), 1920u * 1080), 0);
  EXPECT_EQ(std::memcmp(seen.lastData.data() + 1920u * 1080, lastRaw.data() + 1920u * 1088, 1920u * 540), 0);
}

TEST(DecodeStreams, APictureSizeChangeMidStreamIsRenegotiated) {
  const Clip& small = clip("clip_1280x720.264");
  const Clip& large = clip("clip_1920x1080.264");
  ASSERT_EQ(small.units.size(), 60u);
  ASSERT_EQ(large.units.size(), 60u);
  testsupport::LogCapture log;
  Decoding seen;
  ASSERT_TRUE(seen.start(testsupport::uniqueRingName("resize")));
  // The second stream's first unit is a key frame with its parameter sets, as a phone sends
  // them after switching cameras; its pictures are numbered from 100.
  for (std::size_t i = 0; i < 30; ++i) feed(seen.pipeline, small.frame(i, i));
  for (std::size_t i = 0; i < 60; ++i) feed(seen.pipeline, large.frame(i, 100 + i));

  std::vector<Picture> before, after;
  for (const Picture& p : seen.pictures) (numberOf(p.timestampUs) < 100 ? before : after).push_back(p);
  ASSERT_GE(before.size(), 20u);
  ASSERT_GE(after.size(), 50u);
  expectPackedAndNumbered(before, 1280, 720);
  expectPackedAndNumbered(after, 1920, 1080, 100);
  // The new size shows from the new stream's first picture on: nothing of it is lost. (Windows'
  // decoder renegotiates in place; Wine's fails and is replaced, given the new stream again.)
  EXPECT_EQ(after.front().counter, 0);
  EXPECT_GE(log.count("[H264Decoder] stream change, re-negotiated; cbSize="), 2u);
}

TEST(DecodeStreams, DamagedUnitsAreDroppedAndDecodingResumesAtTheNextKeyFrame) {
  const Clip& units = clip("clip_1280x720.264");
  ASSERT_EQ(units.units.size(), 60u);
  ASSERT_TRUE(units.units[30].isKey);
  testsupport::LogCapture log;
  Decoding seen;
  ASSERT_TRUE(seen.start(testsupport::uniqueRingName("damage")));

  for (std::size_t i = 0; i < 10; ++i) feed(seen.pipeline, units.frame(i, i));
  // A unit cut short, as a lost connection leaves it.
  receiver::Frame cut = units.frame(10, 10);
  cut.payload.resize(cut.payload.size() / 3);
  feed(seen.pipeline, cut);
  // Random bytes, bare and behind a start code, and nothing at all.
  std::mt19937 rng(1234);
  for (std::size_t size : {17u, 1000u, 60000u, 0u}) {
    for (bool startCode : {false, true}) {
      receiver::Frame junk;
      junk.type = receiver::kFrameVideo;
      junk.timestampUs = decodertest::kBaseUs + 20 * decodertest::kStepUs;
      for (std::size_t i = 0; i < size; ++i) junk.payload.push_back(std::uint8_t(rng()));
      if (startCode) junk.payload.insert(junk.payload.begin(), {0, 0, 0, 1});
      feed(seen.pipeline, junk);
    }
  }
  // The next key frame, and on.
  for (std::size_t i = 30; i < 60; ++i) feed(seen.pipeline, units.frame(i, i));

  // Stray bytes are named and dropped; what looks like H.264 is the decoder's to judge.
  EXPECT_EQ(log.count("[H264Decoder] not an H.264 byte stream, dropped (len="), 5u);
  std::size_t resumed = 0;
  for (const Picture& p : seen.pictures) {
    EXPECT_EQ(p.width, 1280u);
    EXPECT_EQ(p.height, 720u);
    EXPECT_EQ(p.size, 1280u * 720 * 3 / 2);
    if (numberOf(p.timestampUs) >= 30) {
      ++resumed;
      EXPECT_EQ(p.counter, numberOf(p.timestampUs));
    }
  }
  EXPECT_GE(resumed, 25u);
}

using Child = testsupport::ChildProcess;

TEST(DecodeRing, AReaderInAnotherProcessGetsThePicturesAsDecoded) {
  const Clip& units = clip("clip_1280x720.264");
  ASSERT_EQ(units.units.size(), 60u);
  const std::string ring = testsupport::uniqueRingName("child");
  char temp[MAX_PATH] = {};
  const std::string result = std::string(temp, GetTempPathA(MAX_PATH, temp)) + ring + ".txt";
  DeleteFileA(result.c_str());
  testsupport::RingStop stop(ring);
  ASSERT_TRUE(stop.valid());

  Child reader;
  ASSERT_TRUE(testsupport::startRingChild(reader, "watch " + ring + " \"" + result + "\" " +
                                                      std::to_string(decodertest::kBaseUs) + " " +
                                                      std::to_string(decodertest::kStepUs)));
  Decoding seen;
  ASSERT_TRUE(seen.start(ring));
  for (std::size_t i = 0; i < units.units.size(); ++i) {
    feed(seen.pipeline, units.frame(i, i));
    Sleep(5);  // give the reader a chance at most pictures, as a live stream would
  }
  stop.set();
  EXPECT_EQ(reader.wait(30'000), 0);
  seen.pipeline.stop();

  unsigned long long pictures = 0, bad = 0, lastNumber = 0, lastTime = 0;
  int lastCounter = -2;
  unsigned width = 0, height = 0;
  std::FILE* in = std::fopen(result.c_str(), "r");
  ASSERT_NE(in, nullptr);
  ASSERT_EQ(std::fscanf(in, "%llu %llu %llu %llu %d %u %u", &pictures, &bad, &lastNumber, &lastTime, &lastCounter,
                        &width, &height),
            7);
  std::fclose(in);
  DeleteFileA(result.c_str());

  ASSERT_FALSE(seen.pictures.empty());
  EXPECT_GE(pictures, 10u);
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(lastNumber, seen.pictures.size());
  EXPECT_EQ(std::int64_t(lastTime), seen.pictures.back().timestampUs);
  EXPECT_EQ(lastCounter, seen.pictures.back().counter);
  EXPECT_EQ(width, 1280u);
  EXPECT_EQ(height, 720u);
}

// The pipeline's own hand-over, around the decoder.

struct Observed : media::PictureSink, Publishing {
  std::vector<media::DecodedFrame> pictures;
  const media::DecodedFrame* lastAddress = nullptr;
  media::DecodePipeline pipeline{*this};
  // Both, as the session starts them: the decoder starts whether the ring opened or not.
  bool start(std::uint32_t maxSide, const std::string& ring) {
    const bool opened = publisher.open(maxSide, maxSide, ring);
    return pipeline.start() && opened;
  }
  void stop() {
    pipeline.stop();
    publisher.close();
  }
  void picture(const media::DecodedFrame& f) override {
    pictures.push_back(f);
    lastAddress = &f;
    publisher.picture(f);
  }
};

TEST(DecodePipeline, FramesOutsideStartAndStopAreIgnoredSilently) {
  const Clip& units = clip("clip_1280x720.264");
  ASSERT_EQ(units.units.size(), 60u);
  testsupport::LogCapture log;
  Observed seen;
  media::DecodePipeline& pipeline = seen.pipeline;
  for (std::size_t i = 0; i < 10; ++i) feed(pipeline, units.frame(i, i));
  EXPECT_TRUE(log.lines().empty());

  ASSERT_TRUE(pipeline.start());
  EXPECT_TRUE(pipeline.start());  // already started
  EXPECT_EQ(log.count("[H264Decoder] started\n"), 1u);
  for (std::size_t i = 0; i < 10; ++i) feed(pipeline, units.frame(i, i));
  EXPECT_GE(seen.pictures.size(), 5u);
  pipeline.stop();
  EXPECT_FALSE(pipeline.started());
  EXPECT_EQ(log.count("[H264Decoder] stopped\n"), 1u);

  log.clear();
  const std::size_t before = seen.pictures.size();
  for (std::size_t i = 10; i < 20; ++i) feed(pipeline, units.frame(i, i));
  pipeline.stop();
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(seen.pictures.size(), before);
}

TEST(DecodePipeline, TheRingOpensFirstAndEachOpenNumbersFromOne) {
  const std::string ring = testsupport::uniqueRingName("restart");
  testsupport::LogCapture log;
  // A section of the ring's name too small for it: the ring cannot open, the decoder starts
  // all the same (the preview still gets pictures).
  HANDLE blocker = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, ("Local\\" + ring).c_str());
  ASSERT_NE(blocker, nullptr);
  Observed seen;
  EXPECT_FALSE(seen.start(1920, ring));
  EXPECT_TRUE(seen.pipeline.started());
  EXPECT_FALSE(seen.publisher.ringOpen());
  EXPECT_EQ(seen.publisher.ringFault(), ring::RingFault::OtherRing);
  seen.stop();
  CloseHandle(blocker);

  media::DecodedFrame tight;
  tight.width = 16;
  tight.height = 8;
  tight.stride = 16;
  tight.data.assign(16 * 12, 0x42);
  ring::FrameRingReader reader;
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(seen.start(1920, ring));
    ASSERT_TRUE(reader.open(ring));
    EXPECT_FALSE(reader.readLatest(0).valid);  // a fresh ring
    for (std::int64_t t = 1; t <= 3; ++t) {
      tight.timestampUs = t;
      seen.pipeline.deliver(tight);
    }
    ring::RingPicture p = reader.readLatest(0);
    ASSERT_TRUE(p.valid);
    EXPECT_EQ(p.frameNumber, 3u);
    EXPECT_EQ(p.timestampUs, 3u);
    seen.stop();
  }
  EXPECT_EQ(log.count("[H264Decoder] started\n"), 3u);
  EXPECT_EQ(log.count("[H264Decoder] stopped\n"), 3u);
}

TEST(DecodePipeline, DeliverPassesTightPicturesOnAsTheyArePacksTheRestAndDropsShortOnes) {
  const std::string ring = testsupport::uniqueRingName("deliver");
  testsupport::LogCapture log;
  Observed seen;
  media::DecodePipeline& pipeline = seen.pipeline;
  ASSERT_TRUE(seen.start(64, ring));
  ring::FrameRingReader reader;
  ASSERT_TRUE(reader.open(ring));

  // Tight: the very frame goes to the sink, its bytes to the ring.
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
