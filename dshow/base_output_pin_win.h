// An output pin that delivers samples through IMemInputPin: it negotiates the allocator when
// it connects, commits it while the filter runs, and forwards samples and stream events to the
// connected input pin.
#pragma once

#include "dshow/base_pin_win.h"

namespace dshow {

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* result,
                 const wchar_t* pinName);
  ~CBaseOutputPin() override;

  // Commits the allocator (VFW_E_NO_ALLOCATOR without one).
  HRESULT Active() override;
  // Decommits the allocator, which wakes a thread waiting for a buffer.
  HRESULT Inactive() override;
  // Also insists on a peer that takes samples (IMemInputPin).
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;

  // The peer's allocator when it agrees to our buffer sizes, else the standard one.
  virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
  // Sets the buffer count and size on `allocator`; `properties` holds the peer's request.
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) = 0;
  virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags);
  virtual HRESULT Deliver(IMediaSample* sample);
  // Creates the runtime's standard memory allocator.
  virtual HRESULT InitAllocator(IMemAllocator** allocator);
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  // IPin: an output pin receives no stream events.
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;

  IMemAllocator* Allocator() const { return allocator_.Get(); }

 protected:
  Microsoft::WRL::ComPtr<IMemAllocator> allocator_;
  Microsoft::WRL::ComPtr<IMemInputPin> inputPin_;
};

}  // namespace dshow
