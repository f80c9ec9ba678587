// The phone's side of the stream protocol: the server hello, frame headers, the two JSON
// messages, and the client hello it expects back. Written from the protocol, not shared with
// the receiver, so that a disagreement between the two shows up in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace phonesim {

enum : std::uint8_t {
  kTypeVideo = 1,
  kTypeVideoKey = 2,
  kTypeOrientation = 0x10,
  kTypeAudioFormat = 0x30,
  kTypeAudioSamples = 0x31,
};

constexpr std::size_t kHeaderSize = 20;
constexpr std::size_t kClientHelloSize = 16;
// "CHLO", 1, 0, 1280 and 720 big-endian, 30, 1, four zero bytes.
constexpr std::uint8_t kExpectedClientHello[kClientHelloSize] = {'C', 'H', 'L', 'O', 0x01, 0x00, 0x05, 0x00,
                                                                 0x02, 0xD0, 0x1E, 0x01, 0x00, 0x00, 0x00, 0x00};

// "SHLO" and four bytes only the phone gives meaning to: here a protocol version, 1.
void appendServerHello(std::vector<std::uint8_t>& out);
// "IPCF", type, three zero bytes, big-endian timestamp and length, then the payload.
void appendFrame(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint64_t timestampUs,
                 std::span<const std::uint8_t> payload);

std::string orientationJson(int rotation, bool mirror);
// 48 kHz stereo float32, interleaved, little-endian, 8 bytes per frame.
std::string audioFormatJson();

// FNV-1a over a payload, so tests can compare what was sent with what arrived.
std::uint32_t payloadHash(std::span<const std::uint8_t> payload);

}  // namespace phonesim
