#include "media/h264_decoder_win.h"

#include <objbase.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wmcodecdsp.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>

#include "common/debug_log.h"
#include "common/stage_trace.h"
#include "common/steady_clock.h"
#include "media/h264_decoder_layout_win.h"

namespace media {

namespace {

// Used when the transform does not say how big its output buffers must be: 1920x1080 NV12.
constexpr DWORD kDefaultOutputBufferSize = 1920 * 1080 * 3 / 2;
// A drain ends after this many rounds in a row without a picture (stream changes, empty
// successes), so a transform that never settles cannot hold the receiving thread forever.
constexpr int kMaxIdleDrainRounds = 8;
constexpr std::uint64_t kLoggedPictures = 3;
// Units kept from the start of a sequence until its first picture, for a restart: at most this
// many, and this many bytes.
constexpr std::size_t kMaxKeptUnits = 8;
constexpr std::size_t kMaxKeptBytes = std::size_t(16) << 20;
// Pauses after restarts that failed to make a transform: 0.5 s, doubling, at most 8 s.
constexpr std::int64_t kFirstRetryDelayNs = 500'000'000;
constexpr std::int64_t kMaxRetryDelayNs = 8'000'000'000;

// A sample with one empty memory buffer of `size` bytes, or null.
Microsoft::WRL::ComPtr<IMFSample> makeOutputSample(DWORD size, HRESULT& hr) {
  Microsoft::WRL::ComPtr<IMFMediaBuffer> buffer;
  hr = MFCreateMemoryBuffer(size, &buffer);
  if (FAILED(hr)) return nullptr;
  Microsoft::WRL::ComPtr<IMFSample> sample;
  hr = MFCreateSample(&sample);
  if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer.Get());
  if (FAILED(hr)) return nullptr;
  return sample;
}

// Annex B byte stream: optional zero bytes, then a start code (two or more zeros, then 0x01)
// and at least a NAL unit header. Anything else (length-prefixed units, stray bytes) would only
// confuse the transform.
bool isByteStream(std::span<const std::uint8_t> unit) {
  std::size_t zeros = 0;
  while (zeros < unit.size() && unit[zeros] == 0) ++zeros;
  return zeros >= 2 && zeros + 1 < unit.size() && unit[zeros] == 1;
}

// Whether the unit holds a sequence parameter set (NAL unit type 7): a point where a fresh
// decoder can begin.
bool carriesSequenceParameterSet(std::span<const std::uint8_t> unit) {
  for (std::size_t i = 2; i + 1 < unit.size(); ++i) {
    if (unit[i] == 1 && unit[i - 1] == 0 && unit[i - 2] == 0 && (unit[i + 1] & 0x1F) == 7) return true;
  }
  return false;
}

std::atomic<H264Decoder::TransformMaker> transformMaker{nullptr};

}  // namespace

void H264Decoder::setTransformMaker(TransformMaker maker) { transformMaker.store(maker); }

void H264Decoder::note(const char* format, ...) const {
  if (quiet_) return;
  char line[debuglog::kMediaLineSize];
  std::va_list args;
  va_start(args, format);
  debuglog::formatAndOutput(line, sizeof line, format, args);
  va_end(args);
}

void H264Decoder::logFailure(const char* step, long hr) const {
  note("[H264Decoder] %s -> 0x%08lx\n", step, static_cast<unsigned long>(hr));
}

H264Decoder::H264Decoder(PictureSink& sink) : sink_(sink) {}

H264Decoder::~H264Decoder() { stop(); }

bool H264Decoder::start() { return start(nullptr); }

bool H264Decoder::start(IMFTransform* transform) {
  if (started_) return true;

  // The starting thread need not have entered COM: with the process's multithreaded apartment
  // held open, a thread that never initialised COM may create and use the transform too.
  CO_MTA_USAGE_COOKIE cookie = nullptr;
  if (SUCCEEDED(CoIncrementMTAUsage(&cookie))) mtaUsage_ = cookie;

  HRESULT hr = MFStartup(MF_VERSION, MFSTARTUP_FULL);
  if (FAILED(hr)) {
    logFailure("MFStartup(MF_VERSION)", hr);
  } else {
    supplied_ = transform;
    if (createTransform() && configure()) {
      started_ = true;
      logMediaLine("[H264Decoder] started\n");
      return true;
    }
    decoder_.Reset();
    supplied_.Reset();
    MFShutdown();
  }
  if (mtaUsage_ != nullptr) CoDecrementMTAUsage(static_cast<CO_MTA_USAGE_COOKIE>(mtaUsage_));
  mtaUsage_ = nullptr;
  return false;
}

