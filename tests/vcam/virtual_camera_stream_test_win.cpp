// The camera's samples in a real graph: grey and sample times before the control program has
// run, nothing while paused, ring pictures of every shape in every format, the format switched
// on a stopped graph of the runtime's own filters, the last picture repeated, the newest one
// first after a restart, a writer in another process, a ring scribbled over while streaming,
// the control program's pipeline and publisher sending pictures turned as its preview shows them, and a
// 1080p clip decoded by that pipeline in another process.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "app/preview_geometry.h"
#include "camera_rig_win.h"
#include "media/decode_pipeline_win.h"
#include "session/picture_publisher_win.h"
#include "ring/frame_ring_format.h"
#include "ring/frame_ring_reader.h"
#include "ring/frame_ring_writer.h"
#include "support/camera_reference.h"
#include "support/ring_child_win.h"
#include "support/runtime_filters_win.h"
#include "support/sample_checker.h"
#include "support/wait.h"
#include "vcam/virtual_camera_formats_win.h"

namespace vcam::cameratest {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

using testsupport::makePicture;
using testsupport::ringExists;

bool allGrey(const Bytes& b) { return testsupport::allGrey(b.data(), b.size()); }

// What a sample of `format` must hold for `picture` (sw x sh packed NV12).
Bytes expectedSample(const Bytes& picture, std::uint32_t sw, std::uint32_t sh, const CameraFormat& format) {
  return reference::sample(picture, sw, sh, std::uint32_t(format.width), std::uint32_t(format.height), format.yuy2);
}

class CameraStreamTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    ASSERT_FALSE(ringExists()) << "another program holds the frame ring";
  }
  // A fresh graph connected in `format` (a row of the capability list), keeping `keep` samples.
  void connect(int format, std::size_t keep) {
    rig_.reset();
    rig_.emplace();
    ASSERT_EQ(rig_->connectFormat(format), S_OK);
    rig_->sink->reset(keep);
  }
  // Runs the graph until `n` samples were kept, then stops it.
  std::vector<Sample> run(int n) {
    rig_->sink->reset(std::size_t(n));
    int before = rig_->sink->received();
    EXPECT_HRESULT_SUCCEEDED(rig_->control->Run());
    EXPECT_TRUE(rig_->waitForSamples(before + n, 20'000));
    EXPECT_HRESULT_SUCCEEDED(rig_->control->Stop());
    return rig_->sink->samples();
  }
};

TEST_F(CameraStreamTest, GreySamplesFromTimeZeroBeforeAnyRing) {
  for (int format : {0, 3}) {
    connect(format, 0);
    std::vector<Sample> samples = run(6);
    ASSERT_GE(samples.size(), 6u);
    for (std::size_t k = 0; k < samples.size(); k++) {
      SCOPED_TRACE(testing::Message() << "format " << format << " sample " << k);
      // Stream times one frame apart, a slot skipped only when the sink fell behind.
      EXPECT_EQ(samples[k].start % 333333, 0);
      EXPECT_TRUE(k == 0 ? samples[k].start == 0 : samples[k].start > samples[k - 1].start);
      EXPECT_EQ(samples[k].stop, samples[k].start + 333333);
      EXPECT_TRUE(samples[k].sync);
      if (k < 6) {
        EXPECT_EQ(samples[k].bytes.size(), std::size_t(cameraSampleSize(kCameraFormats[format])));
        EXPECT_TRUE(allGrey(samples[k].bytes));
      }
    }
  }
}

TEST_F(CameraStreamTest, PausedItCannotCueAndDeliversNothingUntilItRuns) {
  // A sink that takes every sample as it comes, so that one sent while paused is seen.
  rig_.emplace();
  rig_->sink->renderer = false;
  ASSERT_EQ(rig_->connectFormat(0), S_OK);
  FILTER_STATE state;
  EXPECT_EQ(rig_->camera->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Pause());
  EXPECT_EQ(rig_->camera->GetState(0, &state), VFW_S_CANT_CUE);
  EXPECT_EQ(state, State_Paused);
  OAFilterState graphState;
  EXPECT_EQ(rig_->control->GetState(100, &graphState), VFW_S_CANT_CUE) << "nobody waits for a paused picture";
  Sleep(300);
  EXPECT_EQ(rig_->sink->received(), 0) << "a live source delivers only while running";
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Run());
  EXPECT_EQ(rig_->camera->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  EXPECT_TRUE(rig_->waitForSamples(2, 5000));
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());
}

