// What the media source tests share: BrindleVideoMFCam.dll loaded as a COM client loads it
// (LoadLibrary, DllGetClassObject), the source made through its class factory and IMFActivate,
// and Media Foundation started for each test in COM's multithreaded apartment.
#pragma once

#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "camera/camera_formats.h"
#include "dll_rig_win.h"
#include "support/wait.h"

namespace mfcamtest {

using Microsoft::WRL::ComPtr;

inline const CLSID kSourceClsid = {0xEFA3B694, 0xF577, 0x422B, {0xBC, 0xE5, 0xF3, 0x55, 0x3C, 0xF9, 0xD4, 0x09}};

inline std::wstring dllPath() { return testsupport::windowsPath(BRINDLE_MFCAM_DLL); }

class SourceTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() { module_ = LoadLibraryW(dllPath().c_str()); }
  // As COM does: the DLL is unloaded only once it says it can be, which it must say once every
  // object it handed out is gone (Media Foundation may let go of them on its own threads).
  static void TearDownTestSuite() {
    if (!module_) return;
    auto canUnload = dlltest::exportOf<HRESULT(STDAPICALLTYPE*)()>(module_, "DllCanUnloadNow");
    const bool unloadable =
        canUnload && testsupport::waitUntil([&] { return canUnload() == S_OK; }, std::chrono::seconds(5));
    EXPECT_TRUE(unloadable) << "objects of the DLL outlived the tests";
    if (unloadable) FreeLibrary(module_);
    module_ = nullptr;
  }

 protected:
  void SetUp() override {
    ASSERT_NE(module_, nullptr) << "the DLL did not load";
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    ASSERT_HRESULT_SUCCEEDED(MFStartup(MF_VERSION));
  }
  void TearDown() override {
    MFShutdown();
    CoUninitialize();
  }

 public:
  static HRESULT classFactory(REFCLSID clsid, IClassFactory** factory) {
    auto get = dlltest::exportOf<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(module_, "DllGetClassObject");
    if (!get) return E_NOINTERFACE;
    return get(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory));
  }
  static HRESULT activate(IMFActivate** result) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = classFactory(kSourceClsid, &factory);
    return SUCCEEDED(hr) ? factory->CreateInstance(nullptr, IID_PPV_ARGS(result)) : hr;
  }
  // A new source with the IMFActivate that made it.
  static void makeSource(ComPtr<IMFActivate>& activator, ComPtr<IMFMediaSource>& source) {
    ASSERT_HRESULT_SUCCEEDED(activate(&activator));
    ASSERT_HRESULT_SUCCEEDED(activator->ActivateObject(IID_PPV_ARGS(&source)));
  }

 protected:
  static inline HMODULE module_ = nullptr;
};

// The sample's bytes, read through its contiguous view.
inline std::vector<std::uint8_t> sampleBytes(IMFSample* sample) {
  std::vector<std::uint8_t> bytes;
  ComPtr<IMFMediaBuffer> buffer;
  BYTE* data = nullptr;
  DWORD length = 0;
  if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer)) && SUCCEEDED(buffer->Lock(&data, nullptr, &length))) {
    bytes.assign(data, data + length);
    buffer->Unlock();
  }
  return bytes;
}

}  // namespace mfcamtest
