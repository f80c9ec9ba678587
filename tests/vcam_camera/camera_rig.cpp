#include "camera_rig.h"

#include <objbase.h>

#include <cstdio>
#include <cwchar>

#include "vcam/base_object.h"
#include "vcam/virtual_camera_filter.h"

namespace cameratest {

void CaptureSink::reset(std::size_t keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  samples_.clear();
  keep_ = keep;
}

std::vector<Sample> CaptureSink::samples() {
  std::lock_guard<std::mutex> lock(mutex_);
  return samples_;
}

void CaptureSink::record(IMediaSample* sample) {
  Sample s;
  sample->GetTime(&s.start, &s.stop);
  s.sync = sample->IsSyncPoint() == S_OK;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  std::size_t size = std::size_t(sample->GetActualDataLength());
  if (onSample) onSample(data, size);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (samples_.size() < keep_) s.bytes.assign(data, data + size);
    if (samples_.size() < 100'000) samples_.push_back(std::move(s));
  }
  ++received_;
  Sleep(3);
}

namespace {

// Enumerates the sink's one pin; the graph walks pins to order its filters.
class OnePinEnum : public IEnumPins {
 public:
  OnePinEnum(IPin* pin, ULONG position) : pin_(pin), position_(position) { pin_->AddRef(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown && riid != IID_IEnumPins) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return ULONG(n);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
    ULONG n = 0;
    if (count > 0 && position_ == 0) {
      pins[0] = pin_;
      pin_->AddRef();
      position_ = 1;
      n = 1;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    position_ += count;
    return position_ <= 1 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override {
    *clone = new OnePinEnum(pin_, position_);
    return S_OK;
  }

 private:
  virtual ~OnePinEnum() { pin_->Release(); }
  LONG refs_ = 1;
  IPin* pin_;
  ULONG position_;
};

class SinkImpl : public CaptureSink, public IBaseFilter, public IPin, public IMemInputPin {
 public:
  // IUnknown: the filter and its pin are one object.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
      *ppv = static_cast<IBaseFilter*>(this);
    } else if (riid == IID_IPin) {
      *ppv = static_cast<IPin*>(this);
    } else if (riid == IID_IMemInputPin) {
      *ppv = static_cast<IMemInputPin*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return ULONG(n);
  }

  // IBaseFilter
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    *clsid = CLSID_NULL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    state_ = State_Stopped;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Pause() override {
    state_ = State_Paused;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override {
    state_ = State_Running;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
    *state = state_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
    *clock = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override {
    *pins = new OnePinEnum(static_cast<IPin*>(this), 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin** pin) override {
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
    wcscpy(info->achName, L"CaptureSink");
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR) override {
    graph_ = graph;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override {
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    peer_ = connector;
    peer_->AddRef();
    type_ = *type;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Disconnect() override {
    if (!peer_) return S_FALSE;
    peer_->Release();
    peer_ = nullptr;
    if (allocator_) allocator_->Release();
    allocator_ = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
    *pin = peer_;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override {
    if (!peer_) return VFW_E_NOT_CONNECTED;
    return CopyMediaType(type, &type_);
  }
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override {
    info->pFilter = this;
    AddRef();
    wcscpy(info->achName, L"In");
    info->dir = PINDIR_INPUT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override {
    *direction = PINDIR_INPUT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // IMemInputPin: no allocator of our own, so the camera takes the runtime's.
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override {
    *allocator = nullptr;
    return VFW_E_NO_ALLOCATOR;
  }
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL) override {
    if (allocator) allocator->AddRef();
    if (allocator_) allocator_->Release();
    allocator_ = allocator;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
    record(sample);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* done) override {
    for (*done = 0; *done < count; ++*done) record(samples[*done]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

 private:
  ~SinkImpl() override {
    Disconnect();
  }

  LONG refs_ = 1;
  FILTER_STATE state_ = State_Stopped;
  IFilterGraph* graph_ = nullptr;
  IPin* peer_ = nullptr;
  IMemAllocator* allocator_ = nullptr;
  CMediaType type_;
};

}  // namespace

CaptureSink* createCaptureSink() { return new SinkImpl(); }
IBaseFilter* asFilter(CaptureSink* sink) { return static_cast<SinkImpl*>(sink); }
IPin* inputPin(CaptureSink* sink) { return static_cast<SinkImpl*>(sink); }

CameraRig::CameraRig() {
  EXPECT_HRESULT_SUCCEEDED(
      CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.putVoid()));
  if (graph) graph->QueryInterface(IID_IMediaControl, control.putVoid());

  HRESULT hr = S_OK;
  CUnknown* made = VirtualCameraFilter::CreateInstance(nullptr, &hr);
  EXPECT_HRESULT_SUCCEEDED(hr);
  if (made) made->NonDelegatingQueryInterface(IID_IBaseFilter, camera.putVoid());
  if (camera) camera->FindPin(L"1", pin.put());
  if (pin) pin->QueryInterface(IID_IAMStreamConfig, config.putVoid());

  sink = createCaptureSink();
  sinkFilter.attach(asFilter(sink));
  if (graph && camera) {
    EXPECT_HRESULT_SUCCEEDED(graph->AddFilter(camera.get(), L"Orvik"));
    EXPECT_HRESULT_SUCCEEDED(graph->AddFilter(sinkFilter.get(), L"Sink"));
  }
}

CameraRig::~CameraRig() {
  if (control) control->Stop();
  config.reset();
  pin.reset();
  if (graph) {
    graph->RemoveFilter(camera.get());
    graph->RemoveFilter(sinkFilter.get());
  }
  control.reset();
  graph.reset();
  camera.reset();
  sinkFilter.reset();
}

HRESULT CameraRig::connect(const AM_MEDIA_TYPE* type) { return graph->ConnectDirect(pin.get(), inputPin(sink), type); }

HRESULT CameraRig::connectFormat(int index) {
  AM_MEDIA_TYPE* type = nullptr;
  BYTE caps[sizeof(VIDEO_STREAM_CONFIG_CAPS)];
  HRESULT hr = config->GetStreamCaps(index, &type, caps);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  hr = connect(type);
  DeleteMediaType(type);
  return hr;
}

bool CameraRig::waitForSamples(int n, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (sink->received() < n) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(2);
  }
  return true;
}

void CameraTest::SetUp() { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }

void CameraTest::TearDown() {
  rig_.reset();
  EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "framework objects outlived the test";
  CoUninitialize();
}


}  // namespace cameratest
