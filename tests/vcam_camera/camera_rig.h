// The camera in a real DirectShow graph: the filter made by VirtualCameraFilter::CreateInstance,
// connected to the viewer's sink, a renderer that records what reaches it, with the runtime's
// standard memory allocator between them. Also the fixture every camera test uses (COM for the
// test thread, and after each test no live framework object) and a child process launcher.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>

#include "support/child_process.h"
#include "tools/camera_viewer/capture_sink.h"
#include "vcam/dshow_common.h"
#include "vcam/media_type.h"

namespace cameratest {

// An owning interface pointer.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { reset(); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  void attach(T* p) {
    reset();
    p_ = p;
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

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

  Ref<IGraphBuilder> graph;
  Ref<IMediaControl> control;
  Ref<IBaseFilter> camera;
  Ref<IPin> pin;  // the camera's output pin
  Ref<IAMStreamConfig> config;
  cameraviewer::CaptureSink* sink = nullptr;
  Ref<IBaseFilter> sinkFilter;
};

class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::optional<CameraRig> rig_;
};

// A child process; killed if it outlives the test.
using Child = testsupport::ChildProcess;

}  // namespace cameratest
