// The registry side of an in-process COM server, shared by both cameras: its class key under
// HKEY_CLASSES_ROOT\CLSID with InprocServer32 naming the DLL and ThreadingModel "Both".
#pragma once

#include <windows.h>

#include <string>

namespace camera {

HRESULT hresultFromWin32(DWORD error);

// The module's full path, in wide characters and without a length cap, so that the registered
// path is the real one whatever the code page and however deep the folder.
HRESULT modulePath(HMODULE module, std::wstring* path);

// "CLSID\{...}" (braces, upper-case hex).
std::wstring clsidKeyName(const CLSID& clsid);

// Writes the class key with `name` as its default value and InprocServer32 = `path`,
// ThreadingModel "Both". A Win32 error code.
LONG writeInprocServerKeys(const CLSID& clsid, const wchar_t* name, const std::wstring& path);

// Deletes `name` under `parent` with everything below it. A key that is not there counts as
// deleted. A Win32 error code.
LONG deleteKeyTree(HKEY parent, const wchar_t* name);

}  // namespace camera
