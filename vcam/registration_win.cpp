#include "vcam/registration_win.h"

#include <string>

#include "camera/com_server_registry_win.h"
#include "common/com_scope_win.h"
#include "vcam/registration_data_win.h"

namespace vcam {

namespace {

constexpr HRESULT kFileNotFound = HRESULT(0x80070002);

REGFILTER2 filterRecord(const dshow::AMOVIESETUP_FILTER& setup) {
  REGFILTER2 record = {};
  record.dwVersion = 1;
  record.dwMerit = setup.dwMerit;
  record.cPins = setup.nPins;
  record.rgPins = setup.lpPin;
  return record;
}

HRESULT registerWithMapper2(IFilterMapper2* mapper, const dshow::CFactoryTemplate& t, bool registering) {
  HRESULT hr = mapper->UnregisterFilter(nullptr, nullptr, *t.m_ClsID);
  if (registering) {
    REGFILTER2 record = filterRecord(*t.m_pAMovieSetup_Filter);
    hr = mapper->RegisterFilter(*t.m_ClsID, t.m_Name, nullptr, nullptr, nullptr, &record);
  }
  return hr;
}

HRESULT registerWithMapper1(IFilterMapper* mapper, const dshow::CFactoryTemplate& t, bool registering) {
  const dshow::AMOVIESETUP_FILTER& setup = *t.m_pAMovieSetup_Filter;
  HRESULT hr = mapper->UnregisterFilter(*t.m_ClsID);
  if (!registering) return hr;
  hr = mapper->RegisterFilter(*t.m_ClsID, t.m_Name, setup.dwMerit);
  for (UINT p = 0; SUCCEEDED(hr) && p < setup.nPins; p++) {
    const dshow::AMOVIESETUP_PIN& pin = setup.lpPin[p];
    hr = mapper->RegisterPin(*t.m_ClsID, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
                             pin.clsConnectsToFilter ? *pin.clsConnectsToFilter : CLSID_NULL, pin.strConnectsToPin);
    for (UINT m = 0; SUCCEEDED(hr) && m < pin.nMediaTypes; m++) {
      hr = mapper->RegisterPinType(*t.m_ClsID, pin.strName, *pin.lpMediaType[m].clsMajorType,
                                   *pin.lpMediaType[m].clsMinorType);
    }
  }
  return hr;
}

HRESULT registerFilters(const dshow::CFactoryTemplate* templates, int count, bool registering) {
  Microsoft::WRL::ComPtr<IFilterMapper2> mapper2;
  Microsoft::WRL::ComPtr<IFilterMapper> mapper1;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper2));
  if (FAILED(hr)) hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper1));
  if (FAILED(hr)) return hr;
  if (!mapper2 && !mapper1) return E_UNEXPECTED;  // a success without an object is not trusted
  for (int i = 0; i < count; i++) {
    if (!templates[i].m_pAMovieSetup_Filter) continue;
    hr = mapper2 ? registerWithMapper2(mapper2.Get(), templates[i], registering)
                 : registerWithMapper1(mapper1.Get(), templates[i], registering);
    // An entry that was never there reports file not found.
    if (hr == kFileNotFound) hr = S_OK;
    if (FAILED(hr)) break;
  }
  return hr;
}

HRESULT createMapper2(Microsoft::WRL::ComPtr<IFilterMapper2>& mapper) {
  return CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper));
}

}  // namespace

HRESULT RegisterAllServers(HMODULE module, const dshow::CFactoryTemplate* templates, int count, bool registering) {
  std::wstring path;
  HRESULT hr = camera::modulePath(module, &path);
  if (FAILED(hr)) return hr;

  if (registering) {
    for (int i = 0; i < count; i++) {
      LONG r = camera::writeInprocServerKeys(*templates[i].m_ClsID, templates[i].m_Name, path);
      if (r != ERROR_SUCCESS) return camera::hresultFromWin32(DWORD(r));
    }
  }

  {
    ComScope com;
    hr = registerFilters(templates, count, registering);
    CoFreeUnusedLibraries();
  }
  if (registering || FAILED(hr)) return hr;

  for (int i = 0; i < count; i++) {
    LONG r = camera::deleteKeyTree(HKEY_CLASSES_ROOT, camera::clsidKeyName(*templates[i].m_ClsID).c_str());
    if (r != ERROR_SUCCESS) return camera::hresultFromWin32(DWORD(r));
  }
  return S_OK;
}

HRESULT RegisterCamera(HMODULE module) {
  HRESULT hr = RegisterAllServers(module, g_Templates, g_cTemplates, true);
  if (FAILED(hr)) return hr;

  // Callers such as installers may not have COM initialised on this thread.
  ComScope com;
  Microsoft::WRL::ComPtr<IFilterMapper2> mapper;
  hr = createMapper2(mapper);
  if (FAILED(hr) || !mapper) return hr;
  const dshow::CFactoryTemplate& camera = g_Templates[0];
  REGFILTER2 record = filterRecord(*camera.m_pAMovieSetup_Filter);
  hr = mapper->RegisterFilter(*camera.m_ClsID, kCameraName, nullptr, &CLSID_VideoInputDeviceCategory, kCameraName,
                              &record);
  return hr;
}

HRESULT UnregisterCamera(HMODULE module) {
  HRESULT category = S_OK;
  {
    ComScope com;
    Microsoft::WRL::ComPtr<IFilterMapper2> mapper;
    if (SUCCEEDED(createMapper2(mapper)) && mapper) {
      category = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, kCameraName, *g_Templates[0].m_ClsID);
    }
  }
  HRESULT hr = RegisterAllServers(module, g_Templates, g_cTemplates, false);
  if (FAILED(hr)) return hr;
  // A camera entry left behind would still be listed, pointing at a removed server: say so,
  // after removing everything else. A missing entry is fine.
  if (FAILED(category) && category != kFileNotFound) return category;
  return S_OK;
}

}  // namespace vcam
