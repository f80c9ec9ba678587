// Opens an existing named frame ring and copies the newest complete picture out of it, or lets
// it be used where it lies (the virtual camera's side). Never stores into the section, never blocks the writer, and never
// reads outside the mapping, whatever the section holds. Windows only.
#pragma once

#include <cstdint>
#include <string>

#include "ring/frame_ring_block.h"
#include "ring/frame_ring_format.h"
#include "ring/named_section.h"
#include "ring/ring_picture.h"

namespace ring {

class FrameRingReader {
 public:
  FrameRingReader() = default;
  ~FrameRingReader() { close(); }
  FrameRingReader(const FrameRingReader&) = delete;
  FrameRingReader& operator=(const FrameRingReader&) = delete;

  // Closes anything held, then opens `name` in `place`: "Local\" + name (in an AppContainer,
  // the logon session's own, see the .cpp) or "Global\" + name. False when there is no such
  // section, or its header is not a version 2 ring whose slots fit in the mapping.
  bool open(const std::string& name, RingPlace place = RingPlace::Session);
  // The newest complete picture if its number differs from `lastSeen`; otherwise, or when
  // closed, or when every attempt raced the writer, an invalid result.
  RingPicture readLatest(std::uint64_t lastSeen) const { return ring_.readLatest(lastSeen); }
  // The same into `picture`, reusing its buffer when it is large enough; returns picture.valid.
  bool readLatest(std::uint64_t lastSeen, RingPicture& picture) const { return ring_.readLatest(lastSeen, picture); }
  // The newest picture used where it lies in the section (FrameRingBlockReader::useLatest).
  template <class Use>
  bool useLatest(RingPicture& picture, Use&& use) const {
    return ring_.useLatest(picture, static_cast<Use&&>(use));
  }
  void close();

  bool isOpen() const { return ring_.attached(); }

 private:
  NamedSection section_;
  FrameRingBlockReader ring_;
};

}  // namespace ring
