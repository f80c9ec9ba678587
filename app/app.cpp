#include "app/app.h"

#include <d3d11.h>

#include <string_view>
#include <utility>

#include "common/debug_log.h"
#include "i18n/languages.h"
#include "i18n/localizer.h"
#include "media/audio_player.h"
#include "media/decode_pipeline_win.h"
#include "media/decoded_frame.h"
#include "media/stream_metadata.h"
#include "transport/usbmux_transport.h"
#include "transport/wifi_transport.h"

namespace {

// Room for the largest picture a phone sends, in either orientation.
constexpr std::uint32_t kPipelineCapacity = 1920;

template <class T>
void releaseCom(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

}  // namespace

App::App(ID3D11Device* device, ID3D11DeviceContext* context) : device_(device), context_(context) { init(); }

App::App(ID3D11Device* device, ID3D11DeviceContext* context, const DnsSdFunctions& dnsSd)
    : device_(device), context_(context), discovery_(dnsSd) {
  init();
}

void App::init() {
  std::string language = i18n::Localizer::instance().currentLanguage();
  for (std::size_t i = 0; i < i18n::kLanguageCount; ++i) {
    if (language == i18n::kLanguages[i].code) {
      languageIndex_ = static_cast<std::int32_t>(i);
      break;
    }
  }

  stream_.onState = [this](transport::State state) { handleState(state); };
  discovery_.start();
}

App::~App() {
  stop();
  releaseCom(previewSrv_);
  releaseCom(previewTexture_);
  textureWidth_ = 0;
  textureHeight_ = 0;
  {
    std::lock_guard<std::mutex> lock(frameMutex_);
    std::vector<std::uint8_t>().swap(frameData_);
    frameReady_ = false;
  }
  std::string().swap(host_);
  std::vector<DiscoveredHost>().swap(services_);
  discovery_.stop();
  audio_.reset();
  pipeline_.reset();
}

void App::start() {
  // The stream thread uses the pipeline and the player: never replace them under a running one.
  if (running_) stop();

  pipeline_ = std::make_unique<DecodePipelineWin>();
  pipeline_->start(kPipelineCapacity, kPipelineCapacity);  // a failed pipeline still takes frames
  pipeline_->onOrientation = [this](int degrees, bool mirror) { handleOrientation(degrees, mirror); };
  pipeline_->onDecodedFrame = [this](const receiver::DecodedFrame& frame) { handleDecodedFrame(frame); };

  audio_ = std::make_unique<AudioPlayer>();  // opens its device at the first audio format

  stream_.onFrame = [this](const receiver::Frame& frame) { routeFrame(frame); };

  std::unique_ptr<transport::ITransport> transport;
  if (transportIndex_ == 1) {
    transport = std::make_unique<transport::WifiTransport>(host_, kStreamPort);
  } else {
    transport = std::make_unique<transport::UsbMuxTransport>(kStreamPort);
  }
  stream_.start(std::move(transport));
  running_ = true;
}

void App::stop() {
  stream_.stop();  // no callback runs after this
  if (pipeline_) {
    pipeline_->stop();
    pipeline_.reset();
  }
  if (audio_) {
    audio_->stop();
    audio_.reset();
  }
  running_ = false;
  state_.exchange(transport::State::Idle);
}

void App::handleState(transport::State state) { state_.exchange(state); }

void App::handleOrientation(int degrees, bool mirror) {
  rotation_.store(((degrees / 90) % 4 + 4) % 4);
  mirror_.store(mirror);
}

void App::handleDecodedFrame(const receiver::DecodedFrame& frame) {
  if (frame.width == 0 || frame.height == 0) return;
  // Only packed pictures can be read with the width as the stride.
  bool packed = frame.stride == frame.width && (frame.codedHeight == 0 || frame.codedHeight == frame.height);
  if (!packed) {
    logLine("[Preview] picture %ux%u dropped: stride %u, coded height %u, not packed", frame.width, frame.height,
            frame.stride, frame.codedHeight);
    return;
  }
  // The preview reads height rows of luma and height / 2 rows of chroma, each width bytes.
  std::uint64_t needed = std::uint64_t(frame.width) * frame.height + std::uint64_t(frame.width) * (frame.height / 2);
  if (frame.data.size() < needed) {
    logLine("[Preview] picture %ux%u dropped: %zu bytes, needs %llu", frame.width, frame.height, frame.data.size(),
            static_cast<unsigned long long>(needed));
    return;
  }

  std::lock_guard<std::mutex> lock(frameMutex_);
  frameData_.assign(frame.data.begin(), frame.data.end());
  frameWidth_ = frame.width;
  frameHeight_ = frame.height;
  frameStride_ = frame.width;
  frameReady_ = true;
}

void App::routeFrame(const receiver::Frame& frame) {
  switch (frame.type) {
    case receiver::kFrameAudioFormat: {
      std::string_view text(reinterpret_cast<const char*>(frame.payload.data()), frame.payload.size());
      AudioFormat format = parseAudioFormat(text);
      if (audio_) audio_->configure(format);
      break;
    }
    case receiver::kFrameAudioSamples:
      if (audio_) audio_->push(frame.payload.data(), frame.payload.size());
      break;
    default:
      if (pipeline_) pipeline_->handleFrame(frame);
      break;
  }
}
