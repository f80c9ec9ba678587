// The program's one top-level window: its class, its creation and its window procedure.
#pragma once

#include <windows.h>

#include "app/graphics_win.h"

namespace app {

inline constexpr wchar_t kWindowClassName[] = L"BrindleVideoWindow";
inline constexpr wchar_t kWindowTitle[] = L"Orvik";
inline constexpr int kWindowWidth = 720;  // outer size at 96 DPI
inline constexpr int kWindowHeight = 760;
// Its client area at 96 DPI on Windows 10 and 11, inside their frame of 8 pixels a side and
// caption of 23: what the window scales from at other DPIs.
inline constexpr int kClientWidth96 = 704;
inline constexpr int kClientHeight96 = 721;

// The window's display scale: its DPI / 96 (1 where the program is not DPI aware).
float windowScale(HWND window);

// Registers "BrindleVideoWindow" with WndProc; the result of RegisterClassExW.
ATOM registerWindowClass(HINSTANCE instance);
void unregisterWindowClass(HINSTANCE instance);

// Sizes the window for its DPI: the client area, where the program draws, is the 96-DPI one's
// times the scale, the frame as wide as Windows draws it there. Nothing changes at 96 DPI.
void fitToDpi(HWND window);

// Creates the window "Orvik" (not yet shown) at the size for its DPI and attaches `graphics`,
// which must outlive it: WndProc records resizes into it once it holds a device.
HWND createMainWindow(HINSTANCE instance, Graphics* graphics);

// Dear ImGui sees every message first. WM_SIZE records the new client size unless minimised or
// without a device; WM_DPICHANGED takes the rectangle Windows suggests and records the new DPI;
// the Alt key's menu command is swallowed; WM_DESTROY ends the message loop.
LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace app
