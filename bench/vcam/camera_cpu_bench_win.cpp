// What the camera costs a capture application: the process's CPU time per second of streaming
// 1280x720 YUY2 at 60 frames per second while a writer process publishes 1080p pictures into
// the ring (at a phone's usual 30 per second, and at 60), in a graph of the runtime's Sample
// Grabber and Null Renderer connected directly to the camera, with the graph's clock and
// without one. Also the rate the samples came at and how far the last time stamp was from the
// real time since Run.
//
//   camera_cpu_bench                      the measurement
//   camera_cpu_bench --writer FPS SECONDS the ring writer it starts beside itself
#include <windows.h>

#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ring/frame_ring_writer.h"
#include "support/child_process_win.h"
#include "support/runtime_filters_win.h"
#include "vcam/virtual_camera_filter_win.h"
#include "vcam/virtual_camera_formats_win.h"

namespace {

using dshow::CMediaType;
using dshow::CUnknown;
using vcam::VirtualCameraFilter;
using vcam::kCameraFormats;
using vcam::kCameraMinFrameInterval;
using vcam::makeCameraMediaType;
using Microsoft::WRL::ComPtr;
using SteadyClock = std::chrono::steady_clock;

using testsupport::kNullRenderer;
using testsupport::kSampleGrabber;
constexpr double kWarmUpSeconds = 1.0;
constexpr double kMeasureSeconds = 8.0;

// Publishes alternating 1920x1080 pictures at `fps` for `seconds` into the system's ring.
int runWriter(int fps, int seconds) {
  const std::uint32_t w = 1920, h = 1080;
  std::vector<std::uint8_t> pictures[2];
  for (int k = 0; k < 2; k++) {
    pictures[k].resize(std::size_t(w) * h * 3 / 2);
    std::uint32_t x = 12345u + std::uint32_t(k);
    for (std::uint8_t& b : pictures[k]) b = std::uint8_t((x = x * 1664525u + 1013904223u) >> 24);
  }
  ring::FrameRingWriter writer;
  if (!writer.open(ring::FrameRingConfig())) return 2;
  const auto start = SteadyClock::now();
  const auto period = std::chrono::nanoseconds(1'000'000'000 / fps);
  for (std::uint64_t n = 1; SteadyClock::now() - start < std::chrono::seconds(seconds); n++) {
    const std::vector<std::uint8_t>& p = pictures[n % 2];
    writer.publish(n * 16'667, w, h, p.data(), p.size());
    auto next = start + n * period;
    auto now = SteadyClock::now();
    if (next > now) Sleep(DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()));
  }
  return 0;
}

// Counts samples and keeps the last time stamp; does nothing else with them.
class Counter : public testsupport::SampleGrabberCallback {
 public:
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
    REFERENCE_TIME start = 0, stop = 0;
    sample->GetTime(&start, &stop);
    lastStart = start;
    lastArrival = SteadyClock::now().time_since_epoch().count();
    ++samples;
    return S_OK;
  }

  std::atomic<long> samples{0};
  std::atomic<REFERENCE_TIME> lastStart{0};
  std::atomic<SteadyClock::rep> lastArrival{0};
};

double cpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto value = [](const FILETIME& t) { return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7; };
  return value(kernel) + value(user);
}

struct Result {
  bool ok = false;
  double cpuMsPerSecond = 0, samplesPerSecond = 0;
  double offsetMs = 0;  // last time stamp minus the real time since Run
  double driftMs = 0;   // how much further the time stamps went than real time while measuring
};

