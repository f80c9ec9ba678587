// H264Decoder's own logic on a scripted transform (the paths Wine's real decoder never takes),
// and the reading of output media types built the way decoders build them.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fake_transform_win.h"
#include "packed_picture.h"
#include "media/decode_pipeline_win.h"
#include "media/h264_decoder_win.h"
#include "media/h264_decoder_layout_win.h"
#include "ring/frame_ring_reader.h"
#include "session/picture_publisher_win.h"
#include "support/log_capture.h"
#include "support/ring_child_win.h"
#include "support/sps_writer.h"

namespace {

using decodertest::FakeTransform;
using decodertest::FakeTransformScript;

const std::vector<std::uint8_t> kUnit = {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x65, 0x88};

IMFMediaType* videoType(std::uint32_t w, std::uint32_t h) {
  IMFMediaType* type = nullptr;
  MFCreateMediaType(&type);
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
  type->SetUINT64(MF_MT_FRAME_SIZE, (UINT64(w) << 32) | h);
  return type;
}

void setAperture(IMFMediaType* type, LONG x, LONG y, LONG w, LONG h) {
  MFVideoArea area = {};
  area.OffsetX.value = short(x);
  area.OffsetY.value = short(y);
  area.Area.cx = w;
  area.Area.cy = h;
  type->SetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&area), sizeof(area));
}

TEST(OutputLayout, ApertureStrideAndCodedSizeAreReadAsDecodersReportThem) {
  ASSERT_TRUE(SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_FULL)));
  // Windows' decoder for a 1080p stream.
  IMFMediaType* type = videoType(1920, 1088);
  setAperture(type, 0, 0, 1920, 1080);
  type->SetUINT32(MF_MT_DEFAULT_STRIDE, 1920);
  // coded width x height, visible width x height, stride
  auto layoutOf = [](IMFMediaType* t) {
    const media::H264OutputLayout l = media::readOutputLayout(t);
    return std::vector<std::uint32_t>{l.codedWidth, l.codedHeight, l.width, l.height, l.stride};
  };
  using Layout = std::vector<std::uint32_t>;
  EXPECT_EQ(layoutOf(type), (Layout{1920, 1088, 1920, 1080, 1920}));
  type->Release();

  // Offsets are not used: the visible picture is the top-left part. An aperture without an
  // area counts as none; no stride attribute gives the NV12 stride of the coded width.
  type = videoType(1088, 1920);
  setAperture(type, 4, 0, 1080, 1920);
  EXPECT_EQ(layoutOf(type), (Layout{1088, 1920, 1080, 1920, 1088}));
  setAperture(type, 0, 0, 0, 1920);
  EXPECT_EQ(layoutOf(type), (Layout{1088, 1920, 1088, 1920, 1088}));
  type->Release();

  // A blob of the wrong size is not an aperture; a type without a size gives 0 x 0.
  type = videoType(640, 480);
  const std::uint8_t eight[8] = {0, 0, 0, 0, 64, 0, 0, 0};
  type->SetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, eight, sizeof(eight));
  EXPECT_EQ(layoutOf(type), (Layout{640, 480, 640, 480, 640}));
  type->DeleteItem(MF_MT_FRAME_SIZE);
  const Layout none = layoutOf(type);
  EXPECT_EQ(none[0], 0u);
  EXPECT_EQ(none[3], 0u);
  type->Release();
  EXPECT_EQ(media::readOutputLayout(nullptr).stride, 0u);
  MFShutdown();
}

// The decoder on a scripted transform, its pictures through the pipeline's packing into the
// session's publisher and its ring.
struct Rig {
  explicit Rig(const FakeTransformScript& script, const char* ring = "rig") : fake(new FakeTransform(script)) {
    started = publisher.open(1920, 1920, testsupport::uniqueRingName(ring));
    log.clear();
    started = started && decoder.start(fake);
  }
  ~Rig() {
    decoder.stop();
    publisher.close();
    fake->Release();
  }
  // Keeps each picture a sink gets, then passes it on.
  struct Keep : media::PictureSink {
    Keep(std::vector<media::DecodedFrame>& kept, media::PictureSink& next) : kept(kept), next(next) {}
    void picture(const media::DecodedFrame& f) override {
      kept.push_back(f);
      next.picture(f);
    }
    std::vector<media::DecodedFrame>& kept;
    media::PictureSink& next;
  };
  testsupport::LogCapture log;  // first: it sees everything the rig logs
  FakeTransform* fake;
  std::vector<media::DecodedFrame> raw, packed;
  session::Orientation orientation;
  session::PictureSlot preview;
  session::PicturePublisher publisher{orientation, preview};
  Keep keepPacked{packed, publisher};
  media::DecodePipeline pipeline{keepPacked};
  struct KeepRaw : media::PictureSink {
    explicit KeepRaw(Rig& rig) : rig(rig) {}
    void picture(const media::DecodedFrame& f) override {
      rig.raw.push_back(f);
      rig.pipeline.deliver(f);
    }
    Rig& rig;
  } keepRaw{*this};
  media::H264Decoder decoder{keepRaw};
  bool started = false;
};

