#include "vcam/virtual_camera_filter_win.h"

#include <new>

#include "vcam/virtual_camera_stream_win.h"

namespace vcam {

VirtualCameraFilter::VirtualCameraFilter(IUnknown* outer) : dshow::CSource(L"Orvik", outer, kVirtualCameraClsid) {}

VirtualCameraFilter::~VirtualCameraFilter() = default;

HRESULT STDMETHODCALLTYPE VirtualCameraFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IAMFilterMiscFlags) return dshow::GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
  return dshow::CSource::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE VirtualCameraFilter::GetState(DWORD timeoutMs, FILTER_STATE* state) {
  HRESULT hr = dshow::CSource::GetState(timeoutMs, state);
  return hr == S_OK && *state == State_Paused ? VFW_S_CANT_CUE : hr;
}

ULONG STDMETHODCALLTYPE VirtualCameraFilter::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

HRESULT STDMETHODCALLTYPE VirtualCameraFilter::Pause() {
  dshow::CAutoLock lock(pStateLock());
  const bool wasRunning = State() == State_Running;
  HRESULT hr = dshow::CSource::Pause();
  if (SUCCEEDED(hr) && wasRunning) {
    // Only VirtualCameraStream pins are ever added to this filter.
    for (int i = 0; i < pinCount_; ++i) static_cast<VirtualCameraStream*>(streams_[i])->onFilterPaused();
  }
  return hr;
}

dshow::CUnknown* WINAPI VirtualCameraFilter::CreateInstance(IUnknown* outer, HRESULT* result) {
  HRESULT ignored = S_OK;
  if (!result) result = &ignored;
  auto* filter = new (std::nothrow) VirtualCameraFilter(outer);
  if (!filter) {
    *result = E_OUTOFMEMORY;
    return nullptr;
  }
  // The stream adds itself to the filter, which owns it from then on.
  auto* stream = new (std::nothrow) VirtualCameraStream(result, filter, L"Capture");
  if (!stream) {
    // A filter without its pin would look like a camera that never connects.
    *result = E_OUTOFMEMORY;
  } else if (FAILED(*result)) {
    delete stream;  // not in the filter's pin array, so nobody else would delete it
  }
  // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks): the filter owns the stream (above)
  return filter;
}

}  // namespace vcam
