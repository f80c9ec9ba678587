// The locale file reader over any bytes. What it read, written back as a well-formed object,
// reads back as the same table, to its end.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "i18n/locale_file.h"

namespace {

void appendQuoted(std::string& out, const std::string& text) {
  out.push_back('"');
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out.push_back(c);
    }
  }
  out.push_back('"');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t stoppedAt = 0;
  const i18n::LocaleStrings strings = i18n::parseLocaleText(text, &stoppedAt);
  FUZZ_CHECK(stoppedAt == std::string_view::npos || stoppedAt < size);

  std::string written = "{";
  for (const auto& [key, value] : strings) {
    if (written.size() > 1) written += ",\n";
    appendQuoted(written, key);
    written += ": ";
    appendQuoted(written, value);
  }
  written += "}";
  std::size_t stoppedAgain = 0;
  FUZZ_CHECK(i18n::parseLocaleText(written, &stoppedAgain) == strings);
  FUZZ_CHECK(stoppedAgain == std::string_view::npos);
  return 0;
}
