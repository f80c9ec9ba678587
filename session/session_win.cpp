#include "session/session_win.h"

#include <objbase.h>

#include <utility>

#include "common/debug_log.h"
#include "common/steady_clock.h"

#include "media/audio_player_win.h"
#include "media/decode_pipeline_win.h"
#include "receiver/protocol.h"
#include "receiver/stream_controller.h"
#include "transport/usbmux_transport_win.h"
#include "transport/wifi_transport_win.h"

namespace session {

namespace {

// Room for the largest picture a phone sends, in either orientation.
constexpr std::uint32_t kPipelineCapacity = 1920;

std::unique_ptr<transport::ITransport> makeTransport(const Link& link) {
  if (link.kind == Link::Kind::Usb) return std::make_unique<transport::UsbMuxTransport>(receiver::kStreamPort);
  return std::make_unique<transport::WifiTransport>(link.host, receiver::kStreamPort);
}

// One line for each part of the picture path that did not start.
void logStartFaults(const PicturePublisher& publisher, const media::DecodePipeline& pipeline) {
  const char* why = nullptr;
  switch (publisher.ringFault()) {
    case ring::RingFault::None: break;
    case ring::RingFault::NameTaken: why = "another kind of object holds its name"; break;
    case ring::RingFault::OtherRing:
      why = "a section of its name with another size or layout, or closed to this user, is in use";
      break;
    case ring::RingFault::NoMemory: why = "its section could not be created"; break;
    case ring::RingFault::Absent: break;  // only attach reports it
  }
  if (why != nullptr) {
    logLine("[Session] the camera gets no pictures: %s (%s%s, error %lu)\n", why, ring::kFrameRingNamespace,
            ring::kFrameRingName, publisher.ringError());
  }
  if (!pipeline.started()) logLine("[Session] no H.264 decoder could be started: nothing is decoded\n");
}

}  // namespace

Session::Session() : stream_(std::make_unique<receiver::StreamController>(static_cast<receiver::StreamSink&>(*this))) {}

Session::~Session() { stop(); }

void Session::start(const Link& link) { start(makeTransport(link)); }

void Session::start(std::unique_ptr<transport::ITransport> transport) {
  // The stream thread uses the pipeline and the player: never replace them under a running one.
  if (running_) stop();
  gate_.reset();

  publisher_ = std::make_unique<PicturePublisher>(orientation_, pictures_);
  publisher_->open(kPipelineCapacity, kPipelineCapacity);
  pipeline_ = std::make_unique<media::DecodePipeline>(*publisher_);
  pipeline_->start();  // a failed pipeline still takes frames
  logStartFaults(*publisher_, *pipeline_);

  video_ = std::make_unique<VideoWorker>(static_cast<VideoSink&>(*this), gate_);
  video_->start();

  audio_ = std::make_unique<media::AudioPlayer>();  // opens its device at the first audio format

  stream_->start(std::move(transport));
  running_ = true;
}

void Session::stop() {
  stream_->stop();  // no callback runs after this
  video_.reset();  // joins the video thread: nothing decodes after this
  if (pipeline_) {
    pipeline_->stop();
    pipeline_.reset();
  }
  publisher_.reset();  // closes the ring
  if (audio_) {
    audio_->stop();
    audio_.reset();
  }
  running_ = false;
  state_.exchange(transport::State::Idle);
}

ring::RingFault Session::ringFault() const {
  return publisher_ ? publisher_->ringFault() : ring::RingFault::None;
}

bool Session::decoderMissing() const { return pipeline_ && !pipeline_->started(); }

receiver::StreamStats Session::stats() const {
  receiver::StreamStats stats = stream_->stats();
  stats.skipped = gate_.videoSkipped();
  return stats;
}

void Session::streamState(transport::State state) {
  if (state == transport::State::Connected) gate_.newConnection();  // the phone's clock may differ
  state_.exchange(state);
}

void Session::audioFormat(const media::AudioFormat& format) {
  if (audio_) audio_->configure(format);
}

void Session::audioSamples(std::span<const std::uint8_t> samples, std::uint64_t timestampUs) {
  if (audio_ && gate_.playAudio(timestampUs, steadyNowNs() / 1000)) audio_->push(samples.data(), samples.size());
}

void Session::phoneOrientation(int rotationDegrees, bool mirror) {
  // Like the video, the phone's orientation counts only while the pipeline runs.
  if (!pipeline_ || !pipeline_->started()) return;
  orientation_.rotation.store(quarterTurns(rotationDegrees));
  orientation_.mirror.store(mirror);
}

void Session::videoFrame(const receiver::Frame& frame) {
  if (video_) video_->push(frame);
}

void Session::threadBegins() {  // the decoder is COM
  comOnVideoThread_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

void Session::decode(const receiver::Frame& frame) { pipeline_->decode(frame.payload, frame.timestampUs); }

void Session::skipStarts() { pipeline_->releaseHeldPictures(); }

void Session::threadEnds() {
  if (comOnVideoThread_) CoUninitialize();
}

}  // namespace session
