// The sequence parameter set reader on what a phone's video frames may carry: the whole input
// as an access unit searched for a set, and as one set on its own.
#include <cstdint>
#include <optional>
#include <span>

#include "fuzz/fuzz_support.h"
#include "media/h264_sps.h"

namespace {

void checkSize(const std::optional<media::SequencePictureSize>& size) {
  if (!size) return;
  FUZZ_CHECK(size->codedWidth > 0 && size->codedWidth <= 16384 && size->codedWidth % 16 == 0);
  FUZZ_CHECK(size->codedHeight > 0 && size->codedHeight <= 16384 && size->codedHeight % 16 == 0);
  FUZZ_CHECK(size->width() > 0 && size->width() <= size->codedWidth);
  FUZZ_CHECK(size->height() > 0 && size->height() <= size->codedHeight);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  checkSize(media::findSequencePictureSize(bytes));
  checkSize(media::readSequencePictureSize(bytes));
  return 0;
}
