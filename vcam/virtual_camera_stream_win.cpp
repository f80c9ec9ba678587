#include "vcam/virtual_camera_stream_win.h"

#include <cstring>

#include "dshow/source_win.h"
#include "vcam/virtual_camera_formats_win.h"

namespace vcam {

VirtualCameraStream::VirtualCameraStream(HRESULT* result, dshow::CSource* parent, const wchar_t* pinName)
    : dshow::CSourceStream(L"Capture", result, parent, pinName),
      frameDuration_(kCameraDefaultFrameInterval),
      width_(std::uint32_t(kCameraFormats[0].width)),
      height_(std::uint32_t(kCameraFormats[0].height)) {}

VirtualCameraStream::~VirtualCameraStream() = default;

HRESULT STDMETHODCALLTYPE VirtualCameraStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IAMStreamConfig) return dshow::GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
  if (riid == IID_IKsPropertySet) return dshow::GetInterface(static_cast<IKsPropertySet*>(this), ppv);
  return dshow::CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT VirtualCameraStream::OnThreadCreate() {
  schedule_.reset(frameDuration_);
  sampleStart_ = 0;
  return S_OK;
}

HRESULT VirtualCameraStream::Run(REFERENCE_TIME start) {
  Microsoft::WRL::ComPtr<IReferenceClock> clock;
  filter_->GetSyncSource(&clock);
  pacer_.run(clock.Get(), start);
  clock.Reset();
  return dshow::CSourceStream::Run(start);
}

void VirtualCameraStream::onFilterPaused() { pacer_.pause(); }

HRESULT VirtualCameraStream::Inactive() {
  HRESULT hr = dshow::CSourceStream::Inactive();
  pacer_.reset();
  return hr;
}

bool VirtualCameraStream::waitForTurn() {
  for (;;) {
    if (CheckRequest(nullptr)) return false;
    REFERENCE_TIME now = 0;
    const REFERENCE_TIME due = schedule_.due();
    // Nothing while paused, not even a first picture: the filter answers that it cannot cue.
    if (pacer_.streamTime(&now) && (now >= due || due - now > camera::FrameSchedule::kRealign)) {
      sampleStart_ = schedule_.take(now);
      return true;
    }
    if (pacer_.wait(due, RequestHandle()) == SamplePacer::Woken::Interrupted) return false;
  }
}

HRESULT VirtualCameraStream::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                               DWORD flags) {
  if (!waitForTurn()) return VFW_E_STATE_CHANGED;
  return dshow::CSourceStream::GetDeliveryBuffer(sample, start, stop, flags);
}

HRESULT VirtualCameraStream::FillBuffer(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  BYTE* data = nullptr;
  long size = sample->GetSize();
  std::size_t count = (SUCCEEDED(sample->GetPointer(&data)) && data && size > 0) ? std::size_t(size) : 0;
  if (count > 0) pictures_.fill(data, count, width_, height_, outputYuy2_);

  REFERENCE_TIME start = sampleStart_;
  REFERENCE_TIME end = start + frameDuration_;
  sample->SetTime(&start, &end);
  sample->SetSyncPoint(TRUE);
  return S_OK;
}

