#include "pixels/nv12_view.h"
#include "ring/frame_ring_block.h"

#include <atomic>
#include <cstring>
#include <iterator>

namespace ring {

// Other processes map the same bytes, so every shared word is accessed through atomic_ref.
// The sequence lock: the writer stores an odd sequence, fences, writes the slot, then stores
// the even sequence with release; a reader loads the sequence with acquire, copies, fences
// with acquire and loads the sequence again. The payload itself is copied with memcpy: a
// copy that raced the writer is detected by the second load and thrown away.

namespace {

using Seq = std::atomic_ref<std::uint64_t>;
using Word = std::atomic_ref<std::uint32_t>;

static_assert(Seq::required_alignment <= 8, "slots are 8-byte aligned");

std::uint8_t* slotAt(FrameRingHeader* header, std::uint64_t index, std::uint32_t stride) {
  return reinterpret_cast<std::uint8_t*>(header) + kFrameRingHeaderSize + index * stride;
}

bool aligned8(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p) % 8 == 0;
}

}  // namespace

bool holdsFrameRing(const std::uint8_t* base, std::uint64_t size, const FrameRingConfig& config) {
  if (base == nullptr || !aligned8(base) || !frameRingConfigUsable(config)) return false;
  const std::uint32_t stride = frameRingSlotStride(config.maxWidth, config.maxHeight);
  if (size < frameRingSectionSize(config.slotCount, stride)) return false;
  // Another process may hold the block: its words are read as the reader reads them.
  FrameRingHeader* header = reinterpret_cast<FrameRingHeader*>(const_cast<std::uint8_t*>(base));
  const std::uint32_t expected[] = {kFrameRingMagic, kFrameRingVersion, config.slotCount, stride,
                                    config.maxWidth, config.maxHeight, config.fourcc};
  std::uint32_t* const words[] = {&header->magic,    &header->version,   &header->slotCount, &header->slotStride,
                                  &header->maxWidth, &header->maxHeight, &header->fourcc};
  for (std::size_t i = 0; i < std::size(expected); i++) {
    if (Word(*words[i]).load(std::memory_order_relaxed) != expected[i]) return false;
  }
  return true;
}

