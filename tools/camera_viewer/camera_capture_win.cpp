#include "tools/camera_viewer/camera_capture_win.h"

namespace cameraviewer {

namespace {

// The device's string value `name`, or empty.
std::wstring readProperty(IPropertyBag* bag, const wchar_t* name) {
  VARIANT value;
  VariantInit(&value);
  std::wstring text;
  if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal) text = value.bstrVal;
  VariantClear(&value);
  return text;
}

// Walks the video input device category; `visit` returns true to stop at a moniker.
HRESULT walkCameras(const std::function<bool(IMoniker*, const CameraDevice&)>& visit) {
  Microsoft::WRL::ComPtr<ICreateDevEnum> devices;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devices));
  if (FAILED(hr)) return hr;
  Microsoft::WRL::ComPtr<IEnumMoniker> monikers;
  hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
  devices.Reset();
  if (hr != S_OK) return hr;  // S_FALSE: the category is empty
  Microsoft::WRL::ComPtr<IMoniker> moniker;
  bool stopped = false;
  while (!stopped && monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    Microsoft::WRL::ComPtr<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) {
      CameraDevice device;
      device.friendlyName = readProperty(bag.Get(), L"FriendlyName");
      std::wstring clsid = readProperty(bag.Get(), L"CLSID");
      if (clsid.empty() || FAILED(CLSIDFromString(clsid.c_str(), &device.clsid))) device.clsid = CLSID_NULL;
      bag.Reset();
      stopped = visit(moniker.Get(), device);
    }
  }
  return S_OK;
}

GUID subtypeOf(SampleFormat format) { return format == SampleFormat::Yuy2 ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_NV12; }

// The camera's capability row for `format`, or null. The caller frees the type.
AM_MEDIA_TYPE* findCapability(IAMStreamConfig* config, const CaptureFormat& format) {
  int count = 0, size = 0;
  if (FAILED(config->GetNumberOfCapabilities(&count, &size)) || size < int(sizeof(VIDEO_STREAM_CONFIG_CAPS))) {
    return nullptr;
  }
  for (int i = 0; i < count; i++) {
    AM_MEDIA_TYPE* type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    if (config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps)) != S_OK || !type) continue;
    if (type->subtype == subtypeOf(format.format) && type->formattype == FORMAT_VideoInfo && type->pbFormat &&
        type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
      const BITMAPINFOHEADER& bmi = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader;
      LONG height = bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight;
      if (bmi.biWidth == LONG(format.width) && height == LONG(format.height)) return type;
    }
    if (type->pbFormat) CoTaskMemFree(type->pbFormat);
    if (type->pUnk) type->pUnk->Release();
    CoTaskMemFree(type);
  }
  return nullptr;
}

void freeType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  if (type->pbFormat) CoTaskMemFree(type->pbFormat);
  if (type->pUnk) type->pUnk->Release();
  CoTaskMemFree(type);
}

// The first output pin of a filter.
Microsoft::WRL::ComPtr<IPin> outputPin(IBaseFilter* filter) {
  Microsoft::WRL::ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(&pins))) return nullptr;
  Microsoft::WRL::ComPtr<IPin> pin;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT) return pin;
  }
  return nullptr;
}

}  // namespace

HRESULT listCameras(std::vector<CameraDevice>* devices) {
  devices->clear();
  HRESULT hr = walkCameras([&](IMoniker*, const CameraDevice& device) {
    devices->push_back(device);
    return false;
  });
  if (hr == S_OK && devices->empty()) hr = S_FALSE;
  return hr;
}

HRESULT bindCamera(const std::wstring& friendlyName, IBaseFilter** camera) {
  *camera = nullptr;
  HRESULT bound = VFW_E_NOT_FOUND;
  HRESULT hr = walkCameras([&](IMoniker* moniker, const CameraDevice& device) {
    if (device.friendlyName != friendlyName) return false;
    bound = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(camera));
    return true;
  });
  if (FAILED(hr)) return hr;
  if (FAILED(bound)) return bound;
  return *camera ? S_OK : VFW_E_NOT_FOUND;
}

