// The registered camera as capture applications meet it: found by name through the system
// device enumerator, bound from its moniker, connected in each of its four formats to a
// renderer of ours in a real graph; grey while no control program runs, then the pictures a
// writer in another process publishes, checked byte for byte. And the viewer program itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "dll_rig.h"
#include "ring/frame_ring_format.h"
#include "support/ring_child.h"
#include "support/sample_checker.h"
#include "tools/camera_viewer/camera_capture.h"

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

}  // namespace
}  // namespace dlltest
