#include "mfcam/media_source_win.h"

#include <ksmedia.h>
#include <mferror.h>

#include <chrono>
#include <cstring>
#include <new>

#include "camera/camera_formats.h"
#include "common/debug_log.h"
#include "mfcam/media_stream_win.h"
#include "ring/frame_ring_format.h"

namespace mfcam {

std::string sourceRingName() { return ring::kFrameRingName; }

namespace {

using camera::CameraFormat;
using camera::kCameraFormats;
using Microsoft::WRL::ComPtr;

constexpr HRESULT kSetNotFound = HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
constexpr std::int64_t kUnitsPerSecond = 10'000'000;

// 333333 units is 30/1: frame rates are whole frames per second.
UINT32 framesPerSecond(std::int64_t interval) { return UINT32((kUnitsPerSecond + interval / 2) / interval); }

// Each format is offered at the default rate (the first eight types, the table's order) and at
// the slowest rate, for handlers that accept only a listed type; any rate between the two
// limits is taken from a type set on the handler.
constexpr std::int64_t kOfferedIntervals[] = {camera::kCameraDefaultFrameInterval, camera::kCameraMaxFrameInterval};
constexpr int kOfferedTypeCount = camera::kCameraFormatCount * 2;

HRESULT makeMediaType(const CameraFormat& format, std::int64_t interval, IMFMediaType** result) {
  ComPtr<IMFMediaType> type;
  HRESULT hr = MFCreateMediaType(&type);
  const UINT32 width = UINT32(format.width), height = UINT32(format.height);
  const UINT32 bytes = UINT32(camera::cameraSampleBytes(format));
  if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, format.yuy2 ? MFVideoFormat_YUY2 : MFVideoFormat_NV12);
  if (SUCCEEDED(hr)) hr = MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
  if (SUCCEEDED(hr)) {
    hr = MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, framesPerSecond(interval), 1);
  }
  if (SUCCEEDED(hr)) {
    hr = MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE_RANGE_MIN, framesPerSecond(camera::kCameraMaxFrameInterval),
                             1);
  }
  if (SUCCEEDED(hr)) {
    hr = MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE_RANGE_MAX, framesPerSecond(camera::kCameraMinFrameInterval),
                             1);
  }
  if (SUCCEEDED(hr)) hr = MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_SAMPLE_SIZE, bytes);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_DEFAULT_STRIDE, format.yuy2 ? width * 2 : width);
  if (SUCCEEDED(hr)) *result = type.Detach();
  return hr;
}

// What the Frame Server reads of a stream: a shared video capture pin of colour pictures.
HRESULT setStreamAttributes(IMFAttributes* attributes) {
  HRESULT hr = attributes->SetGUID(kDeviceStreamCategory, PINNAME_VIDEO_CAPTURE);
  if (SUCCEEDED(hr)) hr = attributes->SetUINT32(kDeviceStreamId, MediaSource::kStreamId);
  if (SUCCEEDED(hr)) hr = attributes->SetUINT32(kDeviceStreamFrameServerShared, 1);
  if (SUCCEEDED(hr)) hr = attributes->SetUINT32(kDeviceStreamFrameSourceTypes, kFrameSourceTypeColor);
  return hr;
}

PROPVARIANT timeValue(std::int64_t time) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_I8;
  value.hVal.QuadPart = time;
  return value;
}

}  // namespace

MediaSource::MediaSource(const std::string& ringName)
    : hostedPictures_(ring::kGlobalFrameRingName, ring::RingPlace::Global), pictures_(ringName) {}

MediaSource::~MediaSource() = default;

