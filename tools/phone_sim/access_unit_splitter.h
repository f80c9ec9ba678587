// Cuts an H.264 Annex B byte stream into access units, one per picture, at its access unit
// delimiters (NAL unit type 9), as the phone sends them: one unit per frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace phonesim {

struct AccessUnit {
  std::size_t offset = 0;  // first byte of the delimiter's start code
  std::size_t size = 0;    // up to the next delimiter's start code, or the end of the stream
  bool isKey = false;      // holds an IDR slice (NAL unit type 5)
};

// Units in stream order. A unit runs from its delimiter's start code (with the leading zero
// byte of a 4-byte start code) to the next delimiter's. Bytes before the first delimiter, and
// units without any slice (such as a stream cut short after a delimiter or parameter set), are
// left out: they hold no picture. A stream without delimiters gives no units.
std::vector<AccessUnit> splitAccessUnits(std::span<const std::uint8_t> stream);

}  // namespace phonesim
