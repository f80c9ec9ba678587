// Layout of the shared frame ring, byte for byte. The control program writes it and the virtual
// camera, in other processes, reads it: every offset and size here is fixed.
//
//   [FrameRingHeader 40 bytes][slot 0][slot 1]...[slot slotCount - 1]
//   slot i starts at 40 + i * slotStride: [FrameSlotHeader 32 bytes][payload, up to slotStride - 32]
//
// Picture n of a run is stored in slot n % slotCount (the first in slot 1). A slot's sequence is
// 2n - 1 while picture n is being written and 2n once it is complete; 0 means never written.
// The payload is packed NV12: width * height luma bytes, then one interleaved UV row of width
// bytes for every two luma rows. All fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ring {

constexpr std::uint32_t kFrameRingMagic = 0x52435049;  // "IPCR" in memory order
constexpr std::uint32_t kFrameRingVersion = 2;
constexpr std::uint32_t kFourccNv12 = 0x3231564E;      // "NV12" in memory order
inline constexpr char kFrameRingName[] = "brindlevideo-ring";
inline constexpr char kFrameRingNamespace[] = "Local\\";       // the per-logon object namespace
// The ring the Media Foundation camera's source makes for itself, from the service session,
// and the control program mirrors its pictures into (cross_session.md).
inline constexpr char kGlobalFrameRingName[] = "brindlevideo-ring-global";
inline constexpr char kGlobalNamespace[] = "Global\\";       // the one namespace of every session

// Where a ring's name lives: this logon session's "Local\" or the machine's "Global\".
enum class RingPlace { Session, Global };

// The object name of ring `name` in `place`.
inline std::string ringObjectName(const std::string& name, RingPlace place) {
  return (place == RingPlace::Global ? kGlobalNamespace : kFrameRingNamespace) + name;
}

// The writer's parameters; the defaults are the ones the system uses.
struct FrameRingConfig {
  std::string name = kFrameRingName;
  std::uint32_t slotCount = 4;
  std::uint32_t maxWidth = 1920;   // capacity in pixels
  std::uint32_t maxHeight = 1920;
  std::uint32_t fourcc = kFourccNv12;
};

struct FrameRingHeader {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t slotCount;
  std::uint32_t slotStride;
  std::uint32_t maxWidth;
  std::uint32_t maxHeight;
  std::uint32_t fourcc;
  std::uint32_t reserved;
  std::uint64_t latestFrame;  // number of the newest complete picture; 0 = none yet
};

struct FrameSlotHeader {
  std::uint64_t sequence;
  std::uint64_t timestampUs;
  std::uint32_t size;    // payload bytes
  std::uint32_t width;   // of this picture, not of the ring
  std::uint32_t height;
  std::uint32_t reserved;
};

static_assert(sizeof(FrameRingHeader) == 40);
static_assert(offsetof(FrameRingHeader, magic) == 0);
static_assert(offsetof(FrameRingHeader, version) == 4);
static_assert(offsetof(FrameRingHeader, slotCount) == 8);
static_assert(offsetof(FrameRingHeader, slotStride) == 12);
static_assert(offsetof(FrameRingHeader, maxWidth) == 16);
static_assert(offsetof(FrameRingHeader, maxHeight) == 20);
static_assert(offsetof(FrameRingHeader, fourcc) == 24);
static_assert(offsetof(FrameRingHeader, reserved) == 28);
static_assert(offsetof(FrameRingHeader, latestFrame) == 32);

static_assert(sizeof(FrameSlotHeader) == 32);
static_assert(offsetof(FrameSlotHeader, sequence) == 0);
static_assert(offsetof(FrameSlotHeader, timestampUs) == 8);
static_assert(offsetof(FrameSlotHeader, size) == 16);
static_assert(offsetof(FrameSlotHeader, width) == 20);
static_assert(offsetof(FrameSlotHeader, height) == 24);
static_assert(offsetof(FrameSlotHeader, reserved) == 28);

constexpr std::uint32_t kFrameRingHeaderSize = sizeof(FrameRingHeader);
constexpr std::uint32_t kFrameSlotHeaderSize = sizeof(FrameSlotHeader);

// Payload capacity of one slot: maxWidth * maxHeight * 3 / 2, the product formed in 32 bits.
constexpr std::uint32_t frameRingPayloadCapacity(std::uint32_t maxWidth, std::uint32_t maxHeight) {
  return (maxWidth * maxHeight * 3u) / 2u;
}

constexpr std::uint32_t frameRingSlotStride(std::uint32_t maxWidth, std::uint32_t maxHeight) {
  return kFrameSlotHeaderSize + frameRingPayloadCapacity(maxWidth, maxHeight);
}

constexpr std::uint64_t frameRingSectionSize(std::uint32_t slotCount, std::uint32_t slotStride) {
  return kFrameRingHeaderSize + std::uint64_t(slotCount) * slotStride;
}

static_assert(frameRingPayloadCapacity(1920, 1920) == 5'529'600);
static_assert(frameRingSlotStride(1920, 1920) == 5'529'632);
static_assert(frameRingSectionSize(4, frameRingSlotStride(1920, 1920)) == 22'118'568);

// The Media Foundation camera's ring: the system's geometry under its own name.
inline FrameRingConfig globalFrameRingConfig() {
  FrameRingConfig config;
  config.name = kGlobalFrameRingName;
  return config;
}

// True when a writer can lay out a ring of this geometry soundly: at least one slot, a capacity
// whose 32-bit product did not wrap, slot starts on 8-byte boundaries (the sequence words are
// 64-bit atomics) and slot offsets that fit in 32 bits.
bool frameRingConfigUsable(const FrameRingConfig& config);

}  // namespace ring
