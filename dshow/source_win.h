// A source filter: a CBaseFilter that owns an array of CSourceStream output pins and the one
// state lock that the filter and all its pins share.
#pragma once

#include "dshow/base_filter_win.h"

namespace dshow {

class CSourceStream;

class CSource : public CBaseFilter {
 public:
  CSource(const wchar_t* objectName, IUnknown* outer, REFCLSID clsid);
  // Stops a still-running filter, then deletes the pins from the last to the first.
  ~CSource() override;

  int GetPinCount() override;
  CBasePin* GetPin(int index) override;

  // Appends a stream (its constructor calls this): S_OK or E_OUTOFMEMORY.
  HRESULT AddPin(CSourceStream* stream);
  // Takes a stream out of the array (its destructor calls this): S_OK, or S_FALSE when absent.
  HRESULT RemovePin(CSourceStream* stream);
  // The stream's index, or -1.
  int FindPinNumber(IPin* pin);
  // "1" names the first pin, "2" the second, and so on.
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;

  CCritSec* pStateLock() { return &stateLock_; }

 protected:
  int pinCount_ = 0;
  CSourceStream** streams_ = nullptr;
  CCritSec stateLock_;
};

}  // namespace dshow
