// The camera's output pin "Capture". Its worker fills every sample from the newest picture in
// the frame ring: converted when the picture has the negotiated size, letterboxed when it does
// not, the last picture again when nothing new has arrived, and mid-grey before the first one.
// The ring is looked for at every sample until it exists. Sample times start at 0 with every
// run and advance by one frame duration per sample. Capture applications choose among the four
// formats through IAMStreamConfig; IKsPropertySet reports the pin as a capture pin.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ring/frame_ring_reader.h"
#include "vcam/frame_convert_letterbox.h"
#include "vcam/source_stream.h"

class VirtualCameraStream : public CSourceStream, public IAMStreamConfig, public IKsPropertySet {
 public:
  VirtualCameraStream(HRESULT* result, CSource* parent, const wchar_t* pinName);
  ~VirtualCameraStream() override;

  BRINDLE_DECLARE_IUNKNOWN

  // IAMStreamConfig and IKsPropertySet, then the pin's own interfaces.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Worker side: one picture per sample, always S_OK; resets the per-run state.
  HRESULT FillBuffer(IMediaSample* sample) override;
  HRESULT OnThreadCreate() override;

  // Pin side. E_INVALIDARG for anything but the four formats (also for a type whose format
  // block is missing or short, which is not read).
  HRESULT CheckMediaType(const CMediaType* type) override;
  // Stores the connection's type and takes the output size and format from it; refuses, without
  // storing it, what CheckMediaType refuses.
  HRESULT SetMediaType(const CMediaType* type) override;
  using CSourceStream::GetMediaType;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  // Two buffers of one sample each; E_FAIL when the allocator grants less.
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;

  // IAMStreamConfig
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

 private:
  std::int64_t frameDuration_;
  std::int64_t nextSampleTime_ = 0;
  std::uint32_t width_;
  std::uint32_t height_;
  bool outputYuy2_ = true;
  std::unique_ptr<FrameRingReader> reader_;
  bool ringOpen_ = false;
  std::uint64_t lastFrameNumber_ = 0;
  std::vector<std::uint8_t> lastPicture_;
  LetterboxScaler scaler_;  // worker side, like the reader
};
