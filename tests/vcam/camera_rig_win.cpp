#include "camera_rig_win.h"

#include <objbase.h>

#include "dshow/base_object_win.h"
#include "vcam/virtual_camera_filter_win.h"

namespace vcam::cameratest {

CameraRig::CameraRig() {
  EXPECT_HRESULT_SUCCEEDED(
      CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, reinterpret_cast<void**>(graph.ReleaseAndGetAddressOf())));
  if (graph) graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(control.ReleaseAndGetAddressOf()));

  HRESULT hr = S_OK;
  dshow::CUnknown* made = VirtualCameraFilter::CreateInstance(nullptr, &hr);
  EXPECT_HRESULT_SUCCEEDED(hr);
  if (made) made->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(camera.ReleaseAndGetAddressOf()));
  if (camera) camera->FindPin(L"1", pin.ReleaseAndGetAddressOf());
  if (pin) pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(config.ReleaseAndGetAddressOf()));

  sink = cameraviewer::CaptureSink::create();
  sink->renderer = true;
  *sinkFilter.ReleaseAndGetAddressOf() = sink->filter();  // takes over the sink's own reference
  if (graph && camera) {
    EXPECT_HRESULT_SUCCEEDED(graph->AddFilter(camera.Get(), L"Orvik"));
    EXPECT_HRESULT_SUCCEEDED(graph->AddFilter(sinkFilter.Get(), L"Sink"));
  }
}

CameraRig::~CameraRig() {
  if (control) control->Stop();
  config.Reset();
  pin.Reset();
  if (graph) {
    graph->RemoveFilter(camera.Get());
    graph->RemoveFilter(sinkFilter.Get());
  }
  control.Reset();
  graph.Reset();
  camera.Reset();
  sinkFilter.Reset();
}

HRESULT CameraRig::connect(const AM_MEDIA_TYPE* type) { return graph->ConnectDirect(pin.Get(), sink->pin(), type); }

HRESULT CameraRig::connectFormat(int index) {
  AM_MEDIA_TYPE* type = nullptr;
  BYTE caps[sizeof(VIDEO_STREAM_CONFIG_CAPS)];
  HRESULT hr = config->GetStreamCaps(index, &type, caps);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  hr = connect(type);
  dshow::DeleteMediaType(type);
  return hr;
}

void CameraTest::SetUp() { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }

void CameraTest::TearDown() {
  rig_.reset();
  EXPECT_EQ(dshow::CBaseObject::ObjectsActive(), 0) << "framework objects outlived the test";
  CoUninitialize();
}

}  // namespace vcam::cameratest
