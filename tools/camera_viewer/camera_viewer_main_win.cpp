// camera_viewer: captures from the camera named "Orvik" (or --name) through DirectShow and
// reports what arrived.
//   camera_viewer [--name NAME] [--format yuy2|nv12] [--size 1280x720|720x1280|1920x1080|1080x1920]
//                 [--fps 15..60] [--samples N] [--seconds S] [--counter drawn|pixels] [--png FILE]
//                 [--log FILE]
// It asks for --fps pictures a second (default: the camera's own rate) and stops after N samples
// (default 30; 0: none is enough, it runs the whole time) or S seconds (default 10, at most a
// day). The frame counter is the one the clip pattern draws, or with --counter pixels the
// number a test picture keeps in its first two luma pixels (low byte first). --log writes one
// line per sample received in the first hour, in order:
//   sample <wall-clock us when it arrived> <frame counter, -1 when none is readable>
// Exit codes: 0 samples received; 1 no such camera; 2 the graph could not be built or run;
// 3 fewer samples than asked for in time (with N = 0: none at all); 4 bad arguments; 5 the PNG
// or the log could not be written.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tools/camera_viewer/camera_capture_win.h"
#include "tools/camera_viewer/picture_convert.h"
#include "tools/camera_viewer/png_writer.h"
#include "tools/clip_pattern/frame_counter_code.h"

using namespace cameraviewer;

namespace {

struct Options {
  std::wstring name = L"Orvik";
  CaptureFormat format;
  int samples = 30;
  int seconds = 10;
  std::string png;
  std::string log;
  bool pixelCounter = false;
};

struct LoggedSample {
  long long wallUs;
  int counter;
};

// False if the file could not be written whole.
bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file && std::fclose(file) != 0) written = false;
  return written;
}

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (i + 1 >= argc) return false;
    std::string v = argv[++i];
    if (a == "--name") {
      o->name.assign(v.begin(), v.end());
    } else if (a == "--format") {
      if (v == "yuy2") o->format.format = SampleFormat::Yuy2;
      else if (v == "nv12") o->format.format = SampleFormat::Nv12;
      else return false;
    } else if (a == "--size") {
      if (v == "1280x720") o->format.width = 1280, o->format.height = 720;
      else if (v == "720x1280") o->format.width = 720, o->format.height = 1280;
      else if (v == "1920x1080") o->format.width = 1920, o->format.height = 1080;
      else if (v == "1080x1920") o->format.width = 1080, o->format.height = 1920;
      else return false;
    } else if (a == "--fps") {
      int fps = std::atoi(v.c_str());
      if (fps < 15 || fps > 60) return false;
      o->format.interval = 10'000'000 / fps;
    } else if (a == "--counter") {
      if (v != "drawn" && v != "pixels") return false;
      o->pixelCounter = v == "pixels";
    } else if (a == "--samples") {
      o->samples = std::atoi(v.c_str());
      if (o->samples < 0 || o->samples > 100000 || (o->samples == 0 && v != "0")) return false;
    } else if (a == "--seconds") {
      o->seconds = std::atoi(v.c_str());
      if (o->seconds < 1 || o->seconds > 86400) return false;
    } else if (a == "--png") {
      o->png = v;
    } else if (a == "--log") {
      o->log = v;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, &options)) {
    std::fprintf(stderr, "usage: camera_viewer [--name NAME] [--format yuy2|nv12] [--size 1280x720|720x1280|1920x1080|1080x1920] "
                         "[--fps 15..60] [--samples N] [--seconds S] [--counter drawn|pixels] [--png FILE] [--log FILE]\n");
    return 4;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;

  int exitCode = 0;
  {
    std::mutex mutex;
    int grey = 0;
    std::set<int> counters;
    std::vector<std::uint8_t> last;
    std::vector<LoggedSample> logged;
    if (!options.log.empty()) logged.reserve(std::size_t(std::min(options.seconds, 3600)) * 200);
    const CaptureFormat& f = options.format;

    CameraCapture capture;
    capture.onSample = [&](const std::uint8_t* bytes, std::size_t size) {
      // The time first: the counter read below takes a while for a big picture.
      long long now = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
      bool allGrey = std::all_of(bytes, bytes + size, [](std::uint8_t v) { return v == 128; });
      std::vector<std::uint8_t> luma = lumaPlane(f.format, bytes, size, f.width, f.height);
      int counter = -1;
      if (!luma.empty() && options.pixelCounter) {
        if (!allGrey) counter = luma[0] | luma[1] << 8;
      } else if (!luma.empty()) {
        counter = clippattern::readFrameCounter(luma.data(), int(f.width), int(f.height), int(f.width));
      }
      std::lock_guard<std::mutex> lock(mutex);
      if (allGrey) grey++;
      if (counter >= 0) counters.insert(counter);
      last.assign(bytes, bytes + size);
      if (!options.log.empty() && logged.size() < logged.capacity()) logged.push_back({now, counter});
    };

    HRESULT hr = capture.open(options.name, f);
    if (hr == VFW_E_NOT_FOUND) {
      std::printf("no camera called \"%ls\"\n", options.name.c_str());
      exitCode = 1;
    } else if (FAILED(hr)) {
      std::printf("graph failed: 0x%08lX\n", static_cast<unsigned long>(hr));
      exitCode = 2;
    } else {
      CaptureFormat connected;
      capture.connectedFormat(&connected);
      std::printf("format: %s %ux%u\n", connected.format == SampleFormat::Yuy2 ? "YUY2" : "NV12", connected.width,
                  connected.height);
      hr = capture.run();
      DWORD limitMs = DWORD(options.seconds) * 1000;
      bool enough = false;
      if (SUCCEEDED(hr) && options.samples > 0) {
        enough = capture.waitForSamples(options.samples, limitMs);
      } else if (SUCCEEDED(hr)) {
        Sleep(limitMs);
        enough = capture.received() > 0;
      }
      capture.stop();
      std::lock_guard<std::mutex> lock(mutex);
      std::printf("samples: %d\n", capture.received());
      std::printf("grey samples: %d\n", grey);
      if (counters.empty()) std::printf("frame counters: none\n");
      else std::printf("frame counters: %d to %d (%zu distinct)\n", *counters.begin(), *counters.rbegin(), counters.size());
      if (FAILED(hr)) exitCode = 2;
      else if (!enough) exitCode = 3;
      if (!options.png.empty() && !last.empty()) {
        std::vector<std::uint8_t> rgb = toRgb(f.format, last.data(), last.size(), f.width, f.height);
        std::vector<std::uint8_t> png = encodePng(rgb.data(), f.width, f.height);
        if (!png.empty() && writeFile(options.png, png)) {
          std::printf("png: %s\n", options.png.c_str());
        } else {
          std::printf("png not written: %s\n", options.png.c_str());
          if (exitCode == 0) exitCode = 5;
        }
      }
      if (!options.log.empty()) {
        std::string text;
        char line[64];
        for (const LoggedSample& sample : logged) {
          std::snprintf(line, sizeof(line), "sample %lld %d\n", sample.wallUs, sample.counter);
          text += line;
        }
        if (!writeFile(options.log, std::vector<std::uint8_t>(text.begin(), text.end()))) {
          std::printf("log not written: %s\n", options.log.c_str());
          if (exitCode == 0) exitCode = 5;
        }
      }
    }
  }
  CoUninitialize();
  return exitCode;
}
