#include "ring/global_ring_host.h"

#include <windows.h>

#include "ring/frame_ring_block.h"
#include "ring/section_security_win.h"

namespace ring {

namespace {

// The event whose name says a host runs. The section cannot say so itself: a writer's handle
// keeps it, and its name, alive after every host has gone. Its name is checked, never held, and
// opened for query, a right the service ring's descriptor grants the interactive user.
constexpr DWORD kEventQueryState = 0x0001;  // EVENT_QUERY_STATE, which only wdm.h spells

std::string markerName(const std::string& ringName) { return ringObjectName(ringName + "-host", RingPlace::Global); }

}  // namespace

bool GlobalRingHost::open(const FrameRingConfig& config) {
  close();
  if (!frameRingConfigUsable(config)) return fail(RingFault::NoMemory, ERROR_INVALID_PARAMETER);
  const SectionSecurity security(SectionUse::ServiceRing);
  // The system's default descriptor would leave the user out: none rather than that.
  if (security.descriptor() == nullptr) return fail(RingFault::NoMemory, ERROR_INVALID_SECURITY_DESCR);
  const std::uint64_t size =
      frameRingSectionSize(config.slotCount, frameRingSlotStride(config.maxWidth, config.maxHeight));
  if (!section_.create(ringObjectName(config.name, RingPlace::Global), size, security.descriptor())) {
    return fail(sectionFault(section_.error()), section_.error());
  }
  if (section_.existed()) {
    // Only another host, an administrator or the control program's open handle can have kept
    // it: a ring of this layout is used as it is, anything else left alone.
    if (!sectionHoldsRing(section_, config)) return fail(RingFault::OtherRing, ERROR_ALREADY_EXISTS);
  } else {
    FrameRingBlockWriter layout;
    if (!layout.format(section_.data(), section_.size(), config)) {
      return fail(RingFault::NoMemory, ERROR_INVALID_PARAMETER);
    }
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), security.descriptor(), FALSE};
  HANDLE marker = CreateEventA(&attributes, TRUE, FALSE, markerName(config.name).c_str());
  if (marker == nullptr) {
    const unsigned long error = GetLastError();
    return fail(sectionFault(error), error);
  }
  marker_.reset(marker);
  return true;
}

bool GlobalRingHost::running(const std::string& name) {
  HANDLE marker = OpenEventA(kEventQueryState, FALSE, markerName(name).c_str());
  if (marker == nullptr) return false;
  CloseHandle(marker);
  return true;
}

bool GlobalRingHost::fail(RingFault fault, unsigned long error) {
  close();
  fault_ = fault;
  error_ = error;
  return false;
}

void GlobalRingHost::close() {
  marker_.reset();
  section_.close();
  fault_ = RingFault::None;
  error_ = 0;
}

}  // namespace ring
