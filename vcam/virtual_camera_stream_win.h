// The camera's output pin "Capture". Its worker delivers one sample per frame interval of real
// time, paced by the graph's reference clock or, without one, by the steady clock, and stamps it
// with its stream time. Each sample carries the newest picture in the frame ring: converted when
// the picture has the negotiated size, letterboxed when it does not, the last picture again when
// nothing new has arrived, and mid-grey before the first one and after 2 s without a new one.
// The ring is looked for at every sample until it exists. Capture applications choose a format
// and frame rate through IAMStreamConfig, as with hardware cameras: a format once set is the only
// one the pin then offers, and setting one on a stopped, connected pin reconnects it.
// IKsPropertySet reports a capture pin.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "camera/picture_source.h"
#include "dshow/source_stream_win.h"
#include "camera/frame_schedule.h"
#include "vcam/sample_pacer_win.h"

namespace vcam {

class VirtualCameraStream : public dshow::CSourceStream, public IAMStreamConfig, public IKsPropertySet {
 public:
  VirtualCameraStream(HRESULT* result, dshow::CSource* parent, const wchar_t* pinName);
  ~VirtualCameraStream() override;

  BRINDLE_DECLARE_IUNKNOWN

  // IAMStreamConfig and IKsPropertySet, then the pin's own interfaces.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Worker side: one picture per sample, always S_OK; resets the per-run state.
  HRESULT FillBuffer(IMediaSample* sample) override;
  HRESULT OnThreadCreate() override;
  // Waits for the next sample's due time first; VFW_E_STATE_CHANGED, with no buffer, when a
  // command for the worker cut the wait short.
  HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                            DWORD flags) override;

  // Pin side. E_INVALIDARG for anything but the formats at an allowed frame interval (also for a
  // type whose format block is missing or short, which is not read), and, once a format was
  // set while unconnected, for any other format or interval.
  HRESULT CheckMediaType(const dshow::CMediaType* type) override;
  // Stores the connection's type, its frame interval written out, and takes the output size,
  // format and interval from it; refuses, without storing it, what CheckMediaType refuses.
  HRESULT SetMediaType(const dshow::CMediaType* type) override;
  using dshow::CSourceStream::GetMediaType;
  // The four rows at the default interval, or only the format that was set.
  HRESULT GetMediaType(int position, dshow::CMediaType* type) override;
  // Two buffers of one sample each; E_FAIL when the allocator grants less.
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
  // The filter runs, and the stream times of this run begin.
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT Inactive() override;
  // The filter paused while running: no samples until it runs again.
  void onFilterPaused();

  // IAMStreamConfig. SetFormat on a connected pin reconnects it through the graph
  // (IFilterGraph2::ReconnectEx) while the filter is stopped: VFW_E_NOT_STOPPED otherwise,
  // VFW_E_INVALIDMEDIATYPE, with the old connection kept, when downstream refuses the type.
  HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override;
  HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

  // IKsPropertySet: only the pin category can be read.
  HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* value,
                                DWORD valueSize) override;
  HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* value,
                                DWORD valueSize, DWORD* returned) override;
  HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  // A picture repeats for this long without a new one; then the samples are grey again.
  static constexpr std::chrono::seconds kNoSignalAfter = camera::PictureSource::kNoSignalAfter;

 private:
  // From now on the pin offers `type` alone (index -1: the whole table again); false when the
  // copy could not be made, which leaves the whole table.
  bool choose(int index, const dshow::CMediaType& type);
  // True when the next sample is due; false when a command for the worker is pending.
  bool waitForTurn();

  // Format: written only while connecting, when no worker runs.
  std::int64_t frameDuration_;
  std::uint32_t width_;
  std::uint32_t height_;
  bool outputYuy2_ = true;
  // What SetFormat chose; -1: nothing. Under a lock of its own, since a downstream filter may
  // ask what the pin accepts from the worker thread, which must never wait for the filter's lock.
  dshow::CCritSec chosenLock_;
  int chosenIndex_ = -1;
  dshow::CMediaType chosen_;

  // Worker side.
  SamplePacer pacer_;
  camera::FrameSchedule schedule_;
  REFERENCE_TIME sampleStart_ = 0;
  // The sample's picture; its memory of the last picture is kept across runs.
  camera::PictureSource pictures_;
};

}  // namespace vcam
