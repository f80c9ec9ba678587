// The registered camera as capture applications drive it: bound through the system device
// enumerator, its format and frame rate chosen with IAMStreamConfig::SetFormat before connecting,
// and rendered by ICaptureGraphBuilder2::RenderStream through the runtime's Sample Grabber into
// its Null Renderer (the builder puts a Smart Tee in front), with the graph's clock or without.
// Pictures come from a writer process, or from a ring that others may only read.
#include <windows.h>

#include <objbase.h>
#include <sddl.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dll_rig_win.h"
#include "dshow/media_type_win.h"
#include "ring/frame_ring_block.h"
#include "ring/frame_ring_format.h"
#include "support/ring_child_win.h"
#include "support/runtime_filters_win.h"
#include "support/sample_checker.h"
#include "support/test_picture.h"
#include "support/wait.h"
#include "tools/camera_viewer/camera_capture_win.h"
#include "tools/process_probe/process_counters_win.h"

namespace dlltest {
namespace {

using Microsoft::WRL::ComPtr;
using SteadyClock = std::chrono::steady_clock;
using dshow::CMediaType;
using dshow::DeleteMediaType;
using testsupport::kNullRenderer;
using testsupport::kSampleGrabber;
using namespace std::chrono_literals;

using testsupport::allGrey;
using testsupport::SampleChecker;

// Test pictures (test_picture.h, seed kSeed) of the sample's own size.
constexpr std::uint32_t kSeed = 18;

std::unique_ptr<SampleChecker> checkerFor(const AM_MEDIA_TYPE& type) {
  const BITMAPINFOHEADER& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  const std::uint32_t w = std::uint32_t(bmi.biWidth), h = std::uint32_t(std::abs(bmi.biHeight));
  return std::make_unique<SampleChecker>(w, h, kSeed, w, h, type.subtype == MEDIASUBTYPE_YUY2);
}

// Every sample the Sample Grabber passes on, on the camera's worker thread.
class Grabbed : public testsupport::SampleGrabberCallback {
 public:
  struct Stamp {
    REFERENCE_TIME start = -1, stop = -1;
    SteadyClock::time_point arrival;
    bool grey = false;
  };

  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
    Stamp stamp;
    stamp.arrival = SteadyClock::now();
    sample->GetTime(&stamp.start, &stamp.stop);
    BYTE* bytes = nullptr;
    std::size_t size = std::size_t(sample->GetActualDataLength());
    if (SUCCEEDED(sample->GetPointer(&bytes)) && bytes) {
      stamp.grey = allGrey(bytes, size);
      if (onSample) onSample(bytes, size);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    stamps_.push_back(stamp);
    return S_OK;
  }

  std::vector<Stamp> stamps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stamps_;
  }
  std::size_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stamps_.size();
  }
  bool waitForCount(std::size_t n, std::chrono::milliseconds timeout) {
    return testsupport::waitUntil([&] { return count() >= n; }, timeout);
  }

  std::function<void(const std::uint8_t* bytes, std::size_t size)> onSample;  // set while stopped

 private:
  std::mutex mutex_;
  std::vector<Stamp> stamps_;
};

// A capture application's graph: the camera bound through the system device enumerator, its
// capability row `row` at `interval` (0: no wish) set before connecting (row -1: nothing set),
// then RenderStream through the Sample Grabber, which takes only that subtype, into the Null
// Renderer.
struct AppGraph {
  Grabbed grabbed;  // first in, last out: the grabber holds it until the graph goes

  ~AppGraph() {
    if (control) control->Stop();
  }

