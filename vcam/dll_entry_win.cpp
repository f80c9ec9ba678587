// The five exports of BrindleVideoVCam (named in vcam_exports.def).
#include <windows.h>

#include <olectl.h>

#include "common/stage_trace.h"
#include "dshow/class_factory_win.h"
#include "vcam/registration_win.h"
#include "vcam/registration_data_win.h"

namespace {

HINSTANCE moduleInstance = nullptr;

}  // namespace

// The exports keep their global names; the camera and the framework they call live in namespaces
// vcam and dshow.
using vcam::g_cTemplates;
using vcam::g_Templates;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    moduleInstance = instance;
    for (int i = 0; i < g_cTemplates; i++) {
      if (g_Templates[i].m_lpfnInit) g_Templates[i].m_lpfnInit(TRUE, g_Templates[i].m_ClsID);
    }
  } else if (reason == DLL_PROCESS_DETACH) {
    for (int i = 0; i < g_cTemplates; i++) {
      if (g_Templates[i].m_lpfnInit) g_Templates[i].m_lpfnInit(FALSE, g_Templates[i].m_ClsID);
    }
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  return dshow::GetClassObjectFromTemplates(g_Templates, g_cTemplates, clsid, riid, ppv);
}

// The stage trace's writer thread runs code of this DLL until the process ends.
STDAPI DllCanUnloadNow() { return stageTraceOn() ? S_FALSE : dshow::CanUnloadNow(); }

STDAPI DllRegisterServer() { return vcam::RegisterCamera(moduleInstance); }

STDAPI DllUnregisterServer() { return vcam::UnregisterCamera(moduleInstance); }
