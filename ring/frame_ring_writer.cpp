#include "ring/frame_ring_writer.h"

namespace ring {

bool FrameRingWriter::open(const FrameRingConfig& config) {
  close();
  config_ = config;
  if (!frameRingConfigUsable(config)) return false;
  std::uint64_t size = frameRingSectionSize(config.slotCount, frameRingSlotStride(config.maxWidth, config.maxHeight));
  if (!section_.create(kFrameRingNamespace + config.name, size)) return false;
  if (!ring_.format(section_.data(), section_.size(), config)) {
    section_.close();
    return false;
  }
  return true;
}

bool FrameRingWriter::publish(std::uint64_t timestampUs, std::uint32_t width, std::uint32_t height,
                              const void* bytes, std::uint64_t length) {
  return ring_.publish(timestampUs, width, height, bytes, length);
}

void FrameRingWriter::close() {
  ring_.reset();
  section_.close();
}

}  // namespace ring
