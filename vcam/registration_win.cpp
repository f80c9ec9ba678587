#include "vcam/registration_win.h"

#include <cwchar>
#include <string>
#include <vector>

#include "common/com_scope_win.h"
#include "vcam/registration_data_win.h"

namespace vcam {

namespace {

constexpr HRESULT kFileNotFound = HRESULT(0x80070002);

HRESULT fromWin32(DWORD error) { return HRESULT(0x80070000u | (error & 0xFFFFu)); }

// The module's full path. Read in wide characters and without a length cap, so that the
// registered path is the real one whatever the code page and however deep the folder.
HRESULT modulePath(HMODULE module, std::wstring* path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetModuleFileNameW(module, buffer.data(), DWORD(buffer.size()));
    if (n == 0) return fromWin32(GetLastError());
    if (n < buffer.size()) {
      path->assign(buffer.data(), n);
      return S_OK;
    }
    if (buffer.size() >= 32768) return fromWin32(ERROR_INSUFFICIENT_BUFFER);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring clsidKeyName(const CLSID& clsid) {
  wchar_t text[40] = {};
  StringFromGUID2(clsid, text, 40);  // braces, upper-case hex
  return std::wstring(L"CLSID\\") + text;
}

LONG setString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        DWORD((value.size() + 1) * sizeof(wchar_t)));
}

LONG writeServerKeys(const dshow::CFactoryTemplate& t, const std::wstring& path) {
  HKEY key = nullptr;
  LONG r = RegCreateKeyExW(HKEY_CLASSES_ROOT, clsidKeyName(*t.m_ClsID).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                           &key, nullptr);
  if (r != ERROR_SUCCESS) return r;
  r = setString(key, nullptr, t.m_Name);
  HKEY server = nullptr;
  if (r == ERROR_SUCCESS) r = RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr);
  if (r == ERROR_SUCCESS) {
    r = setString(server, nullptr, path);
    if (r == ERROR_SUCCESS) r = setString(server, L"ThreadingModel", L"Both");
    RegCloseKey(server);
  }
  RegCloseKey(key);
  return r;
}

// Deletes `name` under `parent` with everything below it, depth first. A key that is not
// there counts as deleted. A subkey that cannot be removed ends the deletion with its error
// instead of being enumerated again forever.
LONG deleteKeyTree(HKEY parent, const wchar_t* name) {
  HKEY key = nullptr;
  LONG r = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, &key);
  if (r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (r != ERROR_SUCCESS) return r;
  for (;;) {
    wchar_t child[256];
    DWORD length = 256;
    r = RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r == ERROR_SUCCESS) r = deleteKeyTree(key, child);
    if (r == ERROR_SUCCESS) {
      // The child must be gone now; if it is still first, it could not be removed.
      wchar_t again[256];
      DWORD againLength = 256;
      if (RegEnumKeyExW(key, 0, again, &againLength, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
          againLength == length && std::wmemcmp(again, child, length) == 0) {
        r = ERROR_ACCESS_DENIED;
      }
    }
    if (r != ERROR_SUCCESS) {
      RegCloseKey(key);
      return r;
    }
  }
  RegCloseKey(key);
  r = RegDeleteKeyW(parent, name);
  return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
}

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
  HRESULT hr = modulePath(module, &path);
  if (FAILED(hr)) return hr;

  if (registering) {
    for (int i = 0; i < count; i++) {
      LONG r = writeServerKeys(templates[i], path);
      if (r != ERROR_SUCCESS) return fromWin32(DWORD(r));
    }
  }

  {
    ComScope com;
    hr = registerFilters(templates, count, registering);
    CoFreeUnusedLibraries();
  }
  if (registering || FAILED(hr)) return hr;

  for (int i = 0; i < count; i++) {
    LONG r = deleteKeyTree(HKEY_CLASSES_ROOT, clsidKeyName(*templates[i].m_ClsID).c_str());
    if (r != ERROR_SUCCESS) return fromWin32(DWORD(r));
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
