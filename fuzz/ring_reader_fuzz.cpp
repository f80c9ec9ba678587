// The camera's side of the frame ring over a block of any content and size, as another program
// (or a damaged one) may have left it. The block sits exactly sized on the heap, so a read past
// its end is caught. The reader must never store into it, and a picture it hands out must be
// what the slot holds and big enough for its own size.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "pixels/nv12_view.h"
#include "fuzz/fuzz_support.h"
#include "ring/frame_ring_block.h"

namespace {

struct AlignedDelete {
  void operator()(std::uint8_t* p) const { ::operator delete(p, std::align_val_t{8}); }
};

template <class T>
T field(const std::uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<std::uint8_t, AlignedDelete> block(
      static_cast<std::uint8_t*>(::operator new(size, std::align_val_t{8})));
  if (size > 0) std::memcpy(block.get(), data, size);

  ring::FrameRingBlockReader reader;
  if (!reader.attach(block.get(), size)) return 0;
  FUZZ_CHECK(ring::frameRingSectionSize(reader.slotCount(), reader.slotStride()) <= size);

  const std::uint64_t latest = field<std::uint64_t>(data + 32);
  const ring::RingPicture picture = reader.readLatest(0);
  FUZZ_CHECK(std::memcmp(block.get(), data, size) == 0);
  if (!picture.valid) return 0;

  const std::uint8_t* slot = data + ring::kFrameRingHeaderSize + (latest % reader.slotCount()) * reader.slotStride();
  const std::uint64_t sequence = field<std::uint64_t>(slot);
  FUZZ_CHECK(sequence != 0 && sequence % 2 == 0 && picture.frameNumber == sequence / 2);
  FUZZ_CHECK(picture.timestampUs == field<std::uint64_t>(slot + 8));
  FUZZ_CHECK(picture.size == field<std::uint32_t>(slot + 16));
  FUZZ_CHECK(picture.width == field<std::uint32_t>(slot + 20) && picture.height == field<std::uint32_t>(slot + 24));
  FUZZ_CHECK(picture.fourcc == field<std::uint32_t>(data + 24));
  FUZZ_CHECK(picture.width > 0 && picture.height > 0);
  FUZZ_CHECK(picture.size >= pixels::nv12Bytes(picture.width, picture.height));
  FUZZ_CHECK(picture.size <= reader.slotStride() - ring::kFrameSlotHeaderSize);
  FUZZ_CHECK(std::memcmp(picture.pixels.get(), slot + ring::kFrameSlotHeaderSize, picture.size) == 0);

  // The camera asks again with the number it got: nothing new unless the slot's number disagrees
  // with the header's.
  const ring::RingPicture again = reader.readLatest(picture.frameNumber);
  if (picture.frameNumber == latest) FUZZ_CHECK(!again.valid);
  return 0;
}
