#include "dshow/enum_media_types_win.h"

#include <climits>

#include "dshow/base_pin_win.h"

namespace dshow {

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source) : Enumerator(pin) {
  if (source) {
    position_ = source->position_;
    version_ = source->version_;
  } else {
    version_ = ownerVersion();
  }
}

LONG CEnumMediaTypes::ownerVersion() const { return owner_->GetMediaTypeVersion(); }

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (!types) return E_POINTER;
  if (count > 1 && !fetched) return E_INVALIDARG;
  if (fetched) *fetched = 0;
  if (versionChanged()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG got = 0;
  while (got < count) {
    CMediaType type;
    if (owner_->GetMediaType(position_, &type) != S_OK) break;
    auto* out = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!out) {
      for (ULONG i = 0; i < got; ++i) {
        DeleteMediaType(types[i]);
        types[i] = nullptr;
      }
      position_ -= static_cast<int>(got);
      return E_OUTOFMEMORY;
    }
    // The format block and pUnk move to the caller's copy.
    *out = type;
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    type.pUnk = nullptr;
    types[got++] = out;
    ++position_;
  }
  if (fetched) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Skip(ULONG count) {
  if (versionChanged()) return VFW_E_ENUM_OUT_OF_SYNC;
  if (count == 0) return S_OK;
  if (count > static_cast<ULONG>(INT_MAX - position_)) {
    position_ = INT_MAX;
    return S_FALSE;
  }
  position_ += static_cast<int>(count);
  CMediaType type;
  return owner_->GetMediaType(position_ - 1, &type) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Reset() {
  position_ = 0;
  version_ = owner_->GetMediaTypeVersion();
  return S_OK;
}

}  // namespace dshow
