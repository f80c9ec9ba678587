#include "app/main_window_win.h"

#include <algorithm>

#include "imgui.h"
#include "imgui_impl_win32.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

namespace app {

ATOM registerWindowClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_CLASSDC;
  windowClass.lpfnWndProc = WndProc;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));  // the program's icon; none in test programs
  windowClass.lpszClassName = kWindowClassName;
  return RegisterClassExW(&windowClass);
}

void unregisterWindowClass(HINSTANCE instance) { UnregisterClassW(kWindowClassName, instance); }

float windowScale(HWND window) {
  const UINT dpi = GetDpiForWindow(window);
  return dpi != 0 ? static_cast<float>(dpi) / USER_DEFAULT_SCREEN_DPI : 1.0f;
}

void fitToDpi(HWND window) {
  const UINT dpi = GetDpiForWindow(window);
  if (dpi == 0 || dpi == USER_DEFAULT_SCREEN_DPI) return;
  RECT outer = {}, client = {};
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  const int dpiInt = static_cast<int>(dpi);
  int width = MulDiv(kClientWidth96, dpiInt, USER_DEFAULT_SCREEN_DPI) + (outer.right - outer.left) - client.right;
  int height =
      MulDiv(kClientHeight96, dpiInt, USER_DEFAULT_SCREEN_DPI) + (outer.bottom - outer.top) - client.bottom;
  int left = outer.left;
  int top = outer.top;
  // Never past the screen it is on: a 1080p laptop at 150 % has 1040 rows above its taskbar.
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    width = std::min(width, static_cast<int>(work.right - work.left));
    height = std::min(height, static_cast<int>(work.bottom - work.top));
    left = std::max(static_cast<int>(work.left), std::min(left, static_cast<int>(work.right) - width));
    top = std::max(static_cast<int>(work.top), std::min(top, static_cast<int>(work.bottom) - height));
  }
  if (width != outer.right - outer.left || height != outer.bottom - outer.top || left != outer.left ||
      top != outer.top) {
    SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

HWND createMainWindow(HINSTANCE instance, Graphics* graphics) {
  HWND window = CreateWindowExW(0, kWindowClassName, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return nullptr;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(graphics));
  fitToDpi(window);  // its DPI is known once it exists: that of the monitor it landed on
  return window;
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (ImGui_ImplWin32_WndProcHandler(window, message, wParam, lParam)) return 1;

  switch (message) {
    case WM_SIZE: {
      auto* graphics = reinterpret_cast<Graphics*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (graphics != nullptr && graphics->device != nullptr && wParam != SIZE_MINIMIZED) {
        graphics->pendingResizeWidth = LOWORD(lParam);
        graphics->pendingResizeHeight = HIWORD(lParam);
      }
      return 0;
    }
    case WM_DPICHANGED: {
      // Moved to a monitor of another scale: take the size Windows suggests; the frame loop makes
      // the fonts and the style again.
      auto* graphics = reinterpret_cast<Graphics*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (graphics != nullptr) graphics->pendingDpi = LOWORD(wParam);
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      if (suggested != nullptr) {
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      }
      return 0;
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_KEYMENU) return 0;  // Alt alone must not open the window menu
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace app