bool H264Decoder::createTransform() {
  if (supplied_ != nullptr) {
    decoder_ = supplied_;
    return true;
  }
  const TransformMaker maker = transformMaker.load();
  HRESULT hr = maker != nullptr ? maker(decoder_.ReleaseAndGetAddressOf())
                                : CoCreateInstance(CLSID_CMSH264DecoderMFT, nullptr, CLSCTX_INPROC_SERVER,
                                                   IID_PPV_ARGS(&decoder_));
  if (FAILED(hr)) {
    logFailure("CoCreateInstance(CLSID_CMSH264DecoderMFT, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&decoder_))", hr);
    decoder_.Reset();
    return false;
  }
  return true;
}

bool H264Decoder::restartTransform() {
  note("[H264Decoder] restarting the decoder at a sequence parameter set\n");
  if (decoder_ != nullptr) decoder_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
  decoder_.Reset();
  if (createTransform() && configure()) return true;
  decoder_.Reset();
  return false;
}

bool H264Decoder::configure() {
  Microsoft::WRL::ComPtr<IMFAttributes> attributes;
  if (SUCCEEDED(decoder_->GetAttributes(&attributes)) && attributes != nullptr) {
    attributes->SetUINT32(MF_LOW_LATENCY, TRUE);
    note("[H264Decoder] MF_LOW_LATENCY=TRUE\n");
  }

  Microsoft::WRL::ComPtr<IMFMediaType> in;
  HRESULT hr = MFCreateMediaType(&in);
  if (FAILED(hr)) {
    logFailure("MFCreateMediaType(&in)", hr);
    return false;
  }
  hr = in->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  if (FAILED(hr)) logFailure("in->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video)", hr);
  hr = in->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
  if (FAILED(hr)) logFailure("in->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264)", hr);
  // Nothing else: size, rate and parameter sets come in band.
  hr = decoder_->SetInputType(0, in.Get(), 0);
  if (FAILED(hr)) {
    logFailure("decoder_->SetInputType(0, in, 0)", hr);
    return false;
  }

  negotiateOutput();

  hr = decoder_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  if (FAILED(hr)) logFailure("decoder_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0)", hr);
  return true;
}

void H264Decoder::negotiateOutput() {
  for (DWORD index = 0;; ++index) {
    Microsoft::WRL::ComPtr<IMFMediaType> available;
    if (FAILED(decoder_->GetOutputAvailableType(0, index, &available)) || available == nullptr) {
      if (index == 0) note("[H264Decoder] no output types available yet\n");
      return;
    }
    GUID subtype = GUID_NULL;
    bool taken = false;
    if (SUCCEEDED(available->GetGUID(MF_MT_SUBTYPE, &subtype)) && subtype == MFVideoFormat_NV12) {
      HRESULT hr = decoder_->SetOutputType(0, available.Get(), 0);
      if (SUCCEEDED(hr)) {
        note("[H264Decoder] negotiated NV12 output\n");
        taken = true;
      } else {
        logFailure("decoder_->SetOutputType(0, available, 0)", hr);
      }
    }
    if (taken) return;
  }
}

void H264Decoder::stop() {
  if (!started_) return;
  if (decoder_ != nullptr) decoder_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
  decoder_.Reset();
  supplied_.Reset();
  dropSequenceStart();
  sequenceSize_.reset();
  failedRestarts_ = 0;
  quiet_ = false;
  MFShutdown();
  if (mtaUsage_ != nullptr) CoDecrementMTAUsage(static_cast<CO_MTA_USAGE_COOKIE>(mtaUsage_));
  mtaUsage_ = nullptr;
  started_ = false;
  logMediaLine("[H264Decoder] stopped\n");
}

Microsoft::WRL::ComPtr<IMFSample> H264Decoder::makeInputSample(std::span<const std::uint8_t> accessUnit,
                                                               std::uint64_t timestampUs) {
  if (accessUnit.size() > 0xFFFFFFFFu) return nullptr;
  const DWORD length = static_cast<DWORD>(accessUnit.size());
  Microsoft::WRL::ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(MFCreateMemoryBuffer(length, &buffer))) return nullptr;

  BYTE* bytes = nullptr;
  HRESULT hr = buffer->Lock(&bytes, nullptr, nullptr);
  if (SUCCEEDED(hr)) {
    if (length > 0) std::memcpy(bytes, accessUnit.data(), length);
    buffer->Unlock();
    hr = buffer->SetCurrentLength(length);
  }
  Microsoft::WRL::ComPtr<IMFSample> sample;
  if (SUCCEEDED(hr)) hr = MFCreateSample(&sample);
  if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer.Get());
  // Media Foundation counts time in 100-nanosecond units.
  if (SUCCEEDED(hr)) hr = sample->SetSampleTime(static_cast<LONGLONG>(timestampUs * 10));
  if (FAILED(hr)) return nullptr;
  return sample;
}

