#include "tools/camera_viewer/capture_sink_win.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace cameraviewer {

namespace {

// An out-parameter: E_POINTER when missing.
template <class T>
HRESULT put(T* out, const T& value) {
  if (!out) return E_POINTER;
  *out = value;
  return S_OK;
}

// Drops one of `refs`, deleting `object` with the last one.
template <class T>
ULONG release(LONG& refs, T* object) {
  LONG n = InterlockedDecrement(&refs);
  if (n == 0) delete object;
  return ULONG(n);
}

void freeFormat(AM_MEDIA_TYPE& type) {
  if (type.pbFormat) CoTaskMemFree(type.pbFormat);
  if (type.pUnk) type.pUnk->Release();
  type = AM_MEDIA_TYPE{};
}

// A deep copy: the format block in task memory, the extra interface referenced.
HRESULT copyMediaType(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE& from) {
  *to = from;
  to->pbFormat = nullptr;
  to->cbFormat = 0;
  if (from.cbFormat && from.pbFormat) {
    to->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
    if (!to->pbFormat) {
      to->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(to->pbFormat, from.pbFormat, from.cbFormat);
    to->cbFormat = from.cbFormat;
  }
  if (to->pUnk) to->pUnk->AddRef();
  return S_OK;
}

class SinkImpl;

// Walks a list the sink owns (its one pin, or its preferred types), holding the sink alive.
template <class Enum, class Item>
class SinkEnum final : public Enum {
 public:
  SinkEnum(SinkImpl* sink, ULONG position);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(Enum)) return E_NOINTERFACE;
    *ppv = static_cast<Enum*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override { return release(refs_, this); }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item** items, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Enum** clone) override {
    if (!clone) return E_POINTER;
    *clone = new (std::nothrow) SinkEnum(sink_, position_);
    return *clone ? S_OK : E_OUTOFMEMORY;
  }

 private:
  template <class T>
  friend ULONG release(LONG& refs, T* object);
  ~SinkEnum();
  LONG refs_ = 1;
  SinkImpl* sink_;
  ULONG position_;
};

// The filter and its pin are one COM object: the sink has exactly one pin.
class SinkImpl final : public CaptureSink, public IBaseFilter, public IPin, public IMemInputPin {
 public:
  IBaseFilter* filter() override { return this; }
  IPin* pin() override { return this; }

  // The enumerators' lists.
  ULONG itemCount(IPin*) const { return 1; }
  IPin* item(IPin*, ULONG) {
    AddRef();
    return this;
  }
  ULONG itemCount(AM_MEDIA_TYPE*) const { return ULONG(preferred.size()); }
  AM_MEDIA_TYPE* item(AM_MEDIA_TYPE*, ULONG index) {
    auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (copy && FAILED(copyMediaType(copy, *preferred[index]))) {
      CoTaskMemFree(copy);
      copy = nullptr;
    }
    return copy;
  }

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
  ULONG STDMETHODCALLTYPE Release() override { return release(refs_, this); }

