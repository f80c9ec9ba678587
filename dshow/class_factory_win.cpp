#include "dshow/class_factory_win.h"

#include <new>

namespace dshow {

std::atomic<long> CClassFactory::serverLocks_{0};

CClassFactory::CClassFactory(const CFactoryTemplate* factoryTemplate)
    : CBaseObject(L"Class factory"), template_(factoryTemplate) {}

HRESULT STDMETHODCALLTYPE CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  *ppv = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

// Interlocked: with threading model "Both" two apartments may hold the same factory.
ULONG STDMETHODCALLTYPE CClassFactory::AddRef() { return ULONG(InterlockedIncrement(&refCount_)); }

ULONG STDMETHODCALLTYPE CClassFactory::Release() {
  LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) delete this;
  return ULONG(count);
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregated object can only hand its inner unknown to the outer object.
  if (outer && riid != IID_IUnknown) return E_NOINTERFACE;

  HRESULT hr = S_OK;
  CUnknown* object = template_->m_lpfnNew(outer, &hr);
  if (!object) return FAILED(hr) ? hr : E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete object;
    return hr;
  }
  // The temporary reference keeps the object alive through the query and frees it when the
  // query fails.
  object->NonDelegatingAddRef();
  hr = object->NonDelegatingQueryInterface(riid, ppv);
  object->NonDelegatingRelease();
  return hr;
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL lock) {
  if (lock) serverLocks_.fetch_add(1);
  else serverLocks_.fetch_sub(1);
  return S_OK;
}

bool CClassFactory::IsLocked() { return serverLocks_.load() > 0; }

HRESULT GetClassObjectFromTemplates(const CFactoryTemplate* templates, int count, REFCLSID clsid, REFIID riid,
                                    void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  for (int i = 0; i < count; i++) {
    if (*templates[i].m_ClsID != clsid) continue;
    auto* factory = new (std::nothrow) CClassFactory(&templates[i]);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    *ppv = static_cast<IClassFactory*>(factory);
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() { return CClassFactory::IsLocked() || CBaseObject::ObjectsActive() > 0 ? S_FALSE : S_OK; }

}  // namespace dshow
