#include "app/frame_wait_win.h"

#include "common/steady_clock.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace app {

namespace {
// The system's caret-blink timer: it arrives twice a second whether or not anything changed.
constexpr UINT kSystemTimer = 0x0118;
}  // namespace

bool pumpMessages(bool* handled) {
  bool quit = false;
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (handled != nullptr && message.message != WM_TIMER && message.message != kSystemTimer) *handled = true;
    TranslateMessage(&message);
    DispatchMessageW(&message);
    if (message.message == WM_QUIT) quit = true;
  }
  return !quit;
}

FrameWait::FrameWait() {
  // Plain timers keep the system tick (15.6 ms by default), a whole frame at 60 Hz.
  timer_.reset(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS));
  if (!timer_) timer_.reset(CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
}

bool FrameWait::until(std::int64_t deadlineNs, bool* handled) {
  for (;;) {
    const std::int64_t left = deadlineNs - steadyNowNs();
    if (left <= 0) return true;
    DWORD result;
    HANDLE timer = timer_.get();
    if (timer != nullptr) {
      LARGE_INTEGER due;
      due.QuadPart = -((left + 99) / 100);  // relative, in 100 ns units
      SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
      result = MsgWaitForMultipleObjects(1, &timer, FALSE, INFINITE, QS_ALLINPUT);
    } else {
      result = MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD((left + 999999) / 1000000), QS_ALLINPUT);
    }
    if (result == WAIT_OBJECT_0 + (timer != nullptr ? 1 : 0)) {
      if (!pumpMessages(handled)) return false;
    } else if (result == WAIT_FAILED) {
      return true;  // never spin on a wait that cannot work
    }
  }
}

void waitForMessages(DWORD ms) { MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT); }

std::uint32_t refreshRateOf(HWND window) {
  MONITORINFOEXW monitor = {};
  monitor.cbSize = sizeof(monitor);
  if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) return 0;
  DEVMODEW mode = {};
  mode.dmSize = sizeof(mode);
  if (!EnumDisplaySettingsW(monitor.szDevice, ENUM_CURRENT_SETTINGS, &mode)) return 0;
  return mode.dmDisplayFrequency;
}

}  // namespace app
