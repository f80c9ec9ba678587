// Readers for the two small JSON text messages inside the phone's stream: orientation (frame
// type 0x10) and audio format (0x30). Not a JSON parser: each reader searches the raw payload
// bytes for a quoted key and reads what follows the next colon, leniently. Phones rely on what
// these accept, quirks included (see each function). Never reads outside `text`; never fails.
#pragma once

#include <cstdint>
#include <string_view>

namespace media {

// The phone's PCM layout. Defaults: 48 kHz stereo 32-bit float, interleaved, 8 bytes per frame.
struct AudioFormat {
  std::int32_t sampleRate = 48000;  // "sr"
  std::int32_t channels = 2;        // "ch"
  std::int32_t bitsPerSample = 32;  // "bits"
  bool isFloat = true;              // "float"
  bool nonInterleaved = false;      // "noninterleaved"
  bool bigEndian = false;           // "bigendian"
  std::int32_t bytesPerFrame = 8;   // "bytesPerFrame"
};

// `text` is the whole payload as bytes (no terminator needed); a vector<uint8_t> payload can be
// viewed as std::string_view(reinterpret_cast<const char*>(p.data()), p.size()).

// Rotation in degrees (digits only: no sign, isspace skipped after the colon; 0 when absent or
// unreadable) and mirror (true when the four bytes after the colon and isspace are "true").
void parseOrientation(std::string_view text, int& rotation, bool& mirror);

// Starts from the defaults every call. A present "bytesPerFrame" below 1 becomes bits*ch/8.
AudioFormat parseAudioFormat(std::string_view text);

// Finds "key", then the first ':' after it, skips blanks and tabs only, accepts one '-', reads
// decimal digits (32-bit wrap-around). True when at least one digit was read; else `out` is kept.
bool jsonFindInt(std::string_view text, std::string_view key, int& out);

// Finds "key"; true when a "true" lies after it and before the next ',' (anywhere, even inside
// another token, or with no later comma at all), else false when a "false" does. Returns false
// and keeps `out` when neither does.
bool jsonFindBool(std::string_view text, std::string_view key, bool& out);

}  // namespace media