HRESULT MediaSource::create(const std::string& ringName, MediaSource** source) {
  if (!source) return E_POINTER;
  *source = nullptr;
  // Raw until handed out: MinGW-w64's ComPtr::Attach takes a reference of its own.
  MediaSource* made = nullptr;
  try {
    made = new MediaSource(ringName);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = made->initialize();
  if (FAILED(hr)) {
    logLine("[MFCam] the media source could not be made: 0x%08lX", static_cast<unsigned long>(hr));
    made->Shutdown();
    made->Release();
    return hr;
  }
  *source = made;
  return S_OK;
}

HRESULT MediaSource::initialize() {
  hosting_ = host_.open();
  if (!hosting_) {
    logLine("[MFCam] the global frame ring could not be made (fault %d, error %lu): reading the session's ring only",
            static_cast<int>(host_.fault()), host_.error());
  }
  HRESULT hr = MFCreateEventQueue(&events_);
  if (SUCCEEDED(hr)) hr = MFCreateAttributes(&sourceAttributes_, 1);
  if (SUCCEEDED(hr)) hr = MFCreateAttributes(&streamAttributes_, 4);
  if (SUCCEEDED(hr)) hr = setStreamAttributes(streamAttributes_.Get());
  if (FAILED(hr)) return hr;

  IMFMediaType* types[kOfferedTypeCount] = {};
  for (int i = 0; SUCCEEDED(hr) && i < kOfferedTypeCount; i++) {
    hr = makeMediaType(kCameraFormats[i % camera::kCameraFormatCount],
                       kOfferedIntervals[i / camera::kCameraFormatCount], &types[i]);
  }
  if (SUCCEEDED(hr)) hr = MFCreateStreamDescriptor(kStreamId, kOfferedTypeCount, types, &streamDescriptor_);
  ComPtr<IMFMediaTypeHandler> handler;
  if (SUCCEEDED(hr)) hr = streamDescriptor_->GetMediaTypeHandler(&handler);
  // Readers that choose no type get the first row.
  if (SUCCEEDED(hr)) hr = handler->SetCurrentMediaType(types[0]);
  for (IMFMediaType* type : types) {
    if (type) type->Release();
  }
  if (SUCCEEDED(hr)) hr = setStreamAttributes(streamDescriptor_.Get());
  IMFStreamDescriptor* streams[] = {streamDescriptor_.Get()};
  if (SUCCEEDED(hr)) hr = MFCreatePresentationDescriptor(1, streams, &presentation_);
  if (SUCCEEDED(hr)) hr = presentation_->SelectStream(0);
  return hr;
}

HRESULT STDMETHODCALLTYPE MediaSource::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IMFMediaEventGenerator || riid == IID_IMFMediaSource ||
      riid == IID_IMFMediaSourceEx) {
    *ppv = static_cast<IMFMediaSourceEx*>(this);
  } else if (riid == IID_IMFGetService) {
    *ppv = static_cast<IMFGetService*>(this);
  } else if (riid == __uuidof(IKsControl)) {
    *ppv = static_cast<IKsControl*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE MediaSource::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE MediaSource::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE MediaSource::GetCharacteristics(DWORD* characteristics) {
  if (!characteristics) return E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
  *characteristics = MFMEDIASOURCE_IS_LIVE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaSource::CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) {
  if (!descriptor) return E_POINTER;
  *descriptor = nullptr;
  std::lock_guard<std::mutex> hold(lock_);
  if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
  // A copy that shares the stream descriptor, so the caller's choice of type reaches the source.
  return presentation_->Clone(descriptor);
}

bool MediaSource::readCurrentType(int* format, std::int64_t* interval) {
  ComPtr<IMFMediaTypeHandler> handler;
  ComPtr<IMFMediaType> type;
  runType_.Reset();
  if (FAILED(streamDescriptor_->GetMediaTypeHandler(&handler)) || FAILED(handler->GetCurrentMediaType(&type))) {
    return false;
  }
  // Remembered even when refused, so that a type the camera cannot follow is reported once.
  runType_ = type;
  GUID subtype = GUID_NULL;
  UINT32 width = 0, height = 0;
  if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) ||
      FAILED(MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &width, &height))) {
    return false;
  }
  const bool yuy2 = subtype == MFVideoFormat_YUY2;
  if (!yuy2 && subtype != MFVideoFormat_NV12) return false;
  *format = -1;
  for (int i = 0; i < camera::kCameraFormatCount; i++) {
    const CameraFormat& f = kCameraFormats[i];
    if (UINT32(f.width) == width && UINT32(f.height) == height && f.yuy2 == yuy2) *format = i;
  }
  if (*format < 0) return false;
  // No rate, or a rate outside 15 to 60 frames a second, is the default rate.
  UINT32 numerator = 0, denominator = 0;
  *interval = camera::kCameraDefaultFrameInterval;
  if (SUCCEEDED(MFGetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, &numerator, &denominator)) && numerator > 0 &&
      denominator > 0) {
    const std::int64_t asked = kUnitsPerSecond * denominator / numerator;
    if (asked >= camera::kCameraMinFrameInterval && asked <= camera::kCameraMaxFrameInterval) *interval = asked;
  }
  return true;
}