void H264Decoder::feed(std::span<const std::uint8_t> accessUnit, std::uint64_t timestampUs) {
  if (!started_) return;
  traceStage(TraceStage::DecoderIn, timestampUs);
  if (!isByteStream(accessUnit)) {
    logMediaLine("[H264Decoder] not an H.264 byte stream, dropped (len=%zu)\n", accessUnit.size());
    return;
  }
  keepSequenceStart(accessUnit, timestampUs);
  if (decoder_ != nullptr && submit(accessUnit, timestampUs)) return;

  // The transform failed (Wine's cannot follow a change of picture size, for one; it fails a
  // unit or two after the new parameter sets). When the start of the current sequence is still
  // at hand, a fresh transform is started and given it again; otherwise the next sequence
  // parameter set brings the restart.
  if (sequenceStart_.empty()) return;
  if (failedRestarts_ > 0 && steadyNowNs() < nextRestartNs_) return;  // backing off
  restartWithSequenceStart();
}

void H264Decoder::restartWithSequenceStart() {
  std::vector<KeptUnit> units = std::move(sequenceStart_);
  sequenceStart_.clear();
  keptBytes_ = 0;
  quiet_ = failedRestarts_ > 0;  // an episode of failures is told by its first try
  bool healthy = restartTransform();
  quiet_ = false;
  for (std::size_t i = 0; healthy && i < units.size(); ++i) healthy = submit(units[i].bytes, units[i].timestampUs);
  if (healthy) return;
  // No transform, or one that fails again: this sequence is lost, and a later one tries again,
  // after a pause that grows with each failure.
  dropSequenceStart();
  const int doublings = std::min(failedRestarts_, 4);
  ++failedRestarts_;
  nextRestartNs_ = steadyNowNs() + std::min(kFirstRetryDelayNs << doublings, kMaxRetryDelayNs);
}

void H264Decoder::keepSequenceStart(std::span<const std::uint8_t> accessUnit, std::uint64_t timestampUs) {
  if (carriesSequenceParameterSet(accessUnit)) {
    sequenceSize_ = findSequencePictureSize(accessUnit);
    dropSequenceStart();
    sequenceTimeUs_ = timestampUs;
    sequenceShown_ = false;
  }
  if (sequenceShown_) return;
  if (sequenceStart_.size() >= kMaxKeptUnits || keptBytes_ + accessUnit.size() > kMaxKeptBytes) {
    dropSequenceStart();  // far too long without a picture: not worth keeping
    return;
  }
  sequenceStart_.push_back({std::vector<std::uint8_t>(accessUnit.begin(), accessUnit.end()), timestampUs});
  keptBytes_ += accessUnit.size();
}

void H264Decoder::dropSequenceStart() {
  sequenceStart_.clear();
  keptBytes_ = 0;
  sequenceShown_ = true;
}

void H264Decoder::releaseHeldPictures() {
  if (!started_ || decoder_ == nullptr) return;
  const HRESULT hr = decoder_->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0);
  if (FAILED(hr)) {
    logFailure("decoder_->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0)", hr);
    return;
  }
  drainOutput();
}

bool H264Decoder::submit(std::span<const std::uint8_t> accessUnit, std::uint64_t timestampUs) {
  Microsoft::WRL::ComPtr<IMFSample> sample = makeInputSample(accessUnit, timestampUs);
  if (sample == nullptr) return true;
  HRESULT hr = decoder_->ProcessInput(0, sample.Get(), 0);

  bool healthy = true;
  if (hr == MF_E_NOTACCEPTING) {
    // The transform wants its pictures taken first; then it gets this unit once more.
    healthy = drainOutput();
    sample = makeInputSample(accessUnit, timestampUs);
    if (sample == nullptr) {
      logMediaLine("[H264Decoder] ProcessInput failed 0x%08lx (len=%zu)\n", static_cast<unsigned long>(hr),
                   accessUnit.size());
      return healthy;
    }
    hr = decoder_->ProcessInput(0, sample.Get(), 0);
  }
  if (FAILED(hr)) {
    logMediaLine("[H264Decoder] ProcessInput failed 0x%08lx (len=%zu)\n", static_cast<unsigned long>(hr),
                 accessUnit.size());
    return healthy && hr == MF_E_NOTACCEPTING;  // still busy is not broken
  }
  return drainOutput() && healthy;
}

