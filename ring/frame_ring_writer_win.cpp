#include "ring/frame_ring_writer.h"

#include <windows.h>

#include "ring/section_security_win.h"

namespace ring {

RingFault sectionFault(unsigned long error) {
  if (error == ERROR_FILE_NOT_FOUND) return RingFault::Absent;
  if (error == ERROR_INVALID_HANDLE) return RingFault::NameTaken;
  // Also what an account without SeCreateGlobalPrivilege gets for a "Global\" section.
  if (error == ERROR_ACCESS_DENIED) return RingFault::OtherRing;
  return RingFault::NoMemory;
}

bool sectionHoldsRing(const NamedSection& section, const FrameRingConfig& config) {
  const std::uint64_t size =
      frameRingSectionSize(config.slotCount, frameRingSlotStride(config.maxWidth, config.maxHeight));
  return section.size() == NamedSection::mappedExtent(size) && holdsFrameRing(section.data(), section.size(), config);
}

bool FrameRingWriter::open(const FrameRingConfig& config) {
  close();
  config_ = config;
  if (!frameRingConfigUsable(config)) return fail(RingFault::NoMemory, ERROR_INVALID_PARAMETER);
  const std::uint64_t size =
      frameRingSectionSize(config.slotCount, frameRingSlotStride(config.maxWidth, config.maxHeight));
  const SectionSecurity security;
  if (!section_.create(kFrameRingNamespace + config.name, size, security.descriptor())) {
    return fail(sectionFault(section_.error()), section_.error());
  }
  if (section_.existed()) {
    // Someone else's section, or a ring of another layout that its readers still use as such.
    if (!sectionHoldsRing(section_, config)) return fail(RingFault::OtherRing, ERROR_ALREADY_EXISTS);
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
  if (!section_.openForWriting(ringObjectName(config.name, place))) {
    return fail(sectionFault(section_.error()), section_.error());
  }
  if (!sectionHoldsRing(section_, config)) return fail(RingFault::OtherRing, ERROR_INVALID_DATA);
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
