// COM identity and reference counting for the framework's objects. Each object has a
// non-delegating IUnknown that counts and looks up interfaces; every other interface side
// forwards its IUnknown calls to the owner, which is the outer unknown when the object is
// aggregated and the non-delegating side otherwise.
#pragma once

#include "dshow/base_object_win.h"
#include "dshow/dshow_common_win.h"

namespace dshow {

struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  // `outer` is the controlling unknown when aggregated; null for a standalone object.
  CUnknown(const wchar_t* objectName, IUnknown* outer);
  virtual ~CUnknown() = default;

  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  IUnknown* GetOwner() const { return owner_; }
  // The non-delegating side seen as an IUnknown (its three slots match).
  IUnknown* NonDelegatingUnknown() {
    return reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this));
  }

 protected:
  volatile LONG refCount_ = 0;

 private:
  IUnknown* const owner_;
};

// Hands out `unknown` through `ppv` with a reference added.
HRESULT GetInterface(IUnknown* unknown, void** ppv);

// The IUnknown methods of an interface side: all go to the owner.
#define BRINDLE_DECLARE_IUNKNOWN                                                          \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {            \
    return GetOwner()->QueryInterface(riid, ppv);                                         \
  }                                                                                       \
  ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }              \
  ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }

}  // namespace dshow
