// The media source read as Media Foundation applications read a camera, through the source
// reader: grey before any ring exists; then, with another process writing 1280x720 pictures,
// every format's samples of the right size and subtype, each exactly the reference conversion of
// the picture it shows; sample times on a grid of the chosen frame interval, delivered at that
// rate.
#include "source_rig_win.h"

#include <mferror.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "ring/frame_ring_format.h"
#include "ring/frame_ring_writer.h"
#include "ring/global_ring_host.h"
#include "support/ring_child_win.h"
#include "support/sample_checker.h"

namespace mfcamtest {
namespace {

using camera::kCameraFormats;

class SourceReaderTest : public SourceTest {
 protected:
  void SetUp() override {
    SourceTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(makeSource(activator_, source_));
  }
  void TearDown() override {
    reader_.Reset();
    source_.Reset();
    // The reader shut the source down when it let go of it.
    if (activator_) activator_->ShutdownObject();
    activator_.Reset();
    SourceTest::TearDown();
  }
  // A new source from a new activation object, the old one shut down with its ring closed.
  void renew() {
    reader_.Reset();
    source_.Reset();
    activator_->ShutdownObject();
    activator_.Reset();
    ASSERT_NO_FATAL_FAILURE(makeSource(activator_, source_));
  }
  void openReader() { ASSERT_HRESULT_SUCCEEDED(MFCreateSourceReaderFromMediaSource(source_.Get(), nullptr, &reader_)); }
  // Chooses native type `index` of the video stream.
  void choose(DWORD index) {
    ComPtr<IMFMediaType> type;
    ASSERT_HRESULT_SUCCEEDED(reader_->GetNativeMediaType(0, index, &type));
    ASSERT_HRESULT_SUCCEEDED(reader_->SetCurrentMediaType(0, nullptr, type.Get()));
  }
  // The next sample, or null.
  ComPtr<IMFSample> read(LONGLONG* time = nullptr) {
    ComPtr<IMFSample> sample;
    DWORD stream = 0, flags = 0;
    LONGLONG stamp = 0;
    for (int attempt = 0; attempt < 10 && !sample; attempt++) {
      HRESULT hr = reader_->ReadSample(0, 0, &stream, &flags, &stamp, &sample);
      EXPECT_HRESULT_SUCCEEDED(hr);
      if (FAILED(hr) || (flags & (MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_ENDOFSTREAM))) break;
    }
    if (time) *time = stamp;
    return sample;
  }

  ComPtr<IMFActivate> activator_;
  ComPtr<IMFMediaSource> source_;
  ComPtr<IMFSourceReader> reader_;
};

// Runs first: no ring exists yet.
TEST_F(SourceReaderTest, GreyBeforeAnyRingExists) {
  ASSERT_FALSE(testsupport::ringExists()) << "another program holds the frame ring";
  openReader();
  for (DWORD index : {0u, 2u}) {
    choose(index);
    for (int i = 0; i < 3; i++) {
      ComPtr<IMFSample> sample = read();
      ASSERT_TRUE(sample);
      const std::vector<std::uint8_t> bytes = sampleBytes(sample.Get());
      EXPECT_EQ(bytes.size(), camera::cameraSampleBytes(kCameraFormats[index]));
      EXPECT_TRUE(testsupport::allGrey(bytes.data(), bytes.size())) << "format " << index;
    }
  }
}

// The Frame Server's source cannot see the user's session ring: it hosts a ring in the global
// namespace, which the control program joins as a writer, and shows that ring's pictures.
TEST_F(SourceReaderTest, HostsTheGlobalRingWhileItLivesAndShowsItsPictures) {
  ASSERT_TRUE(ring::GlobalRingHost::running(ring::kGlobalFrameRingName));
  ring::FrameRingWriter writer;
  ASSERT_TRUE(writer.attach(ring::globalFrameRingConfig(), ring::RingPlace::Global));
  // Luma 200, chroma 60: a picture no grey fill or session ring gives.
  std::vector<std::uint8_t> picture(1280 * 720 * 3 / 2, 200);
  std::fill(picture.begin() + 1280 * 720, picture.end(), std::uint8_t(60));
  ASSERT_TRUE(writer.publish(1, 1280, 720, picture.data(), picture.size()));

  openReader();
  choose(0);  // 1280x720 YUY2
  ComPtr<IMFSample> sample = read();
  ASSERT_TRUE(sample);
  const std::vector<std::uint8_t> bytes = sampleBytes(sample.Get());
  ASSERT_EQ(bytes.size(), std::size_t(1280 * 720 * 2));
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < bytes.size(); i++) wrong += bytes[i] != (i % 2 == 0 ? 200 : 60);
  EXPECT_EQ(wrong, 0u);

