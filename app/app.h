// The one controller of the control program: owns the receive chain (stream controller,
// transport, decode pipeline, audio player) and service discovery, holds the user's choices and
// the preview's display state, and hands the newest decoded picture from the stream thread to
// the UI thread. Construction, frame, start, stop and destruction run on the UI thread; the
// callbacks it installs run on the transport's worker thread. Windows only.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "receiver/stream_controller.h"
#include "transport/discovery.h"
#include "transport/state.h"

struct DnsSdFunctions;
struct ID3D11Device;
struct ID3D11DeviceContext;
struct ID3D11Texture2D;
struct ID3D11ShaderResourceView;
class DecodePipelineWin;
class AudioPlayer;

namespace receiver {
struct DecodedFrame;
}

// TCP port of the phone's stream service, on the network and through the USB tunnel alike.
inline constexpr std::uint16_t kStreamPort = 5555;

class App {
 public:
  // Neither object is owned; both must outlive the App. Starts service discovery.
  App(ID3D11Device* device, ID3D11DeviceContext* context);
  // The same, with discovery asking another DNS-SD service, which must outlive the App (tests).
  App(ID3D11Device* device, ID3D11DeviceContext* context, const DnsSdFunctions& dnsSd);
  // Stops the receive chain, releases the preview texture and stops discovery.
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Once per UI frame, between Dear ImGui's new-frame and render calls.
  void frame();

 private:
  friend class AppProbe;  // tests drive start/stop and the callbacks directly

  void init();
  void start();
  void stop();

  // The window's parts, in the order frame draws them (panels.cpp, preview_panel.cpp).
  void drawStatusBar();
  void drawPreview();
  void uploadPreview();
  void drawConnectPanel();
  void drawHelpWindow();

  // The callbacks; the first four run on the stream thread.
  void handleState(transport::State state);
  void handleOrientation(int degrees, bool mirror);
  void handleDecodedFrame(const receiver::DecodedFrame& frame);
  void routeFrame(const receiver::Frame& frame);

  ID3D11Device* device_ = nullptr;
  ID3D11DeviceContext* context_ = nullptr;
  receiver::StreamController stream_;
  std::unique_ptr<DecodePipelineWin> pipeline_;  // only while running
  std::unique_ptr<AudioPlayer> audio_;           // only while running
  Discovery discovery_;
  std::vector<DiscoveredHost> services_;
  std::int32_t languageIndex_ = 0;   // into i18n::kLanguages
  std::int32_t transportIndex_ = 0;  // 0 USB, 1 Wi-Fi
  std::string host_;                 // Wi-Fi address, passed on unchecked
  bool running_ = false;
  bool showHelp_ = false;
  // Written by the phone's orientation messages on the stream thread and by the preview's
  // controls on the UI thread, hence atomic.
  std::atomic<std::int32_t> rotation_{0};  // quarter turns clockwise, 0..3
  std::atomic<bool> mirror_{false};
  bool flip_ = false;
  std::atomic<transport::State> state_{transport::State::Idle};

  std::mutex frameMutex_;  // guards the five members below
  std::vector<std::uint8_t> frameData_;  // packed NV12 of the newest untaken picture
  std::uint32_t frameWidth_ = 0;
  std::uint32_t frameHeight_ = 0;
  std::uint32_t frameStride_ = 0;  // always the width
  bool frameReady_ = false;

  ID3D11Texture2D* previewTexture_ = nullptr;     // owned
  ID3D11ShaderResourceView* previewSrv_ = nullptr;  // owned
  std::uint32_t textureWidth_ = 0;
  std::uint32_t textureHeight_ = 0;
  std::int64_t fpsWindowStart_ = 0;  // steady clock, nanoseconds; 0 = not started
  std::int32_t fpsFrames_ = 0;
  double previewFps_ = 0.0;
};
