#include "tools/camera_viewer/png_writer.h"

#include <array>
#include <cstring>

namespace cameraviewer {

namespace {

std::array<std::uint32_t, 256> makeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; n++) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t size) {
  static const std::array<std::uint32_t, 256> table = makeCrcTable();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; i++) c = table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(std::uint8_t(v >> 24));
  out.push_back(std::uint8_t(v >> 16));
  out.push_back(std::uint8_t(v >> 8));
  out.push_back(std::uint8_t(v));
}

void putChunk(std::vector<std::uint8_t>& out, const char type[4], const std::vector<std::uint8_t>& data) {
  putBigEndian(out, std::uint32_t(data.size()));
  std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  putBigEndian(out, crc32(out.data() + start, out.size() - start));
}

}  // namespace

std::vector<std::uint8_t> encodePng(const std::uint8_t* rgb, std::uint32_t width, std::uint32_t height) {
  if (!rgb || width == 0 || height == 0) return {};
  const std::uint64_t rowBytes = std::uint64_t(width) * 3 + 1;  // filter byte + pixels
  const std::uint64_t rawSize = rowBytes * height;
  // One IDAT chunk holds it all; its length field is 31 bits.
  if (rawSize > 0x70000000ull) return {};

  // The filtered scan lines: filter type 0 before every row.
  std::vector<std::uint8_t> raw(std::size_t(rawSize), 0);
  for (std::uint32_t y = 0; y < height; y++) {
    std::memcpy(&raw[std::size_t(rowBytes * y + 1)], rgb + std::size_t(width) * 3 * y, std::size_t(width) * 3);
  }

  // zlib stream: header, stored blocks of at most 65535 bytes, Adler-32 of the raw data.
  std::vector<std::uint8_t> z;
  z.reserve(raw.size() + raw.size() / 65535 * 5 + 16);
  z.push_back(0x78);
  z.push_back(0x01);
  std::size_t pos = 0;
  do {
    std::size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
    bool last = pos + n == raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(std::uint8_t(n));
    z.push_back(std::uint8_t(n >> 8));
    z.push_back(std::uint8_t(~n));
    z.push_back(std::uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + std::ptrdiff_t(pos), raw.begin() + std::ptrdiff_t(pos + n));
    pos += n;
  } while (pos < raw.size());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  putBigEndian(z, (b << 16) | a);

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  putBigEndian(header, width);
  putBigEndian(header, height);
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter method, no interlace
  putChunk(png, "IHDR", header);
  putChunk(png, "IDAT", z);
  putChunk(png, "IEND", {});
  return png;
}

}  // namespace cameraviewer
