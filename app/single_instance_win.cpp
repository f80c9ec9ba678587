#include "app/single_instance_win.h"

#include "app/main_window_win.h"

namespace app {

SingleInstance::SingleInstance(const wchar_t* name) {
  SetLastError(ERROR_SUCCESS);
  mutex_ = CreateMutexW(nullptr, FALSE, name);
  const DWORD error = GetLastError();
  // Refused outright: a copy running with other rights made it.
  first_ = mutex_ != nullptr ? error != ERROR_ALREADY_EXISTS : error != ERROR_ACCESS_DENIED;
}

SingleInstance::~SingleInstance() {
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

bool bringRunningWindowToFront(DWORD waitMs) {
  const ULONGLONG end = GetTickCount64() + waitMs;
  for (;;) {
    if (HWND window = FindWindowW(kWindowClassName, kWindowTitle)) {
      // Asynchronous: a copy that hangs must not hang this one too.
      if (IsIconic(window)) ShowWindowAsync(window, SW_RESTORE);
      SetForegroundWindow(window);
      return true;
    }
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
}

}  // namespace app
