// WASAPI shared-mode render with event callback; the queue logic lives in audio_player_queue.
#include "media/audio_player_win.h"

#include <windows.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <mmreg.h>

#include <system_error>

#include "common/debug_log.h"
#include "media/audio_player_format.h"

namespace media {

namespace {

// KSDATAFORMAT_SUBTYPE_PCM and KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, spelled out so no GUID library
// has to define them.
constexpr GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kSubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

constexpr DWORD kStreamFlags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY |
                               AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM;  // 0x88040000
constexpr REFERENCE_TIME kBufferDuration = 600000;                 // 60 ms
constexpr DWORD kRenderWaitMs = 100;

unsigned long code(HRESULT hr) { return static_cast<unsigned long>(hr); }

WAVEFORMATEXTENSIBLE waveFormat(const AudioFormat& format) {
  AudioDeviceFormat device = audioDeviceFormat(format);
  WAVEFORMATEXTENSIBLE wave = {};
  wave.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  wave.Format.nChannels = device.channels;
  wave.Format.nSamplesPerSec = device.samplesPerSec;
  wave.Format.nBlockAlign = device.blockAlign;
  wave.Format.nAvgBytesPerSec = device.avgBytesPerSec;
  wave.Format.wBitsPerSample = device.bitsPerSample;
  wave.Format.cbSize = 22;
  wave.Samples.wValidBitsPerSample = device.bitsPerSample;
  wave.dwChannelMask = device.channelMask;
  wave.SubFormat = device.isFloat ? kSubtypeFloat : kSubtypePcm;
  return wave;
}

}  // namespace

AudioPlayer::AudioPlayer() = default;

AudioPlayer::~AudioPlayer() { stop(); }

bool AudioPlayer::configure(const AudioFormat& format) {
  if (opened_ && sameDeviceFields(format, format_)) return true;
  stop();
  format_ = format;
  if (!openDevice()) return false;

  opened_ = true;
  running_ = true;
  try {
    renderThread_ = std::thread(&AudioPlayer::renderLoop, this);
  } catch (const std::system_error& e) {
    logMediaLine("[AudioPlayer] render thread failed: %s\n", e.what());
    stop();
    return false;
  }
  return true;
}

bool AudioPlayer::openDevice() {
  if (const char* reason = unplayableReason(format_)) {
    logMediaLine("[AudioPlayer] unplayable format %d Hz %d ch %d bit (%s)\n", format_.sampleRate,
                 format_.channels, format_.bitsPerSample, reason);
    return false;
  }

  CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(&enumerator_));
  if (FAILED(hr) || !enumerator_) {
    logMediaLine("[AudioPlayer] MMDeviceEnumerator failed 0x%08lx\n", code(hr));
    return false;
  }

  Microsoft::WRL::ComPtr<IMMDevice> device;
  hr = enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, &device);
  if (FAILED(hr) || !device) {
    logMediaLine("[AudioPlayer] GetDefaultAudioEndpoint failed 0x%08lx\n", code(hr));
    return false;
  }

  hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                        reinterpret_cast<void**>(client_.ReleaseAndGetAddressOf()));
  device.Reset();
  if (FAILED(hr) || !client_) {
    logMediaLine("[AudioPlayer] Activate IAudioClient failed 0x%08lx\n", code(hr));
    return false;
  }

  WAVEFORMATEXTENSIBLE wave = waveFormat(format_);
  hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, kStreamFlags, kBufferDuration, 0,
                           reinterpret_cast<const WAVEFORMATEX*>(&wave), nullptr);
  if (FAILED(hr)) {
    logMediaLine("[AudioPlayer] IAudioClient::Initialize failed 0x%08lx\n", code(hr));
    return false;
  }

  // Without an event the render loop's wait would return at once, every pass.
  bufferEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!bufferEvent_) {
    logMediaLine("[AudioPlayer] CreateEvent failed %lu\n", GetLastError());
    return false;
  }
  client_->SetEventHandle(bufferEvent_);

  UINT32 frames = 0;
  hr = client_->GetBufferSize(&frames);
  if (FAILED(hr)) {
    logMediaLine("[AudioPlayer] GetBufferSize failed 0x%08lx\n", code(hr));
    return false;
  }
  bufferFrames_ = frames;

  hr = client_->GetService(IID_PPV_ARGS(&renderClient_));
  if (FAILED(hr) || !renderClient_) {
    logMediaLine("[AudioPlayer] GetService IAudioRenderClient 0x%08lx\n", code(hr));
    return false;
  }

  BYTE* data = nullptr;
  if (SUCCEEDED(renderClient_->GetBuffer(bufferFrames_, &data))) {
    renderClient_->ReleaseBuffer(bufferFrames_, AUDCLNT_BUFFERFLAGS_SILENT);
  }

  hr = client_->Start();
  if (FAILED(hr)) {
    logMediaLine("[AudioPlayer] Start failed 0x%08lx\n", code(hr));
    return false;
  }

  // The device reads nBlockAlign bytes a frame whatever bytesPerFrame says, so the queue and
  // the render loop count in those: writes stay inside the buffer and trimming tracks real time.
  deviceFrameBytes_ = wave.Format.nBlockAlign;
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    limits_ = audioQueueLimits(deviceFrameBytes_, wave.Format.nSamplesPerSec);
  }
  logMediaLine("[AudioPlayer] started %d Hz %d ch %d bit %s\n", format_.sampleRate, format_.channels,
               format_.bitsPerSample, format_.isFloat ? "float" : "int");
  return true;
}

void AudioPlayer::push(const std::uint8_t* bytes, std::size_t count) {
  if (!running_ || count == 0) return;
  std::lock_guard<std::mutex> lock(queueMutex_);
  appendAudio(queue_, bytes, count, limits_);
}

std::size_t AudioPlayer::queuedBytes() const {
  std::lock_guard<std::mutex> lock(queueMutex_);
  return queue_.size();
}

void AudioPlayer::renderLoop() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  HANDLE event = bufferEvent_;
  std::vector<std::uint8_t> taken;
  while (running_) {
    WaitForSingleObject(event, kRenderWaitMs);  // a time-out counts as a signal
    if (!running_) break;
    renderPasses_++;

    UINT32 pending = 0;
    if (FAILED(client_->GetCurrentPadding(&pending))) break;  // device gone: play nothing more
    UINT32 available = pending < bufferFrames_ ? bufferFrames_ - pending : 0;
    if (available == 0) continue;

    std::size_t want = std::size_t(available) * deviceFrameBytes_;
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      takeAudio(queue_, want, taken);
    }
    BYTE* data = nullptr;
    if (SUCCEEDED(renderClient_->GetBuffer(available, &data))) {
      fillAudioBuffer(data, want, taken);
      renderClient_->ReleaseBuffer(available, 0);
    }
    taken.clear();
  }
  CoUninitialize();
}

void AudioPlayer::stop() {
  running_ = false;
  if (bufferEvent_) SetEvent(bufferEvent_);
  if (renderThread_.joinable()) renderThread_.join();
  if (client_) client_->Stop();
  renderClient_.Reset();
  client_.Reset();
  enumerator_.Reset();
  if (bufferEvent_) CloseHandle(bufferEvent_);
  bufferEvent_ = nullptr;
  opened_ = false;
  std::lock_guard<std::mutex> lock(queueMutex_);
  queue_.clear();
}

}  // namespace media
