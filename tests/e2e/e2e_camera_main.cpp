// e2e_camera: a capture application for the end-to-end test. It runs the camera "Orvik" in a
// real graph for a while and writes one line per sample received,
//   sample <wall-clock us> <frame counter, -1 when none is readable>
//   e2e_camera --seconds S [--size 1280x720|720x1280] [--format yuy2|nv12] > samples.log
// Exit codes: 0 samples received; 1 no such camera; 2 the graph could not be built or run;
// 3 no sample in time; 4 bad arguments.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "tools/camera_viewer/camera_capture.h"
#include "tools/camera_viewer/picture_convert.h"
#include "tools/clip_pattern/frame_counter_code.h"

using namespace cameraviewer;

namespace {

struct Sample {
  long long wallUs;
  int counter;
};

}  // namespace

int main(int argc, char** argv) {
  CaptureFormat format;
  int seconds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i], v = argv[i + 1];
    if (a == "--seconds") seconds = std::atoi(v.c_str());
    else if (a == "--size" && v == "720x1280") format.width = 720, format.height = 1280;
    else if (a == "--size" && v == "1280x720") format.width = 1280, format.height = 720;
    else if (a == "--format" && v == "nv12") format.format = SampleFormat::Nv12;
    else if (a == "--format" && v == "yuy2") format.format = SampleFormat::Yuy2;
    else seconds = 0;
  }
  if (argc % 2 == 0 || seconds < 1 || seconds > 600) {
    std::fprintf(stderr, "usage: e2e_camera --seconds S [--size 1280x720|720x1280] [--format yuy2|nv12]\n");
    return 4;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;

  int exitCode = 0;
  {
    std::mutex mutex;
    std::vector<Sample> samples;
    samples.reserve(std::size_t(seconds) * 200);
    CameraCapture capture;
    capture.onSample = [&](const std::uint8_t* bytes, std::size_t size) {
      // The time first: the counter read below takes a while for a big picture.
      long long now = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
      std::vector<std::uint8_t> luma = lumaPlane(format.format, bytes, size, format.width, format.height);
      int counter = luma.empty() ? -1
                                 : clippattern::readFrameCounter(luma.data(), int(format.width),
                                                                 int(format.height), int(format.width));
      std::lock_guard<std::mutex> lock(mutex);
      samples.push_back({now, counter});
    };
    HRESULT hr = capture.open(L"Orvik", format);
    if (hr == VFW_E_NOT_FOUND) {
      std::fprintf(stderr, "no camera called \"Orvik\"\n");
      exitCode = 1;
    } else if (FAILED(hr) || FAILED(hr = capture.run())) {
      std::fprintf(stderr, "graph failed: 0x%08lX\n", static_cast<unsigned long>(hr));
      exitCode = 2;
    } else {
      Sleep(DWORD(seconds) * 1000);
      capture.stop();
      capture.close();
      std::lock_guard<std::mutex> lock(mutex);
      for (const Sample& s : samples) std::printf("sample %lld %d\n", s.wallUs, s.counter);
      std::fprintf(stderr, "e2e_camera: %zu samples\n", samples.size());
      if (samples.empty()) exitCode = 3;
    }
  }
  CoUninitialize();
  return exitCode;
}
