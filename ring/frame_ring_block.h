// The frame ring on a plain block of memory: formatting it, publishing into it and copying the
// newest picture out of it. The named shared section is only where the block lives; everything
// about the layout and the sequence lock is here, so it runs on any memory.
//
// One writer and any number of readers, each with its own view of the block, no locks: a reader
// that races the writer gets an invalid result instead of a torn picture, and never blocks it.
// A reader never stores into the block and never reads outside it, whatever the block holds.
#pragma once

#include <cstdint>

#include "ring/frame_ring_format.h"
#include "ring/ring_picture.h"

namespace ring {

// Whether [base, base + size) already holds a ring laid out exactly as `config` asks (magic,
// version, slot count and stride, capacity, pixel format), such as one an earlier open made and
// a capture application still holds: only such a block may be formatted again, since its readers
// then see the same layout. A block of any other layout belongs to someone else.
bool holdsFrameRing(const std::uint8_t* base, std::uint64_t size, const FrameRingConfig& config);

class FrameRingBlockWriter {
 public:
  // Lays out a ring of `config` in [base, base + size): header (latestFrame 0) and every slot
  // header zeroed; payload bytes are left as they are. Numbering restarts at 1. False, with
  // nothing written, when the geometry is unusable, `size` is too small or `base` is not 8-aligned.
  bool format(std::uint8_t* base, std::uint64_t size, const FrameRingConfig& config);

  // Writes one picture into the next slot and makes it the latest. False, with nothing written
  // and no number used, when not formatted or `length` exceeds the slot capacity (or `bytes`
  // is null with a non-zero length). No allocation, no system call. Not thread-safe.
  bool publish(std::uint64_t timestampUs, std::uint32_t width, std::uint32_t height, const void* bytes,
               std::uint64_t length);

  // Forgets the block; publish refuses until the next format.
  void reset();

  bool formatted() const { return header_ != nullptr; }
  std::uint64_t frameCounter() const { return frameCounter_; }  // number of the last picture published
  std::uint32_t slotStride() const { return slotStride_; }

 private:
  FrameRingHeader* header_ = nullptr;  // also the start of the block
  std::uint32_t slotCount_ = 0;
  std::uint32_t slotStride_ = 0;
  std::uint32_t capacity_ = 0;
  std::uint64_t frameCounter_ = 0;
};

class FrameRingBlockReader {
 public:
  // Checks the header of the ring in [base, base + size) and keeps its geometry. False when the
  // magic or version is wrong, or the slots it claims do not lie inside the block.
  bool attach(std::uint8_t* base, std::uint64_t size);

  // The newest complete picture, if its number differs from `lastSeen`. Up to 4 attempts on
  // its slot; invalid if all of them raced the writer or the slot is not a well-formed picture.
  RingPicture readLatest(std::uint64_t lastSeen) const;
  // The same into `picture`, whose buffer is reused when it is large enough: a reader that
  // keeps one RingPicture allocates only when pictures grow. Returns picture.valid; an invalid
  // result keeps the buffer.
  bool readLatest(std::uint64_t lastSeen, RingPicture& picture) const;

  // The newest complete picture used where it lies, without a copy, whatever its number:
  // `use(bytes, size)` gets the slot's pixels while `picture` describes them (its buffer is
  // left alone) and returns whether it took the picture. What `use` did counts only if the
  // writer left the slot alone meanwhile; otherwise it is tried again, up to 4 attempts in all.
  // True, with picture.valid, when `use` took a picture that held still.
  template <class Use>
  bool useLatest(RingPicture& picture, Use&& use) const {
    picture.valid = false;
    for (int attempt = 0; attempt < 4; attempt++) {
      const std::uint8_t* bytes = nullptr;
      std::uint64_t sequence = 0;
      const Peek peek = peekLatest(picture, bytes, sequence);
      if (peek == Peek::Nothing) return false;
      if (peek == Peek::Busy) continue;
      if (!use(bytes, picture.size)) return false;
      if (heldStill(picture, sequence)) return picture.valid = true;
    }
    return false;
  }

  void reset();

  bool attached() const { return header_ != nullptr; }
  std::uint32_t slotCount() const { return slotCount_; }
  std::uint32_t slotStride() const { return slotStride_; }

 private:
  enum class Peek { Nothing, Busy, Ready };
  // The newest slot's fields into `picture` and its pixels' address, when it holds a
  // well-formed picture that is not being written; `sequence` is what heldStill compares.
  Peek peekLatest(RingPicture& picture, const std::uint8_t*& bytes, std::uint64_t& sequence) const;
  bool heldStill(const RingPicture& picture, std::uint64_t sequence) const;

  FrameRingHeader* header_ = nullptr;  // never stored through
  std::uint32_t slotCount_ = 0;
  std::uint32_t slotStride_ = 0;
};

}  // namespace ring