// The first pin of `filter` that points `direction`.
ComPtr<IPin> pinOf(IBaseFilter* filter, PIN_DIRECTION direction) {
  ComPtr<IEnumPins> pins;
  ComPtr<IPin> pin;
  if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf()))) return nullptr;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) return pin;
  }
  return nullptr;
}

// Counts the samples the Sample Grabber passes on that hold exactly `expected`, and the others.
class Grabbed : public testsupport::SampleGrabberCallback {
 public:
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
    BYTE* bytes = nullptr;
    const std::size_t size = std::size_t(sample->GetActualDataLength());
    const bool same = SUCCEEDED(sample->GetPointer(&bytes)) && bytes && size == expected.size() &&
                      std::equal(bytes, bytes + size, expected.begin());
    ++(same ? matching : other);
    return S_OK;
  }
  Bytes expected;  // set while stopped
  std::atomic<int> matching{0}, other{0};
};

TEST_F(CameraStreamTest, SetFormatOnAStoppedGraphSwitchesWhatFlows) {
  // Camera, Sample Grabber (any video) and Null Renderer, as a capture application builds them.
  Grabbed grabbed;
  rig_.emplace();
  ComPtr<IBaseFilter> grabberFilter, renderer;
  ComPtr<ISampleGrabber> grabber;
  struct Teardown {
    std::optional<CameraRig>& rig;
    ~Teardown() { rig.reset(); }  // the graph goes before the grabber lets go of `grabbed`
  } teardown{rig_};
  ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(testsupport::kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_PPV_ARGS(grabberFilter.ReleaseAndGetAddressOf())));
  ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(testsupport::kNullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_PPV_ARGS(renderer.ReleaseAndGetAddressOf())));
  ASSERT_HRESULT_SUCCEEDED(grabberFilter.As(&grabber));
  AM_MEDIA_TYPE video = {};
  video.majortype = MEDIATYPE_Video;
  ASSERT_HRESULT_SUCCEEDED(grabber->SetMediaType(&video));
  ASSERT_HRESULT_SUCCEEDED(grabber->SetCallback(&grabbed, 0));
  ASSERT_HRESULT_SUCCEEDED(rig_->graph->RemoveFilter(rig_->sinkFilter.Get()));
  ASSERT_HRESULT_SUCCEEDED(rig_->graph->AddFilter(grabberFilter.Get(), L"Sample Grabber"));
  ASSERT_HRESULT_SUCCEEDED(rig_->graph->AddFilter(renderer.Get(), L"Null Renderer"));
  auto rowType = [&](int index) {
    dshow::CMediaType type;
    AM_MEDIA_TYPE* row = nullptr;
    BYTE caps[sizeof(VIDEO_STREAM_CONFIG_CAPS)];
    if (rig_->config->GetStreamCaps(index, &row, caps) == S_OK) type.Set(*row);
    if (row) dshow::DeleteMediaType(row);
    return type;
  };
  dshow::CMediaType first = rowType(0);
  ASSERT_EQ(rig_->graph->ConnectDirect(rig_->pin.Get(), pinOf(grabberFilter.Get(), PINDIR_INPUT).Get(), &first), S_OK);
  ASSERT_EQ(rig_->graph->ConnectDirect(pinOf(grabberFilter.Get(), PINDIR_OUTPUT).Get(),
                                       pinOf(renderer.Get(), PINDIR_INPUT).Get(), nullptr),
            S_OK);

  // Paused, the Null Renderer has no picture, and the graph says it cannot have one.
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Pause());
  OAFilterState paused;
  EXPECT_EQ(rig_->control->GetState(5000, &paused), VFW_S_CANT_CUE);
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());

  // 1280x720 YUY2 runs; stopped, 1920x1080 NV12; stopped again, 720x1280 YUY2.
  ring::FrameRingWriter writer;
  ASSERT_TRUE(writer.open(ring::FrameRingConfig()));
  std::uint64_t number = 0;
  for (int format : {0, 6, 1}) {
    const CameraFormat& f = kCameraFormats[format];
    SCOPED_TRACE(testing::Message() << f.width << "x" << f.height << (f.yuy2 ? " YUY2" : " NV12"));
    if (format != 0) {
      dshow::CMediaType next = rowType(format);
      ASSERT_EQ(rig_->config->SetFormat(&next), S_OK);
    }
    dshow::CMediaType seen;
    ASSERT_EQ(grabber->GetConnectedMediaType(&seen), S_OK);
    const BITMAPINFOHEADER& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(seen.pbFormat)->bmiHeader;
    EXPECT_EQ(seen.subtype, f.yuy2 ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_NV12);
    EXPECT_EQ(bmi.biWidth, f.width);
    EXPECT_EQ(std::abs(bmi.biHeight), f.height);

    Bytes picture = makePicture(1920, 1080, 5, ++number);
    ASSERT_TRUE(writer.publish(number, 1920, 1080, picture.data(), picture.size()));
    grabbed.expected = expectedSample(picture, 1920, 1080, f);
    grabbed.matching = 0;
    ASSERT_HRESULT_SUCCEEDED(rig_->control->Run());
    testsupport::waitUntil([&] { return grabbed.matching >= 3 || grabbed.other > 0; }, 10s);
    ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());
    EXPECT_GE(grabbed.matching, 3);
    EXPECT_EQ(grabbed.other, 0) << "every sample is the ring's picture in the new format";
  }
}

