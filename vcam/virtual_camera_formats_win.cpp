#include "vcam/virtual_camera_formats_win.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vcam {

static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128);

namespace {

constexpr DWORD kFourccYuy2 = 0x32595559;  // "YUY2"
constexpr DWORD kFourccNv12 = 0x3231564E;  // "NV12"

}  // namespace

LONG cameraSampleSize(const CameraFormat& format) { return LONG(camera::cameraSampleBytes(format)); }

HRESULT makeCameraMediaType(const CameraFormat& format, REFERENCE_TIME frameDuration, dshow::CMediaType* type) {
  if (!type) return E_POINTER;
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (!info) return E_OUTOFMEMORY;
  info->AvgTimePerFrame = frameDuration;
  BITMAPINFOHEADER& bmi = info->bmiHeader;
  bmi.biSize = sizeof(BITMAPINFOHEADER);
  bmi.biWidth = format.width;
  bmi.biHeight = format.height;
  bmi.biPlanes = 1;
  bmi.biBitCount = format.yuy2 ? 16 : 12;
  bmi.biCompression = format.yuy2 ? kFourccYuy2 : kFourccNv12;
  bmi.biSizeImage = DWORD(cameraSampleSize(format));

  type->SetType(&MEDIATYPE_Video);
  type->SetSubtype(format.yuy2 ? &MEDIASUBTYPE_YUY2 : &MEDIASUBTYPE_NV12);
  type->SetFormatType(&FORMAT_VideoInfo);
  type->SetTemporalCompression(false);
  type->SetSampleSize(bmi.biSizeImage);
  return S_OK;
}

namespace {

// A caller's type may claim a video format and carry no block, or a short one.
bool readVideoInfo(const AM_MEDIA_TYPE* type, VIDEOINFOHEADER* info) {
  if (!type || type->formattype != FORMAT_VideoInfo || !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER)) {
    return false;
  }
  std::memcpy(info, type->pbFormat, sizeof(*info));
  return true;
}

}  // namespace

REFERENCE_TIME cameraFrameInterval(const AM_MEDIA_TYPE* type) {
  VIDEOINFOHEADER info;
  if (!readVideoInfo(type, &info)) return 0;
  if (info.AvgTimePerFrame == 0) return kCameraDefaultFrameInterval;
  if (info.AvgTimePerFrame < kCameraMinFrameInterval || info.AvgTimePerFrame > kCameraMaxFrameInterval) return 0;
  return info.AvgTimePerFrame;
}

int findCameraFormat(const AM_MEDIA_TYPE* type) {
  if (!type || type->majortype != MEDIATYPE_Video) return -1;
  bool yuy2 = type->subtype == MEDIASUBTYPE_YUY2;
  if (!yuy2 && type->subtype != MEDIASUBTYPE_NV12) return -1;
  VIDEOINFOHEADER info;
  if (!readVideoInfo(type, &info) || cameraFrameInterval(type) == 0) return -1;
  std::int64_t width = info.bmiHeader.biWidth;
  std::int64_t height = info.bmiHeader.biHeight;
  if (height < 0) height = -height;  // top-down rows describe the same size
  for (int i = 0; i < kCameraFormatCount; i++) {
    const CameraFormat& f = kCameraFormats[i];
    if (f.width == width && f.height == height && f.yuy2 == yuy2) return i;
  }
  return -1;
}

HRESULT copyCameraMediaType(const AM_MEDIA_TYPE& type, dshow::CMediaType* copy) {
  HRESULT hr = copy->Set(type);
  if (FAILED(hr)) return hr;
  REFERENCE_TIME interval = cameraFrameInterval(copy);
  if (interval == 0) return E_INVALIDARG;
  std::memcpy(copy->pbFormat + offsetof(VIDEOINFOHEADER, AvgTimePerFrame), &interval, sizeof(interval));
  return S_OK;
}

void makeCameraStreamCaps(const CameraFormat& format, VIDEO_STREAM_CONFIG_CAPS* caps) {
  std::memset(caps, 0, sizeof(*caps));
  const SIZE size = {LONG(format.width), LONG(format.height)};
  caps->guid = FORMAT_VideoInfo;
  caps->VideoStandard = 0;
  caps->InputSize = size;
  caps->MinCroppingSize = size;
  caps->MaxCroppingSize = size;
  caps->CropGranularityX = 1;
  caps->CropGranularityY = 1;
  caps->MinOutputSize = size;
  caps->MaxOutputSize = size;
  caps->OutputGranularityX = 1;
  caps->OutputGranularityY = 1;
  caps->MinFrameInterval = kCameraMinFrameInterval;
  caps->MaxFrameInterval = kCameraMaxFrameInterval;
}

}  // namespace vcam
