// The control program from start to end: DPI awareness, the window, the Direct3D 11 device,
// Dear ImGui, the fonts, the App and the frame loop, then the shut-down in reverse. The loop
// draws at most one frame per refresh of the display (Present's vertical sync, or its own pacing
// where Present does not wait): each refresh while the user works with the window or a new
// picture waits, a few a second otherwise (FrameDemand), none while it is minimised or covered. Runs on the calling
// thread, which becomes the UI thread; one run per thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "app/graphics_win.h"

namespace app {

class App;

struct ProgramHooks {
  CreateDeviceFunction createDevice;  // empty: D3D11CreateDeviceAndSwapChain
  // Called after every presented frame, on the UI thread (tests). Not while the window is hidden.
  std::function<void(App& app, HWND window)> afterFrame;
  // Draw at every refresh even when nothing changed (tests that script the UI frame by frame).
  bool everyRefresh = false;
  std::string fontsFolder;  // empty: the system's fonts folder (tests bring their own fonts)
  // Stands in for the swap chain's Present (tests fail it as a lost device would); empty: Present.
  std::function<HRESULT(IDXGISwapChain* swapChain, UINT syncInterval, UINT flags)> present;
};

// 0 after the window was closed, 1 when no Direct3D 11 device could be created.
int runProgram(HINSTANCE instance, const ProgramHooks& hooks = {});

}  // namespace app
