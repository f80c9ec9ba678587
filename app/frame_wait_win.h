// The frame loop's waits on the UI thread: the window's messages are handled the moment they
// arrive, whatever else is waited for. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/unique_handle.h"

namespace app {

// Removes and dispatches every waiting message; false once WM_QUIT was among them. Sets
// `*handled` when there was any but a timer's (it is never cleared here).
bool pumpMessages(bool* handled = nullptr);

class FrameWait {
 public:
  FrameWait();

  // Handles messages until the steady clock reaches `deadlineNs`; false once WM_QUIT came.
  // Sets `*handled` when it handled any.
  bool until(std::int64_t deadlineNs, bool* handled = nullptr);

 private:
  common::UniqueHandle timer_;  // a high-resolution one where the system has them
};

// Sleeps until a message arrives or `ms` pass; the caller handles the messages.
void waitForMessages(DWORD ms);

// The refresh rate of the monitor that shows the window, in Hz; 0 when it is not known.
std::uint32_t refreshRateOf(HWND window);

}  // namespace app
