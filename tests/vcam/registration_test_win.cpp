// Registration under Wine's real registry, COM and filter mapper: what regsvr32 leaves behind,
// that registering again changes nothing, that unregistering removes everything (nested keys
// included) and succeeds again on nothing, and the exports called directly from threads with
// and without COM.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <thread>

#include "dll_rig_win.h"
#include "tools/camera_viewer/camera_capture_win.h"

namespace dlltest {
namespace {

const CLSID kCameraClsid = {0x9a8e4b2f, 0x2d7c, 0x4e47, {0x8e, 0x5e, 0x7f, 0x4c, 0x1a, 0x2b, 0x3c, 0x4d}};

std::wstring lower(std::wstring s) {
  for (wchar_t& c : s) c = wchar_t(std::towlower(c));
  return s;
}

int orvikDevices() {
  std::vector<cameraviewer::CameraDevice> devices;
  cameraviewer::listCameras(&devices);
  return int(std::count_if(devices.begin(), devices.end(), [](const cameraviewer::CameraDevice& d) {
    return d.friendlyName == L"Orvik" && d.clsid == kCameraClsid;
  }));
}

// Whether `key` exists in the other bitness's registry view.
bool inOtherView(const wchar_t* key) {
  HKEY h = nullptr;
  REGSAM other = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ | other, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

// FilterData starts with the record version and the merit, then the pin count.
void expectFilterData(const wchar_t* entry) {
  BYTE data[512];
  DWORD size = sizeof(data);
  ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, entry, L"FilterData", RRF_RT_REG_BINARY, nullptr, data, &size),
            ERROR_SUCCESS);
  ASSERT_GE(size, 12u);
  DWORD merit, pins;
  std::memcpy(&merit, data + 4, 4);
  std::memcpy(&pins, data + 8, 4);
  EXPECT_EQ(merit, DWORD(MERIT_DO_NOT_USE));
  EXPECT_EQ(pins, 1u);
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    ASSERT_FALSE(keyExists(kCameraKey)) << "the camera is already registered in this prefix";
  }
  void TearDown() override {
    // Leave the prefix as found, whatever the test did.
    runRegsvr32(true);
    EXPECT_FALSE(keyExists(kCameraKey));
    CoUninitialize();
  }
};

TEST_F(RegistrationTest, Regsvr32WritesTheServerKeysAndBothMapperEntries) {
  ASSERT_EQ(runRegsvr32(false), 0);

  EXPECT_EQ(stringValue(kCameraKey, nullptr), L"Orvik");
  std::wstring server = std::wstring(kCameraKey) + L"\\InprocServer32";
  EXPECT_EQ(lower(stringValue(server.c_str(), nullptr)), lower(dllPath()));
  EXPECT_EQ(stringValue(server.c_str(), L"ThreadingModel"), L"Both");
  // Nothing else under the class key.
  std::map<std::wstring, std::wstring> keys = snapshot(kCameraKey);
  EXPECT_EQ(keys.size(), 4u) << "default value, InprocServer32 with its two values";

  EXPECT_EQ(stringValue(kCameraCategoryEntry, L"FriendlyName"), L"Orvik");
  EXPECT_EQ(stringValue(kCameraCategoryEntry, L"CLSID"), L"{9A8E4B2F-2D7C-4E47-8E5E-7F4C1A2B3C4D}");
  expectFilterData(kCameraCategoryEntry);
  EXPECT_EQ(stringValue(kDefaultCategoryEntry, L"FriendlyName"), L"Orvik");
  expectFilterData(kDefaultCategoryEntry);

  EXPECT_EQ(orvikDevices(), 1) << "the system device enumerator lists the camera once";
  // regsvr32 of this process's bitness wrote this bitness's view only.
  EXPECT_FALSE(inOtherView(kCameraKey));
  EXPECT_FALSE(inOtherView(kCameraCategoryEntry));
}

