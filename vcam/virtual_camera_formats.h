// The camera's four output formats, and the media types and stream capabilities built from
// them. Every format is offered at one frame interval (60 frames per second).
#pragma once

#include "vcam/dshow_common.h"
#include "vcam/media_type.h"

struct CameraFormat {
  LONG width;
  LONG height;  // always positive here
  bool yuy2;    // false: NV12
};

constexpr int kCameraFormatCount = 4;
extern const CameraFormat kCameraFormats[kCameraFormatCount];

// Sample length and advertised frame interval, 100-ns units.
constexpr REFERENCE_TIME kCameraFrameDuration = 166666;
// The slowest interval a capture application may ask for (15 frames per second).
constexpr REFERENCE_TIME kCameraMaxFrameInterval = 666666;

// Bytes of one sample of this format.
LONG cameraSampleSize(const CameraFormat& format);

// Makes `type` the video type of `format`: a zeroed 88-byte VIDEOINFOHEADER with the bitmap
// header filled in, fixed-size samples, no temporal compression. E_OUTOFMEMORY when the format
// block cannot be allocated.
HRESULT makeCameraMediaType(const CameraFormat& format, REFERENCE_TIME frameDuration, CMediaType* type);

// The index of the format `type` asks for (width and |height| from its VIDEOINFOHEADER, YUY2 or
// NV12), or -1. A type without a format block, or with one shorter than a VIDEOINFOHEADER, is -1
// and its format block is never read.
int findCameraFormat(const AM_MEDIA_TYPE* type);

// The capabilities of `format` as IAMStreamConfig::GetStreamCaps reports them.
void makeCameraStreamCaps(const CameraFormat& format, VIDEO_STREAM_CONFIG_CAPS* caps);