  HRESULT open(int row, REFERENCE_TIME interval, bool withClock) {
    HRESULT hr = cameraviewer::bindCamera(L"Orvik", &camera);
    ComPtr<IEnumPins> pins;
    if (SUCCEEDED(hr)) hr = camera->EnumPins(&pins);
    if (SUCCEEDED(hr)) hr = pins->Next(1, &pin, nullptr) == S_OK ? S_OK : VFW_E_NOT_FOUND;
    if (SUCCEEDED(hr)) hr = pin.As(&config);
    if (SUCCEEDED(hr) && row >= 0) {
      AM_MEDIA_TYPE* caps = nullptr;
      BYTE configCaps[sizeof(VIDEO_STREAM_CONFIG_CAPS)];
      hr = config->GetStreamCaps(row, &caps, configCaps);
      if (hr == S_OK) {
        hr = chosen.Set(*caps);
        DeleteMediaType(caps);
      }
      if (SUCCEEDED(hr)) {
        reinterpret_cast<VIDEOINFOHEADER*>(chosen.pbFormat)->AvgTimePerFrame = interval;
        hr = config->SetFormat(&chosen);
      }
    }
    if (FAILED(hr)) return hr;

    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IBaseFilter> grabberFilter, renderer;
    hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph));
    if (SUCCEEDED(hr)) hr = graph.As(&control);
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&builder));
    }
    if (SUCCEEDED(hr)) hr = builder->SetFiltergraph(graph.Get());
    if (SUCCEEDED(hr)) hr = CoCreateInstance(kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter));
    if (SUCCEEDED(hr)) hr = CoCreateInstance(kNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer));
    if (SUCCEEDED(hr)) hr = grabberFilter.As(&grabber);
    if (FAILED(hr)) return hr;
    AM_MEDIA_TYPE wanted = {};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = row >= 0 ? chosen.subtype : MEDIASUBTYPE_YUY2;
    hr = grabber->SetMediaType(&wanted);
    if (SUCCEEDED(hr)) hr = grabber->SetCallback(&grabbed, 0);
    if (SUCCEEDED(hr)) hr = graph->AddFilter(camera.Get(), L"Orvik");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(grabberFilter.Get(), L"Sample Grabber");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(renderer.Get(), L"Null Renderer");
    if (SUCCEEDED(hr)) {
      hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), grabberFilter.Get(),
                                 renderer.Get());
    }
    if (SUCCEEDED(hr) && !withClock) {
      ComPtr<IMediaFilter> timing;
      hr = graph.As(&timing);
      if (SUCCEEDED(hr)) hr = timing->SetSyncSource(nullptr);
    }
    return hr;
  }

  CMediaType chosen;
  ComPtr<IBaseFilter> camera;
  ComPtr<IPin> pin;
  ComPtr<IAMStreamConfig> config;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<ISampleGrabber> grabber;
};

using testsupport::ringExists;