HRESULT CameraCapture::open(const std::wstring& friendlyName, const CaptureFormat& format) {
  graph_ = std::make_unique<Graph>();  // the old one, if any, is taken apart first
  Graph& graph = *graph_;
  HRESULT hr = bindCamera(friendlyName, graph.camera.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;

  graph.cameraPin = outputPin(graph.camera.Get());
  if (!graph.cameraPin) return VFW_E_NOT_FOUND;
  Microsoft::WRL::ComPtr<IAMStreamConfig> config;
  hr = graph.cameraPin->QueryInterface(IID_PPV_ARGS(&config));
  if (FAILED(hr)) return hr;
  AM_MEDIA_TYPE* type = findCapability(config.Get(), format);
  if (type && format.interval) reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame = format.interval;
  hr = type ? config->SetFormat(type) : VFW_E_INVALIDMEDIATYPE;
  config.Reset();
  if (FAILED(hr)) {
    freeType(type);
    return hr;
  }

  hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph.builder));
  if (SUCCEEDED(hr)) hr = graph.builder.As(&graph.control);
  if (SUCCEEDED(hr)) {
    CaptureSink* sink = graph.sink = CaptureSink::create();
    graph.sinkFilter.Attach(sink->filter());
    sink->accept = acceptOnly(subtypeOf(format.format), format.width, format.height);
    sink->renderer = true;
    sink->recordLimit = 0;  // a capture may run for hours; onSample and received() say enough
    sink->onSample = [this](const std::uint8_t* bytes, std::size_t size) {
      if (onSample) onSample(bytes, size);
    };
    hr = graph.builder->AddFilter(graph.camera.Get(), L"Camera");
  }
  if (SUCCEEDED(hr)) hr = graph.builder->AddFilter(graph.sinkFilter.Get(), L"Capture sink");
  // The sink takes only the chosen format, and the pin is offered exactly that one.
  if (SUCCEEDED(hr)) hr = graph.builder->ConnectDirect(graph.cameraPin.Get(), graph.sink->pin(), type);
  freeType(type);
  return hr;
}

HRESULT CameraCapture::run() { return graph_ && graph_->control ? graph_->control->Run() : VFW_E_NOT_CONNECTED; }

HRESULT CameraCapture::stop() { return graph_ && graph_->control ? graph_->control->Stop() : S_FALSE; }

bool CameraCapture::waitForSamples(int count, DWORD timeoutMs) const {
  return graph_ && graph_->sink && graph_->sink->waitForSamples(count, timeoutMs);
}

HRESULT CameraCapture::connectedFormat(CaptureFormat* format) const {
  if (!graph_ || !graph_->cameraPin) return VFW_E_NOT_CONNECTED;
  AM_MEDIA_TYPE type = {};
  HRESULT hr = graph_->cameraPin->ConnectionMediaType(&type);
  if (SUCCEEDED(hr)) {
    if (type.formattype == FORMAT_VideoInfo && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER) &&
        (type.subtype == MEDIASUBTYPE_YUY2 || type.subtype == MEDIASUBTYPE_NV12)) {
      const BITMAPINFOHEADER& bmi = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
      format->format = type.subtype == MEDIASUBTYPE_YUY2 ? SampleFormat::Yuy2 : SampleFormat::Nv12;
      format->width = std::uint32_t(bmi.biWidth);
      format->height = std::uint32_t(bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight);
    } else {
      hr = VFW_E_INVALIDMEDIATYPE;
    }
  }
  if (type.pbFormat) CoTaskMemFree(type.pbFormat);
  if (type.pUnk) type.pUnk->Release();
  return hr;
}

void CameraCapture::close() { graph_.reset(); }

CameraCapture::Graph::~Graph() {
  if (control) control->Stop();
  if (builder) {
    if (camera) builder->RemoveFilter(camera.Get());
    if (sinkFilter) builder->RemoveFilter(sinkFilter.Get());
  }
}

}  // namespace cameraviewer
