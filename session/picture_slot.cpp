#include "session/picture_slot.h"

#include <cstdint>
#include <utility>

#include "common/debug_log.h"
#include "pixels/nv12_view.h"

namespace session {

void PictureSlot::put(const media::DecodedFrame& picture) {
  if (picture.width == 0 || picture.height == 0) return;
  // Only packed pictures can be read with the width as the stride.
  const bool packed =
      picture.stride == picture.width && (picture.codedHeight == 0 || picture.codedHeight == picture.height);
  if (!packed) {
    logLine("[Preview] picture %ux%u dropped: stride %u, coded height %u, not packed\n", picture.width,
            picture.height, picture.stride, picture.codedHeight);
    return;
  }
  const std::uint64_t needed = pixels::nv12Bytes(picture.width, picture.height);
  if (picture.data.size() < needed) {
    logLine("[Preview] picture %ux%u dropped: %zu bytes, needs %llu\n", picture.width, picture.height,
            picture.data.size(), static_cast<unsigned long long>(needed));
    return;
  }

  std::lock_guard<std::mutex> lock(mutex_);
  picture_.data.assign(picture.data.begin(), picture.data.end());
  picture_.width = picture.width;
  picture_.height = picture.height;
  picture_.codedHeight = picture.height;
  picture_.stride = picture.width;
  picture_.timestampUs = picture.timestampUs;
  picture_.turned = picture.turned;
  ready_ = true;
}

bool PictureSlot::take(media::DecodedFrame& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ready_) return false;
  out = std::move(picture_);
  picture_ = media::DecodedFrame{};
  ready_ = false;
  return true;
}

bool PictureSlot::waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ready_;
}

void PictureSlot::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  picture_ = media::DecodedFrame{};
  ready_ = false;
}

}  // namespace session
