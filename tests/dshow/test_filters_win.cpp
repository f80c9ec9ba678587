#include "test_filters_win.h"


namespace dshow::test {

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
                   reinterpret_cast<void**>(inner_.ReleaseAndGetAddressOf()));
}

LimitedAllocator::~LimitedAllocator() = default;

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

}  // namespace dshow::test
