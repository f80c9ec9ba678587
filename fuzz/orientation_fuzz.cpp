// The orientation message (frame type 0x10) as the decode pipeline reads it, and the quarter
// turns the preview makes of it.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/preview_geometry.h"
#include "fuzz/fuzz_support.h"
#include "media/stream_metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  int rotation = -1;
  bool mirror = true;
  media::parseOrientation(text, rotation, mirror);
  const int turns = app::quarterTurnsFromDegrees(rotation);
  FUZZ_CHECK(turns >= 0 && turns <= 3);

  // What was read, written the way a phone writes it, reads back the same.
  const std::string canonical = "{\"rotation\":" + std::to_string(std::uint32_t(rotation)) +
                                ",\"mirror\":" + (mirror ? "true" : "false") + "}";
  int again = -1;
  bool mirrorAgain = !mirror;
  media::parseOrientation(canonical, again, mirrorAgain);
  FUZZ_CHECK(again == rotation && mirrorAgain == mirror);
  return 0;
}
