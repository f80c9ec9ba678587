// The Media Foundation virtual camera "Orvik" in Windows 11's list of cameras: registered once for
// every user and kept across restarts (lifetime System, access AllUsers, which needs administrator
// rights), and removed again. Windows 10 has no virtual cameras: there both do nothing and say so.
// mfsensorgroup.dll is looked up in System32 only, never beside the program.
#pragma once

#include <windows.h>

#include <string>

namespace mfcam {

// The camera's name as given; Windows shows it with a suffix of its own.
inline constexpr wchar_t kVirtualCameraName[] = L"Orvik";

enum class RegistrationStatus {
  Done,
  NotOnThisWindows,  // no mfsensorgroup.dll, or one without MFCreateVirtualCamera
  Failed,
};

struct RegistrationResult {
  RegistrationStatus status = RegistrationStatus::Failed;
  HRESULT hr = S_OK;        // what the failing call returned
  const char* failed = "";  // the failing call
};

// MFCreateVirtualCamera, then Start (the camera exists only once started), then Shutdown (which
// ends this process's hold on it, not the camera).
RegistrationResult registerVirtualCamera();
// MFCreateVirtualCamera with the same arguments opens the registered camera; Remove unregisters it.
RegistrationResult removeVirtualCamera();

// The one line that tells what happened, ending in a newline.
std::string describe(const RegistrationResult& result, bool registering);

}  // namespace mfcam
