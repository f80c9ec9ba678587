// Creates the named frame ring and publishes pictures into it (the control program's side).
// The section gets the descriptor of section_security_win.h. An existing section of the same
// name is reused only when it is this ring, laid out alike (one a capture application still
// holds from an earlier run); numbering restarts at 1 with every open. A section of another
// size or layout is never written over. Not thread-safe: publish must not run concurrently with
// another publish, open or close. It can also join a ring another process made and formatted
// (attach), as the control program does with the Media Foundation camera's. Windows only.
#pragma once

#include <cstdint>

#include "ring/frame_ring_block.h"
#include "ring/frame_ring_format.h"
#include "ring/named_section.h"

namespace ring {

// Why a writer's open failed.
enum class RingFault {
  None,
  NameTaken,  // an object of another kind (an event, a mutex...) holds the ring's name
  OtherRing,  // a section of the ring's name that is not this ring: another size or layout (an
              // older build's, held open by a capture application), or one this user may not open
  NoMemory,   // the section could not be created or mapped: no memory, or any other refusal
  Absent,     // attach only: there is no section of the ring's name
};

// Why creating or opening a ring's section failed, from the system's error code.
RingFault sectionFault(unsigned long error);
// Whether `section`, mapped whole, is exactly a ring of `config`: its size and header.
bool sectionHoldsRing(const NamedSection& section, const FrameRingConfig& config);

class FrameRingWriter {
 public:
  FrameRingWriter() = default;
  ~FrameRingWriter() { close(); }
  FrameRingWriter(const FrameRingWriter&) = delete;
  FrameRingWriter& operator=(const FrameRingWriter&) = delete;

  // Closes any ring held, then creates "Local\" + config.name and formats it. False (and
  // closed, with fault() and error() saying why) when the geometry is unusable or the section
  // cannot be created, mapped or taken over.
  bool open(const FrameRingConfig& config);
  // Closes any ring held, then opens the existing section config.name in `place` for reading and
  // writing and, when it holds a ring of this layout (as open's reuse check asks), formats it:
  // numbering restarts at 1. Never creates a section, never writes into one of another size or
  // layout. False (and closed, with fault() and error()) otherwise.
  bool attach(const FrameRingConfig& config, RingPlace place);
  // Publishes one packed NV12 picture as number frameCounter() + 1. False, changing nothing,
  // when closed or when `length` exceeds the slot capacity.
  bool publish(std::uint64_t timestampUs, std::uint32_t width, std::uint32_t height, const void* bytes,
               std::uint64_t length);
  void close();

  bool isOpen() const { return ring_.formatted(); }
  // Whether the open ring was a section that existed already.
  bool reused() const { return reused_; }
  RingFault fault() const { return fault_; }
  unsigned long error() const { return error_; }  // the system's error code behind fault(), if any
  std::uint64_t frameCounter() const { return ring_.frameCounter(); }
  const FrameRingConfig& config() const { return config_; }

 private:
  bool fail(RingFault fault, unsigned long error);

  NamedSection section_;
  FrameRingBlockWriter ring_;
  FrameRingConfig config_;
  bool reused_ = false;
  RingFault fault_ = RingFault::None;
  unsigned long error_ = 0;
};

}  // namespace ring
