#include "ring/frame_ring_writer.h"

#include <windows.h>

#include "ring/section_security_win.h"

namespace ring {

bool FrameRingWriter::open(const FrameRingConfig& config) {
  close();
  config_ = config;
  if (!frameRingConfigUsable(config)) return fail(RingFault::NoMemory, ERROR_INVALID_PARAMETER);
  const std::uint64_t size =
      frameRingSectionSize(config.slotCount, frameRingSlotStride(config.maxWidth, config.maxHeight));
  const SectionSecurity security;
  if (!section_.create(kFrameRingNamespace + config.name, size, security.descriptor())) {
    const unsigned long error = section_.error();
    if (error == ERROR_INVALID_HANDLE) return fail(RingFault::NameTaken, error);
    if (error == ERROR_ACCESS_DENIED) return fail(RingFault::OtherRing, error);
    return fail(RingFault::NoMemory, error);
  }
  if (section_.existed()) {
    // Someone else's section, or a ring of another layout that its readers still use as such.
    if (section_.size() != NamedSection::mappedExtent(size) ||
        !holdsFrameRing(section_.data(), section_.size(), config)) {
      return fail(RingFault::OtherRing, ERROR_ALREADY_EXISTS);
    }
    // A ring an older build made has the default descriptor: the readers it kept out may come
    // in from now on. Should it refuse, it serves those it served before.
    security.applyTo(section_.handle());
  }
  if (!ring_.format(section_.data(), section_.size(), config)) {
    return fail(RingFault::NoMemory, ERROR_INVALID_PARAMETER);
  }
  reused_ = section_.existed();
  return true;
}

bool FrameRingWriter::attach(const FrameRingConfig& config, RingPlace place) {
  close();
  config_ = config;
  if (!frameRingConfigUsable(config)) return fail(RingFault::NoMemory, ERROR_INVALID_PARAMETER);
  const std::uint64_t size =
      frameRingSectionSize(config.slotCount, frameRingSlotStride(config.maxWidth, config.maxHeight));
  if (!section_.openForWriting(ringObjectName(config.name, place))) {
    const unsigned long error = section_.error();
    if (error == ERROR_FILE_NOT_FOUND) return fail(RingFault::Absent, error);
    if (error == ERROR_INVALID_HANDLE) return fail(RingFault::NameTaken, error);
    if (error == ERROR_ACCESS_DENIED) return fail(RingFault::OtherRing, error);
    return fail(RingFault::NoMemory, error);
  }
  if (section_.size() != NamedSection::mappedExtent(size) ||
      !holdsFrameRing(section_.data(), section_.size(), config)) {
    return fail(RingFault::OtherRing, ERROR_INVALID_DATA);
  }
  if (!ring_.format(section_.data(), section_.size(), config)) {
    return fail(RingFault::NoMemory, ERROR_INVALID_PARAMETER);
  }
  reused_ = true;
  return true;
}

bool FrameRingWriter::fail(RingFault fault, unsigned long error) {
  close();
  fault_ = fault;
  error_ = error;
  return false;
}

bool FrameRingWriter::publish(std::uint64_t timestampUs, std::uint32_t width, std::uint32_t height,
                              const void* bytes, std::uint64_t length) {
  return ring_.publish(timestampUs, width, height, bytes, length);
}

void FrameRingWriter::close() {
  ring_.reset();
  section_.close();
  reused_ = false;
  fault_ = RingFault::None;
  error_ = 0;
}

}  // namespace ring
