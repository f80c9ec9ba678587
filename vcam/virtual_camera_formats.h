// The camera's output formats, and the media types and stream capabilities built from them.
// Every format is offered at 60 frames per second and may be asked for at any frame interval
// between that and 15 frames per second.
#pragma once

#include "vcam/dshow_common.h"
#include "vcam/media_type.h"

namespace vcam {

struct CameraFormat {
  LONG width;
  LONG height;  // always positive here
  bool yuy2;    // false: NV12
};

constexpr int kCameraFormatCount = 4;
extern const CameraFormat kCameraFormats[kCameraFormatCount];

// The advertised and default frame interval, also the shortest one, in 100-ns units.
constexpr REFERENCE_TIME kCameraFrameDuration = 166666;
// The longest interval a capture application may ask for (15 frames per second).
constexpr REFERENCE_TIME kCameraMaxFrameInterval = 666666;

// Bytes of one sample of this format.
LONG cameraSampleSize(const CameraFormat& format);

// Makes `type` the video type of `format`: a zeroed 88-byte VIDEOINFOHEADER with the bitmap
// header filled in, fixed-size samples, no temporal compression. E_OUTOFMEMORY when the format
// block cannot be allocated.
HRESULT makeCameraMediaType(const CameraFormat& format, REFERENCE_TIME frameDuration, CMediaType* type);

// The index of the format `type` asks for (width and |height| from its VIDEOINFOHEADER, YUY2 or
// NV12), or -1, also when its frame interval is refused (see cameraFrameInterval). A type without
// a format block, or with one shorter than a VIDEOINFOHEADER, is -1 and its block is never read.
int findCameraFormat(const AM_MEDIA_TYPE* type);

// The frame interval a video type asks for: its AvgTimePerFrame when that lies between
// kCameraFrameDuration and kCameraMaxFrameInterval, kCameraFrameDuration for 0 (no wish), and 0
// when it lies outside or the type has no whole VIDEOINFOHEADER.
REFERENCE_TIME cameraFrameInterval(const AM_MEDIA_TYPE* type);

// Copies a type findCameraFormat accepts, with its frame interval written out (0 becomes the
// default), as the camera hands it on. E_OUTOFMEMORY when the copy cannot be made.
HRESULT copyCameraMediaType(const AM_MEDIA_TYPE& type, CMediaType* copy);

// The capabilities of `format` as IAMStreamConfig::GetStreamCaps reports them.
void makeCameraStreamCaps(const CameraFormat& format, VIDEO_STREAM_CONFIG_CAPS* caps);

}  // namespace vcam
