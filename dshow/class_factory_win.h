// The class factory of this COM server and the factory template table it creates objects
// from. COM reaches both through DllGetClassObject and DllCanUnloadNow.
#pragma once

#include <atomic>

#include "dshow/base_object_win.h"
#include "dshow/setup_data_win.h"
#include "dshow/unknown_win.h"

namespace dshow {

typedef CUnknown*(WINAPI* LPFNNewCOMObject)(IUnknown* outer, HRESULT* result);
typedef void(WINAPI* LPFNInitRoutine)(BOOL loading, const CLSID* clsid);

// One creatable class: its name, identifier, creation function, optional load/unload hook
// and the setup record the filter mapper registration uses (may be null).
struct CFactoryTemplate {
  const WCHAR* m_Name;
  const CLSID* m_ClsID;
  LPFNNewCOMObject m_lpfnNew;
  LPFNInitRoutine m_lpfnInit;
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;
};

class CClassFactory : public IClassFactory, public CBaseObject {
 public:
  // The reference count starts at 0; the creator adds the first reference.
  explicit CClassFactory(const CFactoryTemplate* factoryTemplate);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // Aggregation is allowed only for IID_IUnknown; a creation that reports a failure is undone.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  // True while LockServer(TRUE) calls outnumber LockServer(FALSE) calls.
  static bool IsLocked();

 private:
  virtual ~CClassFactory() = default;

  const CFactoryTemplate* template_;
  volatile LONG refCount_ = 0;
  static std::atomic<long> serverLocks_;
};

// DllGetClassObject for a template table: a factory (with one reference) for `clsid`.
HRESULT GetClassObjectFromTemplates(const CFactoryTemplate* templates, int count, REFCLSID clsid, REFIID riid,
                                    void** ppv);

// DllCanUnloadNow: S_OK when no server lock is held and no framework object is alive.
HRESULT CanUnloadNow();

}  // namespace dshow