TEST(H264DecoderScripted, WindowsStyle1080pIsNegotiatedCroppedAndPackedFromRow1088) {
  FakeTransformScript script;
  script.outputSubtypes = {MFVideoFormat_YUY2, MFVideoFormat_IYUV, MFVideoFormat_NV12};
  script.codedWidth = 1920;
  script.codedHeight = 1088;
  script.apertureWidth = 1920;
  script.apertureHeight = 1080;
  script.defaultStride = 1920;
  script.cbSize = 1920 * 1088 * 3 / 2;
  Rig rig(script, "win1080");
  ASSERT_TRUE(rig.started);
  UINT32 lowLatency = 0;
  EXPECT_TRUE(SUCCEEDED(rig.fake->attributes->GetUINT32(MF_LOW_LATENCY, &lowLatency)));
  EXPECT_EQ(lowLatency, 1u);

  rig.decoder.feed(kUnit, 1'234'567);
  rig.decoder.feed(kUnit, 1'267'900);
  // Only NV12 is ever chosen: at start and again after the stream change.
  ASSERT_EQ(rig.fake->setOutputSubtypes.size(), 2u);
  for (const GUID& g : rig.fake->setOutputSubtypes) EXPECT_TRUE(g == MFVideoFormat_NV12);
  EXPECT_EQ(rig.fake->acceptedTimes, (std::vector<std::uint64_t>{12'345'670, 12'679'000}));

  ASSERT_EQ(rig.raw.size(), 2u);
  EXPECT_EQ(rig.raw[0].width, 1920u);
  EXPECT_EQ(rig.raw[0].height, 1080u);
  EXPECT_EQ(rig.raw[0].codedHeight, 1088u);
  EXPECT_EQ(rig.raw[0].timestampUs, 1'234'567);
  EXPECT_EQ(rig.raw[1].timestampUs, 1'267'900);

  ASSERT_EQ(rig.packed.size(), 2u);
  const media::DecodedFrame& p = rig.packed[1];
  ASSERT_TRUE(decodertest::isPacked(p, 1920, 1080));
  EXPECT_EQ(p.timestampUs, 1'267'900);
  EXPECT_EQ(p.data[1920u * 1079], 1079 & 0x7F);  // last visible luma row
  EXPECT_EQ(p.data[1920u * 1080], 0x80);         // first chroma row: the decoder's row 1088
  EXPECT_EQ(p.data.back(), 0x80 | (539 & 0x7F));

  ring::FrameRingReader reader;
  ASSERT_TRUE(reader.open(testsupport::uniqueRingName("win1080")));
  ring::RingPicture latest = reader.readLatest(0);
  ASSERT_TRUE(latest.valid);
  EXPECT_EQ(latest.frameNumber, 2u);
  EXPECT_EQ(latest.timestampUs, 1'267'900u);
  ASSERT_EQ(latest.size, p.data.size());
  EXPECT_EQ(std::memcmp(latest.pixels.get(), p.data.data(), latest.size), 0);

  EXPECT_EQ(rig.log.count("[H264Decoder] MF_LOW_LATENCY=TRUE\n"), 1u);
  EXPECT_EQ(rig.log.count("[H264Decoder] negotiated NV12 output\n"), 2u);
  EXPECT_EQ(rig.log.count("[H264Decoder] stream change, re-negotiated; cbSize=3133440\n"), 1u);
  EXPECT_EQ(rig.log.count("[H264Decoder] decoded frame #0  visible 1920x1080 coded 1920x1088 stride=1920  3133440 bytes\n"),
            1u);
  rig.decoder.stop();
  EXPECT_EQ(rig.fake->messages,
            (std::vector<MFT_MESSAGE_TYPE>{MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, MFT_MESSAGE_NOTIFY_END_STREAMING}));
  EXPECT_EQ(rig.fake->references(), 1u);  // the decoder let go of it
  EXPECT_EQ(rig.log.count("[H264Decoder] stopped\n"), 1u);
}

