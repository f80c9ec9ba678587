#include "i18n/utf8.h"

#include <cstddef>
#include <cstdint>

namespace i18n {

std::u32string decodeUtf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t b = static_cast<std::uint8_t>(text[i]);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    std::size_t length;
    char32_t cp;
    if ((b & 0xE0) == 0xC0) {
      length = 2;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4;
      cp = b & 0x07;
    } else {
      ++i;  // continuation byte out of place, or 0xF8-0xFF
      continue;
    }
    std::size_t k = 1;
    for (; k < length && i + k < n; ++k) {
      const std::uint8_t c = static_cast<std::uint8_t>(text[i + k]);
      if ((c & 0xC0) != 0x80) break;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (k < length) {
      if (i + k == n) break;  // truncated at the end: drop it
      // Cut short by a byte that is not a continuation: that byte starts the next character,
      // so the text after a damaged character survives.
      i += k;
      continue;
    }
    out.push_back(cp);
    i += length;
  }
  return out;
}

std::string encodeUtf8(std::u32string_view codePoints) {
  std::string out;
  out.reserve(codePoints.size() * 3);
  for (char32_t cp : codePoints) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>((0xF0 | (cp >> 18)) & 0xFF));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace i18n
