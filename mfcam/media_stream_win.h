// The media source's one video stream. Its state lives in the source; the stream holds its own
// event queue and a reference to the source until the source shuts down.
#pragma once

#include <windows.h>

#include <mfidl.h>
#include <wrl/client.h>

#include <atomic>
#include <mutex>

#include "mfcam/mf_declarations_win.h"
#include "mfcam/module_lock.h"

namespace mfcam {

class MediaSource;

class MediaStream final : public IMFMediaStream2 {
 public:
  static HRESULT create(MediaSource* source, MediaStream** stream);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetEvent(DWORD flags, IMFMediaEvent** event) override;
  HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
  HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
  HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                                       const PROPVARIANT* value) override;

  HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** source) override;
  HRESULT STDMETHODCALLTYPE GetStreamDescriptor(IMFStreamDescriptor** descriptor) override;
  // One sample, queued as MEMediaSample with `token` attached, once it is due.
  HRESULT STDMETHODCALLTYPE RequestSample(IUnknown* token) override;

  // RUNNING or STOPPED; PAUSED is refused as the source refuses Pause.
  HRESULT STDMETHODCALLTYPE SetStreamState(MF_STREAM_STATE state) override;
  HRESULT STDMETHODCALLTYPE GetStreamState(MF_STREAM_STATE* state) override;

  // Source side, under the source's lock.
  HRESULT queueEvent(MediaEventType type, HRESULT status, const PROPVARIANT* value);
  HRESULT queueUnknown(MediaEventType type, IUnknown* value);
  // Ends the event queue and lets go of the source.
  void shutdown();

 private:
  MediaStream() = default;
  ~MediaStream() = default;
  Microsoft::WRL::ComPtr<MediaSource> source();

  ModuleReference module_;
  std::atomic<ULONG> references_{1};
  std::mutex lock_;  // guards source_ only; taken after the source's lock, never before it
  Microsoft::WRL::ComPtr<MediaSource> source_;
  Microsoft::WRL::ComPtr<IMFMediaEventQueue> events_;
};

}  // namespace mfcam
