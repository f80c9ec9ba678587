// Filters for exercising the source framework inside real DirectShow graphs: a source built on
// CSource/CSourceStream whose hooks the tests steer, and an allocator with a size limit. All
// knobs are set before the graph runs.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <vector>

#include "dshow/dshow_common_win.h"
#include "dshow/media_type_win.h"
#include "dshow/single_interface_object_win.h"
#include "dshow/source_win.h"
#include "dshow/source_stream_win.h"

namespace dshow::test {

using Microsoft::WRL::ComPtr;

extern const CLSID kTestSourceClsid;

// Video type with a VIDEOINFOHEADER of the given size; subtype GUID_NULL leaves it unset.
CMediaType makeVideoType(const GUID& subtype, LONG width, LONG height);

class TestSource;

class TestStream : public CSourceStream {
 public:
  TestStream(HRESULT* result, TestSource* parent, const wchar_t* pinName);

  // What the stream offers (GetMediaType by position) and accepts (default: one of those).
  std::vector<CMediaType> types;
  std::function<HRESULT(const CMediaType*)> check;
  // Sample production; default delivers every sample with S_OK.
  std::function<HRESULT(IMediaSample*)> fill;
  HRESULT threadCreateResult = S_OK;
  // Buffer wishes; `adjust` may change the properties before they are set on the allocator.
  LONG bufferSize = 4096;
  LONG bufferCount = 2;
  std::function<void(ALLOCATOR_PROPERTIES*)> adjust;
  std::vector<ALLOCATOR_PROPERTIES> seenProperties;  // as each DecideBufferSize found them

  std::atomic<int> fills{0};
  std::atomic<int> threadCreates{0};
  std::atomic<int> threadDestroys{0};
  std::atomic<int> breakConnects{0};
  std::atomic<int> waitingForBuffer{0};
  std::atomic<int> workerThreadId{0};

  HRESULT FillBuffer(IMediaSample* sample) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
  using CSourceStream::GetMediaType;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT OnThreadCreate() override;
  HRESULT OnThreadDestroy() override;
  HRESULT BreakConnect() override;
  HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags) override;
};

class TestSource : public CSource {
 public:
  // `pinCount` streams named "Out1", "Out2", ...; `outer` aggregates the filter.
  TestSource(IUnknown* outer, int pinCount, HRESULT* result);
  TestStream* stream(int index) { return static_cast<TestStream*>(GetPin(index)); }
  IPin* pin(int index) { return static_cast<IPin*>(stream(index)); }
  IBaseFilter* filter() { return static_cast<IBaseFilter*>(this); }
};

// A new standalone source with one reference held by the caller.
ComPtr<IBaseFilter> createSource(int pinCount, TestSource** source);

// An allocator that wraps the runtime's memory allocator but grants at most `maxBuffer`
// bytes per buffer, like a downstream allocator with fixed buffers.
class LimitedAllocator : public SingleInterfaceObject<IMemAllocator, IID_IMemAllocator> {
 public:
  explicit LimitedAllocator(LONG maxBuffer);
  ~LimitedAllocator() override;

  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override;
  HRESULT STDMETHODCALLTYPE Commit() override;
  HRESULT STDMETHODCALLTYPE Decommit() override;
  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                      DWORD flags) override;
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override;

  std::atomic<int> setPropertiesCalls{0};

 private:
  LONG maxBuffer_;
  ComPtr<IMemAllocator> inner_;
};

}  // namespace dshow::test
