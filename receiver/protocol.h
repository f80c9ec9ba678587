// Constants of the phone's stream protocol on TCP port 5555.
#pragma once

#include <cstddef>
#include <cstdint>

namespace receiver {

constexpr std::uint16_t kStreamPort = 5555;

// Server hello: "SHLO" and 4 bytes the receiver never reads.
constexpr std::uint8_t kServerHelloMagic[4] = {'S', 'H', 'L', 'O'};
constexpr std::size_t kServerHelloSize = 8;

// Frame header: "IPCF", type, 3 unread bytes, big-endian 64-bit timestamp (us), big-endian 32-bit length.
constexpr std::uint8_t kFrameMagic[4] = {'I', 'P', 'C', 'F'};
constexpr std::size_t kFrameHeaderSize = 20;

// The client hello, the only bytes the receiver ever sends. Bytes 6-9 hold 1280 and 720
// big-endian (the camera's default picture size), byte 10 holds 30.
constexpr std::uint8_t kClientHello[16] = {
    'C', 'H', 'L', 'O', 0x01, 0x00, 0x05, 0x00, 0x02, 0xD0, 0x1E, 0x01, 0x00, 0x00, 0x00, 0x00,
};

// Largest payload a header may announce. A hostile or broken peer could otherwise make the
// receiver hold an unbounded buffer; such a header is treated like a bad magic.
constexpr std::uint32_t kMaxFramePayload = 64u * 1024u * 1024u;

}  // namespace receiver