TEST(H264DecoderScripted, RefusedInputIsOfferedOnceMoreAfterADrain) {
  FakeTransformScript script;
  script.streamChangeFirst = false;
  script.refuseInputs = 1;
  Rig rig(script, "refuse");
  ASSERT_TRUE(rig.started);
  rig.decoder.feed(kUnit, 100);
  EXPECT_EQ(rig.fake->processInputCalls, 2);
  EXPECT_EQ(rig.fake->acceptedTimes.size(), 1u);
  EXPECT_EQ(rig.packed.size(), 1u);

  // Refused twice: logged once with the unit's length, lost; the next unit goes in normally.
  rig.fake->script.refuseInputs = 2;
  rig.decoder.feed(kUnit, 200);
  EXPECT_EQ(rig.log.count("[H264Decoder] ProcessInput failed 0xc00d36b5 (len=12)\n"), 1u);
  rig.decoder.feed(kUnit, 300);
  EXPECT_EQ(rig.fake->acceptedTimes, (std::vector<std::uint64_t>{1000, 3000}));
  ASSERT_EQ(rig.packed.size(), 2u);
  EXPECT_EQ(rig.packed[1].timestampUs, 300);
}

TEST(H264DecoderScripted, OutputTypesThatCannotBeTakenAreReportedAndNothingElseChosen) {
  {
    FakeTransformScript none;
    none.outputSubtypes = {};
    Rig rig(none, "none");
    ASSERT_TRUE(rig.started);
    EXPECT_EQ(rig.log.count("[H264Decoder] no output types available yet\n"), 1u);
  }
  {
    // Only other formats: nothing is set and nothing said; the pictures then cannot come out.
    FakeTransformScript other;
    other.outputSubtypes = {MFVideoFormat_YUY2, MFVideoFormat_RGB32};
    other.streamChangeFirst = false;
    Rig rig(other, "other");
    ASSERT_TRUE(rig.started);
    EXPECT_EQ(rig.log.count("[H264Decoder] no output types available yet\n"), 0u);
    EXPECT_EQ(rig.log.count("[H264Decoder] negotiated"), 0u);
    EXPECT_TRUE(rig.fake->setOutputSubtypes.empty());
    rig.decoder.feed(kUnit, 1);
    EXPECT_EQ(rig.log.count("[H264Decoder] ProcessOutput failed 0xc00d6d60\n"), 1u);
    EXPECT_TRUE(rig.packed.empty());
  }
  {
    // A refused NV12 type is logged and the next one tried.
    FakeTransformScript refused;
    refused.outputSubtypes = {MFVideoFormat_NV12, MFVideoFormat_NV12};
    refused.failSetOutputType = 1;
    Rig rig(refused, "refused");
    ASSERT_TRUE(rig.started);
    EXPECT_EQ(rig.log.count("[H264Decoder] decoder_->SetOutputType(0, available, 0) -> 0x80004005\n"), 1u);
    EXPECT_EQ(rig.log.count("[H264Decoder] negotiated NV12 output\n"), 1u);
  }
}

TEST(H264DecoderScripted, TransformProvidedSamplesAndSizedBuffersBothDeliver) {
  FakeTransformScript provides;
  provides.providesSamples = true;
  provides.bufferStride = 80;  // rows longer than the picture
  provides.defaultStride = 80;
  Rig a(provides, "provides");
  ASSERT_TRUE(a.started);
  a.decoder.feed(kUnit, 7);
  ASSERT_EQ(a.packed.size(), 1u);
  const media::DecodedFrame& p = a.packed[0];
  EXPECT_EQ(p.timestampUs, 7);
  ASSERT_TRUE(decodertest::isPacked(p, 64, 48));
  for (std::uint32_t r = 0; r < 72; ++r) {
    std::uint8_t want = r < 48 ? std::uint8_t(r) : std::uint8_t(0x80 | (r - 48));
    EXPECT_EQ(p.data[r * 64], want) << r;
    EXPECT_EQ(p.data[r * 64 + 63], want) << r;
  }

  FakeTransformScript sized;
  sized.cbSize = 64 * 48 * 3 / 2;
  Rig b(sized, "sized");
  ASSERT_TRUE(b.started);
  b.decoder.feed(kUnit, 8);
  ASSERT_EQ(b.packed.size(), 1u);
  EXPECT_EQ(b.packed[0].data.size(), 64u * 72);
  // A tight picture is handed on as the decoder made it, without packing.
  EXPECT_EQ(b.packed[0].data, b.raw[0].data);
}

