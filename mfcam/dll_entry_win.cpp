// The four exports of BrindleVideoMFCam (named in mfcam_exports.def) and its class factory,
// which hands out the IMFActivate of the media source.
#include <windows.h>

#include <mfapi.h>

#include <new>

#include "camera/com_server_registry_win.h"
#include "common/com_object_win.h"
#include "common/stage_trace.h"
#include "mfcam/media_source_clsid_win.h"
#include "mfcam/module_lock.h"
#include "mfcam/source_activate_win.h"

namespace {

HINSTANCE moduleInstance = nullptr;

class ClassFactory final : public comobject::SingleInterfaceObject<IClassFactory, IID_IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return mfcam::SourceActivate::create(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++mfcam::moduleReferences;
    } else {
      --mfcam::moduleReferences;
    }
    return S_OK;
  }

 private:
  mfcam::ModuleReference module_;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    moduleInstance = instance;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != mfcam::kMediaSourceClsid) return CLASS_E_CLASSNOTAVAILABLE;
  // Raw: MinGW-w64's ComPtr::Attach takes a reference of its own.
  ClassFactory* factory = new (std::nothrow) ClassFactory;
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

// The stage trace's writer thread runs code of this DLL until the process ends.
STDAPI DllCanUnloadNow() { return stageTraceOn() || mfcam::moduleReferences != 0 ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
  std::wstring path;
  HRESULT hr = camera::modulePath(moduleInstance, &path);
  if (FAILED(hr)) return hr;
  LONG r = camera::writeInprocServerKeys(mfcam::kMediaSourceClsid, mfcam::kMediaSourceName, path);
  return r == ERROR_SUCCESS ? S_OK : camera::hresultFromWin32(DWORD(r));
}

STDAPI DllUnregisterServer() {
  LONG r = camera::deleteKeyTree(HKEY_CLASSES_ROOT, camera::clsidKeyName(mfcam::kMediaSourceClsid).c_str());
  return r == ERROR_SUCCESS ? S_OK : camera::hresultFromWin32(DWORD(r));
}
