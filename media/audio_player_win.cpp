// WASAPI shared-mode render with event callback; the queue logic lives in audio_player_queue.
#include "media/audio_player_win.h"

#include <windows.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <avrt.h>
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
constexpr DWORD kRenderWaitMs = 100;  // also how often a lost device is looked for again

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

// Tells the player when the default console output device changes. Lives as long as the
// player and is unregistered before the player lets go of its event, so it counts no references.
class AudioPlayer::DefaultDeviceWatch final : public IMMNotificationClient {
 public:
  explicit DefaultDeviceWatch(AudioPlayer& player) : player_(player) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
      *object = static_cast<IMMNotificationClient*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
    if (flow == eRender && role == eConsole) player_.followDefaultDevice();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

 private:
  AudioPlayer& player_;
};

AudioPlayer::AudioPlayer() = default;

AudioPlayer::~AudioPlayer() { stop(); }

bool AudioPlayer::configure(const AudioFormat& format) {
  if (opened_ && sameDeviceFields(format, format_)) return true;
  stop();
  format_ = format;
  DeviceOpen open = openDevice();
  if (open == DeviceOpen::Refused) {
    stop();
    return false;
  }
  if (open == DeviceOpen::Later) logMediaLine("[AudioPlayer] no output device yet, trying again every 100 ms\n");

  opened_ = true;
  running_ = true;
  try {
    renderThread_ = std::thread(&AudioPlayer::renderLoop, this, open == DeviceOpen::Now);
  } catch (const std::system_error& e) {
    logMediaLine("[AudioPlayer] render thread failed: %s\n", e.what());
    stop();
    return false;
  }
  return true;
}

AudioPlayer::DeviceOpen AudioPlayer::openDevice() {
  if (const char* reason = unplayableReason(format_)) {
    logMediaLine("[AudioPlayer] unplayable format %d Hz %d ch %d bit (%s)\n", format_.sampleRate,
                 format_.channels, format_.bitsPerSample, reason);
    return DeviceOpen::Refused;
  }

  CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(&enumerator_));
  if (FAILED(hr) || !enumerator_) {
    logMediaLine("[AudioPlayer] MMDeviceEnumerator failed 0x%08lx\n", code(hr));
    return DeviceOpen::Refused;
  }

  // Without an event the render loop's wait would return at once, every pass.
  bufferEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!bufferEvent_) {
    logMediaLine("[AudioPlayer] CreateEvent failed %lu\n", GetLastError());
    return DeviceOpen::Refused;
  }

  // Without notifications a device change is still noticed when the old device's calls fail.
  watch_ = std::make_unique<DefaultDeviceWatch>(*this);
  if (FAILED(enumerator_->RegisterEndpointNotificationCallback(watch_.get()))) watch_.reset();

  // The device reads nBlockAlign bytes a frame whatever bytesPerFrame says, so the queue and
  // the render loop count in those: writes stay inside the buffer and trimming tracks real time.
  // Set before the device opens, so bytes wait in a bounded queue while no device can be had.
  WAVEFORMATEXTENSIBLE wave = waveFormat(format_);
  deviceFrameBytes_ = wave.Format.nBlockAlign;
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    limits_ = audioQueueLimits(deviceFrameBytes_, wave.Format.nSamplesPerSec);
  }

  hr = openClient(true);
  if (SUCCEEDED(hr)) return DeviceOpen::Now;
  // No device takes a format the engine cannot convert; a missing or busy one may come back.
  return hr == AUDCLNT_E_UNSUPPORTED_FORMAT ? DeviceOpen::Refused : DeviceOpen::Later;
}

long AudioPlayer::openClient(bool log) {
  auto fail = [log](const char* format, HRESULT hr) {
    if (log) logMediaLine(format, code(hr));
    return FAILED(hr) ? hr : E_POINTER;  // a call that succeeded but gave nothing
  };

  Microsoft::WRL::ComPtr<IMMDevice> device;
  HRESULT hr = enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, device.GetAddressOf());
  if (FAILED(hr) || !device) return fail("[AudioPlayer] GetDefaultAudioEndpoint failed 0x%08lx\n", hr);

  hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                        reinterpret_cast<void**>(client_.ReleaseAndGetAddressOf()));
  device.Reset();
  if (FAILED(hr) || !client_) return fail("[AudioPlayer] Activate IAudioClient failed 0x%08lx\n", hr);

  WAVEFORMATEXTENSIBLE wave = waveFormat(format_);
  hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, kStreamFlags, kBufferDuration, 0,
                           reinterpret_cast<const WAVEFORMATEX*>(&wave), nullptr);
  if (failedOpens_.load() > 0) {
    failedOpens_--;
    hr = failedOpenResult_.load();
  }
  if (FAILED(hr)) return fail("[AudioPlayer] IAudioClient::Initialize failed 0x%08lx\n", hr);

  client_->SetEventHandle(bufferEvent_);

  UINT32 frames = 0;
  hr = client_->GetBufferSize(&frames);
  if (FAILED(hr)) return fail("[AudioPlayer] GetBufferSize failed 0x%08lx\n", hr);
  bufferFrames_ = frames;

  hr = client_->GetService(IID_PPV_ARGS(renderClient_.ReleaseAndGetAddressOf()));
  if (FAILED(hr) || !renderClient_) return fail("[AudioPlayer] GetService IAudioRenderClient 0x%08lx\n", hr);

  BYTE* data = nullptr;
  if (SUCCEEDED(renderClient_->GetBuffer(bufferFrames_, &data))) {
    renderClient_->ReleaseBuffer(bufferFrames_, AUDCLNT_BUFFERFLAGS_SILENT);
  }

  hr = client_->Start();
  if (FAILED(hr)) return fail("[AudioPlayer] Start failed 0x%08lx\n", hr);

  logMediaLine("[AudioPlayer] started %d Hz %d ch %d bit %s\n", format_.sampleRate, format_.channels,
               format_.bitsPerSample, format_.isFloat ? "float" : "int");
  return S_OK;
}

