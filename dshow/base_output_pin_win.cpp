#include "dshow/base_output_pin_win.h"

namespace dshow {

CBaseOutputPin::CBaseOutputPin(const wchar_t* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* result,
                               const wchar_t* pinName)
    : CBasePin(objectName, filter, lock, result, pinName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
  // The allocator goes first, decommitted, then the connected pin's input.
  if (allocator_) allocator_->Decommit();
  allocator_.Reset();
  inputPin_.Reset();
}

HRESULT CBaseOutputPin::Active() {
  if (!allocator_) return VFW_E_NO_ALLOCATOR;
  return allocator_->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
  runTimeError_ = false;
  if (!allocator_) return VFW_E_NO_ALLOCATOR;
  return allocator_->Decommit();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
  HRESULT hr = CBasePin::CheckConnect(pin);
  if (FAILED(hr)) return hr;
  Microsoft::WRL::ComPtr<IMemInputPin> input;
  hr = pin->QueryInterface(IID_PPV_ARGS(&input));
  if (FAILED(hr)) return hr;
  if (!input) return E_NOINTERFACE;
  inputPin_ = input;
  return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
  if (allocator_) {
    HRESULT hr = allocator_->Decommit();
    if (FAILED(hr)) return hr;
    allocator_.Reset();
  }
  inputPin_.Reset();
  return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
  if (!inputPin_) return E_UNEXPECTED;
  return DecideAllocator(inputPin_.Get(), allocator_.ReleaseAndGetAddressOf());
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  *allocator = nullptr;
  ALLOCATOR_PROPERTIES properties = {};
  pin->GetAllocatorRequirements(&properties);
  if (properties.cbAlign == 0) properties.cbAlign = 1;

  HRESULT hr = pin->GetAllocator(allocator);
  if (SUCCEEDED(hr) && *allocator) {
    hr = DecideBufferSize(*allocator, &properties);
    if (SUCCEEDED(hr)) {
      hr = pin->NotifyAllocator(*allocator, FALSE);
      if (SUCCEEDED(hr)) return S_OK;
    }
  }
  if (*allocator) {
    (*allocator)->Release();
    *allocator = nullptr;
  }

  // The properties go on as the first attempt left them.
  hr = InitAllocator(allocator);
  if (SUCCEEDED(hr) && *allocator) {
    hr = DecideBufferSize(*allocator, &properties);
    if (SUCCEEDED(hr)) {
      hr = pin->NotifyAllocator(*allocator, FALSE);
      if (SUCCEEDED(hr)) return S_OK;
    }
  } else if (SUCCEEDED(hr)) {
    hr = E_NOINTERFACE;
  }
  if (*allocator) {
    (*allocator)->Release();
    *allocator = nullptr;
  }
  return hr;
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                          DWORD flags) {
  if (!allocator_) return E_NOINTERFACE;
  return allocator_->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
  if (!inputPin_) return VFW_E_NOT_CONNECTED;
  return inputPin_->Receive(sample);
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** allocator) {
  return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                          reinterpret_cast<void**>(allocator));
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
  if (!connected_) return VFW_E_NOT_CONNECTED;
  return connected_->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
  if (!connected_) return VFW_E_NOT_CONNECTED;
  return connected_->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
  if (!connected_) return VFW_E_NOT_CONNECTED;
  return connected_->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (!connected_) return VFW_E_NOT_CONNECTED;
  return connected_->NewSegment(start, stop, rate);
}

HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndOfStream() { return E_UNEXPECTED; }

HRESULT STDMETHODCALLTYPE CBaseOutputPin::BeginFlush() { return E_UNEXPECTED; }

HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndFlush() { return E_UNEXPECTED; }

}  // namespace dshow
