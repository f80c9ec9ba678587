#include "ring/frame_ring_reader.h"

#include "ring/frame_ring_format.h"

namespace ring {

bool FrameRingReader::open(const std::string& name) {
  close();
  if (!section_.open(kFrameRingNamespace + name)) return false;
  if (!ring_.attach(section_.data(), section_.size())) {
    section_.close();
    return false;
  }
  return true;
}

void FrameRingReader::close() {
  ring_.reset();
  section_.close();
}

}  // namespace ring
