#include "dshow/unknown_win.h"

namespace dshow {

CUnknown::CUnknown(const wchar_t* objectName, IUnknown* outer)
    : CBaseObject(objectName), owner_(outer ? outer : NonDelegatingUnknown()) {}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown) return GetInterface(NonDelegatingUnknown(), ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() {
  LONG count = InterlockedIncrement(&refCount_);
  return count > 1 ? static_cast<ULONG>(count) : 1;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
  LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) {
    // Guards against a re-entrant release from inside the destructor.
    refCount_ = 1;
    delete this;
    return 0;
  }
  return count > 1 ? static_cast<ULONG>(count) : 1;
}

HRESULT GetInterface(IUnknown* unknown, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = unknown;
  unknown->AddRef();
  return S_OK;
}

}  // namespace dshow