  // Shut down, the source lets go of the ring; the writer's own hold does not keep it hosted.
  reader_.Reset();
  source_.Reset();
  activator_->ShutdownObject();
  activator_.Reset();
  EXPECT_FALSE(ring::GlobalRingHost::running(ring::kGlobalFrameRingName));
}

TEST_F(SourceReaderTest, EveryFormatShowsAnotherProcesssPicturesExactly) {
  // Each format from pictures of its own size, and two letterboxed from 1280x720 pictures (the
  // sample checker reads a picture's number where the scaling keeps its first two pixels apart).
  struct Case {
    DWORD format;
    std::uint32_t width, height;
  };
  std::vector<Case> cases;
  for (DWORD index = 0; index < DWORD(camera::kCameraFormatCount); index++) {
    cases.push_back({index, std::uint32_t(kCameraFormats[index].width), std::uint32_t(kCameraFormats[index].height)});
  }
  cases.push_back({1, 1280, 720});
  cases.push_back({3, 1280, 720});
  testsupport::RingStop stop(ring::kFrameRingName);
  std::uint64_t seed = 51;
  for (const Case& c : cases) {
    const camera::CameraFormat& f = kCameraFormats[c.format];
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " pictures as format " << c.format << ": "
                                    << f.width << "x" << f.height << (f.yuy2 ? " YUY2" : " NV12"));
    // A fresh source each time, so no picture of the last writer lingers in a ring it holds.
    ASSERT_NO_FATAL_FAILURE(renew());
    openReader();
    ComPtr<IMFMediaType> native;
    ASSERT_HRESULT_SUCCEEDED(reader_->GetNativeMediaType(0, c.format, &native));
    GUID subtype = GUID_NULL;
    UINT32 width = 0, height = 0, numerator = 0, denominator = 0;
    EXPECT_HRESULT_SUCCEEDED(native->GetGUID(MF_MT_SUBTYPE, &subtype));
    EXPECT_EQ(subtype, f.yuy2 ? MFVideoFormat_YUY2 : MFVideoFormat_NV12);
    EXPECT_HRESULT_SUCCEEDED(MFGetAttributeSize(native.Get(), MF_MT_FRAME_SIZE, &width, &height));
    EXPECT_EQ(width, UINT32(f.width));
    EXPECT_EQ(height, UINT32(f.height));
    EXPECT_HRESULT_SUCCEEDED(MFGetAttributeRatio(native.Get(), MF_MT_FRAME_RATE, &numerator, &denominator));
    EXPECT_EQ(numerator, 30u);
    EXPECT_EQ(denominator, 1u);
    // The same format again at 15 frames a second, after the eight at 30.
    ComPtr<IMFMediaType> slower;
    ASSERT_HRESULT_SUCCEEDED(reader_->GetNativeMediaType(0, c.format + camera::kCameraFormatCount, &slower));
    BOOL same = FALSE;
    EXPECT_HRESULT_SUCCEEDED(MFGetAttributeRatio(slower.Get(), MF_MT_FRAME_RATE, &numerator, &denominator));
    EXPECT_EQ(numerator, 15u);
    ComPtr<IMFMediaType> atDefault;  // a copy: the reader may hand out the source's own type
    ASSERT_HRESULT_SUCCEEDED(MFCreateMediaType(&atDefault));
    EXPECT_HRESULT_SUCCEEDED(slower->CopyAllItems(atDefault.Get()));
    EXPECT_HRESULT_SUCCEEDED(MFSetAttributeRatio(atDefault.Get(), MF_MT_FRAME_RATE, 30, 1));
    EXPECT_HRESULT_SUCCEEDED(atDefault->Compare(native.Get(), MF_ATTRIBUTES_MATCH_ALL_ITEMS, &same));
    EXPECT_TRUE(same);
    EXPECT_EQ(reader_->GetNativeMediaType(0, 2 * camera::kCameraFormatCount, &slower), MF_E_NO_MORE_TYPES);
    choose(c.format);

    stop.reset();
    testsupport::ChildProcess writer;
    ASSERT_TRUE(testsupport::startRingChild(writer, "write " + std::string(ring::kFrameRingName) + " 4 1920 1920 " +
                                                        std::to_string(seed) + " 0 " + std::to_string(c.width) + " " +
                                                        std::to_string(c.height) + " 30"));
    testsupport::SampleChecker checker(c.width, c.height, seed++, UINT32(f.width), UINT32(f.height), f.yuy2);
    for (int i = 0; i < 300 && checker.pictures < 3 && checker.mismatches == 0; i++) {
      ComPtr<IMFSample> sample = read();
      ASSERT_TRUE(sample);
      const std::vector<std::uint8_t> bytes = sampleBytes(sample.Get());
      ASSERT_EQ(bytes.size(), camera::cameraSampleBytes(f));
      checker.check(bytes.data(), bytes.size());
    }
    stop.set();
    EXPECT_EQ(writer.wait(30'000), 0);
    EXPECT_GE(checker.pictures, 3) << "new pictures kept arriving";
    EXPECT_EQ(checker.mismatches, 0);
  }
}

// Sample times lie on the grid of the interval from the start; a slow turn may skip grid
// points, never add one between them. Reading `count` samples takes about as long as they span.
void expectPaced(const std::vector<LONGLONG>& times, LONGLONG interval, std::chrono::steady_clock::duration took) {
  int onTime = 0;
  for (std::size_t i = 1; i < times.size(); i++) {
    const LONGLONG step = times[i] - times[i - 1];
    EXPECT_GT(step, 0);
    EXPECT_EQ(step % interval, 0) << "step " << step;
    onTime += step == interval;
  }
  EXPECT_GE(onTime, int(times.size()) * 3 / 4) << "most samples follow each other by one interval";
  const LONGLONG tookUnits = std::chrono::duration_cast<std::chrono::microseconds>(took).count() * 10;
  EXPECT_GE(tookUnits, (times.size() - 2) * interval) << "samples were not delivered faster than their rate";
}

TEST_F(SourceReaderTest, SamplesFollowTheDefaultRateAndOneChosenThroughTheStreamDescriptor) {
  for (UINT32 rate : {30u, 20u}) {
    SCOPED_TRACE(testing::Message() << rate << " frames a second");
    if (rate != 30) {
      // A fresh source, its rate (one no listed type has) set on the stream descriptor's type.
      ASSERT_NO_FATAL_FAILURE(renew());
      ComPtr<IMFPresentationDescriptor> presentation;
      ComPtr<IMFStreamDescriptor> stream;
      ComPtr<IMFMediaTypeHandler> handler;
      ComPtr<IMFMediaType> type, slower;
      BOOL selected = FALSE;
      ASSERT_HRESULT_SUCCEEDED(source_->CreatePresentationDescriptor(&presentation));
      ASSERT_HRESULT_SUCCEEDED(presentation->GetStreamDescriptorByIndex(0, &selected, &stream));
      ASSERT_HRESULT_SUCCEEDED(stream->GetMediaTypeHandler(&handler));
      ASSERT_HRESULT_SUCCEEDED(handler->GetMediaTypeByIndex(2, &type));
      ASSERT_HRESULT_SUCCEEDED(MFCreateMediaType(&slower));
      ASSERT_HRESULT_SUCCEEDED(type->CopyAllItems(slower.Get()));
      ASSERT_HRESULT_SUCCEEDED(MFSetAttributeRatio(slower.Get(), MF_MT_FRAME_RATE, rate, 1));
      ASSERT_HRESULT_SUCCEEDED(handler->SetCurrentMediaType(slower.Get()));
    }
    openReader();
    const LONGLONG interval = 10'000'000 / rate;
    std::vector<LONGLONG> times;
    ComPtr<IMFSample> first = read();  // the start costs what it costs
    ASSERT_TRUE(first);
    const auto start = std::chrono::steady_clock::now();
    const LONGLONG now = MFGetSystemTime();
    for (int i = 0; i < 12; i++) {
      LONGLONG time = 0;
      ComPtr<IMFSample> sample = read(&time);
      ASSERT_TRUE(sample);
      LONGLONG duration = 0;
      EXPECT_HRESULT_SUCCEEDED(sample->GetSampleDuration(&duration));
      EXPECT_EQ(duration, interval);
      times.push_back(time);
    }
    expectPaced(times, interval, std::chrono::steady_clock::now() - start);
    // Stamped with the system time.
    EXPECT_LE(std::abs(times.front() - now), 10'000'000);
  }
}

}  // namespace
}  // namespace mfcamtest
