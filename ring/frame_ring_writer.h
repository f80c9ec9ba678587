// Creates the named frame ring and publishes pictures into it (the control program's side).
// Opening an existing section of the same name (one a capture application still holds) reuses
// and reformats it; numbering restarts at 1 with every open. Not thread-safe: publish must not
// run concurrently with another publish, open or close. Windows only.
#pragma once

#include <cstdint>

#include "ring/frame_ring_block.h"
#include "ring/frame_ring_format.h"
#include "ring/named_section.h"

namespace ring {

class FrameRingWriter {
 public:
  FrameRingWriter() = default;
  ~FrameRingWriter() { close(); }
  FrameRingWriter(const FrameRingWriter&) = delete;
  FrameRingWriter& operator=(const FrameRingWriter&) = delete;

  // Closes any ring held, then creates "Local\" + config.name and formats it. False (and
  // closed) when the geometry is unusable or the section cannot be created or mapped.
  bool open(const FrameRingConfig& config);
  // Publishes one packed NV12 picture as number frameCounter() + 1. False, changing nothing,
  // when closed or when `length` exceeds the slot capacity.
  bool publish(std::uint64_t timestampUs, std::uint32_t width, std::uint32_t height, const void* bytes,
               std::uint64_t length);
  void close();

  bool isOpen() const { return ring_.formatted(); }
  std::uint64_t frameCounter() const { return ring_.frameCounter(); }
  const FrameRingConfig& config() const { return config_; }

 private:
  NamedSection section_;
  FrameRingBlockWriter ring_;
  FrameRingConfig config_;
};

}  // namespace ring
