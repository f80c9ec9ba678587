// Enumerates a filter's pins. It keeps the filter alive and remembers which pins it has
// already handed out, so a change in the pin set (a new pin version) does not repeat them.
#pragma once

#include "dshow/dshow_common_win.h"
#include "dshow/enumerator_win.h"

namespace dshow {

class CBaseFilter;
class CBasePin;

class CEnumPins : public Enumerator<CEnumPins, IEnumPins, IID_IEnumPins, CBaseFilter, IBaseFilter> {
 public:
  // Starts at the beginning, or as a copy of `source`'s position and of the pins it handed out
  // when cloning.
  CEnumPins(CBaseFilter* filter, const CEnumPins* source);
  ~CEnumPins() override;
  LONG ownerVersion() const;

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;

 private:
  bool alreadyReturned(CBasePin* pin) const;
  bool remember(CBasePin* pin);

  int count_ = 0;
  int position_ = 0;
  // Pins handed out so far; not counted, only compared.
  CBasePin** returned_ = nullptr;
  int returnedCount_ = 0;
  int returnedCapacity_ = 0;
};

}  // namespace dshow