TEST_F(RegistrationTest, RegisteringTwiceChangesNothingAndUnregisteringRemovesEverything) {
  ASSERT_EQ(runRegsvr32(false), 0);
  auto server = snapshot(kCameraKey), camera = snapshot(kCameraCategoryEntry), filter = snapshot(kDefaultCategoryEntry);
  ASSERT_FALSE(server.empty());
  ASSERT_FALSE(camera.empty());
  ASSERT_FALSE(filter.empty());

  ASSERT_EQ(runRegsvr32(false), 0);
  EXPECT_EQ(snapshot(kCameraKey), server);
  EXPECT_EQ(snapshot(kCameraCategoryEntry), camera);
  EXPECT_EQ(snapshot(kDefaultCategoryEntry), filter);
  EXPECT_EQ(orvikDevices(), 1);

  // Keys someone else added below the class key go with it, however deep.
  HKEY deep = nullptr;
  std::wstring nested = std::wstring(kCameraKey) + L"\\InprocServer32\\Extra\\Deeper";
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, nested.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &deep, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(deep, L"Note", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
  RegCloseKey(deep);
  std::wstring sibling = std::wstring(kCameraKey) + L"\\Another";
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, sibling.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &deep, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(deep);

  ASSERT_EQ(runRegsvr32(true), 0);
  EXPECT_FALSE(keyExists(kCameraKey));
  EXPECT_FALSE(keyExists(kCameraCategoryEntry));
  EXPECT_FALSE(keyExists(kDefaultCategoryEntry));
  EXPECT_EQ(orvikDevices(), 0);

  EXPECT_EQ(runRegsvr32(true), 0) << "unregistering nothing succeeds";
}

using Export = HRESULT(STDAPICALLTYPE*)();

TEST_F(RegistrationTest, ExportsCalledDirectlyWorkWithOrWithoutCallerCom) {
  HMODULE dll = LoadLibraryW(dllPath().c_str());
  ASSERT_NE(dll, nullptr);
  auto registerServer = exportOf<Export>(dll, "DllRegisterServer");
  auto unregisterServer = exportOf<Export>(dll, "DllUnregisterServer");
  ASSERT_NE(registerServer, nullptr);
  ASSERT_NE(unregisterServer, nullptr);

  // This thread is in the multithreaded apartment: registration must leave it there.
  EXPECT_EQ(registerServer(), S_OK);
  EXPECT_EQ(lower(stringValue((std::wstring(kCameraKey) + L"\\InprocServer32").c_str(), nullptr)), lower(dllPath()));
  EXPECT_TRUE(keyExists(kCameraCategoryEntry));
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  ASSERT_HRESULT_SUCCEEDED(CoGetApartmentType(&type, &qualifier));
  EXPECT_EQ(type, APTTYPE_MTA) << "the caller's COM is untouched";

  EXPECT_EQ(unregisterServer(), S_OK);
  EXPECT_FALSE(keyExists(kCameraKey));
  EXPECT_FALSE(keyExists(kCameraCategoryEntry));
  EXPECT_FALSE(keyExists(kDefaultCategoryEntry));
  EXPECT_EQ(unregisterServer(), S_OK);

  // A thread that never initialised COM (an installer's, say) still gets the camera entry.
  HRESULT registered = E_FAIL, unregistered = E_FAIL;
  bool listed = false, gone = false;
  std::thread installer([&] {
    registered = registerServer();
    listed = keyExists(kCameraCategoryEntry);
    unregistered = unregisterServer();
    gone = !keyExists(kCameraCategoryEntry) && !keyExists(kCameraKey);
  });
  installer.join();
  EXPECT_EQ(registered, S_OK);
  EXPECT_TRUE(listed);
  EXPECT_EQ(unregistered, S_OK);
  EXPECT_TRUE(gone);

  FreeLibrary(dll);
}

}  // namespace
}  // namespace dlltest