HRESULT VirtualCameraStream::CheckMediaType(const dshow::CMediaType* type) {
  int index = findCameraFormat(type);
  if (index < 0) return E_INVALIDARG;
  dshow::CAutoLock lock(&chosenLock_);
  if (chosenIndex_ >= 0 && (index != chosenIndex_ || cameraFrameInterval(type) != cameraFrameInterval(&chosen_))) {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT VirtualCameraStream::SetMediaType(const dshow::CMediaType* type) {
  if (!type) return E_POINTER;
  if (CheckMediaType(type) != S_OK) return E_INVALIDARG;
  dshow::CMediaType stored;
  HRESULT hr = copyCameraMediaType(*type, &stored);
  if (SUCCEEDED(hr)) hr = dshow::CSourceStream::SetMediaType(&stored);
  if (FAILED(hr)) return hr;
  const CameraFormat& format = kCameraFormats[findCameraFormat(&stored)];
  width_ = std::uint32_t(format.width);
  height_ = std::uint32_t(format.height);
  outputYuy2_ = format.yuy2;
  frameDuration_ = cameraFrameInterval(&stored);
  return S_OK;
}

HRESULT VirtualCameraStream::GetMediaType(int position, dshow::CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  dshow::CAutoLock lock(&chosenLock_);
  const int count = chosenIndex_ >= 0 ? 1 : kCameraFormatCount;
  if (position >= count) return VFW_S_NO_MORE_ITEMS;
  if (!type) return E_POINTER;
  if (chosenIndex_ >= 0) return type->Set(chosen_);
  return makeCameraMediaType(kCameraFormats[position], kCameraDefaultFrameInterval, type);
}

HRESULT VirtualCameraStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) {
  if (!allocator || !properties) return E_POINTER;
  const LONG size = cameraSampleSize({LONG(width_), LONG(height_), outputYuy2_});
  properties->cBuffers = 2;
  properties->cbBuffer = size;
  ALLOCATOR_PROPERTIES actual = {};
  HRESULT hr = allocator->SetProperties(properties, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < size ? E_FAIL : S_OK;
}

bool VirtualCameraStream::choose(int index, const dshow::CMediaType& type) {
  dshow::CAutoLock chosenLock(&chosenLock_);
  chosen_ = type;
  chosenIndex_ = chosen_.IsValid() ? index : -1;
  IncrementTypeVersion();
  return chosenIndex_ == index;
}

HRESULT STDMETHODCALLTYPE VirtualCameraStream::SetFormat(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  const int index = findCameraFormat(type);
  if (index < 0) return VFW_E_INVALIDMEDIATYPE;
  dshow::CMediaType wanted;
  HRESULT hr = copyCameraMediaType(*type, &wanted);
  if (FAILED(hr)) return hr;

  Microsoft::WRL::ComPtr<IPin> peer;
  Microsoft::WRL::ComPtr<IFilterGraph2> graph;
  dshow::CMediaType connected;  // the connection's type, to go back to
  int chosenBefore = -1;
  dshow::CMediaType typeBefore;
  {
    dshow::CAutoLock lock(parent_->pStateLock());
    if (IsConnected()) {
      // The format already flowing needs no reconnection, in any state; it becomes the offer.
      if (findCameraFormat(&mt_) == index && cameraFrameInterval(&mt_) == cameraFrameInterval(&wanted)) {
        return choose(index, wanted) ? S_OK : E_OUTOFMEMORY;
      }
      // The samples downstream holds must not change under it.
      if (!parent_->IsStopped()) return VFW_E_NOT_STOPPED;
      // Downstream judges the new type before the old connection is given up.
      peer = GetConnected();
      if (peer->QueryAccept(&wanted) != S_OK) return VFW_E_INVALIDMEDIATYPE;
      IFilterGraph* member = parent_->Graph();
      if (!member || FAILED(member->QueryInterface(IID_PPV_ARGS(&graph)))) return VFW_E_NOT_IN_GRAPH;
      hr = connected.Set(mt_);
      if (FAILED(hr)) return hr;
    }
    {
      dshow::CAutoLock chosenLock(&chosenLock_);
      chosenBefore = chosenIndex_;
      if (chosenBefore >= 0) hr = typeBefore.Set(chosen_);
    }
    if (FAILED(hr)) return hr;
    // As a hardware camera does: from now on the pin offers this type alone and connects with it.
    if (!choose(index, wanted)) return E_OUTOFMEMORY;
    if (!peer) return S_OK;
  }
  // Outside the filter's lock: the graph takes its own lock before it calls back into the filter.
  hr = graph->ReconnectEx(static_cast<IPin*>(this), &wanted);
  if (SUCCEEDED(hr)) return S_OK;
  // The graph may have taken the connection apart before it failed: put the old one back.
  choose(chosenBefore, typeBefore);
  if (!IsConnected()) graph->ConnectDirect(static_cast<IPin*>(this), peer.Get(), &connected);
  return hr;
}

HRESULT STDMETHODCALLTYPE VirtualCameraStream::GetFormat(AM_MEDIA_TYPE** type) {
  if (!type) return E_POINTER;
  *type = nullptr;
  dshow::CAutoLock lock(parent_->pStateLock());
  dshow::CAutoLock chosenLock(&chosenLock_);
  dshow::CMediaType current;
  HRESULT hr = S_OK;
  if (IsConnected()) {
    hr = current.Set(CurrentMediaType());
  } else if (chosenIndex_ >= 0) {
    hr = current.Set(chosen_);
  } else {
    hr = makeCameraMediaType(kCameraFormats[0], kCameraDefaultFrameInterval, &current);
  }
  if (FAILED(hr)) return hr;
  *type = dshow::CreateMediaType(&current);
  return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE VirtualCameraStream::GetNumberOfCapabilities(int* count, int* size) {
  if (count) *count = kCameraFormatCount;
  if (size) *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualCameraStream::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  if (unsigned(index) >= unsigned(kCameraFormatCount)) return S_FALSE;
  if (!type || !caps) return E_POINTER;
  *type = nullptr;
  const CameraFormat& format = kCameraFormats[index];
  dshow::CMediaType row;
  HRESULT hr = makeCameraMediaType(format, kCameraDefaultFrameInterval, &row);
  if (FAILED(hr)) return hr;
  *type = dshow::CreateMediaType(&row);
  if (!*type) return E_OUTOFMEMORY;
  // The caller's buffer carries no alignment promise.
  VIDEO_STREAM_CONFIG_CAPS filled;
  makeCameraStreamCaps(format, &filled);
  std::memcpy(caps, &filled, sizeof(filled));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualCameraStream::Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE VirtualCameraStream::Get(REFGUID set, DWORD id, void*, DWORD, void* value,
                                                   DWORD valueSize, DWORD* returned) {
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (!value && !returned) return E_POINTER;
  if (returned) *returned = sizeof(GUID);
  if (!value) return S_OK;
  if (valueSize < sizeof(GUID)) return E_UNEXPECTED;
  std::memcpy(value, &PIN_CATEGORY_CAPTURE, sizeof(GUID));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VirtualCameraStream::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

}  // namespace vcam
