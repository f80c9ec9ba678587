// What the DLL tests share: the built BrindleVideoVCam.dll as Windows sees it, regsvr32 run
// as a child process, the registry keys registration writes, a bounded child process, and the
// fixture of the tests that capture from the registered camera.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/child_process_win.h"
#include "support/ring_child_win.h"

namespace dlltest {

inline constexpr const wchar_t* kCameraKey = L"CLSID\\{9A8E4B2F-2D7C-4E47-8E5E-7F4C1A2B3C4D}";
inline constexpr const wchar_t* kCameraCategoryEntry =
    L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\Orvik";
inline constexpr const wchar_t* kDefaultCategoryEntry =
    L"CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\{9A8E4B2F-2D7C-4E47-8E5E-7F4C1A2B3C4D}";

// The full Windows path of the built DLL (Z:\...).
std::wstring dllPath();
using testsupport::windowsPath;

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

// The camera registered for the whole suite; each test in COM's multithreaded apartment, and
// starting with no frame ring in the system.
class RegisteredCameraTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registered_ = runRegsvr32(false) == 0; }
  static void TearDownTestSuite() { EXPECT_EQ(runRegsvr32(true), 0); }
  void SetUp() override {
    ASSERT_TRUE(registered_) << "regsvr32 failed";
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    ASSERT_FALSE(testsupport::ringExists()) << "another program holds the frame ring";
  }
  void TearDown() override { CoUninitialize(); }
  static inline bool registered_ = false;
};

}  // namespace dlltest
