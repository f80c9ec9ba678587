// The camera's output formats, and the media types and stream capabilities built from them.
// Every format is offered at 30 frames per second, the phone's rate, and may be asked for at any
// frame interval from 60 down to 15 frames per second.
#pragma once

#include "camera/camera_formats.h"
#include "dshow/dshow_common_win.h"
#include "dshow/media_type_win.h"

namespace vcam {

// The table both cameras share; the DirectShow names for it.
using camera::CameraFormat;
using camera::kCameraFormatCount;
using camera::kCameraFormats;
constexpr REFERENCE_TIME kCameraDefaultFrameInterval = camera::kCameraDefaultFrameInterval;
constexpr REFERENCE_TIME kCameraMinFrameInterval = camera::kCameraMinFrameInterval;
constexpr REFERENCE_TIME kCameraMaxFrameInterval = camera::kCameraMaxFrameInterval;

// Bytes of one sample of this format.
LONG cameraSampleSize(const CameraFormat& format);

// Makes `type` the video type of `format`: a zeroed 88-byte VIDEOINFOHEADER with the bitmap
// header filled in, fixed-size samples, no temporal compression. E_OUTOFMEMORY when the format
// block cannot be allocated.
HRESULT makeCameraMediaType(const CameraFormat& format, REFERENCE_TIME frameDuration, dshow::CMediaType* type);

// The index of the format `type` asks for (width and |height| from its VIDEOINFOHEADER, YUY2 or
// NV12), or -1, also when its frame interval is refused (see cameraFrameInterval). A type without
// a format block, or with one shorter than a VIDEOINFOHEADER, is -1 and its block is never read.
int findCameraFormat(const AM_MEDIA_TYPE* type);

// The frame interval a video type asks for: its AvgTimePerFrame when that lies between
// kCameraMinFrameInterval and kCameraMaxFrameInterval, kCameraDefaultFrameInterval for 0 (no
// wish), and 0 when it lies outside or the type has no whole VIDEOINFOHEADER.
REFERENCE_TIME cameraFrameInterval(const AM_MEDIA_TYPE* type);

// Copies a type findCameraFormat accepts, with its frame interval written out (0 becomes the
// default), as the camera hands it on. E_OUTOFMEMORY when the copy cannot be made.
HRESULT copyCameraMediaType(const AM_MEDIA_TYPE& type, dshow::CMediaType* copy);

// The capabilities of `format` as IAMStreamConfig::GetStreamCaps reports them.
void makeCameraStreamCaps(const CameraFormat& format, VIDEO_STREAM_CONFIG_CAPS* caps);

}  // namespace vcam
