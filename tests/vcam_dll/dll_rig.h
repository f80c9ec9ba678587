// What the DLL tests share: the built BrindleVideoVCam.dll as Windows sees it, regsvr32 run
// as a child process, the registry keys registration writes, and a bounded child process.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "support/child_process.h"

namespace dlltest {

inline constexpr const wchar_t* kCameraKey = L"CLSID\\{9A8E4B2F-2D7C-4E47-8E5E-7F4C1A2B3C4D}";
inline constexpr const wchar_t* kCameraCategoryEntry =
    L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\Orvik";
inline constexpr const wchar_t* kDefaultCategoryEntry =
    L"CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\{9A8E4B2F-2D7C-4E47-8E5E-7F4C1A2B3C4D}";

// The full Windows path of the built DLL (Z:\...).
std::wstring dllPath();
// The Windows path of a program built into the tree (its build path given at compile time).
std::wstring windowsPath(const char* buildPath);

// An export of a loaded module as a function pointer, or null.
template <class F>
F exportOf(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Runs "regsvr32 /s [/u] DLL"; its exit code, or -1 when it did not end within 60 s.
long runRegsvr32(bool unregister);

// Every subkey and value under HKEY_CLASSES_ROOT\`key`, as "subkey\\value" -> type and bytes.
// Empty when the key does not exist.
std::map<std::wstring, std::wstring> snapshot(const wchar_t* key);
bool keyExists(const wchar_t* key);
// A REG_SZ value, or "<missing>".
std::wstring stringValue(const wchar_t* key, const wchar_t* name);

// A process started with a command line; killed if it outlives its owner.
using Child = testsupport::ChildProcess;

}  // namespace dlltest
