// The Apple Mobile Device Service's wire format as this program speaks it: a 16-byte
// little-endian packet header, the ListDevices and Connect property lists, and the two readers
// of the replies. Portable: no I/O here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace transport {

constexpr std::uint16_t kMuxTcpPort = 27015;
constexpr std::size_t kMuxHeaderSize = 16;
constexpr std::uint32_t kMuxMaxPacket = 16u * 1024u * 1024u;  // header included
constexpr std::uint32_t kMuxTagListDevices = 1;
constexpr std::uint32_t kMuxTagConnect = 2;

// Header fields: total length (payload + 16), version 1, message type 8 (property list), tag.
std::array<std::uint8_t, kMuxHeaderSize> packMuxHeader(std::uint32_t payloadSize, std::uint32_t tag);

// The payload length a received header announces, or nothing when its total length lies
// outside 16..16 MiB. Only the total length is read.
std::optional<std::uint32_t> muxPayloadLength(std::span<const std::uint8_t, kMuxHeaderSize> header);

std::string listDevicesRequest();
// `port` is the phone's port in host order; it is sent with its two bytes swapped.
std::string connectRequest(std::uint32_t deviceId, std::uint16_t port);
std::uint16_t swapPortBytes(std::uint16_t port);

// Every <integer> that follows a "<key>DeviceID</key>", in text order, duplicates included.
// Values without digits or above 4294967295 are skipped; the scan stops at the first missing
// tag.
std::vector<std::uint32_t> parseDeviceIds(std::string_view reply);

// The integer under "<key>" + key + "</key>", read as unsigned 32-bit and returned as signed;
// nothing when a tag is missing or the value is not a number in range.
std::optional<std::int32_t> plistInteger(std::string_view xml, std::string_view key);

}  // namespace transport
