#include "graph_rig_win.h"

#include <objbase.h>

#include "dshow/base_object_win.h"

namespace dshow::test {

GraphRig::GraphRig(int pinCount) {
  EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                            reinterpret_cast<void**>(graph.ReleaseAndGetAddressOf())));
  graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(control.ReleaseAndGetAddressOf()));
  graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events.ReleaseAndGetAddressOf()));
  sourceFilter = createSource(pinCount, &source);
  sink = cameraviewer::CaptureSink::create();
  *sinkFilter.ReleaseAndGetAddressOf() = sink->filter();  // takes over the sink's own reference
  sink->accept = [this](const AM_MEDIA_TYPE* type) {
    offered.emplace_back(*type);
    return verdict ? verdict(type) : S_OK;
  };
  EXPECT_HRESULT_SUCCEEDED(graph->AddFilter(sourceFilter.Get(), L"Source"));
  EXPECT_HRESULT_SUCCEEDED(graph->AddFilter(sinkFilter.Get(), L"Sink"));
}

HRESULT GraphRig::connect(int index, const AM_MEDIA_TYPE* type) {
  return graph->ConnectDirect(source->pin(index), sink->pin(), type);
}

bool GraphRig::waitForEvent(long code, LONG_PTR* param1, long timeoutMs) {
  // Wine's GetEvent can return E_ABORT at once on an empty queue, whatever the time-out, so
  // the wait polls.
  DWORD deadline = GetTickCount() + static_cast<DWORD>(timeoutMs);
  for (int i = 0; i < 10000; ++i) {
    long eventCode = 0;
    LONG_PTR p1 = 0, p2 = 0;
    if (SUCCEEDED(events->GetEvent(&eventCode, &p1, &p2, 0))) {
      events->FreeEventParams(eventCode, p1, p2);
      if (eventCode == code) {
        if (param1) *param1 = p1;
        return true;
      }
      continue;
    }
    if (static_cast<long>(deadline - GetTickCount()) < 0) return false;
    Sleep(2);
  }
  return false;
}

void FrameworkTest::SetUp() {
  ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  log_ = std::make_unique<testsupport::LogCapture>();
}

void FrameworkTest::TearDown() {
  if (rig_ && rig_->control) rig_->control->Stop();
  rig_.reset();
  EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "framework objects outlived the test";
  // A failed assertion is itself written to the debugger output; judge only clean runs.
  if (!HasFailure()) {
    EXPECT_TRUE(log_->lines().empty()) << "the framework logged: " << log_->lines().front();
  }
  log_.reset();
  CoUninitialize();
}

}  // namespace dshow::test
