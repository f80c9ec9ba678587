// While one lives, no H.264 decoder can be made in this process, as on a Windows N edition
// without the Media Feature Pack: creating the transform fails as it does there.
#pragma once

#include <winerror.h>

#include "media/h264_decoder_win.h"

namespace testsupport {

struct NoH264Decoder {
  NoH264Decoder() {
    media::H264Decoder::setTransformMaker([](IMFTransform**) -> long { return REGDB_E_CLASSNOTREG; });
  }
  ~NoH264Decoder() { media::H264Decoder::setTransformMaker(nullptr); }
  NoH264Decoder(const NoH264Decoder&) = delete;
  NoH264Decoder& operator=(const NoH264Decoder&) = delete;
};

}  // namespace testsupport
