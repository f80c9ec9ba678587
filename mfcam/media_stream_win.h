// The media source's one video stream. Its state lives in the source; the stream holds its own
// event queue and a reference to the source until the source shuts down.
#pragma once

#include <windows.h>

#include <mfidl.h>
#include <wrl/client.h>

#include <mutex>

#include "common/com_object_win.h"
#include "mfcam/mf_declarations_win.h"
#include "mfcam/module_lock.h"
#include "mfcam/queued_event_generator_win.h"

namespace mfcam {

class MediaSource;

class MediaStream final
    : public comobject::SingleInterfaceObject<QueuedEventGenerator<IMFMediaStream2>, kIidMediaStream2,
                                              IID_IMFMediaStream, IID_IMFMediaEventGenerator> {
 public:
  static HRESULT create(MediaSource* source, MediaStream** stream);

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
  ~MediaStream() override = default;
  Microsoft::WRL::ComPtr<MediaSource> source();

  ModuleReference module_;
  std::mutex lock_;  // guards source_ only; taken after the source's lock, never before it
  Microsoft::WRL::ComPtr<MediaSource> source_;
};

}  // namespace mfcam
