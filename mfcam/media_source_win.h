// The Media Foundation camera: a live media source with one video stream, for the Windows 11
// Frame Server (MFCreateVirtualCamera) and for any process that reads it directly. Pictures come
// from the frame ring through the same picture source as the DirectShow camera's, in the same
// eight formats (offered at 30 and at 15 frames a second; 15 to 60 taken from a type set on the
// stream descriptor's handler), one sample per RequestSample, no earlier than its place on a grid of frame
// intervals that starts at Start, time stamped with MFGetSystemTime. Free-threaded: every
// entry point takes the source's lock, and nothing waits while holding it.
#pragma once

#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
// MinGW-w64 declares the user-mode IKsControl here (its ks.h only for drivers).
#include <devicetopology.h>
#include <wrl/client.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "camera/picture_source.h"
#include "ring/global_ring_host.h"
#include "mfcam/mf_declarations_win.h"
#include "mfcam/module_lock.h"
#include "mfcam/queued_event_generator_win.h"
#include "camera/frame_schedule.h"

namespace mfcam {

class MediaStream;

// The ring the source reads. The one place its name is chosen.
std::string sourceRingName();

class MediaSource final : public QueuedEventGenerator<IMFMediaSourceEx>, public IMFGetService, public IKsControl {
 public:
  // A new source, stopped, with its presentation descriptor built.
  static HRESULT create(const std::string& ringName, MediaSource** source);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IMFMediaSource. Start takes the stream's format and rate from the current media type of
  // its descriptor's handler; Pause is refused (a camera has no paused picture).
  HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* characteristics) override;
  HRESULT STDMETHODCALLTYPE CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override;
  HRESULT STDMETHODCALLTYPE Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                                  const PROPVARIANT* startPosition) override;
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Shutdown() override;

  // IMFMediaSourceEx
  HRESULT STDMETHODCALLTYPE GetSourceAttributes(IMFAttributes** attributes) override;
  HRESULT STDMETHODCALLTYPE GetStreamAttributes(DWORD streamId, IMFAttributes** attributes) override;
  HRESULT STDMETHODCALLTYPE SetD3DManager(IUnknown* manager) override;

  // IMFGetService: no services.
  HRESULT STDMETHODCALLTYPE GetService(REFGUID service, REFIID riid, void** ppv) override;

  // IKsControl: no property, method or event sets.
  HRESULT STDMETHODCALLTYPE KsProperty(PKSPROPERTY property, ULONG propertyLength, void* data, ULONG dataLength,
                                       ULONG* returned) override;
  HRESULT STDMETHODCALLTYPE KsMethod(PKSMETHOD method, ULONG methodLength, void* data, ULONG dataLength,
                                     ULONG* returned) override;
  HRESULT STDMETHODCALLTYPE KsEvent(PKSEVENT event, ULONG eventLength, void* data, ULONG dataLength,
                                    ULONG* returned) override;

  // For the stream.
  HRESULT requestSample(IUnknown* token);
  HRESULT setStreamState(MF_STREAM_STATE state);
  HRESULT streamState(MF_STREAM_STATE* state);
  HRESULT streamDescriptor(IMFStreamDescriptor** descriptor);

  static constexpr DWORD kStreamId = 0;

 private:
  explicit MediaSource(const std::string& ringName);
  ~MediaSource();
  HRESULT initialize();
  // Format and interval from the handler's current type; false when it is not ours.
  bool readCurrentType(int* format, std::int64_t* interval);
  // Begins a run of the stream in the current type's format and rate at `origin`.
  void beginStream(int format, std::int64_t interval, std::int64_t origin);
  // A running stream follows a type set on its handler since: the source reader and the Frame
  // Server may change it without restarting the source.
  void followCurrentType();
  HRESULT startStream(std::int64_t startTime);
  void stopStream();
  HRESULT makeSample(IMFSample** sample);
  // One picture into a sample's bytes: the hosted ring's, else the session ring's, else grey.
  void fillPicture(std::uint8_t* data, std::size_t count, std::uint32_t width, std::uint32_t height, bool yuy2);

  ModuleReference module_;
  std::atomic<ULONG> references_{1};
  std::mutex lock_;
  std::condition_variable wake_;  // a state change ends a wait for a sample's due time
  enum class State { Stopped, Started, Shutdown } state_ = State::Stopped;
  bool streamRunning_ = false;
  std::uint64_t run_ = 0;  // counts starts and stops, so a waiting request sees either

  Microsoft::WRL::ComPtr<IMFAttributes> sourceAttributes_;
  Microsoft::WRL::ComPtr<IMFAttributes> streamAttributes_;
  Microsoft::WRL::ComPtr<IMFPresentationDescriptor> presentation_;
  Microsoft::WRL::ComPtr<IMFStreamDescriptor> streamDescriptor_;
  Microsoft::WRL::ComPtr<MediaStream> stream_;
  Microsoft::WRL::ComPtr<IUnknown> d3dManager_;

  // The running stream's format, grid and time origin (MFGetSystemTime at Start).
  int format_ = 0;
  Microsoft::WRL::ComPtr<IMFMediaType> runType_;  // the current type the run follows, held so its address stays its own
  camera::FrameSchedule schedule_;
  std::int64_t origin_ = 0;
  // Pictures come from the ring this source hosts in the global namespace, which the control
  // program in the user's session mirrors into (ring/cross_session.md); while that ring has none,
  // or when it could not be made, from the session's own ring, which is there when the source
  // runs in the user's session rather than in the Frame Server.
  ring::GlobalRingHost host_;
  bool hosting_ = false;  // set once in initialize
  camera::PictureSource hostedPictures_;
  camera::PictureSource pictures_;
};

}  // namespace mfcam
