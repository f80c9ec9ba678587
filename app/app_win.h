// The control program's view: the main window, its panels and the preview, drawn over the
// receive chain's session. It holds the user's choices (language, transport, address), the
// help window's flag, service discovery and the preview texture. Construction, frame and
// destruction run on the UI thread. Windows only.
#pragma once

#include <d3d11.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/preview_texture_win.h"
#include "imgui.h"
#include "common/rate_meter.h"
#include "session/session_win.h"
#include "transport/discovery_win.h"

class AppProbe;

namespace app {

class App {
 public:
  // Neither object is owned; both must outlive the App. Starts service discovery.
  App(ID3D11Device* device, ID3D11DeviceContext* context);
  // The same, with discovery asking another DNS-SD service, which must outlive the App (tests).
  App(ID3D11Device* device, ID3D11DeviceContext* context, const transport::DnsSdFunctions& dnsSd);
  // Stops the receive chain, releases the preview texture and stops discovery.
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Once per UI frame, between Dear ImGui's new-frame and render calls.
  void frame();
  // Whether the next frame would show a new picture.
  bool pictureWaiting() const { return session_.pictures().waiting(); }

  // The display scale (the window's DPI / 96): the layout's sizes in pixels are multiplied by it.
  void setScale(float scale) { scale_ = scale; }

  // The device to draw the preview with from now on, after the old one was lost: the preview
  // texture went with it and is made again from the next picture. Null while there is none.
  void useDevice(ID3D11Device* device, ID3D11DeviceContext* context);
  // The failure by which the preview found the device lost, once; S_OK when there was none.
  HRESULT takeDeviceLoss();

 private:
  friend class ::AppProbe;  // tests press start and read the view's own state

  void init();
  // What the start button does: starts the session over the chosen transport.
  void start();

  // The window's parts, in the order frame draws them (panels.cpp, preview_panel_win.cpp).
  void drawStatusBar();
  void drawNotices();
  void drawPreview();
  void uploadPreview();
  void drawConnectPanel();
  void drawHelpWindow();
  // A layout size given in pixels at 96 DPI, at the display's scale.
  float px(float pixels) const { return pixels * scale_; }
  ImVec2 px(float x, float y) const { return ImVec2(x * scale_, y * scale_); }

  session::Session session_;
  transport::Discovery discovery_;
  std::vector<transport::DiscoveredHost> services_;
  std::int32_t languageIndex_ = 0;   // into i18n::kLanguages
  std::int32_t transportIndex_ = 0;  // 0 USB, 1 Wi-Fi
  std::string host_;                 // Wi-Fi address, passed on unchecked
  bool showHelp_ = false;
  float scale_ = 1.0f;

  PreviewTexture preview_;
  common::RateMeter previewRate_;  // pictures uploaded per second
};

}  // namespace app
