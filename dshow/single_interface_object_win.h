// IUnknown for a small COM object that exposes one interface of its own and is deleted with its
// last reference, such as an enumerator. The count starts at 1: the creator holds that reference.
#pragma once

#include "dshow/dshow_common_win.h"

namespace dshow {

template <class Interface, const IID& kInterfaceId>
class SingleInterfaceObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == kInterfaceId || riid == IID_IUnknown) {
      *ppv = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG count = InterlockedDecrement(&refCount_);
    if (count == 0) delete this;
    return count > 0 ? static_cast<ULONG>(count) : 0;
  }

 protected:
  SingleInterfaceObject() = default;
  virtual ~SingleInterfaceObject() = default;

 private:
  volatile LONG refCount_ = 1;
};

}  // namespace dshow