TEST(H264DecoderScripted, ATransformThatNeverSettlesDoesNotHoldTheFeedingThread) {
  FakeTransformScript script;
  script.streamChangeForever = true;
  Rig rig(script, "forever");
  ASSERT_TRUE(rig.started);
  rig.decoder.feed(kUnit, 1);
  rig.decoder.feed(kUnit, 2);
  EXPECT_EQ(rig.log.count("[H264Decoder] drain ended after"), 2u);
  EXPECT_LE(rig.fake->processOutputCalls, 20);
  EXPECT_TRUE(rig.packed.empty());
}

TEST(H264DecoderScripted, PicturesShorterThanTheirLayoutAreDroppedUnread) {
  FakeTransformScript script;
  script.streamChangeFirst = false;
  script.codedHeight = 64;
  script.apertureWidth = 64;
  script.apertureHeight = 48;  // packing reads 48 rows, then 24 chroma rows from row 64
  script.shortBy = 64 * 96 - (87 * 64 + 64) + 1;  // one byte less than packing reads
  Rig rig(script, "short");
  ASSERT_TRUE(rig.started);
  rig.decoder.feed(kUnit, 1);
  EXPECT_EQ(rig.raw.size(), 1u);
  EXPECT_TRUE(rig.packed.empty());
  EXPECT_EQ(rig.log.count("[H264Decoder] picture dropped: 64x48 in 5631 bytes (64 rows of stride 64)\n"), 1u);
  ring::FrameRingReader reader;
  ASSERT_TRUE(reader.open(testsupport::uniqueRingName("short")));
  EXPECT_FALSE(reader.readLatest(0).valid);
}

TEST(H264DecoderScripted, AFailedStartReleasesEverythingAndLaterUnitsAreDropped) {
  FakeTransformScript script;
  script.setInputType = MF_E_INVALIDMEDIATYPE;
  testsupport::LogCapture log;
  FakeTransform* fake = new FakeTransform(script);
  struct Count : media::PictureSink {
    void picture(const media::DecodedFrame&) override { ++pictures; }
    int pictures = 0;
  } count;
  media::H264Decoder decoder(count);
  EXPECT_FALSE(decoder.start(fake));
  EXPECT_FALSE(decoder.started());
  EXPECT_EQ(fake->references(), 1u);
  EXPECT_EQ(log.count("[H264Decoder] decoder_->SetInputType(0, in, 0) -> 0xc00d36b4\n"), 1u);
  EXPECT_EQ(log.count("[H264Decoder] started"), 0u);
  decoder.feed(kUnit, 1);
  EXPECT_EQ(fake->processInputCalls, 0);
  decoder.stop();  // nothing to stop: no line
  EXPECT_EQ(log.count("[H264Decoder] stopped"), 0u);

  // Started and stopped twice, it begins afresh each time; the picture count runs on.
  fake->script.setInputType = S_OK;
  fake->script.streamChangeFirst = false;
  ASSERT_TRUE(decoder.start(fake));
  EXPECT_TRUE(decoder.start(fake));  // already started: nothing more
  decoder.feed(kUnit, 1);
  decoder.stop();
  ASSERT_TRUE(decoder.start(fake));
  decoder.feed(kUnit, 2);
  decoder.stop();
  EXPECT_EQ(count.pictures, 2);
  EXPECT_EQ(decoder.framesDecoded(), 2u);
  EXPECT_EQ(log.count("[H264Decoder] started\n"), 2u);
  EXPECT_EQ(fake->references(), 1u);
  fake->Release();
}

// Units as a phone sends them: with parameter sets (a sequence start) or a plain slice.
const std::vector<std::uint8_t> kKeyUnit = {0, 0, 0, 1, 0x09, 0x10, 0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xCE,
                                            0, 0, 1, 0x65, 0x88};
const std::vector<std::uint8_t> kSliceUnit = {0, 0, 0, 1, 0x09, 0x30, 0, 0, 1, 0x41, 0x9A};