  // IBaseFilter
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override { return put(clsid, CLSID_NULL); }
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
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override { return put(state, state_.load()); }
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
    return put(clock, static_cast<IReferenceClock*>(nullptr));
  }
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override {
    if (!pins) return E_POINTER;
    *pins = new (std::nothrow) SinkEnum<IEnumPins, IPin>(this, 0);
    return *pins ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    if (!id || std::wcscmp(id, L"In") != 0) return VFW_E_NOT_FOUND;
    *pin = item(static_cast<IPin*>(nullptr), 0);
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
    HRESULT hr = accept ? accept(type) : S_OK;
    if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    hr = copyMediaType(&type_, *type);
    if (FAILED(hr)) return hr;
    peer_ = connector;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Disconnect() override {
    if (!peer_) return S_FALSE;
    peer_.Reset();
    notified_.Reset();
    freeFormat(type_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = peer_.Get();
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
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override { return put(direction, PINDIR_INPUT); }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(3 * sizeof(wchar_t)));
    if (!*id) return E_OUTOFMEMORY;
    std::wcscpy(*id, L"In");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    return !accept || accept(type) == S_OK ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override {
    if (!types) return E_POINTER;
    *types = new (std::nothrow) SinkEnum<IEnumMediaTypes, AM_MEDIA_TYPE>(this, 0);
    return *types ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override {
    ++endOfStreams_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override {
    if (!allocator) return E_POINTER;
    *allocator = ownAllocator.Get();
    if (!*allocator) return VFW_E_NO_ALLOCATOR;
    (*allocator)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL) override {
    ++notifyAllocatorCalls_;
    notified_ = allocator;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override {
    HRESULT hr = put(props, requirements);
    return FAILED(hr) ? hr : requirementsResult;
  }
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
    if (!sample) return E_POINTER;
    if (renderer) {
      // Paused: hold the sample until the graph runs. Running: release it at its stream time,
      // so the source runs at its frame rate.
      while (state_ == State_Paused) Sleep(2);
      if (state_ != State_Running) return VFW_E_WRONG_STATE;
      REFERENCE_TIME start = 0, stop = 0;
      if (SUCCEEDED(sample->GetTime(&start, &stop)) && start > 0) {
        ULONGLONG due = runStartMs_ + ULONGLONG(start / 10'000);
        while (state_ == State_Running && GetTickCount64() < due) Sleep(1);
        if (state_ != State_Running) return VFW_E_WRONG_STATE;
      }
    }
    record(sample);
    return receiveResult;
  }
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* done) override {
    if (!samples || !done) return E_POINTER;
    HRESULT hr = S_OK;
    for (*done = 0; *done < count && hr == S_OK; ++*done) hr = Receive(samples[*done]);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return renderer || holdSamples ? S_OK : S_FALSE; }

 private:
  template <class T>
  friend ULONG release(LONG& refs, T* object);
  ~SinkImpl() override {
    Disconnect();
    freeFormat(type_);
  }

  LONG refs_ = 1;
  std::atomic<FILTER_STATE> state_{State_Stopped};
  std::atomic<ULONGLONG> runStartMs_{0};
  IFilterGraph* graph_ = nullptr;
  Microsoft::WRL::ComPtr<IPin> peer_;
  AM_MEDIA_TYPE type_ = {};
};

template <class Enum, class Item>
SinkEnum<Enum, Item>::SinkEnum(SinkImpl* sink, ULONG position) : sink_(sink), position_(position) {
  sink_->AddRef();
}

template <class Enum, class Item>
SinkEnum<Enum, Item>::~SinkEnum() {
  sink_->Release();
}

template <class Enum, class Item>
HRESULT STDMETHODCALLTYPE SinkEnum<Enum, Item>::Next(ULONG count, Item** items, ULONG* fetched) {
  if (!items) return E_POINTER;
  if (count > 1 && !fetched) return E_INVALIDARG;
  ULONG n = 0;
  while (n < count && position_ < sink_->itemCount(static_cast<Item*>(nullptr))) {
    Item* item = sink_->item(static_cast<Item*>(nullptr), position_);
    if (!item) break;
    items[n++] = item;
    position_++;
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

template <class Enum, class Item>
HRESULT STDMETHODCALLTYPE SinkEnum<Enum, Item>::Skip(ULONG count) {
  ULONG size = sink_->itemCount(static_cast<Item*>(nullptr));
  ULONG left = size > position_ ? size - position_ : 0;
  if (count > left) {
    position_ = size;
    return S_FALSE;
  }
  position_ += count;
  return S_OK;
}

}  // namespace

CaptureSink* CaptureSink::create() { return new SinkImpl(); }

CaptureSink::~CaptureSink() { releaseHeld(); }

void CaptureSink::record(IMediaSample* sample) {
  SampleRecord r;
  sample->GetTime(&r.start, &r.stop);
  r.sync = sample->IsSyncPoint() == S_OK;
  BYTE* data = nullptr;
  long length = SUCCEEDED(sample->GetPointer(&data)) && data ? sample->GetActualDataLength() : 0;
  if (onSample && length > 0) onSample(data, std::size_t(length));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (samples_.size() < keep_ && length > 0) r.bytes.assign(data, data + length);
    if (samples_.size() < recordLimit) samples_.push_back(std::move(r));
    if (holdSamples) {
      sample->AddRef();
      held_.push_back(sample);
    }
  }
  ++received_;
}

void CaptureSink::reset(std::size_t keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  samples_.clear();
  keep_ = keep;
}

std::vector<SampleRecord> CaptureSink::samples() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return samples_;
}

void CaptureSink::releaseHeld() {
  std::vector<IMediaSample*> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held.swap(held_);
  }
  for (IMediaSample* sample : held) sample->Release();
}

bool CaptureSink::waitForSamples(int count, DWORD timeoutMs) const {
  ULONGLONG start = GetTickCount64();
  while (received() < count) {
    if (GetTickCount64() - start > timeoutMs) return false;
    Sleep(2);
  }
  return true;
}

std::function<HRESULT(const AM_MEDIA_TYPE*)> acceptOnly(const GUID& subtype, std::uint32_t width,
                                                        std::uint32_t height) {
  return [subtype, width, height](const AM_MEDIA_TYPE* type) -> HRESULT {
    // The format block is checked before it is read.
    if (type->majortype != MEDIATYPE_Video || type->subtype != subtype || type->formattype != FORMAT_VideoInfo ||
        !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER)) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const BITMAPINFOHEADER& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader;
    LONG h = bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight;
    return bmi.biWidth == LONG(width) && h == LONG(height) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  };
}

}  // namespace cameraviewer
