#include "test_filters.h"

#include <cstring>

namespace vcamtest {

// {5B0C2A6E-7D1F-4E5A-9C3B-2F8E6D4A1B07}
const CLSID kTestSourceClsid = {0x5b0c2a6e, 0x7d1f, 0x4e5a, {0x9c, 0x3b, 0x2f, 0x8e, 0x6d, 0x4a, 0x1b, 0x07}};

CMediaType makeVideoType(const GUID& subtype, LONG width, LONG height) {
  CMediaType type(&MEDIATYPE_Video);
  type.SetSubtype(&subtype);
  type.SetFormatType(&FORMAT_VideoInfo);
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = height;
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = 16;
  info->bmiHeader.biSizeImage = static_cast<DWORD>(width * height * 2);
  type.SetSampleSize(info->bmiHeader.biSizeImage);
  return type;
}

// ---------------------------------------------------------------------------------------------
// Source

TestStream::TestStream(HRESULT* result, TestSource* parent, const wchar_t* pinName)
    : CSourceStream(L"test stream", result, parent, pinName) {}

HRESULT TestStream::FillBuffer(IMediaSample* sample) {
  workerThreadId = static_cast<int>(GetCurrentThreadId());
  ++fills;
  if (fill) return fill(sample);
  return S_OK;
}

HRESULT TestStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) {
  seenProperties.push_back(*properties);
  properties->cBuffers = bufferCount;
  properties->cbBuffer = bufferSize;
  if (adjust) adjust(properties);
  ALLOCATOR_PROPERTIES actual = {};
  HRESULT hr = allocator->SetProperties(properties, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < properties->cbBuffer ? E_FAIL : S_OK;
}

HRESULT TestStream::GetMediaType(int position, CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  if (position >= static_cast<int>(types.size())) return VFW_S_NO_MORE_ITEMS;
  return type->Set(types[static_cast<size_t>(position)]);
}

HRESULT TestStream::CheckMediaType(const CMediaType* type) {
  if (check) return check(type);
  for (const CMediaType& ours : types) {
    if (ours == *type) return S_OK;
  }
  return E_FAIL;
}

HRESULT TestStream::OnThreadCreate() {
  ++threadCreates;
  return threadCreateResult;
}

HRESULT TestStream::OnThreadDestroy() {
  ++threadDestroys;
  return S_OK;
}

HRESULT TestStream::BreakConnect() {
  ++breakConnects;
  return CSourceStream::BreakConnect();
}

HRESULT TestStream::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                      DWORD flags) {
  ++waitingForBuffer;
  HRESULT hr = CSourceStream::GetDeliveryBuffer(sample, start, stop, flags);
  --waitingForBuffer;
  return hr;
}

TestSource::TestSource(IUnknown* outer, int pinCount, HRESULT* result)
    : CSource(L"test source", outer, kTestSourceClsid) {
  for (int i = 0; i < pinCount; ++i) {
    wchar_t name[16];
    swprintf(name, 16, L"Out%d", i + 1);
    new TestStream(result, this, name);
  }
}

ComPtr<IBaseFilter> createSource(int pinCount, TestSource** source) {
  HRESULT hr = S_OK;
  auto* created = new TestSource(nullptr, pinCount, &hr);
  if (source) *source = created;
  return ComPtr<IBaseFilter>(created->filter());
}

// ---------------------------------------------------------------------------------------------
// Allocator with a size limit

LimitedAllocator::LimitedAllocator(LONG maxBuffer) : maxBuffer_(maxBuffer) {
  CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                   reinterpret_cast<void**>(inner_.GetAddressOf()));
}

LimitedAllocator::~LimitedAllocator() = default;

HRESULT STDMETHODCALLTYPE LimitedAllocator::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IUnknown || riid == IID_IMemAllocator) {
    *ppv = static_cast<IMemAllocator*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE LimitedAllocator::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG STDMETHODCALLTYPE LimitedAllocator::Release() {
  LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE LimitedAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  ++setPropertiesCalls;
  ALLOCATOR_PROPERTIES limited = *request;
  if (limited.cbBuffer > maxBuffer_) limited.cbBuffer = maxBuffer_;
  return inner_->SetProperties(&limited, actual);
}

HRESULT STDMETHODCALLTYPE LimitedAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
  return inner_->GetProperties(props);
}
HRESULT STDMETHODCALLTYPE LimitedAllocator::Commit() { return inner_->Commit(); }
HRESULT STDMETHODCALLTYPE LimitedAllocator::Decommit() { return inner_->Decommit(); }
HRESULT STDMETHODCALLTYPE LimitedAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                                      REFERENCE_TIME* stop, DWORD flags) {
  return inner_->GetBuffer(sample, start, stop, flags);
}
HRESULT STDMETHODCALLTYPE LimitedAllocator::ReleaseBuffer(IMediaSample* sample) {
  return inner_->ReleaseBuffer(sample);
}

// ---------------------------------------------------------------------------------------------
// Sink