TEST(H264DecoderScripted, ATransformFailingAtANewSequenceIsReplacedAndGivenItAgain) {
  FakeTransformScript script;
  script.streamChangeFirst = false;
  script.latency = 1;  // like a real decoder, a picture comes out one unit later
  Rig rig(script, "restart");
  ASSERT_TRUE(rig.started);
  rig.decoder.feed(kKeyUnit, 1);
  rig.decoder.feed(kSliceUnit, 2);
  ASSERT_EQ(rig.packed.size(), 1u);

  // New parameter sets; the failure shows only when the unit after them is fed.
  rig.decoder.feed(kKeyUnit, 10);
  rig.fake->script.failOutputs = 1;
  rig.decoder.feed(kSliceUnit, 11);
  EXPECT_EQ(rig.log.count("[H264Decoder] ProcessOutput failed 0x80004005\n"), 1u);
  EXPECT_EQ(rig.log.count("[H264Decoder] restarting the decoder at a sequence parameter set\n"), 1u);
  rig.decoder.feed(kSliceUnit, 12);
  std::vector<std::int64_t> times;
  for (const media::DecodedFrame& f : rig.packed) times.push_back(f.timestampUs);
  EXPECT_EQ(times, (std::vector<std::int64_t>{1, 2, 10, 11}));  // nothing lost, nothing twice
  EXPECT_EQ(rig.fake->acceptedTimes, (std::vector<std::uint64_t>{10, 20, 100, 110, 100, 110, 120}));

  // Mid-sequence, once its pictures come out, a failure just loses that drain: no restart.
  rig.fake->script.failOutputs = 1;
  rig.decoder.feed(kSliceUnit, 13);
  rig.decoder.feed(kSliceUnit, 14);
  EXPECT_EQ(rig.log.count("[H264Decoder] restarting"), 1u);
  EXPECT_EQ(rig.packed.back().timestampUs, 13);
}

// Wine's decoder: 1088 coded rows and no aperture. The stream's sequence parameter set crops
// them to 1080, but only for pictures of the coded size it describes; an aperture still wins.
TEST(H264DecoderScripted, WithoutAnApertureTheSequenceParameterSetGivesTheVisibleSize) {
  std::vector<std::uint8_t> unit = {0, 0, 0, 1};
  const std::vector<std::uint8_t> sps = testsupport::baselineSps(120, 68, 0, 4);  // 1920x1088, 8 rows off
  unit.insert(unit.end(), sps.begin(), sps.end());
  unit.insert(unit.end(), {0, 0, 1, 0x65, 0x88});
  // Heights of the pictures of a unit before any parameter set, the set's unit and a slice.
  auto heights = [&](std::uint32_t codedHeight, std::uint32_t apertureHeight) {
    FakeTransformScript script;
    script.codedWidth = 1920;
    script.codedHeight = codedHeight;
    script.apertureWidth = apertureHeight != 0 ? 1920 : 0;
    script.apertureHeight = apertureHeight;
    script.cbSize = 1920 * codedHeight * 3 / 2;
    script.streamChangeFirst = false;
    Rig rig(script, "sps1080");
    EXPECT_TRUE(rig.started);
    rig.decoder.feed(kUnit, 1);
    rig.decoder.feed(unit, 2);
    rig.decoder.feed(kSliceUnit, 3);
    std::vector<std::uint32_t> seen;
    for (const media::DecodedFrame& f : rig.raw) seen.push_back(f.height);
    if (codedHeight == 1088 && apertureHeight == 0 && rig.packed.size() == 3) {
      EXPECT_EQ(rig.raw[2].codedHeight, 1088u);
      EXPECT_EQ(rig.packed[2].data.size(), 3'110'400u);
      EXPECT_EQ(rig.packed[2].data[1920u * 1080], 0x80) << "chroma from the decoder's row 1088";
    }
    return seen;
  };
  using Heights = std::vector<std::uint32_t>;
  EXPECT_EQ(heights(1088, 0), (Heights{1088, 1080, 1080}));
  EXPECT_EQ(heights(1104, 0), (Heights{1104, 1104, 1104}));
  EXPECT_EQ(heights(1088, 1070), (Heights{1070, 1070, 1070}));
}

