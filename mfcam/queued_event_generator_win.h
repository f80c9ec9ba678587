// IMFMediaEventGenerator for the source and its stream: each has an event queue of its own
// (MFCreateEventQueue), which is thread-safe and answers MF_E_SHUTDOWN once shut down.
#pragma once

#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <wrl/client.h>

namespace mfcam {

template <class Interface>
class QueuedEventGenerator : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE GetEvent(DWORD flags, IMFMediaEvent** event) override {
    return events_->GetEvent(flags, event);
  }
  HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override {
    return events_->BeginGetEvent(callback, state);
  }
  HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
    return events_->EndGetEvent(result, event);
  }
  HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                                       const PROPVARIANT* value) override {
    return events_->QueueEventParamVar(type, extended, status, value);
  }

 protected:
  // Made before the object is handed out; kept, shut down, until it is deleted.
  Microsoft::WRL::ComPtr<IMFMediaEventQueue> events_;
};

}  // namespace mfcam
