// A real filter graph holding one test source and the viewer's sink, and the fixture every dshow
// test uses: COM for the test thread, and after each test no live framework object and no
// diagnostic line.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "support/log_capture.h"
#include "test_filters_win.h"
#include "tools/camera_viewer/capture_sink_win.h"

namespace dshow::test {

struct GraphRig {
  explicit GraphRig(int pinCount = 1);

  // Connects source pin `index` to the sink through the graph (ConnectDirect).
  HRESULT connect(int index = 0, const AM_MEDIA_TYPE* type = nullptr);
  // Waits up to `timeoutMs` for an event with `code`; true with its first parameter.
  bool waitForEvent(long code, LONG_PTR* param1, long timeoutMs);

  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  ComPtr<IBaseFilter> sourceFilter;
  TestSource* source = nullptr;
  ComPtr<IBaseFilter> sinkFilter;
  cameraviewer::CaptureSink* sink = nullptr;
  // The sink's verdict on each type it is offered (none: it takes any), and every type it was
  // offered, in order.
  std::function<HRESULT(const AM_MEDIA_TYPE*)> verdict;
  std::vector<CMediaType> offered;
};

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::optional<GraphRig> rig_;
  std::unique_ptr<testsupport::LogCapture> log_;
};

}  // namespace dshow::test
