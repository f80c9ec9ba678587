#include "app/program_win.h"

#include <memory>
#include <string>

#include "app/app_win.h"
#include "app/frame_pacing.h"
#include "app/frame_wait_win.h"
#include "app/main_window_win.h"
#include "common/steady_clock.h"
#include "i18n/font_folder_win.h"
#include "i18n/font_loader.h"
#include "imgui.h"
#include "imgui_impl_dx11.h"
#include "imgui_impl_win32.h"

namespace app {

namespace {

// The style at `scale` times its sizes; made from scratch, so that scales do not pile up.
void applyStyle(float scale) {
  ImGui::GetStyle() = ImGuiStyle();
  ImGui::StyleColorsDark();
  ImGuiStyle& style = ImGui::GetStyle();
  style.WindowPadding = ImVec2(20, 14);
  style.WindowRounding = 12;
  style.FrameRounding = 8;
  style.ItemSpacing = ImVec2(12, 10);
  style.GrabRounding = 6;
  ImVec4* colors = style.Colors;
  colors[ImGuiCol_Text] = ImVec4(0.90f, 0.91f, 0.93f, 1.00f);
  colors[ImGuiCol_TextDisabled] = ImVec4(0.45f, 0.47f, 0.52f, 1.00f);
  colors[ImGuiCol_WindowBg] = ImVec4(0.05f, 0.06f, 0.08f, 1.00f);
  colors[ImGuiCol_Border] = ImVec4(0.22f, 0.24f, 0.28f, 1.00f);
  colors[ImGuiCol_FrameBg] = ImVec4(0.09f, 0.10f, 0.13f, 1.00f);
  colors[ImGuiCol_FrameBgHovered] = ImVec4(0.12f, 0.14f, 0.18f, 1.00f);
  colors[ImGuiCol_FrameBgActive] = ImVec4(0.16f, 0.19f, 0.24f, 1.00f);
  if (scale != 1.0f) style.ScaleAllSizes(scale);  // at 96 DPI the sizes stay exactly as set
}

// Beyond it the atlas of every script outgrows the 16384 rows a Direct3D 11 texture may have.
constexpr float kLargestFontScale = 3.0f;

// Fonts rasterised at the new scale (not stretched), the style and the layout at it too.
void applyScale(float scale, const std::string& fontsFolder, App* app) {
  ImFontAtlas* fonts = ImGui::GetIO().Fonts;
  fonts->Clear();
  i18n::loadFonts(fonts, fontsFolder.c_str(), scale < kLargestFontScale ? scale : kLargestFontScale);
  applyStyle(scale);
  if (app != nullptr) app->setScale(scale);
}

// While the window cannot be seen, how often the loop looks whether it can again (restoring a
// minimised window sends messages; the end of an occlusion does not).
constexpr DWORD kHiddenPollMs = 100;
// How often the monitor's refresh rate is read again: the window may have moved to another.
constexpr std::int64_t kRefreshCheckNs = 2000000000;

// The device is gone: Dear ImGui's Direct3D objects and the preview's texture go with it, and
// everything is made again on a new device. False while there is none yet.
bool renewGraphics(HWND window, Graphics& graphics, App& app, const char* what, HRESULT hr,
                   const CreateDeviceFunction& createDevice) {
  if (graphics.device != nullptr) ImGui_ImplDX11_Shutdown();
  app.useDevice(nullptr, nullptr);
  if (!recreateGraphics(window, graphics, what, hr, createDevice)) return false;
  ImGui_ImplDX11_Init(graphics.device.Get(), graphics.context.Get());
  app.useDevice(graphics.device.Get(), graphics.context.Get());
  return true;
}

}  // namespace

int runProgram(HINSTANCE instance, const ProgramHooks& hooks) {
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);

  Graphics graphics;
  registerWindowClass(instance);
  HWND window = createMainWindow(instance, &graphics);

  if (!createGraphics(window, graphics, hooks.createDevice)) {
    releaseGraphics(graphics);
    unregisterWindowClass(instance);
    return 1;
  }
  createBackBufferView(graphics);

  ShowWindow(window, SW_SHOWDEFAULT);
  fitToDpi(window);  // once more: a shown window may have another frame
  UpdateWindow(window);
  SetWindowTextW(window, kWindowTitle);

  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
  io.IniFilename = nullptr;  // nothing is kept between runs
  const std::string fontsFolder = hooks.fontsFolder.empty() ? i18n::systemFontsFolder() : hooks.fontsFolder;
  const float scale = windowScale(window);
  applyScale(scale, fontsFolder, nullptr);
  ImGui_ImplWin32_Init(window);
  ImGui_ImplDX11_Init(graphics.device.Get(), graphics.context.Get());