bool FrameRingBlockWriter::format(std::uint8_t* base, std::uint64_t size, const FrameRingConfig& config) {
  reset();
  if (base == nullptr || !aligned8(base) || !frameRingConfigUsable(config)) return false;
  std::uint32_t stride = frameRingSlotStride(config.maxWidth, config.maxHeight);
  if (size < frameRingSectionSize(config.slotCount, stride)) return false;

  FrameRingHeader* header = reinterpret_cast<FrameRingHeader*>(base);
  Word(header->magic).store(kFrameRingMagic, std::memory_order_relaxed);
  Word(header->version).store(kFrameRingVersion, std::memory_order_relaxed);
  Word(header->slotCount).store(config.slotCount, std::memory_order_relaxed);
  Word(header->slotStride).store(stride, std::memory_order_relaxed);
  Word(header->maxWidth).store(config.maxWidth, std::memory_order_relaxed);
  Word(header->maxHeight).store(config.maxHeight, std::memory_order_relaxed);
  Word(header->fourcc).store(config.fourcc, std::memory_order_relaxed);
  Word(header->reserved).store(0, std::memory_order_relaxed);
  Seq(header->latestFrame).store(0, std::memory_order_release);

  // A reader may be copying out of a slot from the previous run: clearing the sequence first
  // (then fencing) makes its second sequence load see the change.
  for (std::uint32_t i = 0; i < config.slotCount; i++) {
    FrameSlotHeader* slot = reinterpret_cast<FrameSlotHeader*>(slotAt(header, i, stride));
    Seq(slot->sequence).store(0, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    Seq(slot->timestampUs).store(0, std::memory_order_relaxed);
    Word(slot->size).store(0, std::memory_order_relaxed);
    Word(slot->width).store(0, std::memory_order_relaxed);
    Word(slot->height).store(0, std::memory_order_relaxed);
    Word(slot->reserved).store(0, std::memory_order_relaxed);
  }

  header_ = header;
  slotCount_ = config.slotCount;
  slotStride_ = stride;
  capacity_ = stride - kFrameSlotHeaderSize;
  frameCounter_ = 0;
  return true;
}

bool FrameRingBlockWriter::publish(std::uint64_t timestampUs, std::uint32_t width, std::uint32_t height,
                                   const void* bytes, std::uint64_t length) {
  if (header_ == nullptr) return false;
  if (length > capacity_) return false;
  if (bytes == nullptr && length > 0) return false;

  std::uint64_t n = ++frameCounter_;
  std::uint8_t* slotBytes = slotAt(header_, n % slotCount_, slotStride_);
  FrameSlotHeader* slot = reinterpret_cast<FrameSlotHeader*>(slotBytes);

  Seq(slot->sequence).store(2 * n - 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  Seq(slot->timestampUs).store(timestampUs, std::memory_order_relaxed);
  Word(slot->size).store(static_cast<std::uint32_t>(length), std::memory_order_relaxed);
  Word(slot->width).store(width, std::memory_order_relaxed);
  Word(slot->height).store(height, std::memory_order_relaxed);
  if (length > 0) std::memcpy(slotBytes + kFrameSlotHeaderSize, bytes, static_cast<std::size_t>(length));
  Seq(slot->sequence).store(2 * n, std::memory_order_release);
  Seq(header_->latestFrame).store(n, std::memory_order_release);
  return true;
}

void FrameRingBlockWriter::reset() {
  header_ = nullptr;
  slotCount_ = 0;
  slotStride_ = 0;
  capacity_ = 0;
  frameCounter_ = 0;
}

bool FrameRingBlockReader::attach(std::uint8_t* base, std::uint64_t size) {
  reset();
  if (base == nullptr || !aligned8(base) || size < kFrameRingHeaderSize) return false;
  FrameRingHeader* header = reinterpret_cast<FrameRingHeader*>(base);
  if (Word(header->magic).load(std::memory_order_relaxed) != kFrameRingMagic) return false;
  if (Word(header->version).load(std::memory_order_relaxed) != kFrameRingVersion) return false;

  // The header may come from another program or be damaged: its slots must lie in the block.
  std::uint32_t count = Word(header->slotCount).load(std::memory_order_relaxed);
  std::uint32_t stride = Word(header->slotStride).load(std::memory_order_relaxed);
  if (count == 0 || stride < kFrameSlotHeaderSize || stride % 8 != 0) return false;
  if (frameRingSectionSize(count, stride) > size) return false;

  header_ = header;
  slotCount_ = count;
  slotStride_ = stride;
  return true;
}

RingPicture FrameRingBlockReader::readLatest(std::uint64_t lastSeen) const {
  RingPicture picture;
  if (!readLatest(lastSeen, picture)) return RingPicture{};
  return picture;
}

bool FrameRingBlockReader::readLatest(std::uint64_t lastSeen, RingPicture& picture) const {
  picture.valid = false;
  if (header_ == nullptr) return false;
  std::uint64_t n = Seq(header_->latestFrame).load(std::memory_order_acquire);
  if (n == 0 || n == lastSeen) return false;

  std::uint8_t* slotBytes = slotAt(header_, n % slotCount_, slotStride_);
  FrameSlotHeader* slot = reinterpret_cast<FrameSlotHeader*>(slotBytes);
  std::uint32_t capacity = slotStride_ - kFrameSlotHeaderSize;
  for (int attempt = 0; attempt < 4; attempt++) {
    std::uint64_t s1 = Seq(slot->sequence).load(std::memory_order_acquire);
    if (s1 & 1) continue;
    if (s1 == 0) break;  // never written, or just cleared by a writer starting a new run

    std::uint64_t timestampUs = Seq(slot->timestampUs).load(std::memory_order_relaxed);
    std::uint32_t size = Word(slot->size).load(std::memory_order_relaxed);
    std::uint32_t width = Word(slot->width).load(std::memory_order_relaxed);
    std::uint32_t height = Word(slot->height).load(std::memory_order_relaxed);
    // Torn or damaged fields: never copy past the slot, and never hand out fewer bytes than
    // the picture's own size needs (callers walk the bytes as packed NV12).
    if (size > capacity || width == 0 || height == 0 || size < pixels::nv12Bytes(width, height)) continue;

    if (picture.pixels == nullptr || picture.capacity < size) {
      picture.pixels.reset();
      picture.capacity = 0;
      picture.pixels = std::make_unique_for_overwrite<std::uint8_t[]>(size);
      picture.capacity = size;
    }
    picture.size = size;
    std::memcpy(picture.pixels.get(), slotBytes + kFrameSlotHeaderSize, size);
    std::atomic_thread_fence(std::memory_order_acquire);
    std::uint64_t s2 = Seq(slot->sequence).load(std::memory_order_relaxed);
    if (s2 != s1) continue;

    picture.valid = true;
    picture.frameNumber = s1 / 2;
    picture.timestampUs = timestampUs;
    picture.width = width;
    picture.height = height;
    picture.fourcc = Word(header_->fourcc).load(std::memory_order_relaxed);
    return true;
  }
  return false;
}

FrameRingBlockReader::Peek FrameRingBlockReader::peekLatest(RingPicture& picture, const std::uint8_t*& bytes,
                                                             std::uint64_t& sequence) const {
  if (header_ == nullptr) return Peek::Nothing;
  const std::uint64_t n = Seq(header_->latestFrame).load(std::memory_order_acquire);
  if (n == 0) return Peek::Nothing;
  std::uint8_t* slotBytes = slotAt(header_, n % slotCount_, slotStride_);
  FrameSlotHeader* slot = reinterpret_cast<FrameSlotHeader*>(slotBytes);
  sequence = Seq(slot->sequence).load(std::memory_order_acquire);
  if (sequence & 1) return Peek::Busy;
  if (sequence == 0) return Peek::Nothing;  // never written, or just cleared for a new run
  const std::uint32_t size = Word(slot->size).load(std::memory_order_relaxed);
  const std::uint32_t width = Word(slot->width).load(std::memory_order_relaxed);
  const std::uint32_t height = Word(slot->height).load(std::memory_order_relaxed);
  // As for a copy: never past the slot, never fewer bytes than the picture's own size needs.
  if (size > slotStride_ - kFrameSlotHeaderSize || width == 0 || height == 0 ||
      size < pixels::nv12Bytes(width, height)) {
    return Peek::Busy;
  }
  picture.frameNumber = sequence / 2;
  picture.timestampUs = Seq(slot->timestampUs).load(std::memory_order_relaxed);
  picture.width = width;
  picture.height = height;
  picture.size = size;
  picture.fourcc = Word(header_->fourcc).load(std::memory_order_relaxed);
  bytes = slotBytes + kFrameSlotHeaderSize;
  return Peek::Ready;
}

bool FrameRingBlockReader::heldStill(const RingPicture& picture, std::uint64_t sequence) const {
  const std::uint64_t n = picture.frameNumber;
  if (header_ == nullptr || n == 0) return false;
  FrameSlotHeader* slot = reinterpret_cast<FrameSlotHeader*>(slotAt(header_, n % slotCount_, slotStride_));
  std::atomic_thread_fence(std::memory_order_acquire);
  return Seq(slot->sequence).load(std::memory_order_relaxed) == sequence;
}

void FrameRingBlockReader::reset() {
  header_ = nullptr;
  slotCount_ = 0;
  slotStride_ = 0;
}

}  // namespace ring
