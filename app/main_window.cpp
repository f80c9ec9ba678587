#include "app/main_window.h"

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

HWND createMainWindow(HINSTANCE instance, Graphics* graphics) {
  HWND window = CreateWindowExW(0, kWindowClassName, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (window != nullptr) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(graphics));
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