bool H264Decoder::drainOutput() {
  MFT_OUTPUT_STREAM_INFO info = {};
  decoder_->GetOutputStreamInfo(0, &info);

  for (int idleRounds = 0; idleRounds < kMaxIdleDrainRounds;) {
    MFT_OUTPUT_DATA_BUFFER output = {};
    output.dwStreamID = 0;
    Microsoft::WRL::ComPtr<IMFSample> ours;
    if ((info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES) == 0) {
      HRESULT hr = S_OK;
      ours = makeOutputSample(info.cbSize != 0 ? info.cbSize : kDefaultOutputBufferSize, hr);
      if (ours == nullptr) {
        // Out of memory: leave the pictures in the transform; the next feed drains again.
        logMediaLine("[H264Decoder] output sample not created 0x%08lx\n", static_cast<unsigned long>(hr));
        return true;
      }
      output.pSample = ours.Get();
    }
    DWORD status = 0;
    HRESULT hr = decoder_->ProcessOutput(0, 1, &output, &status);
    // Events, and a sample the transform provided, come with a reference for the caller.
    if (output.pEvents != nullptr) output.pEvents->Release();
    Microsoft::WRL::ComPtr<IMFSample> picture = output.pSample;
    if (output.pSample != nullptr && output.pSample != ours.Get()) output.pSample->Release();

    if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) return true;
    if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
      negotiateOutput();
      info = {};
      decoder_->GetOutputStreamInfo(0, &info);
      logMediaLine("[H264Decoder] stream change, re-negotiated; cbSize=%lu\n", static_cast<unsigned long>(info.cbSize));
      ++idleRounds;
      continue;
    }
    if (FAILED(hr)) {
      logMediaLine("[H264Decoder] ProcessOutput failed 0x%08lx\n", static_cast<unsigned long>(hr));
      return false;
    }
    if (picture == nullptr) {
      ++idleRounds;
      continue;
    }
    extractPicture(picture.Get());
    idleRounds = 0;
  }
  logMediaLine("[H264Decoder] drain ended after %d rounds without a picture\n", kMaxIdleDrainRounds);
  return false;
}

void H264Decoder::extractPicture(IMFSample* sample) {
  LONGLONG time = 0;
  if (FAILED(sample->GetSampleTime(&time))) time = 0;
  traceStage(TraceStage::DecoderOut, std::uint64_t(time / 10));

  Microsoft::WRL::ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = sample->ConvertToContiguousBuffer(&buffer);
  if (FAILED(hr)) {
    logMediaLine("[H264Decoder] ConvertToContiguousBuffer failed 0x%08lx\n", static_cast<unsigned long>(hr));
    return;
  }
  BYTE* bytes = nullptr;
  DWORD length = 0;
  hr = buffer->Lock(&bytes, nullptr, &length);
  if (FAILED(hr)) {
    logMediaLine("[H264Decoder] output buffer Lock failed 0x%08lx\n", static_cast<unsigned long>(hr));
    return;
  }

  Microsoft::WRL::ComPtr<IMFMediaType> type;
  if (FAILED(decoder_->GetOutputCurrentType(0, &type))) type.Reset();
  H264OutputLayout layout = readOutputLayout(type.Get());
  if (!layout.hasAperture && sequenceSize_ && sequenceSize_->codedWidth == layout.codedWidth &&
      sequenceSize_->codedHeight == layout.codedHeight) {
    // The stream's own cropping, for pictures of the size it describes; like the aperture's,
    // its offsets are not used.
    layout.width = sequenceSize_->width();
    layout.height = sequenceSize_->height();
  }

  picture_.width = layout.width;
  picture_.height = layout.height;
  picture_.codedHeight = layout.codedHeight;
  picture_.timestampUs = time / 10;
  picture_.stride = layout.stride;
  picture_.data.assign(bytes, bytes + length);

  if (framesDecoded_ < kLoggedPictures) {
    logMediaLine("[H264Decoder] decoded frame #%llu  visible %ux%u coded %ux%u stride=%u  %lu bytes\n",
                 static_cast<unsigned long long>(framesDecoded_), layout.width, layout.height, layout.codedWidth,
                 layout.codedHeight, layout.stride, static_cast<unsigned long>(length));
  }
  ++framesDecoded_;
  failedRestarts_ = 0;  // a picture ends any episode of failed restarts
  if (!sequenceShown_ && time >= 0 && std::uint64_t(time / 10) >= sequenceTimeUs_) {
    dropSequenceStart();  // the sequence decodes: its first units are no longer needed for a restart
  }
  sink_.picture(picture_);

  buffer->Unlock();
}

}  // namespace media
