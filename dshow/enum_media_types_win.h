// Enumerates a pin's preferred media types (its GetMediaType list). It keeps the pin, and so
// its filter, alive. Each type it returns is task memory that the caller frees, format block
// included.
#pragma once

#include "dshow/dshow_common_win.h"
#include "dshow/enumerator_win.h"

namespace dshow {

class CBasePin;

class CEnumMediaTypes
    : public Enumerator<CEnumMediaTypes, IEnumMediaTypes, IID_IEnumMediaTypes, CBasePin, IPin> {
 public:
  // Starts at the beginning, or as a copy of `source`'s position when cloning.
  CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source);
  LONG ownerVersion() const;

  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;

 private:
  int position_ = 0;
};

}  // namespace dshow
