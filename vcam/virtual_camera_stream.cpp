#include "vcam/virtual_camera_stream.h"

#include <cstring>
#include <new>

#include "ring/frame_ring_format.h"
#include "vcam/frame_convert.h"
#include "vcam/source.h"
#include "vcam/virtual_camera_formats.h"

VirtualCameraStream::VirtualCameraStream(HRESULT* result, CSource* parent, const wchar_t* pinName)
    : CSourceStream(L"Capture", result, parent, pinName),
      frameDuration_(kCameraFrameDuration),
      width_(std::uint32_t(kCameraFormats[0].width)),
      height_(std::uint32_t(kCameraFormats[0].height)) {}

VirtualCameraStream::~VirtualCameraStream() = default;

HRESULT STDMETHODCALLTYPE VirtualCameraStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
  if (riid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
  return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT VirtualCameraStream::OnThreadCreate() {
  nextSampleTime_ = 0;
  lastFrameNumber_ = 0;
  lastPicture_.clear();
  return S_OK;
}

HRESULT VirtualCameraStream::FillBuffer(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  BYTE* data = nullptr;
  long size = sample->GetSize();
  std::size_t count = (SUCCEEDED(sample->GetPointer(&data)) && data && size > 0) ? std::size_t(size) : 0;

  if (!ringOpen_) {
    // The control program may start at any time: look for its ring at every sample.
    if (!reader_) reader_.reset(new (std::nothrow) FrameRingReader);
    ringOpen_ = reader_ && reader_->open(kFrameRingName);
  }

  bool newPicture = false;
  if (ringOpen_) {
    try {
      RingPicture picture = reader_->readLatest(lastFrameNumber_);
      if (picture.valid) {
        lastFrameNumber_ = picture.frameNumber;
        Nv12Picture source = {picture.pixels.get(), picture.size, picture.width, picture.height};
        // A picture too short for its own size is skipped like a torn one.
        if (count > 0 && convertPicture(source, data, count, width_, height_, outputYuy2_, scaler_)) {
          lastPicture_.assign(data, data + count);
          newPicture = true;
        }
      }
    } catch (const std::bad_alloc&) {
      // No memory for the copy: this sample repeats the last picture instead.
      lastPicture_.clear();
    }
  }

  if (!newPicture && count > 0) {
    if (!lastPicture_.empty() && lastPicture_.size() == count) {
      std::memcpy(data, lastPicture_.data(), count);
    } else {
      fillGrey(data, count, outputYuy2_);
    }
  }

  REFERENCE_TIME start = nextSampleTime_;
  REFERENCE_TIME end = start + frameDuration_;
  sample->SetTime(&start, &end);
  sample->SetSyncPoint(TRUE);
  nextSampleTime_ = end;
  return S_OK;
}

HRESULT VirtualCameraStream::CheckMediaType(const CMediaType* type) {
  return findCameraFormat(type) >= 0 ? S_OK : E_INVALIDARG;
}

HRESULT VirtualCameraStream::SetMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  int index = findCameraFormat(type);
  if (index < 0) return E_INVALIDARG;
  HRESULT hr = CSourceStream::SetMediaType(type);
  if (FAILED(hr)) return hr;
  width_ = std::uint32_t(kCameraFormats[index].width);
  height_ = std::uint32_t(kCameraFormats[index].height);
  outputYuy2_ = kCameraFormats[index].yuy2;
  return S_OK;
}

HRESULT VirtualCameraStream::GetMediaType(int position, CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  if (position >= kCameraFormatCount) return VFW_S_NO_MORE_ITEMS;
  if (!type) return E_POINTER;
  return makeCameraMediaType(kCameraFormats[position], frameDuration_, type);
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

HRESULT STDMETHODCALLTYPE VirtualCameraStream::SetFormat(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  CAutoLock lock(parent_->pStateLock());
  CMediaType copy(*type);
  if (CheckMediaType(&copy) != S_OK) return VFW_E_INVALIDMEDIATYPE;
  if (IsConnected()) {
    // The connection's type describes the samples downstream receives; it must not change
    // under them. Asking for the format already flowing is fine.
    const CameraFormat& wanted = kCameraFormats[findCameraFormat(&copy)];
    bool current = std::uint32_t(wanted.width) == width_ && std::uint32_t(wanted.height) == height_ &&
                   wanted.yuy2 == outputYuy2_;
    return current ? S_OK : VFW_E_ALREADY_CONNECTED;
  }
  return CSourceStream::SetMediaType(&copy);
}

HRESULT STDMETHODCALLTYPE VirtualCameraStream::GetFormat(AM_MEDIA_TYPE** type) {
  if (!type) return E_POINTER;
  *type = nullptr;
  CMediaType first;
  HRESULT hr = makeCameraMediaType(kCameraFormats[0], frameDuration_, &first);
  if (FAILED(hr)) return hr;
  *type = CreateMediaType(&first);
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
  CMediaType row;
  HRESULT hr = makeCameraMediaType(format, frameDuration_, &row);
  if (FAILED(hr)) return hr;
  *type = CreateMediaType(&row);
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
