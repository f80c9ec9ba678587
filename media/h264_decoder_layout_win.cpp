#include "media/h264_decoder_layout_win.h"

#include <mfapi.h>
#include <mfidl.h>

namespace media {

H264OutputLayout readOutputLayout(IMFMediaType* type) {
  H264OutputLayout layout;
  if (type == nullptr) return layout;

  UINT64 frameSize = 0;
  if (SUCCEEDED(type->GetUINT64(MF_MT_FRAME_SIZE, &frameSize))) {
    layout.codedWidth = std::uint32_t(frameSize >> 32);
    layout.codedHeight = std::uint32_t(frameSize & 0xFFFFFFFFu);
  }
  layout.width = layout.codedWidth;
  layout.height = layout.codedHeight;

  // Windows' decoder reports 1920x1088 with a 1920x1080 aperture; some report no aperture.
  MFVideoArea area = {};
  UINT32 areaSize = 0;
  if (SUCCEEDED(type->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&area), sizeof(area),
                              &areaSize)) &&
      areaSize == sizeof(area) && area.Area.cx > 0 && area.Area.cy > 0) {
    layout.width = std::uint32_t(area.Area.cx);
    layout.height = std::uint32_t(area.Area.cy);
    layout.hasAperture = true;
  }

  UINT32 stride = 0;
  if (SUCCEEDED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride)) && stride != 0) {
    layout.stride = stride;
  } else {
    LONG computed = 0;
    if (SUCCEEDED(MFGetStrideForBitmapInfoHeader(MFVideoFormat_NV12.Data1, layout.codedWidth, &computed)) &&
        computed > 0) {
      layout.stride = std::uint32_t(computed);
    } else {
      layout.stride = layout.codedWidth;
    }
  }
  return layout;
}

}  // namespace media
