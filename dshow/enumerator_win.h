// What the pin and media type enumerators share: each keeps its owner (the filter or a pin),
// and so the filter, alive; it is in step with the owner's version it last saw and out of step
// once the owner's set changes; a clone starts where its source stands.
#pragma once

#include <wrl/client.h>

#include <new>

#include "dshow/single_interface_object_win.h"

namespace dshow {

// `Derived` has a constructor Derived(Owner*, const Derived* source), a copy of `source`'s
// position when cloning, and LONG ownerVersion() const, the owner's current version.
template <class Derived, class Interface, const IID& kInterfaceId, class Owner, class OwnerInterface>
class Enumerator : public SingleInterfaceObject<Interface, kInterfaceId> {
 public:
  HRESULT STDMETHODCALLTYPE Clone(Interface** clone) override {
    if (!clone) return E_POINTER;
    *clone = nullptr;
    if (versionChanged()) return VFW_E_ENUM_OUT_OF_SYNC;
    auto* copy = new (std::nothrow) Derived(owner_, static_cast<const Derived*>(this));
    if (!copy) return E_OUTOFMEMORY;
    if (copy->incomplete_) {
      copy->Release();
      return E_OUTOFMEMORY;
    }
    *clone = copy;
    return S_OK;
  }

 protected:
  explicit Enumerator(Owner* owner) : owner_(owner), reference_(owner) {}

  bool versionChanged() const { return static_cast<const Derived*>(this)->ownerVersion() != version_; }

  Owner* const owner_;
  LONG version_ = 0;
  bool incomplete_ = false;  // set by a clone that could not copy all of its source's state

 private:
  Microsoft::WRL::ComPtr<OwnerInterface> reference_;
};

}  // namespace dshow