Result measure(bool withClock) {
  Result result;
  Counter counter;  // outlives the graph
  HRESULT hr = S_OK;
  ComPtr<IBaseFilter> camera;
  CUnknown* made = VirtualCameraFilter::CreateInstance(nullptr, &hr);
  if (!made || FAILED(hr)) return result;
  made->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(camera.GetAddressOf()));
  ComPtr<IEnumPins> pins;
  ComPtr<IPin> cameraPin, grabberIn, grabberOut, rendererIn;
  ComPtr<IAMStreamConfig> config;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IBaseFilter> grabberFilter, renderer;
  ComPtr<ISampleGrabber> grabber;
  CMediaType type;
  if (!camera || FAILED(camera->EnumPins(&pins)) || pins->Next(1, &cameraPin, nullptr) != S_OK ||
      FAILED(cameraPin.As(&config)) || FAILED(makeCameraMediaType(kCameraFormats[0], kCameraMinFrameInterval, &type)) ||
      FAILED(config->SetFormat(&type))) {
    return result;
  }
  hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph));
  if (SUCCEEDED(hr)) hr = graph.As(&control);
  if (SUCCEEDED(hr)) hr = CoCreateInstance(kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter));
  if (SUCCEEDED(hr)) hr = CoCreateInstance(kNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer));
  if (SUCCEEDED(hr)) hr = grabberFilter.As(&grabber);
  if (SUCCEEDED(hr)) hr = grabber->SetCallback(&counter, 0);
  if (SUCCEEDED(hr)) hr = graph->AddFilter(camera.Get(), L"Orvik");
  if (SUCCEEDED(hr)) hr = graph->AddFilter(grabberFilter.Get(), L"Sample Grabber");
  if (SUCCEEDED(hr)) hr = graph->AddFilter(renderer.Get(), L"Null Renderer");
  if (SUCCEEDED(hr)) hr = grabberFilter->FindPin(L"In", &grabberIn);
  if (SUCCEEDED(hr)) hr = grabberFilter->FindPin(L"Out", &grabberOut);
  if (SUCCEEDED(hr)) hr = renderer->FindPin(L"In", &rendererIn);
  if (SUCCEEDED(hr)) hr = graph->ConnectDirect(cameraPin.Get(), grabberIn.Get(), nullptr);
  if (SUCCEEDED(hr)) hr = graph->ConnectDirect(grabberOut.Get(), rendererIn.Get(), nullptr);
  if (SUCCEEDED(hr) && !withClock) {
    ComPtr<IMediaFilter> timing;
    hr = graph.As(&timing);
    if (SUCCEEDED(hr)) hr = timing->SetSyncSource(nullptr);
  }
  if (FAILED(hr)) {
    std::printf("graph: 0x%08lx\n", static_cast<unsigned long>(hr));
    return result;
  }

  const auto run = SteadyClock::now();
  if (FAILED(control->Run())) return result;
  Sleep(DWORD(kWarmUpSeconds * 1000));
  const long samples0 = counter.samples;
  const REFERENCE_TIME stamp0 = counter.lastStart;
  const SteadyClock::rep arrival0 = counter.lastArrival;
  const double cpu0 = cpuSeconds();
  const auto wall0 = SteadyClock::now();
  Sleep(DWORD(kMeasureSeconds * 1000));
  const long samples1 = counter.samples;
  const REFERENCE_TIME stamp1 = counter.lastStart;
  const SteadyClock::rep arrival1 = counter.lastArrival;
  const double cpu1 = cpuSeconds();
  const double wall = std::chrono::duration<double>(SteadyClock::now() - wall0).count();
  control->Stop();

  auto seconds = [](SteadyClock::rep ticks) { return std::chrono::duration<double>(SteadyClock::duration(ticks)).count(); };
  result.ok = true;
  result.cpuMsPerSecond = (cpu1 - cpu0) * 1000 / wall;
  result.samplesPerSecond = double(samples1 - samples0) / wall;
  result.offsetMs = (double(stamp1) / 1e7 - (seconds(arrival1) - seconds(run.time_since_epoch().count()))) * 1000;
  result.driftMs = (double(stamp1 - stamp0) / 1e7 - (seconds(arrival1) - seconds(arrival0))) * 1000;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--writer") == 0) return runWriter(std::atoi(argv[2]), std::atoi(argv[3]));

  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  const int writerSeconds = int(2 * (kWarmUpSeconds + kMeasureSeconds)) + 6;
  Result results[2][2];  // [writer at 30, at 60][with clock, without]
  for (int w = 0; w < 2; w++) {
    std::string args = "--writer ";
    args += w == 0 ? "30 " : "60 ";
    args += std::to_string(writerSeconds);
    testsupport::ChildProcess writer;
    if (!writer.start("camera_cpu_bench.exe", args)) {
      std::printf("camera cpu per second: no writer\n");
      return 1;
    }
    Sleep(500);  // the ring exists before the camera looks for it
    results[w][0] = measure(true);
    results[w][1] = measure(false);
    writer.wait(DWORD(writerSeconds + 10) * 1000);
  }
  CoUninitialize();
  for (auto& writerResults : results) {
    for (Result& r : writerResults) {
      if (r.ok) continue;
      std::printf("camera cpu per second: the graph did not run\n");
      return 1;
    }
  }
  // The headline: a capture application's usual graph, with its clock, fed by a phone's usual rate.
  std::printf("camera cpu per second: %.1f ms\n", results[0][0].cpuMsPerSecond);
  for (int w = 0; w < 2; w++) {
    for (int c = 0; c < 2; c++) {
      const Result& r = results[w][c];
      std::printf("camera %s, ring written at %d fps: %.1f ms cpu per second, %.2f samples per second; time "
                  "stamps drifted %+.1f ms from real time in %.0f s, the last one %+.1f ms from the time since Run\n",
                  c == 0 ? "with clock" : "without clock", w == 0 ? 30 : 60, r.cpuMsPerSecond, r.samplesPerSecond,
                  r.driftMs, kMeasureSeconds, r.offsetMs);
    }
  }
  return 0;
}