HRESULT STDMETHODCALLTYPE MediaSource::Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                                             const PROPVARIANT* startPosition) {
  if (!descriptor) return E_INVALIDARG;
  std::lock_guard<std::mutex> hold(lock_);
  if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
  if (timeFormat && *timeFormat != GUID_NULL) return MF_E_UNSUPPORTED_TIME_FORMAT;
  // A live source plays from now: any position is taken as "now".
  if (startPosition && startPosition->vt != VT_EMPTY && startPosition->vt != VT_I8) return MF_E_UNSUPPORTED_TIME_FORMAT;

  DWORD count = 0;
  HRESULT hr = descriptor->GetStreamDescriptorCount(&count);
  if (FAILED(hr)) return hr;
  BOOL selected = FALSE;
  for (DWORD i = 0; i < count; i++) {
    BOOL isSelected = FALSE;
    ComPtr<IMFStreamDescriptor> stream;
    DWORD id = 0;
    if (SUCCEEDED(descriptor->GetStreamDescriptorByIndex(i, &isSelected, &stream)) &&
        SUCCEEDED(stream->GetStreamIdentifier(&id)) && id == kStreamId) {
      selected = isSelected;
    }
  }
  int format = 0;
  std::int64_t interval = 0;
  if (selected && !readCurrentType(&format, &interval)) {
    logLine("[MFCam] Start: the stream's current media type is none of the camera's formats");
    return MF_E_INVALIDMEDIATYPE;
  }

  const std::int64_t now = MFGetSystemTime();
  PROPVARIANT time = timeValue(now);
  if (selected) {
    const bool isNew = !stream_;
    if (isNew) {
      hr = MediaStream::create(this, &stream_);
      if (FAILED(hr)) return hr;
    }
    hr = events_->QueueEventParamUnk(isNew ? MENewStream : MEUpdatedStream, GUID_NULL, S_OK,
                                     static_cast<IMFMediaStream*>(stream_.Get()));
    if (FAILED(hr)) return hr;
    beginStream(format, interval, now);
    stream_->queueEvent(MEStreamStarted, S_OK, &time);
  } else {
    stopStream();
  }
  state_ = State::Started;
  run_++;
  wake_.notify_all();
  return events_->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, &time);
}

void MediaSource::beginStream(int format, std::int64_t interval, std::int64_t origin) {
  format_ = format;
  schedule_.reset(interval);
  origin_ = origin;
  streamRunning_ = true;
}

void MediaSource::followCurrentType() {
  ComPtr<IMFMediaTypeHandler> handler;
  ComPtr<IMFMediaType> type;
  if (FAILED(streamDescriptor_->GetMediaTypeHandler(&handler)) || FAILED(handler->GetCurrentMediaType(&type)) ||
      type.Get() == runType_.Get()) {
    return;
  }
  int format = 0;
  std::int64_t interval = 0;
  if (!readCurrentType(&format, &interval)) {
    logLine("[MFCam] the stream's new media type is none of the camera's formats; keeping the old one");
    return;
  }
  beginStream(format, interval, MFGetSystemTime());
}

void MediaSource::stopStream() {
  if (!streamRunning_) return;
  streamRunning_ = false;
  stream_->queueEvent(MEStreamStopped, S_OK, nullptr);
}

HRESULT STDMETHODCALLTYPE MediaSource::Stop() {
  std::lock_guard<std::mutex> hold(lock_);
  if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
  stopStream();
  state_ = State::Stopped;
  run_++;
  wake_.notify_all();
  return events_->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, nullptr);
}

