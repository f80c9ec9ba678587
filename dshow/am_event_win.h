// A Win32 event, manual- or auto-reset. A failed creation leaves it invalid, which callers
// check before relying on it.
#pragma once

#include <windows.h>

namespace dshow {

class CAMEvent {
 public:
  explicit CAMEvent(bool manualReset = false) : handle_(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
  ~CAMEvent() {
    if (handle_) CloseHandle(handle_);
  }
  CAMEvent(const CAMEvent&) = delete;
  CAMEvent& operator=(const CAMEvent&) = delete;

  bool IsValid() const { return handle_ != nullptr; }
  HANDLE Handle() const { return handle_; }
  void Set() { SetEvent(handle_); }
  void Reset() { ResetEvent(handle_); }
  // True when the event was signalled within `timeoutMs`.
  bool Wait(DWORD timeoutMs = INFINITE) { return WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0; }
  bool Check() { return Wait(0); }

 private:
  HANDLE handle_;
};

}  // namespace dshow
