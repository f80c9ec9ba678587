// What the Apple Mobile Device Service sends back: a 16-byte packet header and a property list
// that the device list and the connect result are read from.
//
// Input: the header, then the reply text.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "transport/usbmux_protocol.h"

namespace {

std::string decimal(std::uint32_t value) {
  char text[16];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace transport;
  if (size >= kMuxHeaderSize) {
    std::span<const std::uint8_t, kMuxHeaderSize> header(data, kMuxHeaderSize);
    const std::uint32_t total = std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 | std::uint32_t(data[2]) << 16 |
                                std::uint32_t(data[3]) << 24;
    std::optional<std::uint32_t> payload = muxPayloadLength(header);
    const bool inRange = total >= kMuxHeaderSize && total <= kMuxMaxPacket;
    FUZZ_CHECK(payload.has_value() == inRange);
    if (payload) FUZZ_CHECK(*payload == total - kMuxHeaderSize);
  }

  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const std::vector<std::uint32_t> ids = parseDeviceIds(reply);
  for (std::uint32_t id : ids) FUZZ_CHECK(reply.find(decimal(id)) != std::string_view::npos);
  // Both readers agree on the first device: the connect request is built from what the list gave.
  if (std::optional<std::int32_t> first = plistInteger(reply, "DeviceID")) {
    FUZZ_CHECK(!ids.empty() && ids.front() == std::uint32_t(*first));
  }
  if (std::optional<std::int32_t> number = plistInteger(reply, "Number")) {
    FUZZ_CHECK(reply.find(decimal(std::uint32_t(*number))) != std::string_view::npos);
  }

  // A request built from values in the reply reads back as those values.
  if (size >= 6) {
    const std::uint32_t id = std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 | std::uint32_t(data[2]) << 16 |
                             std::uint32_t(data[3]) << 24;
    const std::uint16_t port = std::uint16_t(data[4] | data[5] << 8);
    const std::string request = connectRequest(id, port);
    FUZZ_CHECK(parseDeviceIds(request) == std::vector<std::uint32_t>{id});
    FUZZ_CHECK(plistInteger(request, "DeviceID") == std::int32_t(id));
    FUZZ_CHECK(plistInteger(request, "PortNumber") == std::int32_t(swapPortBytes(port)));
  }
  return 0;
}