void AudioPlayer::closeClient() {
  if (client_) client_->Stop();
  renderClient_.Reset();
  client_.Reset();
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

void AudioPlayer::followDefaultDevice() {
  defaultChanged_.store(true);
  // The event lives until stop, which unregisters the notification before closing it.
  if (running_ && bufferEvent_) SetEvent(bufferEvent_);
}

void AudioPlayer::renderLoop(bool deviceOpen) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  // A late refill is a gap the user hears, so the thread runs as the system's audio work does:
  // scheduled by the multimedia class scheduler, or at high priority where that is missing.
  DWORD taskIndex = 0;
  HANDLE audioTask = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
  if (audioTask == nullptr) SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  HANDLE event = bufferEvent_;
  std::vector<std::uint8_t> taken;
  bool playing = false;  // the jitter buffer; a reopened device holds nothing and refills it
  bool lost = !deviceOpen;    // open the default device again before the next write
  bool quiet = !deviceOpen;  // an attempt failed already: the device may stay away for long
  auto deviceLost = [&](HRESULT hr) {
    logMediaLine("[AudioPlayer] device lost 0x%08lx, reopening\n", code(hr));
    lost = true;
    SetEvent(event);  // the first attempt without waiting
  };
  // The seam's failure replaces the result of the next device call.
  auto checked = [&](HRESULT hr) {
    long injected = injectedFailure_.exchange(0);
    return injected != 0 ? HRESULT(injected) : hr;
  };
  while (running_) {
    // A time-out counts as a signal; while the device is lost it spaces the attempts.
    WaitForSingleObject(event, kRenderWaitMs);
    if (!running_) break;
    renderPasses_++;

    if (defaultChanged_.exchange(false) && !lost) {
      logMediaLine("[AudioPlayer] default device changed, reopening\n");
      lost = true;
    }
    if (lost) {
      closeClient();
      if (FAILED(openClient(!quiet))) {
        quiet = true;
        continue;
      }
      lost = quiet = false;
    }

    UINT32 pending = 0;
    HRESULT hr = checked(client_->GetCurrentPadding(&pending));
    if (FAILED(hr)) {
      deviceLost(hr);
      continue;
    }
    UINT32 available = pending < bufferFrames_ ? bufferFrames_ - pending : 0;
    if (available == 0) continue;

    std::size_t want = std::size_t(available) * deviceFrameBytes_;
    std::size_t held = std::size_t(pending) * deviceFrameBytes_;
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      takeAudio(queue_, audioToPlay(queue_.size(), held, want, limits_, playing), taken);
    }
    BYTE* data = nullptr;
    hr = renderClient_->GetBuffer(available, &data);
    if (SUCCEEDED(hr)) {
      fillAudioBuffer(data, want, taken);
      hr = renderClient_->ReleaseBuffer(available, 0);
    }
    taken.clear();
    if (FAILED(hr)) deviceLost(hr);
  }
  if (audioTask != nullptr) AvRevertMmThreadCharacteristics(audioTask);
  CoUninitialize();
}

void AudioPlayer::stop() {
  running_ = false;
  if (bufferEvent_) SetEvent(bufferEvent_);
  if (renderThread_.joinable()) renderThread_.join();
  closeClient();
  if (watch_) enumerator_->UnregisterEndpointNotificationCallback(watch_.get());
  watch_.reset();
  enumerator_.Reset();
  defaultChanged_.store(false);
  injectedFailure_.store(0);
  if (bufferEvent_) CloseHandle(bufferEvent_);
  bufferEvent_ = nullptr;
  opened_ = false;
  std::lock_guard<std::mutex> lock(queueMutex_);
  queue_.clear();
}

}  // namespace media