TEST_F(CameraStreamTest, RingPicturesOfEveryShapeInEveryFormat) {
  struct Case {
    std::uint32_t width, height;
    int format;
  };
  // Scale 2/3 without bars; 720x404 at y0 438; 404x720 at x0 438; exact-size copy and conversion.
  const Case cases[] = {{1920, 1080, 0}, {1920, 1080, 1}, {1080, 1920, 0}, {1280, 720, 2},
                        {1280, 720, 0},  {1920, 1080, 3}, {1080, 1920, 2}};
  std::uint32_t seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " as format " << c.format);
    connect(c.format, 0);
    ring::FrameRingWriter writer;
    ASSERT_TRUE(writer.open(ring::FrameRingConfig()));
    Bytes picture = makePicture(c.width, c.height, seed++, 1);
    ASSERT_TRUE(writer.publish(0, c.width, c.height, picture.data(), picture.size()));
    std::vector<Sample> samples = run(2);
    ASSERT_GE(samples.size(), 2u);
    Bytes expected = expectedSample(picture, c.width, c.height, kCameraFormats[c.format]);
    EXPECT_TRUE(samples[0].bytes == expected) << "first sample";
    EXPECT_TRUE(samples[1].bytes == expected) << "repeated sample";
    rig_.reset();  // closes the camera's reader, so the ring goes with the writer
  }
}

TEST_F(CameraStreamTest, LastPictureRepeatsAndARestartDeliversTheNewestFirst) {
  connect(0, 0);
  const CameraFormat& format = kCameraFormats[0];
  Bytes second = makePicture(1280, 720, 7, 2);
  Bytes secondOut = expectedSample(second, 1280, 720, format);
  {
    ring::FrameRingWriter writer;
    ASSERT_TRUE(writer.open(ring::FrameRingConfig()));
    Bytes first = makePicture(1280, 720, 7, 1);
    ASSERT_TRUE(writer.publish(0, 1280, 720, first.data(), first.size()));
    ASSERT_TRUE(writer.publish(1, 1280, 720, second.data(), second.size()));
    std::vector<Sample> samples = run(2);
    ASSERT_GE(samples.size(), 2u);
    EXPECT_TRUE(samples[0].bytes == secondOut) << "the newest picture, not the first";
    EXPECT_TRUE(samples[1].bytes == secondOut);
  }
  // The control program has stopped; the camera still holds the ring and repeats what it had.
  ASSERT_TRUE(ringExists());
  std::vector<Sample> after = run(5);
  ASSERT_GE(after.size(), 5u);
  EXPECT_EQ(after[0].start, 0) << "times restart with every run";
  for (int k = 0; k < 5; k++) EXPECT_TRUE(after[k].bytes == secondOut) << "sample " << k << " after the restart";

  // The control program starts again: same section, numbering from 1, new content at once.
  ring::FrameRingWriter again;
  ASSERT_TRUE(again.open(ring::FrameRingConfig()));
  Bytes renumbered = makePicture(1280, 720, 8, 1);
  ASSERT_TRUE(again.publish(0, 1280, 720, renumbered.data(), renumbered.size()));
  std::vector<Sample> fresh = run(1);
  ASSERT_GE(fresh.size(), 1u);
  EXPECT_TRUE(fresh[0].bytes == expectedSample(renumbered, 1280, 720, format));
}

