// Enumerates a filter's pins. It keeps the filter alive and remembers which pins it has
// already handed out, so a change in the pin set (a new pin version) does not repeat them.
#pragma once

#include "dshow/dshow_common_win.h"
#include "dshow/single_interface_object_win.h"

namespace dshow {

class CBaseFilter;
class CBasePin;

class CEnumPins : public SingleInterfaceObject<IEnumPins, IID_IEnumPins> {
 public:
  // Starts at the beginning, or as a copy of `source`'s position when cloning.
  CEnumPins(CBaseFilter* filter, const CEnumPins* source);

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override;
  ~CEnumPins() override;

 private:
  bool versionChanged() const;
  bool alreadyReturned(CBasePin* pin) const;
  bool remember(CBasePin* pin);

  CBaseFilter* filter_;
  LONG version_ = 0;
  int count_ = 0;
  int position_ = 0;
  // Pins handed out so far; not counted, only compared.
  CBasePin** returned_ = nullptr;
  int returnedCount_ = 0;
  int returnedCapacity_ = 0;
};

}  // namespace dshow
