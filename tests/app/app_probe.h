// Test access to App's private side: the start button's action, the session it draws, the
// user's choices and the preview texture.
#pragma once

#include <string>
#include <vector>

#include "app/app_win.h"
#include "common/steady_clock.h"
#include "i18n/languages.h"
#include "i18n/localizer.h"

class AppProbe {
 public:
  explicit AppProbe(app::App& app) : app_(app) {}

  void start() { app_.start(); }  // what the start button does
  void chooseWifi(const std::string& host) {  // what the transport list and the address field do
    app_.transportIndex_ = 1;
    app_.host_ = host;
  }
  session::Session& session() { return app_.session_; }

  // What picking entry `index` of the language list does.
  void chooseLanguage(int index) {
    app_.languageIndex_ = index;
    i18n::Localizer::instance().setLanguage(i18n::kLanguages[index].code);
  }
  int languageIndex() const { return app_.languageIndex_; }
  int transportIndex() const { return app_.transportIndex_; }
  const std::string& host() const { return app_.host_; }
  const std::vector<transport::DiscoveredHost>& services() const { return app_.services_; }
  bool showHelp() const { return app_.showHelp_; }
  float scale() const { return app_.scale_; }

  ID3D11Device* device() const { return app_.preview_.device(); }
  ID3D11DeviceContext* context() const { return app_.preview_.context(); }
  // The preview's half on the UI thread.
  void uploadPreview() { app_.uploadPreview(); }
  ID3D11Texture2D* previewTexture() const { return app_.preview_.texture(); }
  ID3D11ShaderResourceView* previewSrv() const { return app_.preview_.view(); }
  std::uint32_t textureWidth() const { return app_.preview_.width(); }
  std::uint32_t textureHeight() const { return app_.preview_.height(); }
  double previewFps() const { return app_.previewRate_.rate(steadyNowNs()); }

 private:
  app::App& app_;
};
