#include "dll_rig_win.h"

#include <cstdio>
#include <vector>

namespace dlltest {

std::wstring dllPath() { return testsupport::windowsPath(BRINDLE_VCAM_DLL); }

long runRegsvr32(bool unregister) {
  Child child;
  std::wstring command = std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + dllPath() + L"\"";
  if (!child.start(command)) return -1;
  return child.wait(60'000);
}

namespace {

void walk(HKEY key, const std::wstring& prefix, std::map<std::wstring, std::wstring>* out) {
  for (DWORD i = 0; i < 1000; i++) {
    wchar_t name[16384];
    DWORD nameLength = 16384;
    BYTE data[4096];
    DWORD dataLength = sizeof(data);
    DWORD type = 0;
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
    std::wstring text = L"type " + std::to_wstring(type) + L":";
    for (DWORD b = 0; b < dataLength; b++) {
      wchar_t hex[4];
      std::swprintf(hex, 4, L"%02X", data[b]);
      text += hex;
    }
    (*out)[prefix + L"|" + std::wstring(name, nameLength)] = text;
  }
  for (DWORD i = 0; i < 1000; i++) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    (*out)[prefix + L"\\" + name] = L"key";
    HKEY child = nullptr;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
      walk(child, prefix + L"\\" + name, out);
      RegCloseKey(child);
    }
  }
}

}  // namespace

std::map<std::wstring, std::wstring> snapshot(const wchar_t* key) {
  std::map<std::wstring, std::wstring> out;
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return out;
  walk(h, L"", &out);
  RegCloseKey(h);
  return out;
}

bool keyExists(const wchar_t* key) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

std::wstring stringValue(const wchar_t* key, const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  DWORD type = 0;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key, name, RRF_RT_ANY, &type, value, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return L"<missing>";
  }
  return value;
}
}  // namespace dlltest