TEST_F(CameraStreamTest, WriterProcessPicturesArriveIntactInAllFourFormats) {
  testsupport::RingStop stop(ring::kFrameRingName);
  Child writer;
  ASSERT_TRUE(
      testsupport::startRingChild(writer, std::string("write ") + ring::kFrameRingName + " 4 1920 1920 21 0 1280 720 25"));
  for (int format = 0; format < 4; format++) {
    SCOPED_TRACE(testing::Message() << "format " << format);
    connect(format, 0);
    const CameraFormat& f = kCameraFormats[format];
    testsupport::SampleChecker checker(1280, 720, 21, std::uint32_t(f.width), std::uint32_t(f.height), f.yuy2);
    rig_->sink->onSample = [&](const std::uint8_t* bytes, std::size_t size) { checker.check(bytes, size); };
    ASSERT_HRESULT_SUCCEEDED(rig_->control->Run());
    DWORD start = GetTickCount();
    while (checker.pictures < 4 && GetTickCount() - start < 60'000) Sleep(10);
    ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());
    EXPECT_GE(checker.pictures, 4) << "new pictures kept arriving";
    EXPECT_EQ(checker.mismatches, 0) << "every sample is grey before the first picture, else one whole picture";
    rig_.reset();
  }
  stop.set();
  EXPECT_EQ(writer.wait(30'000), 0);
}

// A grey picture with a white square near its top-left corner and a black one near its
// top-right corner: centres (32, 32) and (width - 32, 32).
media::DecodedFrame markedPicture(std::uint32_t width, std::uint32_t height) {
  media::DecodedFrame frame;
  frame.width = width;
  frame.height = height;
  frame.codedHeight = height;
  frame.stride = width;
  frame.data.assign(std::size_t(pixels::nv12Bytes(width, height)), 128);
  for (std::uint32_t y = 16; y < 48; y++) {
    for (std::uint32_t x = 16; x < 48; x++) {
      frame.data[std::size_t(y) * width + x] = 235;
      frame.data[std::size_t(y) * width + width - 1 - x] = 16;
    }
  }
  return frame;
}

// The same picture as a decoder may lay it out: longer rows, and the chroma below spare rows.
media::DecodedFrame decoderLayout(const media::DecodedFrame& packed, std::uint32_t stride, std::uint32_t rows) {
  media::DecodedFrame frame = packed;
  frame.stride = stride;
  frame.codedHeight = rows;
  frame.data.assign(std::size_t(pixels::nv12Bytes(stride, rows)), 0);
  for (std::uint32_t y = 0; y < packed.height + packed.height / 2; y++) {
    const std::uint32_t to = y < packed.height ? y : rows + (y - packed.height);
    std::memcpy(&frame.data[std::size_t(to) * stride], &packed.data[std::size_t(y) * packed.width], packed.width);
  }
  return frame;
}

// Where the preview draws point (x, y) of a sw x sh picture turned as chosen, in a W x H picture:
// each texture coordinate changes along one side of the drawn quad only.
std::pair<std::uint32_t, std::uint32_t> shownAt(double x, double y, std::uint32_t sw, std::uint32_t sh,
                                                const pixels::Turn& turn, std::uint32_t W, std::uint32_t H) {
  const std::array<app::PreviewPoint, 4> uv = app::previewTexCoords(turn.rotation, turn.mirror, turn.flip);
  const double u = x / sw - uv[0].x, v = y / sh - uv[0].y;
  const double across = u * (uv[1].x - uv[0].x) + v * (uv[1].y - uv[0].y);
  const double down = u * (uv[3].x - uv[0].x) + v * (uv[3].y - uv[0].y);
  return {std::uint32_t(across * W), std::uint32_t(down * H)};
}

TEST_F(CameraStreamTest, PipelinePicturesFollowThePreviewOnlyWhenAsked) {
  constexpr std::uint32_t w = 1280, h = 720;
  const media::DecodedFrame picture = markedPicture(w, h), padded = decoderLayout(picture, w + 64, h + 8);
  session::Orientation orientation;
  session::PictureSlot preview;
  session::PicturePublisher publisher(orientation, preview);
  media::DecodePipeline pipeline(publisher);
  ASSERT_TRUE(publisher.open(1920, 1920));

  std::vector<std::pair<pixels::Turn, bool>> cases = {{{1, true, false}, false}, {{2, false, true}, false}};
  for (int rotation = 0; rotation < 4; rotation++) {
    for (int mirror = 0; mirror < 2; mirror++) {
      for (int flip = 0; flip < 2; flip++) cases.push_back({{rotation, mirror != 0, flip != 0}, true});
    }
  }
  for (const auto& [turn, following] : cases) {
    SCOPED_TRACE(testing::Message() << "rotation " << turn.rotation << " mirror " << turn.mirror << " flip "
                                    << turn.flip << (following ? ", followed" : ", not followed"));
    orientation.rotation.store(turn.rotation);
    orientation.mirror.store(turn.mirror);
    orientation.flip.store(turn.flip);
    orientation.follow.store(following);
    pipeline.deliver(turn.flip ? padded : picture);  // packed first, then turned
    // The camera in the shape it is sent: YUY2 at 1280x720, or 720x1280 after a quarter turn.
    const bool tall = following && turn.rotation % 2 == 1;
    connect(tall ? 1 : 0, 1);
    const std::uint32_t W = tall ? h : w, H = tall ? w : h;
    std::vector<Sample> samples = run(1);
    ASSERT_GE(samples.size(), 1u);
    const Bytes& out = samples[0].bytes;
    ASSERT_EQ(out.size(), std::size_t(W) * H * 2);
    auto lumaAt = [&](std::pair<std::uint32_t, std::uint32_t> at) { return out[(std::size_t(at.second) * W + at.first) * 2]; };
    const pixels::Turn shown = following ? turn : pixels::Turn();
    EXPECT_EQ(lumaAt(shownAt(32, 32, w, h, shown, W, H)), 235) << "the white square";
    EXPECT_EQ(lumaAt(shownAt(w - 32, 32, w, h, shown, W, H)), 16) << "the black square";
    EXPECT_EQ(lumaAt(shownAt(w / 2, h / 2, w, h, shown, W, H)), 128);
    rig_.reset();
  }
  publisher.close();
}

// A 1080p stream is coded as 1088 rows, and Wine's decoder names no display size: eight rows
// of padding in the ring would put bars beside a 1280x720 sample and below a 1920x1080 one.
// The pipeline decodes in a child; its last picture stays in the ring for the camera to repeat.
TEST_F(CameraStreamTest, A1080pClipFillsTheSampleToItsEdges) {
  testsupport::RingEvent decoded(ring::kFrameRingName, "decoded");
  testsupport::RingStop stop(ring::kFrameRingName);
  Child decoder;
  ASSERT_TRUE(testsupport::startRingChild(
      decoder, std::string("decode ") + ring::kFrameRingName + " \"" BRINDLE_CLIP_DIR "\" clip_1920x1080.264"));
  ASSERT_TRUE(decoded.wait(120'000)) << "the clip was not decoded";

  // The camera's reference, from the 1080 rows of the picture that x264 was given.
  ring::FrameRingReader reader;
  ASSERT_TRUE(reader.open(ring::kFrameRingName));
  const ring::RingPicture last = reader.readLatest(0);
  ASSERT_TRUE(last.valid);
  ASSERT_EQ(last.width, 1920u);
  ASSERT_GE(last.height, 1080u);
  const std::uint8_t* chroma = last.pixels.get() + std::size_t(1920) * last.height;
  Bytes visible(last.pixels.get(), last.pixels.get() + 1920 * 1080);
  visible.insert(visible.end(), chroma, chroma + 1920 * 540);

  for (int format : {0, 4}) {
    const CameraFormat& f = kCameraFormats[format];
    SCOPED_TRACE(testing::Message() << f.width << "x" << f.height);
    connect(format, 1);
    std::vector<Sample> samples = run(1);
    ASSERT_GE(samples.size(), 1u);
    const Bytes expected = expectedSample(visible, 1920, 1080, f), &out = samples[0].bytes;
    ASSERT_EQ(out.size(), expected.size());
    // Differing bytes in columns [x0, x1) of rows [y0, y1); YUY2 has two bytes a pixel.
    auto differing = [&](LONG x0, LONG x1, LONG y0, LONG y1) {
      int n = 0;
      for (LONG y = y0; y < y1; y++) {
        const std::size_t from = std::size_t(y * f.width + x0) * 2, to = std::size_t(y * f.width + x1) * 2;
        for (std::size_t i = from; i < to; i++) n += out[i] != expected[i];
      }
      return n;
    };
    EXPECT_EQ(differing(0, 8, 0, f.height) + differing(f.width - 8, f.width, 0, f.height), 0) << "side bars";
    EXPECT_EQ(differing(0, f.width, f.height - 8, f.height), 0) << "a band at the bottom";
    rig_.reset();
  }
  stop.set();
  EXPECT_EQ(decoder.wait(30'000), 0);
}

// Another program overwrites the whole ring with garbage, again and again, while the camera
// streams. The camera keeps its pace, and once the writer publishes again every sample is a
// whole new picture: only what was in the ring during the damage is lost.
TEST_F(CameraStreamTest, RingRewrittenWithGarbageLosesOnlyWhatItHeld) {
  connect(0, 0);
  const CameraFormat& f = kCameraFormats[0];
  auto freshChecker = [&] {
    return std::make_unique<testsupport::SampleChecker>(1280, 720, 41, std::uint32_t(f.width),
                                                        std::uint32_t(f.height), f.yuy2);
  };
  // Before the damage; after it, until the first whole picture; from there on.
  std::unique_ptr<testsupport::SampleChecker> before = freshChecker(), recovering = freshChecker(),
                                              after = freshChecker();
  std::atomic<testsupport::SampleChecker*> checker{before.get()};
  rig_->sink->onSample = [&](const std::uint8_t* bytes, std::size_t size) {
    if (testsupport::SampleChecker* c = checker.load()) c->check(bytes, size);
  };
  ring::FrameRingWriter writer;
  ASSERT_TRUE(writer.open(ring::FrameRingConfig()));
  std::mutex ringMutex;  // the writer and the scribbler take turns; the camera does not ask
  bool publishing = true;
  std::atomic<bool> quit{false};
  std::thread publisher([&] {
    for (std::uint32_t number = 1; !quit.load(); Sleep(15)) {
      std::lock_guard<std::mutex> lock(ringMutex);
      if (!publishing) continue;
      Bytes picture = makePicture(1280, 720, 41, number);
      if (writer.publish(number, 1280, 720, picture.data(), picture.size())) number++;
    }
  });
  // Whatever happens below, the graph and the publisher stop before what they use goes.
  struct Stop {
    std::atomic<bool>& quit;
    std::thread& thread;
    IMediaControl* control;
    ~Stop() {
      control->Stop();
      quit.store(true);
      thread.join();
    }
  } stop{quit, publisher, rig_->control.Get()};

  ASSERT_HRESULT_SUCCEEDED(rig_->control->Run());
  EXPECT_TRUE(testsupport::waitUntil([&] { return before->pictures >= 3; }, 20000ms));
  checker.store(nullptr);

  HANDLE section = OpenFileMappingA(FILE_MAP_WRITE, FALSE, (std::string(ring::kFrameRingNamespace) + ring::kFrameRingName).c_str());
  ASSERT_NE(section, nullptr);
  auto* view = static_cast<std::uint8_t*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
  MEMORY_BASIC_INFORMATION info = {};
  if (view) VirtualQuery(view, &info, sizeof info);
  const int samplesBefore = rig_->sink->received();
  std::mt19937_64 random(5);
  for (int round = 0; view && round < 20; round++) {
    {
      std::lock_guard<std::mutex> lock(ringMutex);
      publishing = false;
      // Every other round only the first page: the ring's header and the first slot's.
      const std::size_t size = round % 2 ? 4096 : info.RegionSize;
      for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const std::uint64_t word = random();
        std::memcpy(view + i, &word, 8);
      }
    }
    Sleep(50);
  }
  EXPECT_NE(view, nullptr);
  EXPECT_GE(rig_->sink->received() - samplesBefore, 10) << "the camera kept its pace through the damage";
  if (view) UnmapViewOfFile(view);
  CloseHandle(section);

  {
    std::lock_guard<std::mutex> lock(ringMutex);
    publishing = true;
  }
  checker.store(recovering.get());
  EXPECT_TRUE(testsupport::waitUntil([&] { return recovering->pictures >= 1; }, 10000ms)) << "pictures again";
  checker.store(after.get());
  EXPECT_TRUE(testsupport::waitUntil([&] { return after->pictures >= 5; }, 20000ms));
  EXPECT_EQ(after->mismatches, 0);
}

}  // namespace
}  // namespace vcam::cameratest