  auto app = std::make_unique<App>(graphics.device.Get(), graphics.context.Get());
  app->setScale(scale);

  const float clearColor[4] = {0.04f, 0.05f, 0.07f, 1.0f};
  FramePacing pacing;
  FrameDemand demand;
  FrameWait wait;
  std::int64_t refreshCheckedNs = 0;
  bool occluded = false;  // the last Present said nothing of the window can be seen
  bool messages = false;  // handled since the last look
  while (pumpMessages(&messages)) {
    // The device was lost and none could be made again yet: try once more in a while.
    if (graphics.device == nullptr &&
        !renewGraphics(window, graphics, *app, "", S_OK, hooks.createDevice)) {
      waitForMessages(kHiddenPollMs);
      continue;
    }

    // Minimised or covered: draw nothing, as Dear ImGui's own example does, and sleep until a
    // message comes or it is time to test again.
    if (IsIconic(window) ||
        (occluded && graphics.swapChain->Present(0, DXGI_PRESENT_TEST) == DXGI_STATUS_OCCLUDED)) {
      waitForMessages(kHiddenPollMs);
      continue;
    }

    // Nothing new to show: look again at the next refresh.
    std::int64_t now = steadyNowNs();
    if (messages) demand.messagesArrived(now);
    messages = false;
    if (!hooks.everyRefresh && !demand.due(now, app->pictureWaiting())) {
      if (!wait.until(now + pacing.periodNs(), &messages)) break;
      continue;
    }

    const HRESULT resized = applyPendingResize(graphics);
    if (deviceLost(resized)) {
      renewGraphics(window, graphics, *app, "ResizeBuffers", resized, hooks.createDevice);
      continue;
    }

    if (graphics.pendingDpi != 0) {
      applyScale(static_cast<float>(graphics.pendingDpi) / USER_DEFAULT_SCREEN_DPI, fontsFolder, app.get());
      graphics.pendingDpi = 0;
      ImGui_ImplDX11_InvalidateDeviceObjects();  // its font texture is made again from the new atlas
    }

    ImGui_ImplDX11_NewFrame();
    ImGui_ImplWin32_NewFrame();
    ImGui::NewFrame();
    app->frame();
    ImGui::Render();

    // A failed resize leaves no view: skip the target rather than draw into nothing.
    if (graphics.mainRenderTargetView != nullptr) {
      graphics.context->OMSetRenderTargets(1, graphics.mainRenderTargetView.GetAddressOf(), nullptr);
      graphics.context->ClearRenderTargetView(graphics.mainRenderTargetView.Get(), clearColor);
      ImGui_ImplDX11_RenderDrawData(ImGui::GetDrawData());
    }
    const HRESULT presented = hooks.present ? hooks.present(graphics.swapChain.Get(), 1, 0)
                                            : graphics.swapChain->Present(1, 0);
    occluded = presented == DXGI_STATUS_OCCLUDED;
    const HRESULT previewLoss = app->takeDeviceLoss();
    if (deviceLost(presented)) {
      renewGraphics(window, graphics, *app, "Present", presented, hooks.createDevice);
    } else if (deviceLost(previewLoss)) {
      renewGraphics(window, graphics, *app, "The preview's texture", previewLoss, hooks.createDevice);
    }

    if (hooks.afterFrame) hooks.afterFrame(*app, window);

    // Where Present did not wait for a vertical blank, wait out the rest of the refresh period.
    now = steadyNowNs();
    demand.drew(now);
    if (now - refreshCheckedNs >= kRefreshCheckNs) {
      pacing.setRefreshRate(refreshRateOf(window));
      refreshCheckedNs = now;
    }
    if (!wait.until(pacing.nextFrameAt(now), &messages)) break;
  }

  if (graphics.device != nullptr) ImGui_ImplDX11_Shutdown();  // else it went with the lost device
  ImGui_ImplWin32_Shutdown();
  ImGui::DestroyContext();
  releaseGraphics(graphics);
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);  // the window outlives nothing it points at
  DestroyWindow(window);
  unregisterWindowClass(instance);
  app.reset();  // stops a running stream only now, after the window has gone
  return 0;
}

}  // namespace app
