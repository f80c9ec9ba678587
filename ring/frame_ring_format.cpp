#include "ring/frame_ring_format.h"

namespace ring {

bool frameRingConfigUsable(const FrameRingConfig& config) {
  if (config.slotCount == 0) return false;
  std::uint64_t product = std::uint64_t(config.maxWidth) * config.maxHeight * 3u;
  if (product > 0xFFFFFFFFu) return false;  // the 32-bit capacity would wrap to a wrong, smaller value
  std::uint32_t stride = frameRingSlotStride(config.maxWidth, config.maxHeight);
  if (stride % 8 != 0) return false;
  return frameRingSectionSize(config.slotCount, stride) <= 0xFFFFFFFFu;
}

}  // namespace ring
