#include "mfcam/media_stream_win.h"

#include <mfapi.h>
#include <mferror.h>

#include <new>

#include "mfcam/media_source_win.h"

namespace mfcam {

HRESULT MediaStream::create(MediaSource* source, MediaStream** stream) {
  if (!source || !stream) return E_POINTER;
  *stream = nullptr;
  // Raw until handed out: MinGW-w64's ComPtr::Attach takes a reference of its own.
  MediaStream* made = new (std::nothrow) MediaStream;
  if (!made) return E_OUTOFMEMORY;
  HRESULT hr = MFCreateEventQueue(&made->events_);
  if (FAILED(hr)) {
    made->Release();
    return hr;
  }
  made->source_ = source;
  *stream = made;
  return S_OK;
}

Microsoft::WRL::ComPtr<MediaSource> MediaStream::source() {
  std::lock_guard<std::mutex> hold(lock_);
  return source_;
}

HRESULT STDMETHODCALLTYPE MediaStream::GetMediaSource(IMFMediaSource** result) {
  if (!result) return E_POINTER;
  *result = nullptr;
  Microsoft::WRL::ComPtr<MediaSource> owner = source();
  if (!owner) return MF_E_SHUTDOWN;
  *result = static_cast<IMFMediaSourceEx*>(owner.Detach());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaStream::GetStreamDescriptor(IMFStreamDescriptor** descriptor) {
  if (!descriptor) return E_POINTER;
  *descriptor = nullptr;
  Microsoft::WRL::ComPtr<MediaSource> owner = source();
  return owner ? owner->streamDescriptor(descriptor) : MF_E_SHUTDOWN;
}

HRESULT STDMETHODCALLTYPE MediaStream::RequestSample(IUnknown* token) {
  Microsoft::WRL::ComPtr<MediaSource> owner = source();
  return owner ? owner->requestSample(token) : MF_E_SHUTDOWN;
}

HRESULT STDMETHODCALLTYPE MediaStream::SetStreamState(MF_STREAM_STATE state) {
  Microsoft::WRL::ComPtr<MediaSource> owner = source();
  return owner ? owner->setStreamState(state) : MF_E_SHUTDOWN;
}

HRESULT STDMETHODCALLTYPE MediaStream::GetStreamState(MF_STREAM_STATE* state) {
  if (!state) return E_POINTER;
  Microsoft::WRL::ComPtr<MediaSource> owner = source();
  return owner ? owner->streamState(state) : MF_E_SHUTDOWN;
}

HRESULT MediaStream::queueEvent(MediaEventType type, HRESULT status, const PROPVARIANT* value) {
  return events_->QueueEventParamVar(type, GUID_NULL, status, value);
}

HRESULT MediaStream::queueUnknown(MediaEventType type, IUnknown* value) {
  return events_->QueueEventParamUnk(type, GUID_NULL, S_OK, value);
}

void MediaStream::shutdown() {
  events_->Shutdown();
  Microsoft::WRL::ComPtr<MediaSource> owner;
  {
    std::lock_guard<std::mutex> hold(lock_);
    owner.Swap(source_);
  }
  // `owner` is released here; the caller still holds the source.
}

}  // namespace mfcam