// ring_child, as the control program, publishing test pictures of one size into the system's
// ring until stopped.
class Writer {
 public:
  Writer(std::uint32_t width, std::uint32_t height, int intervalMs) {
    stop_.reset();
    started_ = testsupport::startRingChild(
        child_, std::string("write ") + ring::kFrameRingName + " 4 1920 1920 " + std::to_string(kSeed) + " 0 " +
                    std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(intervalMs));
  }
  ~Writer() { stop(); }
  bool started() const { return started_; }
  // The writer closes its ring and ends; its exit code.
  long stop() {
    if (!started_) return exitCode_;
    stop_.set();
    exitCode_ = child_.wait(30'000);
    stop_.reset();
    started_ = false;
    return exitCode_;
  }

 private:
  testsupport::RingStop stop_{ring::kFrameRingName};
  Child child_;
  bool started_ = false;
  long exitCode_ = -1;
};

using CaptureAppsTest = dlltest::RegisteredCameraTest;

TEST_F(CaptureAppsTest, TheFormatChosenBeforeConnectingIsTheOneThatFlows) {
  // Each format at another frame interval; 0 asks for none and gets the default. The pictures
  // have the chosen size, so every sample is the direct conversion or copy, exact to the byte.
  const REFERENCE_TIME intervals[] = {0, 333'333, 666'666, 166'666, 0, 333'333, 166'666, 666'666};
  for (int row = 0; row < int(std::size(intervals)); row++) {
    SCOPED_TRACE(testing::Message() << "row " << row);
    const REFERENCE_TIME interval = intervals[row] ? intervals[row] : 333'333;
    std::unique_ptr<SampleChecker> checker;
    AppGraph app;
    ASSERT_EQ(app.open(row, intervals[row], true), S_OK);
    const CMediaType& chosen = app.chosen;
    checker = checkerFor(chosen);

    CMediaType expected(chosen);
    reinterpret_cast<VIDEOINFOHEADER*>(expected.pbFormat)->AvgTimePerFrame = interval;
    CMediaType connected;
    ASSERT_EQ(app.pin->ConnectionMediaType(&connected), S_OK);
    EXPECT_TRUE(connected == expected);
    AM_MEDIA_TYPE* reported = nullptr;
    ASSERT_EQ(app.config->GetFormat(&reported), S_OK);
    EXPECT_TRUE(CMediaType(*reported) == expected);
    DeleteMediaType(reported);
    CMediaType grabbed;
    ASSERT_EQ(app.grabber->GetConnectedMediaType(&grabbed), S_OK);
    EXPECT_EQ(grabbed.subtype, chosen.subtype);
    // The pin offers the chosen type alone.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(app.pin->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* offered[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(types->Next(2, offered, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_TRUE(CMediaType(*offered[0]) == expected);
    DeleteMediaType(offered[0]);

    app.grabbed.onSample = [&](const std::uint8_t* bytes, std::size_t size) { checker->check(bytes, size); };
    const BITMAPINFOHEADER& bmi = reinterpret_cast<VIDEOINFOHEADER*>(chosen.pbFormat)->bmiHeader;
    Writer writer(std::uint32_t(bmi.biWidth), std::uint32_t(bmi.biHeight), 20);
    ASSERT_TRUE(writer.started());
    ASSERT_HRESULT_SUCCEEDED(app.control->Run());
    testsupport::waitUntil([&] { return checker->pictures >= 3 || checker->mismatches > 0; }, 30s);
    ASSERT_HRESULT_SUCCEEDED(app.control->Stop());
    EXPECT_EQ(writer.stop(), 0);
    EXPECT_GE(checker->pictures, 3) << "the writer's pictures arrive";
    EXPECT_EQ(checker->mismatches, 0) << "each sample is grey before the first picture, else one whole picture";
    for (const Grabbed::Stamp& stamp : app.grabbed.stamps()) ASSERT_EQ(stamp.stop - stamp.start, interval);
  }
}

TEST_F(CaptureAppsTest, WithoutAClockOneSamplePerIntervalOfRealTime) {
  // No format chosen at all is the phone's 30 frames per second.
  for (REFERENCE_TIME wanted : {0, 166'666}) {
    SCOPED_TRACE(testing::Message() << "interval " << wanted);
    const REFERENCE_TIME interval = wanted ? wanted : 333'333;
    AppGraph app;
    ASSERT_EQ(app.open(wanted ? 0 : -1, wanted, false), S_OK);
    const auto run = SteadyClock::now();
    ASSERT_HRESULT_SUCCEEDED(app.control->Run());
    Sleep(3000);
    ASSERT_HRESULT_SUCCEEDED(app.control->Stop());
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - run).count();

    std::vector<Grabbed::Stamp> stamps = app.grabbed.stamps();
    const double expected = seconds * 1e7 / double(interval);
    EXPECT_NEAR(double(stamps.size()), expected, expected * 0.1) << "one sample per interval, not as fast as taken";
    ASSERT_FALSE(stamps.empty());
    for (std::size_t i = 1; i < stamps.size(); i++) ASSERT_GT(stamps[i].start, stamps[i - 1].start) << i;
    // Stream time follows real time.
    const Grabbed::Stamp& last = stamps.back();
    EXPECT_NEAR(double(last.start) / 1e7, std::chrono::duration<double>(last.arrival - run).count(), 0.3);
  }
}

TEST_F(CaptureAppsTest, StopAndPauseCutAWaitingWorkerShort) {
  // 15 frames per second: after each sample the worker waits some 66 ms for the next.
  for (bool withClock : {true, false}) {
    SCOPED_TRACE(withClock ? "clock" : "no clock");
    AppGraph app;
    ASSERT_EQ(app.open(0, 666'666, withClock), S_OK);
    HANDLE arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    app.grabbed.onSample = [&](const std::uint8_t*, std::size_t) { SetEvent(arrived); };

    std::vector<double> stops;
    for (int round = 0; round < 5; round++) {
      ASSERT_HRESULT_SUCCEEDED(app.control->Run());
      ASSERT_EQ(WaitForSingleObject(arrived, 5000), WAIT_OBJECT_0);
      ASSERT_EQ(WaitForSingleObject(arrived, 5000), WAIT_OBJECT_0);
      Sleep(10);  // the worker is now waiting for the next sample
      auto before = SteadyClock::now();
      ASSERT_HRESULT_SUCCEEDED(app.control->Stop());
      stops.push_back(std::chrono::duration<double, std::milli>(SteadyClock::now() - before).count());
    }
    std::sort(stops.begin(), stops.end());
    EXPECT_LT(stops[stops.size() / 2], 50.0) << "median Stop, ms";

    // Paused, the camera sends nothing more; running again, it goes on.
    ASSERT_HRESULT_SUCCEEDED(app.control->Run());
    ASSERT_EQ(WaitForSingleObject(arrived, 5000), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(arrived, 5000), WAIT_OBJECT_0);
    Sleep(10);
    ASSERT_HRESULT_SUCCEEDED(app.control->Pause());
    std::size_t paused = app.grabbed.count();
    Sleep(400);
    EXPECT_LE(app.grabbed.count(), paused + 1);
    ASSERT_HRESULT_SUCCEEDED(app.control->Run());
    EXPECT_TRUE(app.grabbed.waitForCount(app.grabbed.count() + 3, 5s));
    ASSERT_HRESULT_SUCCEEDED(app.control->Stop());
    CloseHandle(arrived);
  }
}

TEST_F(CaptureAppsTest, RunStopCyclesLeaveNoThreadOrHandleBehind) {
  Writer writer(1280, 720, 10);
  ASSERT_TRUE(writer.started());
  AppGraph app;
  ASSERT_EQ(app.open(-1, 0, true), S_OK);
  auto cycle = [&] {
    std::size_t before = app.grabbed.count();
    if (FAILED(app.control->Run())) return false;
    bool delivered = app.grabbed.waitForCount(before + 1, 5s);
    return SUCCEEDED(app.control->Stop()) && delivered;
  };
  // The first runs open the ring and start what the runtime keeps for later. A leak would grow
  // with the cycles; the slack is for the runtime's own comings and goings.
  for (int i = 0; i < 5; i++) ASSERT_TRUE(cycle());
  Sleep(100);
  processprobe::ProcessCounters before, after;
  ASSERT_TRUE(processprobe::readOwnCounters(before));
  for (int i = 0; i < 200; i++) ASSERT_TRUE(cycle()) << "cycle " << i;
  Sleep(100);
  ASSERT_TRUE(processprobe::readOwnCounters(after));
  EXPECT_LE(after.threads, before.threads + 2);
  EXPECT_LE(after.handles, before.handles + 2);
  EXPECT_EQ(writer.stop(), 0);
}

TEST_F(CaptureAppsTest, NoNewPictureForTwoSecondsIsGreyUntilPicturesFlowAgain) {
  std::unique_ptr<SampleChecker> content;
  AppGraph app;
  ASSERT_EQ(app.open(0, 0, true), S_OK);
  content = checkerFor(app.chosen);
  app.grabbed.onSample = [&](const std::uint8_t* bytes, std::size_t size) {
    if (!allGrey(bytes, size)) content->check(bytes, size);
  };
  auto pictures = [&] {
    std::vector<Grabbed::Stamp> s = app.grabbed.stamps();
    return std::count_if(s.begin(), s.end(), [](const Grabbed::Stamp& x) { return !x.grey; });
  };

  auto writer = std::make_unique<Writer>(1280, 720, 20);
  ASSERT_TRUE(writer->started());
  ASSERT_HRESULT_SUCCEEDED(app.control->Run());
  ASSERT_TRUE(testsupport::waitUntil([&] { return content->pictures >= 3; }, 30s));
  // The control program stops; the camera keeps the ring and its last picture.
  EXPECT_EQ(writer->stop(), 0);
  const auto stopped = SteadyClock::now();
  Sleep(3500);

  std::vector<Grabbed::Stamp> stamps = app.grabbed.stamps();
  auto firstGrey = std::find_if(stamps.begin(), stamps.end(),
                                [&](const Grabbed::Stamp& s) { return s.arrival > stopped && s.grey; });
  ASSERT_NE(firstGrey, stamps.end()) << "grey again after the writer stopped";
  const double greyAfter = std::chrono::duration<double>(firstGrey->arrival - stopped).count();
  EXPECT_GT(greyAfter, 1.5) << "shorter gaps repeat the last picture";
  EXPECT_LT(greyAfter, 2.7);
  EXPECT_TRUE(std::all_of(firstGrey, stamps.end(), [](const Grabbed::Stamp& s) { return s.grey; }));
  EXPECT_GT(std::count_if(stamps.begin(), firstGrey, [&](const Grabbed::Stamp& s) { return s.arrival > stopped; }),
            30)
      << "the last picture repeated meanwhile";

  // The control program starts again.
  const auto before = pictures();
  writer = std::make_unique<Writer>(1280, 720, 20);
  ASSERT_TRUE(writer->started());
  EXPECT_TRUE(testsupport::waitUntil([&] { return pictures() >= before + 3; }, 30s)) << "pictures again";
  ASSERT_HRESULT_SUCCEEDED(app.control->Stop());
  EXPECT_EQ(writer->stop(), 0);
  EXPECT_EQ(content->mismatches, 0);
}

TEST_F(CaptureAppsTest, ARingOthersMayOnlyReadStillShowsItsPictures) {
  // The control program's ring as a more privileged process might leave it: everyone else may
  // read it, nobody else may write it.
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;GR;;;WD)", SDDL_REVISION_1,
                                                                   &attributes.lpSecurityDescriptor, nullptr));
  const std::uint64_t size = ring::frameRingSectionSize(4, ring::frameRingSlotStride(1920, 1920));
  HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, DWORD(size >> 32),
                                      DWORD(size), (std::string(ring::kFrameRingNamespace) + ring::kFrameRingName).c_str());
  LocalFree(attributes.lpSecurityDescriptor);
  ASSERT_NE(section, nullptr);
  void* view = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  ASSERT_NE(view, nullptr);
  ring::FrameRingBlockWriter ring;
  ASSERT_TRUE(ring.format(static_cast<std::uint8_t*>(view), size, ring::FrameRingConfig()));
  ASSERT_EQ(OpenFileMappingA(FILE_MAP_WRITE, FALSE, (std::string(ring::kFrameRingNamespace) + ring::kFrameRingName).c_str()),
            nullptr)
      << "this system does not check the section's rights";

  {
    std::unique_ptr<SampleChecker> checker;
    AppGraph app;
    ASSERT_EQ(app.open(2, 0, true), S_OK);
    checker = checkerFor(app.chosen);
    app.grabbed.onSample = [&](const std::uint8_t* bytes, std::size_t size) { checker->check(bytes, size); };
    ASSERT_HRESULT_SUCCEEDED(app.control->Run());
    auto deadline = SteadyClock::now() + 20s;
    for (std::uint32_t n = 1; checker->pictures < 3 && SteadyClock::now() < deadline; n++) {
      std::vector<std::uint8_t> picture = testsupport::makePicture(1280, 720, kSeed, n);
      ASSERT_TRUE(ring.publish(n, 1280, 720, picture.data(), picture.size()));
      Sleep(30);
    }
    ASSERT_HRESULT_SUCCEEDED(app.control->Stop());
    EXPECT_GE(checker->pictures, 3);
    EXPECT_EQ(checker->mismatches, 0);
  }
  UnmapViewOfFile(view);
  CloseHandle(section);
}

}  // namespace
}  // namespace dlltest
