// Byte searches over the payload; every index is checked against text.size() before it is read.
#include "media/stream_metadata.h"

#include <cctype>
#include <cstddef>
#include <string>

namespace media {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// Quote, key, quote.
std::string quotedKey(std::string_view key) {
  std::string needle;
  needle.reserve(key.size() + 2);
  needle += '"';
  needle += key;
  needle += '"';
  return needle;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads decimal digits from `pos` with 32-bit wrap-around (unsigned, so overflow is defined).
// Returns the number of digits read.
std::size_t readDigits(std::string_view text, std::size_t pos, std::uint32_t& value) {
  std::size_t count = 0;
  while (pos < text.size() && isDigit(text[pos])) {
    value = value * 10u + std::uint32_t(text[pos] - '0');
    pos++;
    count++;
  }
  return count;
}

// Position just after the first ':' at or after the needle's position, or kNone.
std::size_t valueStart(std::string_view text, std::string_view needle) {
  std::size_t k = text.find(needle);
  if (k == kNone) return kNone;
  std::size_t colon = text.find(':', k);
  if (colon == kNone) return kNone;
  return colon + 1;
}

}  // namespace

void parseOrientation(std::string_view text, int& rotation, bool& mirror) {
  rotation = 0;
  mirror = false;

  std::size_t p = valueStart(text, "\"rotation\"");
  if (p != kNone) {
    while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) p++;
    std::uint32_t value = 0;
    readDigits(text, p, value);
    rotation = static_cast<int>(value);
  }

  p = valueStart(text, "\"mirror\"");
  if (p != kNone) {
    while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) p++;
    mirror = text.size() - p >= 4 && text.substr(p, 4) == "true";
  }
}

bool jsonFindInt(std::string_view text, std::string_view key, int& out) {
  std::size_t p = valueStart(text, quotedKey(key));
  if (p == kNone) return false;
  while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) p++;
  bool negative = false;
  if (p < text.size() && text[p] == '-') {
    negative = true;
    p++;
  }
  std::uint32_t value = 0;
  if (readDigits(text, p, value) == 0) return false;
  out = static_cast<int>(negative ? 0u - value : value);
  return true;
}

bool jsonFindBool(std::string_view text, std::string_view key, bool& out) {
  std::size_t k = text.find(quotedKey(key));
  if (k == kNone) return false;
  // npos is larger than every real position, which is what "absent" needs.
  std::size_t c = text.find(',', k);
  if (text.find("true", k) < c) {
    out = true;
    return true;
  }
  if (text.find("false", k) < c) {
    out = false;
    return true;
  }
  return false;
}

AudioFormat parseAudioFormat(std::string_view text) {
  AudioFormat format;
  int value = 0;
  if (jsonFindInt(text, "sr", value)) format.sampleRate = value;
  if (jsonFindInt(text, "ch", value)) format.channels = value;
  if (jsonFindInt(text, "bits", value)) format.bitsPerSample = value;
  jsonFindBool(text, "float", format.isFloat);
  jsonFindBool(text, "noninterleaved", format.nonInterleaved);
  jsonFindBool(text, "bigendian", format.bigEndian);
  if (jsonFindInt(text, "bytesPerFrame", value)) format.bytesPerFrame = value;
  if (format.bytesPerFrame < 1) {
    // 32-bit signed product as the phones expect, without the undefined overflow.
    std::int32_t product = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(format.bitsPerSample) * static_cast<std::uint32_t>(format.channels));
    format.bytesPerFrame = product / 8;
  }
  return format;
}

}  // namespace media