// A transform breaks and no fresh one can be set up: the tries back off (0.5 s, then 1 s, ...)
// and the whole episode is logged by its first try; a picture ends it.
TEST(H264DecoderScripted, RestartsThatFailBackOffAndAnEpisodeLogsOnce) {
  FakeTransformScript script;
  script.streamChangeFirst = false;
  Rig rig(script, "backoff");
  ASSERT_TRUE(rig.started);
  rig.decoder.feed(kKeyUnit, 1);
  ASSERT_EQ(rig.packed.size(), 1u);

  rig.fake->script.failOutputs = 1'000'000;
  rig.fake->script.setInputType = E_FAIL;
  const int setUps = rig.fake->setInputTypeCalls;
  auto feedMany = [&](std::uint64_t from) {
    for (std::uint64_t t = from; t < from + 40; ++t) rig.decoder.feed(t % 2 ? kSliceUnit : kKeyUnit, t);
  };
  rig.decoder.feed(kKeyUnit, 10);
  feedMany(11);
  EXPECT_EQ(rig.fake->setInputTypeCalls - setUps, 1) << "no new try within half a second";
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  feedMany(100);
  EXPECT_EQ(rig.fake->setInputTypeCalls - setUps, 2) << "one try after half a second, then a second's pause";
  EXPECT_EQ(rig.log.count("[H264Decoder] restarting the decoder at a sequence parameter set\n"), 1u);
  EXPECT_EQ(rig.log.count("[H264Decoder] decoder_->SetInputType(0, in, 0) -> 0x80004005\n"), 1u);

  // It recovers at the next try, quietly; a later failure is a new episode with its own line.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  rig.fake->script.failOutputs = 0;
  rig.fake->script.setInputType = S_OK;
  rig.decoder.feed(kKeyUnit, 200);
  EXPECT_EQ(rig.packed.back().timestampUs, 200);
  EXPECT_EQ(rig.log.count("[H264Decoder] restarting"), 1u);
  rig.fake->script.failOutputs = 1;
  rig.decoder.feed(kKeyUnit, 210);
  EXPECT_EQ(rig.log.count("[H264Decoder] restarting"), 2u);
  EXPECT_EQ(rig.packed.back().timestampUs, 210) << "restarted at once: no pause after a picture";
}

// While a sequence shows no picture its units are kept for a restart: 16 MiB of them at most.
TEST(H264DecoderScripted, UnitsKeptForARestartAreBoundedInBytes) {
  FakeTransformScript script;
  script.streamChangeFirst = false;
  script.latency = 100;  // no picture: the sequence's units stay kept
  Rig rig(script, "kept");
  ASSERT_TRUE(rig.started);
  rig.decoder.feed(kKeyUnit, 1);
  EXPECT_EQ(rig.decoder.keptBytes(), kKeyUnit.size());
  std::vector<std::uint8_t> big(6u << 20, 0x5A);
  std::copy(kSliceUnit.begin(), kSliceUnit.end(), big.begin());
  rig.decoder.feed(big, 2);
  rig.decoder.feed(big, 3);
  EXPECT_EQ(rig.decoder.keptBytes(), kKeyUnit.size() + 2 * big.size());
  rig.decoder.feed(big, 4);
  EXPECT_EQ(rig.decoder.keptBytes(), 0u) << "past 16 MiB the sequence is given up";
  rig.decoder.feed(big, 5);
  EXPECT_EQ(rig.decoder.keptBytes(), 0u) << "until the next sequence starts";
}

TEST(H264DecoderScripted, PayloadsThatAreNotAByteStreamNeverReachTheTransform) {
  FakeTransformScript script;
  script.streamChangeFirst = false;
  Rig rig(script, "bytestream");
  ASSERT_TRUE(rig.started);
  const std::vector<std::vector<std::uint8_t>> bad = {
      {}, {0, 0, 1}, {0, 0, 0, 1}, {0, 1, 0x65}, {0, 0, 0, 0x1C, 0x65, 0x88}, {0x65, 0, 0, 1, 0x65}};
  for (const auto& payload : bad) rig.decoder.feed(payload, 1);
  EXPECT_EQ(rig.fake->processInputCalls, 0);
  EXPECT_EQ(rig.log.count("[H264Decoder] not an H.264 byte stream, dropped (len="), bad.size());
  EXPECT_EQ(rig.log.count("[H264Decoder] not an H.264 byte stream, dropped (len=6)\n"), 1u);
  // Leading zero bytes before the start code are allowed.
  const std::vector<std::uint8_t> padded = {0, 0, 0, 0, 0, 1, 0x65, 0x88};
  rig.decoder.feed(padded, 2);
  EXPECT_EQ(rig.fake->processInputCalls, 1);
}

}  // namespace
