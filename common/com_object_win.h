// IUnknown for a small COM object with one interface chain (the interface and those it derives
// from, named by their identifiers), deleted with its last reference: an enumerator, a class
// factory, a media stream. The count starts at 1: the creator holds that reference.
#pragma once

#include <windows.h>

#include <unknwn.h>

namespace comobject {

template <class Interface, const IID&... kInterfaceIds>
class SingleInterfaceObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || ((riid == kInterfaceIds) || ...)) {
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

}  // namespace comobject
