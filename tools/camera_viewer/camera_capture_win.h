// A capture application in miniature: finds a camera by its friendly name in the video input
// device category through the system device enumerator, binds its moniker to the filter,
// chooses a format, and runs a real filter graph from the camera's capture pin to our sink.
// Windows only; the caller initialises COM on its thread.
#pragma once

#include <windows.h>

#include <dshow.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/camera_viewer/capture_sink_win.h"
#include "tools/camera_viewer/picture_convert.h"

namespace cameraviewer {

struct CaptureFormat {
  SampleFormat format = SampleFormat::Yuy2;
  std::uint32_t width = 1280;
  std::uint32_t height = 720;
  REFERENCE_TIME interval = 0;  // frame interval in 100-ns units; 0: the camera's default
};

// A device listed in the video input device category.
struct CameraDevice {
  std::wstring friendlyName;
  CLSID clsid = CLSID_NULL;  // from the device's "CLSID" value, CLSID_NULL when absent
};

// Every device the system device enumerator lists in the video input device category
// (S_FALSE with an empty list when the category is empty).
HRESULT listCameras(std::vector<CameraDevice>* devices);

// The filter of the first device called `friendlyName`, bound from its moniker as capture
// applications do. VFW_E_NOT_FOUND when no device has that name.
HRESULT bindCamera(const std::wstring& friendlyName, IBaseFilter** camera);

class CameraCapture {
 public:
  CameraCapture() = default;
  // The sink calls back into this object.
  CameraCapture(const CameraCapture&) = delete;
  CameraCapture& operator=(const CameraCapture&) = delete;

  // Binds the first device called `friendlyName`, sets `format` through IAMStreamConfig and
  // connects the camera's capture pin to a sink that accepts only that format.
  // VFW_E_NOT_FOUND when no device has that name.
  HRESULT open(const std::wstring& friendlyName, const CaptureFormat& format);
  HRESULT run();
  HRESULT stop();
  // Bounded wait until at least `count` samples arrived in total.
  bool waitForSamples(int count, DWORD timeoutMs) const;
  // Stops and takes the graph apart; the camera is released.
  void close();

  int received() const { return graph_ && graph_->sink ? graph_->sink->received() : 0; }
  // The subtype and size the pins connected with.
  HRESULT connectedFormat(CaptureFormat* format) const;

  // Every sample's bytes, on the camera's worker thread; set before run().
  std::function<void(const std::uint8_t* bytes, std::size_t size)> onSample;

 private:
  // What open builds: stopped and taken apart when it goes, the camera released. Released in
  // reverse order of declaration, the pin first and the sink last.
  struct Graph {
    ~Graph();
    CaptureSink* sink = nullptr;  // held through sinkFilter
    Microsoft::WRL::ComPtr<IBaseFilter> sinkFilter;
    Microsoft::WRL::ComPtr<IBaseFilter> camera;
    Microsoft::WRL::ComPtr<IGraphBuilder> builder;
    Microsoft::WRL::ComPtr<IMediaControl> control;
    Microsoft::WRL::ComPtr<IPin> cameraPin;
  };

  std::unique_ptr<Graph> graph_;
};

}  // namespace cameraviewer
