#include "tools/camera_viewer/capture_sink.h"

#include <cstring>
#include <cwchar>

namespace cameraviewer {

namespace {

void freeMediaType(AM_MEDIA_TYPE& type) {
  if (type.cbFormat && type.pbFormat) CoTaskMemFree(type.pbFormat);
  if (type.pUnk) type.pUnk->Release();
  type = AM_MEDIA_TYPE{};
}

HRESULT copyMediaType(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE& from) {
  *to = from;
  to->pbFormat = nullptr;
  to->cbFormat = 0;
  if (from.cbFormat && from.pbFormat) {
    to->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
    if (!to->pbFormat) return E_OUTOFMEMORY;
    std::memcpy(to->pbFormat, from.pbFormat, from.cbFormat);
    to->cbFormat = from.cbFormat;
  }
  if (to->pUnk) to->pUnk->AddRef();
  return S_OK;
}

// Enumerates the sink's one pin; the graph walks pins to order its filters.
class OnePinEnum : public IEnumPins {
 public:
  OnePinEnum(IPin* pin, ULONG position) : pin_(pin), position_(position) { pin_->AddRef(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IEnumPins) return E_NOINTERFACE;
    *ppv = static_cast<IEnumPins*>(this);
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
    if (!pins) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
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
    if (!clone) return E_POINTER;
    *clone = new OnePinEnum(pin_, position_);
    return S_OK;
  }

 private:
  virtual ~OnePinEnum() { pin_->Release(); }
  LONG refs_ = 1;
  IPin* pin_;
  ULONG position_;
};

// The filter and its pin are one COM object: the sink has exactly one pin and no other state.
class SinkImpl : public CaptureSink, public IBaseFilter, public IPin, public IMemInputPin {
 public:
  SinkImpl(const GUID& subtype, std::uint32_t width, std::uint32_t height)
      : subtype_(subtype), width_(width), height_(height) {}

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
    if (!clsid) return E_POINTER;
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
    runStartMs_ = GetTickCount64();
    state_ = State_Running;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
    if (!state) return E_POINTER;
    *state = state_.load();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    *clock = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override {
    if (!pins) return E_POINTER;
    *pins = new OnePinEnum(static_cast<IPin*>(this), 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    if (!id || std::wcscmp(id, L"In") != 0) return VFW_E_NOT_FOUND;
    *pin = static_cast<IPin*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
    if (!info) return E_POINTER;
    std::wcscpy(info->achName, L"Capture sink");
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR) override {
    graph_ = graph;  // the graph owns us, not the other way round
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override {
    if (!connector || !type) return E_POINTER;
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (QueryAccept(type) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = copyMediaType(&type_, *type);
    if (FAILED(hr)) return hr;
    peer_ = connector;
    peer_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Disconnect() override {
    if (!peer_) return S_FALSE;
    peer_->Release();
    peer_ = nullptr;
    if (allocator_) allocator_->Release();
    allocator_ = nullptr;
    freeMediaType(type_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = peer_;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    if (!peer_) {
      *type = AM_MEDIA_TYPE{};
      return VFW_E_NOT_CONNECTED;
    }
    return copyMediaType(type, type_);
  }
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override {
    if (!info) return E_POINTER;
    info->pFilter = this;
    AddRef();
    std::wcscpy(info->achName, L"In");
    info->dir = PINDIR_INPUT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override {
    if (!direction) return E_POINTER;
    *direction = PINDIR_INPUT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(3 * sizeof(wchar_t)));
    if (!*id) return E_OUTOFMEMORY;
    std::wcscpy(*id, L"In");
    return S_OK;
  }
  // Exactly the one format asked for; the format block is checked before it is read.
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override {
    if (!type || type->majortype != MEDIATYPE_Video || type->subtype != subtype_ ||
        type->formattype != FORMAT_VideoInfo || !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER)) {
      return S_FALSE;
    }
    const BITMAPINFOHEADER& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader;
    LONG height = bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight;
    return bmi.biWidth == LONG(width_) && height == LONG(height_) ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // IMemInputPin: no allocator of our own, so the source brings the runtime's.
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override {
    if (!allocator) return E_POINTER;
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
    if (!sample) return E_POINTER;
    // Paused: hold the sample until the graph runs, as a renderer does.
    while (state_ == State_Paused) Sleep(2);
    if (state_ != State_Running) return VFW_E_WRONG_STATE;
    // Running: release the sample at its stream time, so the source runs at its frame rate.
    REFERENCE_TIME start = 0, stop = 0;
    if (SUCCEEDED(sample->GetTime(&start, &stop)) && start > 0) {
      ULONGLONG due = runStartMs_ + ULONGLONG(start / 10'000);
      while (state_ == State_Running && GetTickCount64() < due) Sleep(1);
      if (state_ != State_Running) return VFW_E_WRONG_STATE;
    }
    BYTE* data = nullptr;
    if (SUCCEEDED(sample->GetPointer(&data)) && data) {
      long length = sample->GetActualDataLength();
      if (onSample && length > 0) onSample(data, std::size_t(length));
    }
    ++received_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* done) override {
    if (!samples || !done) return E_POINTER;
    HRESULT hr = S_OK;
    for (*done = 0; *done < count && hr == S_OK; ++*done) hr = Receive(samples[*done]);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

 private:
  ~SinkImpl() override { Disconnect(); }

  LONG refs_ = 1;
  const GUID subtype_;
  const std::uint32_t width_, height_;
  std::atomic<FILTER_STATE> state_{State_Stopped};
  std::atomic<ULONGLONG> runStartMs_{0};
  IFilterGraph* graph_ = nullptr;
  IPin* peer_ = nullptr;
  IMemAllocator* allocator_ = nullptr;
  AM_MEDIA_TYPE type_ = {};
};

}  // namespace

CaptureSink* createCaptureSink(const GUID& subtype, std::uint32_t width, std::uint32_t height) {
  return new SinkImpl(subtype, width, height);
}
IBaseFilter* sinkFilter(CaptureSink* sink) { return static_cast<SinkImpl*>(sink); }
IPin* sinkPin(CaptureSink* sink) { return static_cast<SinkImpl*>(sink); }

}  // namespace cameraviewer
