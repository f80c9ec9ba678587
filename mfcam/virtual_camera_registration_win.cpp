#include "mfcam/virtual_camera_registration_win.h"

#include <mfapi.h>
#include <wrl/client.h>

#include <cstdio>

#include "common/com_scope_win.h"
#include "mfcam/mf_declarations_win.h"
#include "mfcam/media_source_clsid_win.h"

namespace mfcam {

namespace {

RegistrationResult failure(HRESULT hr, const char* call) { return {RegistrationStatus::Failed, hr, call}; }

// Held for the whole run, released in reverse: the camera object before Media Foundation, COM
// and the DLL whose code it runs.
class SensorGroupLibrary {
 public:
  SensorGroupLibrary() : module_(LoadLibraryExW(L"mfsensorgroup.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    if (module_ == nullptr) error_ = GetLastError();
  }
  ~SensorGroupLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  SensorGroupLibrary(const SensorGroupLibrary&) = delete;
  SensorGroupLibrary& operator=(const SensorGroupLibrary&) = delete;

  HMODULE module() const { return module_; }
  DWORD error() const { return error_; }

 private:
  HMODULE module_;
  DWORD error_ = ERROR_SUCCESS;
};

class MediaFoundationScope {
 public:
  MediaFoundationScope() : result_(MFStartup(MF_VERSION, MFSTARTUP_LITE)) {}
  ~MediaFoundationScope() {
    if (SUCCEEDED(result_)) MFShutdown();
  }
  MediaFoundationScope(const MediaFoundationScope&) = delete;
  MediaFoundationScope& operator=(const MediaFoundationScope&) = delete;

  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

RegistrationResult withVirtualCamera(bool registering) {
  SensorGroupLibrary library;
  if (library.module() == nullptr) {
    if (library.error() == ERROR_MOD_NOT_FOUND) return {RegistrationStatus::NotOnThisWindows, S_OK, ""};
    return failure(HRESULT_FROM_WIN32(library.error()), "LoadLibraryExW(mfsensorgroup.dll)");
  }
  auto create = reinterpret_cast<MFCreateVirtualCameraFunction>(
      reinterpret_cast<void*>(GetProcAddress(library.module(), "MFCreateVirtualCamera")));
  if (create == nullptr) return {RegistrationStatus::NotOnThisWindows, S_OK, ""};

  ComScope com(COINIT_MULTITHREADED);
  MediaFoundationScope mediaFoundation;
  if (FAILED(mediaFoundation.result())) return failure(mediaFoundation.result(), "MFStartup");

  wchar_t sourceId[40] = {};
  StringFromGUID2(kMediaSourceClsid, sourceId, 40);  // braces, upper-case hex
  Microsoft::WRL::ComPtr<IMFVirtualCamera> camera;
  // No categories: the documented default, the video camera, video and capture categories.
  HRESULT hr = create(MFVirtualCameraType_SoftwareCameraSource, MFVirtualCameraLifetime_System,
                      MFVirtualCameraAccess_AllUsers, kVirtualCameraName, sourceId, nullptr, 0, &camera);
  if (FAILED(hr)) return failure(hr, "MFCreateVirtualCamera");
  if (camera == nullptr) return failure(E_POINTER, "MFCreateVirtualCamera");

  hr = registering ? camera->Start(nullptr) : camera->Remove();
  const char* call = registering ? "IMFVirtualCamera::Start" : "IMFVirtualCamera::Remove";
  // Shut down in any case: it frees what the object holds in this process.
  const HRESULT shutdown = camera->Shutdown();
  if (FAILED(hr)) return failure(hr, call);
  if (FAILED(shutdown)) return failure(shutdown, "IMFVirtualCamera::Shutdown");
  return {RegistrationStatus::Done, S_OK, ""};
}

}  // namespace

RegistrationResult registerVirtualCamera() { return withVirtualCamera(true); }

RegistrationResult removeVirtualCamera() { return withVirtualCamera(false); }

std::string describe(const RegistrationResult& result, bool registering) {
  const std::string tag = "[VirtualCamera] ";
  switch (result.status) {
    case RegistrationStatus::Done:
      return tag + (registering ? "registered the Media Foundation camera \"Orvik\" for every user\n"
                                : "removed the Media Foundation camera \"Orvik\"\n");
    case RegistrationStatus::NotOnThisWindows:
      return tag + "this Windows has no virtual cameras (no MFCreateVirtualCamera in mfsensorgroup.dll: " +
             "Windows 10 or earlier); nothing to " + (registering ? "register" : "remove") + "\n";
    case RegistrationStatus::Failed:
      break;
  }
  char hr[16] = {};
  std::snprintf(hr, sizeof hr, "0x%08lX", static_cast<unsigned long>(result.hr));
  return tag + (registering ? "registering" : "removing") + " the camera \"Orvik\" failed: " + result.failed +
         " returned " + hr + "\n";
}

}  // namespace mfcam