HRESULT STDMETHODCALLTYPE MediaSource::Pause() {
  std::lock_guard<std::mutex> hold(lock_);
  return state_ == State::Shutdown ? MF_E_SHUTDOWN : MF_E_INVALID_STATE_TRANSITION;
}

HRESULT STDMETHODCALLTYPE MediaSource::Shutdown() {
  ComPtr<MediaStream> stream;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
    state_ = State::Shutdown;
    streamRunning_ = false;
    run_++;
    wake_.notify_all();
    if (events_) events_->Shutdown();
    stream.Swap(stream_);
    presentation_.Reset();
    streamDescriptor_.Reset();
    runType_.Reset();
    sourceAttributes_.Reset();
    streamAttributes_.Reset();
    d3dManager_.Reset();
    host_.close();
  }
  // Outside the lock: the stream lets go of this source.
  if (stream) stream->shutdown();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaSource::GetSourceAttributes(IMFAttributes** attributes) {
  if (!attributes) return E_POINTER;
  *attributes = nullptr;
  std::lock_guard<std::mutex> hold(lock_);
  if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
  return sourceAttributes_.CopyTo(attributes);
}

HRESULT STDMETHODCALLTYPE MediaSource::GetStreamAttributes(DWORD streamId, IMFAttributes** attributes) {
  if (!attributes) return E_POINTER;
  *attributes = nullptr;
  std::lock_guard<std::mutex> hold(lock_);
  if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
  if (streamId != kStreamId) return MF_E_INVALIDSTREAMNUMBER;
  return streamAttributes_.CopyTo(attributes);
}