namespace {

// Enumerates copies of a fixed list of types.
class TypeList : public IEnumMediaTypes {
 public:
  TypeList(std::vector<CMediaType> types, size_t position) : types_(std::move(types)), position_(position) {}
  virtual ~TypeList() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes) {
      *ppv = static_cast<IEnumMediaTypes*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG count = InterlockedDecrement(&refCount_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override {
    ULONG got = 0;
    while (got < count && position_ < types_.size()) out[got++] = CreateMediaType(&types_[position_++]);
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    position_ += count;
    return position_ <= types_.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override {
    *clone = new TypeList(types_, position_);
    return S_OK;
  }

 private:
  LONG refCount_ = 1;
  std::vector<CMediaType> types_;
  size_t position_;
};

// Enumerates the sink's one pin.
class OnePin : public IEnumPins {
 public:
  OnePin(IPin* pin, bool done) : pin_(pin), done_(done) {}
  virtual ~OnePin() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IEnumPins) {
      *ppv = static_cast<IEnumPins*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG count = InterlockedDecrement(&refCount_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
    ULONG got = 0;
    if (count > 0 && !done_) {
      pins[got++] = pin_.Get();
      pin_->AddRef();
      done_ = true;
    }
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    if (count == 0) return S_OK;
    bool wasDone = done_;
    done_ = true;
    return (!wasDone && count == 1) ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    done_ = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override {
    *clone = new OnePin(pin_.Get(), done_);
    return S_OK;
  }

 private:
  LONG refCount_ = 1;
  ComPtr<IPin> pin_;
  bool done_;
};

}  // namespace

class TestSink::InputPin : public IPin, public IMemInputPin {
 public:
  explicit InputPin(TestSink* sink) : sink_(sink) {}
  virtual ~InputPin() { Disconnect(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IPin) {
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
  ULONG STDMETHODCALLTYPE AddRef() override { return sink_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return sink_->Release(); }

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override {
    if (connected_) return VFW_E_ALREADY_CONNECTED;
    sink_->offered.emplace_back(*type);
    HRESULT hr = sink_->accept ? sink_->accept(type) : S_OK;
    if (FAILED(hr)) return hr;
    connected_ = connector;
    type_ = *type;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Disconnect() override {
    if (!connected_) return S_FALSE;
    connected_.Reset();
    sink_->notified.Reset();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
    *pin = connected_.Get();
    if (!connected_) return VFW_E_NOT_CONNECTED;
    connected_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override {
    if (!connected_) return VFW_E_NOT_CONNECTED;
    return CopyMediaType(type, &type_);
  }
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override {
    info->pFilter = sink_;
    sink_->AddRef();
    wcscpy(info->achName, L"In");
    info->dir = PINDIR_INPUT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override {
    *direction = PINDIR_INPUT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(3 * sizeof(WCHAR)));
    wcscpy(*id, L"In");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override {
    *types = new TypeList(sink_->preferred, 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override {
    ++sink_->endOfStreams;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override {
    *allocator = sink_->ownAllocator.Get();
    if (!*allocator) return VFW_E_NO_ALLOCATOR;
    (*allocator)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL) override {
    ++sink_->notifyAllocatorCalls;
    sink_->notified = allocator;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override {
    *props = sink_->requirements;
    return sink_->requirementsResult;
  }
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
    REFERENCE_TIME start = -1, stop = -1;
    sample->GetTime(&start, &stop);
    {
      std::lock_guard<std::mutex> lock(sink_->mutex_);
      sink_->starts_.push_back(start);
      if (sink_->holdSamples) {
        sample->AddRef();
        sink_->held_.push_back(sample);
      }
    }
    ++sink_->received;
    return sink_->receiveResult;
  }
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* done) override {
    *done = 0;
    for (long i = 0; i < count; ++i, ++*done) {
      HRESULT hr = Receive(samples[i]);
      if (hr != S_OK) return hr;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

 private:
  TestSink* sink_;
  ComPtr<IPin> connected_;
  CMediaType type_;
};

TestSink::TestSink() : pin_(new InputPin(this)) {}

TestSink::~TestSink() {
  releaseHeld();
  delete pin_;
}

IPin* TestSink::pin() { return static_cast<IPin*>(pin_); }

void TestSink::releaseHeld() {
  std::vector<IMediaSample*> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held.swap(held_);
  }
  for (IMediaSample* sample : held) sample->Release();
}

std::vector<REFERENCE_TIME> TestSink::sampleStarts() {
  std::lock_guard<std::mutex> lock(mutex_);
  return starts_;
}

HRESULT STDMETHODCALLTYPE TestSink::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
    *ppv = static_cast<IBaseFilter*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TestSink::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG STDMETHODCALLTYPE TestSink::Release() {
  LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE TestSink::GetClassID(CLSID* clsid) {
  *clsid = CLSID_NULL;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::Stop() {
  state_ = State_Stopped;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::Pause() {
  state_ = State_Paused;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::Run(REFERENCE_TIME) {
  state_ = State_Running;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::GetState(DWORD, FILTER_STATE* state) {
  *state = state_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::SetSyncSource(IReferenceClock* clock) {
  clock_ = clock;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::GetSyncSource(IReferenceClock** clock) {
  *clock = clock_.Get();
  if (*clock) (*clock)->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::EnumPins(IEnumPins** pins) {
  *pins = new OnePin(pin(), false);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::FindPin(LPCWSTR id, IPin** found) {
  *found = nullptr;
  if (wcscmp(id, L"In") != 0) return VFW_E_NOT_FOUND;
  *found = pin();
  AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::QueryFilterInfo(FILTER_INFO* info) {
  wcscpy(info->achName, L"Sink");
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::JoinFilterGraph(IFilterGraph* graph, LPCWSTR) {
  graph_ = graph;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

}  // namespace vcamtest
