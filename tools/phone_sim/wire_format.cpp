#include "tools/phone_sim/wire_format.h"

#include <cstdio>

namespace phonesim {

void appendServerHello(std::vector<std::uint8_t>& out) {
  const std::uint8_t hello[8] = {'S', 'H', 'L', 'O', 0, 0, 0, 1};
  out.insert(out.end(), hello, hello + sizeof hello);
}

void appendFrame(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint64_t timestampUs,
                 std::span<const std::uint8_t> payload) {
  std::uint8_t header[kHeaderSize] = {'I', 'P', 'C', 'F', type, 0, 0, 0};
  for (int i = 0; i < 8; ++i) header[8 + i] = std::uint8_t(timestampUs >> (56 - 8 * i));
  std::uint32_t length = std::uint32_t(payload.size());
  for (int i = 0; i < 4; ++i) header[16 + i] = std::uint8_t(length >> (24 - 8 * i));
  out.insert(out.end(), header, header + kHeaderSize);
  out.insert(out.end(), payload.begin(), payload.end());
}

std::string orientationJson(int rotation, bool mirror) {
  char text[64];
  std::snprintf(text, sizeof text, "{\"rotation\":%d,\"mirror\":%s}", rotation, mirror ? "true" : "false");
  return text;
}

std::string audioFormatJson() {
  return "{\"sr\":48000,\"ch\":2,\"bits\":32,\"float\":true,\"noninterleaved\":false,\"bigendian\":false,"
         "\"bytesPerFrame\":8}";
}

std::uint32_t payloadHash(std::span<const std::uint8_t> payload) {
  std::uint32_t h = 2166136261u;
  for (std::uint8_t b : payload) h = (h ^ b) * 16777619u;
  return h;
}

}  // namespace phonesim
