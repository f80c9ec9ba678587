// The camera in a real DirectShow graph: the filter made by VirtualCameraFilter::CreateInstance,
// connected to the viewer's sink, a renderer that records what reaches it, with the runtime's
// standard memory allocator between them. Also the fixture every camera test uses (COM for the
// test thread, and after each test no live framework object) and a child process launcher.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>

#include "dshow/dshow_common_win.h"
#include "dshow/media_type_win.h"
#include "support/child_process_win.h"
#include "tools/camera_viewer/capture_sink_win.h"

namespace vcam::cameratest {

using Microsoft::WRL::ComPtr;
using Sample = cameraviewer::SampleRecord;

struct CameraRig {
  CameraRig();
  ~CameraRig();

  // Connects the camera's pin to the sink with `type` (null: negotiated).
  HRESULT connect(const AM_MEDIA_TYPE* type);
  // Connects with row `index` of the camera's capabilities.
  HRESULT connectFormat(int index);
  // Bounded wait until the sink has at least `n` samples in total.
  bool waitForSamples(int n, DWORD timeoutMs) { return sink->waitForSamples(n, timeoutMs); }

  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IBaseFilter> camera;
  ComPtr<IPin> pin;  // the camera's output pin
  ComPtr<IAMStreamConfig> config;
  cameraviewer::CaptureSink* sink = nullptr;
  ComPtr<IBaseFilter> sinkFilter;
};

class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::optional<CameraRig> rig_;
};

// A child process; killed if it outlives the test.
using Child = testsupport::ChildProcess;

}  // namespace vcam::cameratest
