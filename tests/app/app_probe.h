// Test access to App's private side: start/stop, the callbacks it installs and its members.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/app.h"
#include "i18n/languages.h"
#include "i18n/localizer.h"
#include "media/audio_player.h"
#include "media/decode_pipeline_win.h"

class AppProbe {
 public:
  explicit AppProbe(App& app) : app_(app) {}

  void start() { app_.start(); }
  void stop() { app_.stop(); }
  void route(const receiver::Frame& frame) { app_.routeFrame(frame); }
  void decoded(const receiver::DecodedFrame& frame) { app_.handleDecodedFrame(frame); }
  void orientation(int degrees, bool mirror) { app_.handleOrientation(degrees, mirror); }
  // What the stream controller calls: the callback the constructor installed.
  void reportState(transport::State state) { app_.stream_.onState(state); }

  void chooseWifi(const std::string& host) {
    app_.transportIndex_ = 1;
    app_.host_ = host;
  }
  void chooseUsb() { app_.transportIndex_ = 0; }
  // What picking entry `index` of the language list does.
  void chooseLanguage(int index) {
    app_.languageIndex_ = index;
    i18n::Localizer::instance().setLanguage(i18n::kLanguages[index].code);
  }
  ID3D11Device* device() const { return app_.device_; }
  ID3D11DeviceContext* context() const { return app_.context_; }

  bool running() const { return app_.running_; }
  int transportIndex() const { return app_.transportIndex_; }
  const std::string& host() const { return app_.host_; }
  const std::vector<DiscoveredHost>& services() const { return app_.services_; }
  bool showHelp() const { return app_.showHelp_; }
  void setShowHelp(bool show) { app_.showHelp_ = show; }
  // Any value, also one outside the four states, as a transport might store it.
  void setStateValue(std::int32_t value) { app_.state_.store(static_cast<transport::State>(value)); }
  void setRotation(int rotation) { app_.rotation_.store(rotation); }
  bool flip() const { return app_.flip_; }

  // The preview's half on the UI thread.
  void uploadPreview() { app_.uploadPreview(); }
  ID3D11Texture2D* previewTexture() const { return app_.previewTexture_; }
  ID3D11ShaderResourceView* previewSrv() const { return app_.previewSrv_; }
  std::uint32_t textureWidth() const { return app_.textureWidth_; }
  std::uint32_t textureHeight() const { return app_.textureHeight_; }
  double previewFps() const { return app_.previewFps_; }
  transport::State state() const { return app_.state_.load(); }
  int rotation() const { return app_.rotation_.load(); }
  bool mirror() const { return app_.mirror_.load(); }
  int languageIndex() const { return app_.languageIndex_; }
  DecodePipelineWin* pipeline() const { return app_.pipeline_.get(); }
  AudioPlayer* audio() const { return app_.audio_.get(); }
  receiver::StreamController::Stats stats() const { return app_.stream_.stats(); }

  struct Waiting {
    bool ready = false;
    std::uint32_t width = 0, height = 0, stride = 0;
    std::vector<std::uint8_t> data;
  };
  Waiting waiting() const {
    std::lock_guard<std::mutex> lock(app_.frameMutex_);
    return {app_.frameReady_, app_.frameWidth_, app_.frameHeight_, app_.frameStride_, app_.frameData_};
  }

 private:
  App& app_;
};
