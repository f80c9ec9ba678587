// The program's one top-level window: its class, its creation and its window procedure.
#pragma once

#include <windows.h>

#include "app/graphics.h"

namespace app {

inline constexpr wchar_t kWindowClassName[] = L"BrindleVideoWindow";
inline constexpr wchar_t kWindowTitle[] = L"Orvik";
inline constexpr int kWindowWidth = 720;  // outer size, not scaled for the monitor's DPI
inline constexpr int kWindowHeight = 760;

// Registers "BrindleVideoWindow" with WndProc; the result of RegisterClassExW.
ATOM registerWindowClass(HINSTANCE instance);
void unregisterWindowClass(HINSTANCE instance);

// Creates the window "Orvik" (not yet shown) and attaches `graphics`, which must outlive it:
// WndProc records resizes into it once it holds a device.
HWND createMainWindow(HINSTANCE instance, Graphics* graphics);

// Dear ImGui sees every message first. WM_SIZE records the new client size unless minimised or
// without a device; the Alt key's menu command is swallowed; WM_DESTROY ends the message loop.
LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace app
