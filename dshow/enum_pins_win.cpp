#include "dshow/enum_pins_win.h"

#include <new>

#include "dshow/base_filter_win.h"
#include "dshow/base_pin_win.h"

namespace dshow {

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* source) : Enumerator(filter) {
  if (source) {
    version_ = source->version_;
    count_ = source->count_;
    position_ = source->position_;
    for (int i = 0; i < source->returnedCount_ && !incomplete_; ++i) incomplete_ = !remember(source->returned_[i]);
  } else {
    version_ = ownerVersion();
    count_ = owner_->GetPinCount();
  }
}

CEnumPins::~CEnumPins() { delete[] returned_; }

LONG CEnumPins::ownerVersion() const { return owner_->GetPinVersion(); }

bool CEnumPins::alreadyReturned(CBasePin* pin) const {
  for (int i = 0; i < returnedCount_; ++i) {
    if (returned_[i] == pin) return true;
  }
  return false;
}

bool CEnumPins::remember(CBasePin* pin) {
  if (returnedCount_ == returnedCapacity_) {
    int capacity = returnedCapacity_ ? returnedCapacity_ * 2 : 4;
    auto* grown = new (std::nothrow) CBasePin*[capacity];
    if (!grown) return false;
    for (int i = 0; i < returnedCount_; ++i) grown[i] = returned_[i];
    delete[] returned_;
    returned_ = grown;
    returnedCapacity_ = capacity;
  }
  returned_[returnedCount_++] = pin;
  return true;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (!pins) return E_POINTER;
  if (count > 1 && !fetched) return E_INVALIDARG;
  if (fetched) *fetched = 0;
  if (versionChanged()) {
    version_ = owner_->GetPinVersion();
    count_ = owner_->GetPinCount();
    position_ = 0;
  }
  ULONG got = 0;
  int firstNew = returnedCount_;
  HRESULT result = S_OK;
  while (got < count && position_ < count_) {
    CBasePin* pin = owner_->GetPin(position_++);
    if (!pin) {
      result = VFW_E_ENUM_OUT_OF_SYNC;
      break;
    }
    if (alreadyReturned(pin)) continue;
    if (!remember(pin)) {
      result = E_OUTOFMEMORY;
      break;
    }
    pins[got] = pin;
    pin->AddRef();
    ++got;
  }
  if (FAILED(result)) {
    // Nothing is handed out on failure; the caller owns no references.
    for (ULONG i = 0; i < got; ++i) {
      pins[i]->Release();
      pins[i] = nullptr;
    }
    returnedCount_ = firstNew;
    return result;
  }
  if (fetched) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Skip(ULONG count) {
  if (versionChanged()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG left = position_ < count_ ? static_cast<ULONG>(count_ - position_) : 0;
  if (count > left) {
    position_ = count_;
    return S_FALSE;
  }
  position_ += static_cast<int>(count);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Reset() {
  // Resynchronises with the filter, which is what a caller does after VFW_E_ENUM_OUT_OF_SYNC.
  version_ = owner_->GetPinVersion();
  count_ = owner_->GetPinCount();
  position_ = 0;
  returnedCount_ = 0;
  return S_OK;
}

}  // namespace dshow
