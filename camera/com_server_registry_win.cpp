#include "camera/com_server_registry_win.h"

#include <objbase.h>

#include <cwchar>
#include <vector>

namespace camera {

HRESULT hresultFromWin32(DWORD error) { return HRESULT(0x80070000u | (error & 0xFFFFu)); }

HRESULT modulePath(HMODULE module, std::wstring* path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetModuleFileNameW(module, buffer.data(), DWORD(buffer.size()));
    if (n == 0) return hresultFromWin32(GetLastError());
    if (n < buffer.size()) {
      path->assign(buffer.data(), n);
      return S_OK;
    }
    if (buffer.size() >= 32768) return hresultFromWin32(ERROR_INSUFFICIENT_BUFFER);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring clsidKeyName(const CLSID& clsid) {
  wchar_t text[40] = {};
  StringFromGUID2(clsid, text, 40);  // braces, upper-case hex
  return std::wstring(L"CLSID\\") + text;
}

namespace {

LONG setString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        DWORD((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

LONG writeInprocServerKeys(const CLSID& clsid, const wchar_t* name, const std::wstring& path) {
  HKEY key = nullptr;
  LONG r = RegCreateKeyExW(HKEY_CLASSES_ROOT, clsidKeyName(clsid).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                           &key, nullptr);
  if (r != ERROR_SUCCESS) return r;
  r = setString(key, nullptr, name);
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

}  // namespace camera
