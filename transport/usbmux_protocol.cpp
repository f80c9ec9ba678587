#include "transport/usbmux_protocol.h"

#include <cstdio>

namespace transport {

namespace {

constexpr char kPlistHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n"
    "<dict>\n";

constexpr char kProgramLines[] =
    "<key>ProgName</key><string>brindle-video</string>\n"
    "<key>ClientVersionString</key><string>1.0</string>\n"
    "</dict>\n"
    "</plist>";

void putLittleEndian(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = std::uint8_t(value >> (8 * i));
}

// Decimal text to unsigned 32-bit: leading white space skipped, digits up to the first other
// character. No digit, or a value above 4294967295, is an error. A sign is not a digit, so
// "-1" is rejected rather than wrapped to a huge identifier.
std::optional<std::uint32_t> toUnsigned32(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    value = value * 10 + std::uint64_t(text[i] - '0');
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  if (digits == 0) return std::nullopt;
  return std::uint32_t(value);
}

// The text between "<integer>" and "</integer>" at or after `from`; `end` gets the position
// after the closing tag. Nothing when either tag is missing.
std::optional<std::string_view> integerText(std::string_view xml, std::size_t from, std::size_t& end) {
  constexpr std::string_view open = "<integer>";
  constexpr std::string_view close = "</integer>";
  std::size_t start = xml.find(open, from);
  if (start == std::string_view::npos) return std::nullopt;
  start += open.size();
  std::size_t stop = xml.find(close, start);
  if (stop == std::string_view::npos) return std::nullopt;
  end = stop + close.size();
  return xml.substr(start, stop - start);
}

}  // namespace

std::array<std::uint8_t, kMuxHeaderSize> packMuxHeader(std::uint32_t payloadSize, std::uint32_t tag) {
  std::array<std::uint8_t, kMuxHeaderSize> header{};
  putLittleEndian(&header[0], payloadSize + std::uint32_t(kMuxHeaderSize));
  putLittleEndian(&header[4], 1);
  putLittleEndian(&header[8], 8);
  putLittleEndian(&header[12], tag);
  return header;
}

std::optional<std::uint32_t> muxPayloadLength(std::span<const std::uint8_t, kMuxHeaderSize> header) {
  std::uint32_t total = std::uint32_t(header[0]) | std::uint32_t(header[1]) << 8 | std::uint32_t(header[2]) << 16 |
                        std::uint32_t(header[3]) << 24;
  // Unsigned wrap makes totals below 16 huge, so one comparison bounds both ends.
  std::uint32_t payload = total - std::uint32_t(kMuxHeaderSize);
  if (payload > kMuxMaxPacket - kMuxHeaderSize) return std::nullopt;
  return payload;
}

std::string listDevicesRequest() {
  return std::string(kPlistHead) + "<key>MessageType</key><string>ListDevices</string>\n" + kProgramLines;
}

std::uint16_t swapPortBytes(std::uint16_t port) { return std::uint16_t((port >> 8) | (port << 8)); }

std::string connectRequest(std::uint32_t deviceId, std::uint16_t port) {
  char text[768];
  std::snprintf(text, sizeof text,
                "%s"
                "<key>MessageType</key><string>Connect</string>\n"
                "<key>DeviceID</key><integer>%u</integer>\n"
                "<key>PortNumber</key><integer>%u</integer>\n"
                "%s",
                kPlistHead, unsigned(deviceId), unsigned(swapPortBytes(port)), kProgramLines);
  return text;
}

std::vector<std::uint32_t> parseDeviceIds(std::string_view reply) {
  constexpr std::string_view key = "<key>DeviceID</key>";
  std::vector<std::uint32_t> ids;
  std::size_t from = 0;
  for (;;) {
    std::size_t at = reply.find(key, from);
    if (at == std::string_view::npos) break;
    std::size_t end = 0;
    std::optional<std::string_view> text = integerText(reply, at, end);
    if (!text) break;
    if (std::optional<std::uint32_t> id = toUnsigned32(*text)) ids.push_back(*id);
    from = end;
  }
  return ids;
}

std::optional<std::int32_t> plistInteger(std::string_view xml, std::string_view key) {
  std::string tagged = "<key>" + std::string(key) + "</key>";
  std::size_t at = xml.find(tagged);
  if (at == std::string_view::npos) return std::nullopt;
  std::size_t end = 0;
  std::optional<std::string_view> text = integerText(xml, at, end);
  if (!text) return std::nullopt;
  std::optional<std::uint32_t> value = toUnsigned32(*text);
  if (!value) return std::nullopt;
  return std::int32_t(*value);  // two's complement, as the service's signed field
}

}  // namespace transport
