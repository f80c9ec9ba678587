// The registered camera as capture applications meet it: found by name through the system
// device enumerator, bound from its moniker, connected in each of its four formats to a
// renderer of ours in a real graph; grey while no control program runs, then the pictures a
// writer in another process publishes, checked byte for byte. And the viewer program itself,
// also as two capture programs at once.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "dll_rig_win.h"
#include "ring/frame_ring_format.h"
#include "support/ring_child_win.h"
#include "support/sample_checker.h"
#include "support/wait.h"
#include "tools/camera_viewer/camera_capture_win.h"

namespace dlltest {
namespace {

using cameraviewer::CaptureFormat;
using cameraviewer::SampleFormat;

using testsupport::ringExists;

using CameraCaptureTest = dlltest::RegisteredCameraTest;

TEST_F(CameraCaptureTest, GreyThenAnotherProcesssPicturesInAllFourFormats) {
  // Built as a 32-bit program, the camera reads a ring that a 64-bit writer made.
  DWORD writerType = 0;
  ASSERT_TRUE(GetBinaryTypeW(windowsPath(BRINDLE_RING_CHILD).c_str(), &writerType));
  if (sizeof(void*) == 4) {
    EXPECT_EQ(writerType, DWORD(SCS_64BIT_BINARY));
  }
  const CaptureFormat formats[] = {{SampleFormat::Yuy2, 1280, 720},
                                   {SampleFormat::Yuy2, 720, 1280},
                                   {SampleFormat::Nv12, 1280, 720},
                                   {SampleFormat::Nv12, 720, 1280}};
  for (const CaptureFormat& format : formats) {
    SCOPED_TRACE(testing::Message() << (format.format == SampleFormat::Yuy2 ? "YUY2 " : "NV12 ") << format.width
                                    << "x" << format.height);
    const bool yuy2 = format.format == SampleFormat::Yuy2;
    testsupport::SampleChecker checker(format.width, format.height, 31, format.width, format.height, yuy2);
    {
      cameraviewer::CameraCapture capture;
      capture.onSample = [&](const std::uint8_t* bytes, std::size_t size) { checker.check(bytes, size); };
      ASSERT_EQ(capture.open(L"Orvik", format), S_OK);
      CaptureFormat connected;
      ASSERT_EQ(capture.connectedFormat(&connected), S_OK);
      EXPECT_EQ(connected.format, format.format);
      EXPECT_EQ(connected.width, format.width);
      EXPECT_EQ(connected.height, format.height);

      ASSERT_HRESULT_SUCCEEDED(capture.run());
      EXPECT_TRUE(capture.waitForSamples(3, 20'000));
      EXPECT_GE(checker.grey, 3) << "mid-grey before any ring exists";

      testsupport::RingStop stop(ring::kFrameRingName);
      Child writer;
      ASSERT_TRUE(testsupport::startRingChild(writer, std::string("write ") + ring::kFrameRingName + " 4 1920 1920 31 0 " +
                                                          std::to_string(format.width) + " " +
                                                          std::to_string(format.height) + " 30"));
      ULONGLONG start = GetTickCount64();
      while (checker.pictures < 4 && checker.mismatches == 0 && GetTickCount64() - start < 60'000) Sleep(10);
      EXPECT_HRESULT_SUCCEEDED(capture.stop());
      stop.set();
      EXPECT_EQ(writer.wait(30'000), 0);
      EXPECT_GE(checker.pictures, 4) << "new pictures kept arriving";
      EXPECT_EQ(checker.mismatches, 0);
      std::printf("%s %ux%u, %d-bit camera, %d-bit writer: %d grey samples, then %d distinct pictures, %d wrong\n",
                  format.format == SampleFormat::Yuy2 ? "YUY2" : "NV12", format.width, format.height,
                  int(sizeof(void*) * 8), writerType == SCS_64BIT_BINARY ? 64 : 32, checker.grey.load(),
                  checker.pictures.load(), checker.mismatches.load());
    }
    // The camera is gone with the graph, the writer has closed: no ring is left for the next format.
    EXPECT_FALSE(ringExists());
  }
}

TEST_F(CameraCaptureTest, ViewerProgramCapturesAndSavesAPng) {
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  std::string png = std::string(temp) + "camera_viewer_test.png";
  DeleteFileA(png.c_str());
  Child viewer;
  ASSERT_TRUE(viewer.start(windowsPath(BRINDLE_CAMERA_VIEWER) + L" --format nv12 --size 720x1280 --samples 5 --png \"" +
                           std::wstring(png.begin(), png.end()) + L"\""));
  EXPECT_EQ(viewer.wait(60'000), 0);
  FILE* file = std::fopen(png.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  unsigned char head[24] = {};
  EXPECT_EQ(std::fread(head, 1, 24, file), 24u);
  std::fclose(file);
  DeleteFileA(png.c_str());
  const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_TRUE(std::equal(signature, signature + 8, head));
  // IHDR: width 720, height 1280.
  EXPECT_EQ((head[16] << 24) | (head[17] << 16) | (head[18] << 8) | head[19], 720);
  EXPECT_EQ((head[20] << 24) | (head[21] << 16) | (head[22] << 8) | head[23], 1280);

  Child missing;
  ASSERT_TRUE(missing.start(windowsPath(BRINDLE_CAMERA_VIEWER) + L" --name Nobody --samples 1"));
  EXPECT_EQ(missing.wait(60'000), 1) << "no camera of that name";
}

// What camera_viewer --log wrote: each sample's arrival (wall clock, us) and picture number.
struct ViewerLog {
  std::vector<long long> arrival;
  std::vector<int> number;
};

ViewerLog readLog(const std::string& path) {
  ViewerLog log;
  FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return log;
  long long us = 0;
  int number = 0;
  while (log.arrival.size() < 100'000 && std::fscanf(file, "sample %lld %d\n", &us, &number) == 2) {
    log.arrival.push_back(us);
    log.number.push_back(number);
  }
  std::fclose(file);
  return log;
}

TEST_F(CameraCaptureTest, TwoProgramsCaptureAtOnceEachInItsFormatAndAtItsRate) {
  // The control program stands in: 1280x720 test pictures, 100 a second, faster than either.
  testsupport::RingStop stop(ring::kFrameRingName);
  Child writer;
  ASSERT_TRUE(testsupport::startRingChild(writer, std::string("write ") + ring::kFrameRingName +
                                                      " 4 1920 1920 37 0 1280 720 10"));
  ASSERT_TRUE(testsupport::waitUntil([] { return ringExists(); }, std::chrono::seconds(20)));
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  struct Viewer {
    Viewer(const char* n, const char* f, int r, int s) : name(n), format(f), fps(r), seconds(s) {}
    const char* name;
    const char* format;
    int fps;
    int seconds;
    Child child;
    std::string log;
  };
  // A records YUY2 at 30 a second; B, NV12 at 15, stops and starts again while A goes on; then
  // A stops and starts again while B goes on.
  Viewer a1("A", "yuy2", 30, 6), b1("B", "nv12", 15, 2), b2("B2", "nv12", 15, 8), a2("A2", "yuy2", 30, 2);
  auto start = [&](Viewer& v) {
    v.log = std::string(temp) + "camera_viewer_" + std::to_string(GetCurrentProcessId()) + "_" + v.name + ".log";
    DeleteFileA(v.log.c_str());
    const std::string args = std::string(" --format ") + v.format + " --size 1280x720 --fps " + std::to_string(v.fps) +
                             " --seconds " + std::to_string(v.seconds) + " --samples 0 --counter pixels --log \"" +
                             v.log + "\"";
    return v.child.start(windowsPath(BRINDLE_CAMERA_VIEWER) + std::wstring(args.begin(), args.end()));
  };
  ASSERT_TRUE(start(a1));
  ASSERT_TRUE(start(b1));
  EXPECT_EQ(b1.child.wait(60'000), 0);
  ASSERT_TRUE(start(b2));
  EXPECT_EQ(a1.child.wait(60'000), 0);
  ASSERT_TRUE(start(a2));
  EXPECT_EQ(a2.child.wait(60'000), 0);
  EXPECT_EQ(b2.child.wait(60'000), 0);
  stop.set();
  EXPECT_EQ(writer.wait(30'000), 0);

  std::vector<ViewerLog> logs;
  for (Viewer* v : {&a1, &b1, &b2, &a2}) {
    SCOPED_TRACE(v->name);
    logs.push_back(readLog(v->log));
    DeleteFileA(v->log.c_str());
    const ViewerLog& log = logs.back();
    ASSERT_GE(log.arrival.size(), 10u);
    const double seconds = double(log.arrival.back() - log.arrival.front()) / 1e6;
    const double rate = double(log.arrival.size() - 1) / seconds;
    long long longestGap = 0;
    for (std::size_t i = 1; i < log.arrival.size(); i++) longestGap = std::max(longestGap, log.arrival[i] - log.arrival[i - 1]);
    EXPECT_NEAR(rate, v->fps, v->fps * 0.2) << "samples a second";
    EXPECT_LT(longestGap, 1'000'000) << "us without a sample: the other program got in the way";
    // Every sample is a ring picture, none older than the one before; most are new.
    for (std::size_t i = 0; i < log.number.size(); i++) {
      ASSERT_GT(log.number[i], 0) << "sample " << i;
      if (i > 0) {
        ASSERT_GE(log.number[i], log.number[i - 1]) << "sample " << i << " went backwards";
      }
    }
    const std::set<int> distinct(log.number.begin(), log.number.end());
    EXPECT_GT(distinct.size(), log.number.size() * 3 / 4);
    std::printf("%s: %s at %d a second: %zu samples in %.1f s (%.1f a second), %zu pictures, longest gap %lld ms\n",
                v->name, v->format, v->fps, log.arrival.size(), seconds, rate, distinct.size(), longestGap / 1000);
  }
  // The stops and starts happened while the other program was capturing.
  if (logs[0].arrival.empty() || logs[1].arrival.empty() || logs[2].arrival.empty() || logs[3].arrival.empty()) return;
  EXPECT_GT(logs[0].arrival.back(), logs[1].arrival.back()) << "A went on after B stopped";
  EXPECT_GT(logs[0].arrival.back(), logs[2].arrival.front()) << "A still ran when B started again";
  EXPECT_GT(logs[2].arrival.back(), logs[3].arrival.back()) << "B ran on while A stopped and started again";
  EXPECT_GT(logs[3].arrival.front(), logs[0].arrival.back());
}

}  // namespace
}  // namespace dlltest
