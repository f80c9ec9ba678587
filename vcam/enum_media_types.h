// Enumerates a pin's preferred media types (its GetMediaType list). It keeps the pin, and so
// its filter, alive. Each type it returns is task memory that the caller frees, format block
// included.
#pragma once

#include "vcam/dshow_common.h"

class CBasePin;

class CEnumMediaTypes : public IEnumMediaTypes {
 public:
  // Starts at the beginning, or as a copy of `source`'s position when cloning.
  CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override;
  virtual ~CEnumMediaTypes();

 private:
  bool versionChanged() const;

  volatile LONG refCount_ = 1;
  CBasePin* pin_;
  int position_ = 0;
  LONG version_ = 0;
};