HRESULT STDMETHODCALLTYPE MediaSource::SetD3DManager(IUnknown* manager) {
  std::lock_guard<std::mutex> hold(lock_);
  if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
  // Held, not used: samples stay in system memory, which every consumer can read.
  d3dManager_ = manager;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaSource::GetService(REFGUID, REFIID, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  std::lock_guard<std::mutex> hold(lock_);
  return state_ == State::Shutdown ? MF_E_SHUTDOWN : MF_E_UNSUPPORTED_SERVICE;
}

HRESULT STDMETHODCALLTYPE MediaSource::KsProperty(PKSPROPERTY, ULONG, void*, ULONG, ULONG* returned) {
  if (returned) *returned = 0;
  return kSetNotFound;
}

HRESULT STDMETHODCALLTYPE MediaSource::KsMethod(PKSMETHOD, ULONG, void*, ULONG, ULONG* returned) {
  if (returned) *returned = 0;
  return kSetNotFound;
}

HRESULT STDMETHODCALLTYPE MediaSource::KsEvent(PKSEVENT, ULONG, void*, ULONG, ULONG* returned) {
  if (returned) *returned = 0;
  return kSetNotFound;
}

HRESULT MediaSource::streamDescriptor(IMFStreamDescriptor** descriptor) {
  std::lock_guard<std::mutex> hold(lock_);
  if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
  return streamDescriptor_.CopyTo(descriptor);
}

HRESULT MediaSource::setStreamState(MF_STREAM_STATE state) {
  std::lock_guard<std::mutex> hold(lock_);
  if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
  if (state == MF_STREAM_STATE_STOPPED) {
    stopStream();
    run_++;
    wake_.notify_all();
    return S_OK;
  }
  if (state != MF_STREAM_STATE_RUNNING) return MF_E_INVALID_STATE_TRANSITION;
  // The stream runs only while the source does.
  if (state_ != State::Started || !stream_) return MF_E_INVALID_STATE_TRANSITION;
  if (streamRunning_) return S_OK;
  int format = 0;
  std::int64_t interval = 0;
  if (!readCurrentType(&format, &interval)) return MF_E_INVALIDMEDIATYPE;
  beginStream(format, interval, MFGetSystemTime());
  run_++;
  PROPVARIANT time = timeValue(origin_);
  return stream_->queueEvent(MEStreamStarted, S_OK, &time);
}

HRESULT MediaSource::streamState(MF_STREAM_STATE* state) {
  std::lock_guard<std::mutex> hold(lock_);
  if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
  *state = streamRunning_ ? MF_STREAM_STATE_RUNNING : MF_STREAM_STATE_STOPPED;
  return S_OK;
}

void MediaSource::fillPicture(std::uint8_t* data, std::size_t count, std::uint32_t width, std::uint32_t height,
                              bool yuy2) {
  if (hosting_ && hostedPictures_.fillPicture(data, count, width, height, yuy2)) return;
  pictures_.fill(data, count, width, height, yuy2);
}

HRESULT MediaSource::makeSample(IMFSample** result) {
  const CameraFormat& format = kCameraFormats[format_];
  const UINT32 width = UINT32(format.width), height = UINT32(format.height);
  const DWORD bytes = DWORD(camera::cameraSampleBytes(format));
  const DWORD rowBytes = format.yuy2 ? width * 2 : width;
  // A 2D buffer, so readers see its pitch, when its planes lie packed one after the other, as
  // the picture source writes them; a memory buffer of the same bytes otherwise (a padded
  // layout would cost a second copy through the buffer's contiguous view).
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = MFCreate2DMediaBuffer(width, height, format.yuy2 ? MFVideoFormat_YUY2.Data1 : MFVideoFormat_NV12.Data1,
                                     FALSE, &buffer);
  ComPtr<IMF2DBuffer2> surface;
  if (SUCCEEDED(hr)) hr = buffer.As(&surface);
  BYTE* scanline = nullptr;
  BYTE* start = nullptr;
  LONG pitch = 0;
  DWORD length = 0;
  if (SUCCEEDED(hr)) hr = surface->Lock2DSize(MF2DBuffer_LockFlags_Write, &scanline, &pitch, &start, &length);
  if (SUCCEEDED(hr)) {
    const bool packed = pitch == LONG(rowBytes) && scanline == start && length == bytes;
    if (packed) fillPicture(scanline, bytes, width, height, format.yuy2);
    surface->Unlock2D();
    hr = packed ? buffer->SetCurrentLength(bytes) : E_FAIL;
  }
  if (FAILED(hr)) {
    buffer.Reset();
    hr = MFCreateMemoryBuffer(bytes, &buffer);
    BYTE* data = nullptr;
    if (SUCCEEDED(hr)) hr = buffer->Lock(&data, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
      fillPicture(data, bytes, width, height, format.yuy2);
      buffer->Unlock();
      hr = buffer->SetCurrentLength(bytes);
    }
  }
  ComPtr<IMFSample> sample;
  if (SUCCEEDED(hr)) hr = MFCreateSample(&sample);
  if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer.Get());
  if (SUCCEEDED(hr)) hr = sample->SetUINT32(MFSampleExtension_CleanPoint, TRUE);
  if (SUCCEEDED(hr)) *result = sample.Detach();
  return hr;
}

HRESULT MediaSource::requestSample(IUnknown* token) {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
    if (!streamRunning_) return MF_E_MEDIA_SOURCE_WRONGSTATE;
    followCurrentType();
    const std::int64_t now = MFGetSystemTime() - origin_;
    const std::int64_t due = schedule_.due();
    if (now >= due || due - now > camera::FrameSchedule::kRealign) break;
    // Not yet due: wait without the lock, at most until then; Stop, Shutdown or a new Start
    // ends the wait early.
    const std::uint64_t run = run_;
    wake_.wait_for(hold, std::chrono::microseconds((due - now + 9) / 10), [&] { return run_ != run; });
  }
  const std::int64_t start = schedule_.take(MFGetSystemTime() - origin_);
  ComPtr<IMFSample> sample;
  HRESULT hr = makeSample(&sample);
  if (SUCCEEDED(hr)) hr = sample->SetSampleTime(origin_ + start);
  if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(schedule_.interval());
  if (SUCCEEDED(hr) && token) hr = sample->SetUnknown(MFSampleExtension_Token, token);
  if (FAILED(hr)) {
    logLine("[MFCam] a sample could not be made: 0x%08lX", static_cast<unsigned long>(hr));
    return hr;
  }
  return stream_->queueUnknown(MEMediaSample, sample.Get());
}

}  // namespace mfcam
