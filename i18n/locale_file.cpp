#include "i18n/locale_file.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <system_error>

#include "common/debug_log.h"
#include "i18n/rtl_text.h"

namespace i18n {

namespace {

// isspace in the "C" locale, without depending on the current one.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void skipBlanks(std::string_view text, std::size_t& p) {
  while (p < text.size() && isBlank(text[p])) ++p;
}

// Reads the string that starts at p. Returns false, not moving p, when p is not at a '"'.
bool readString(std::string_view text, std::size_t& p, std::string& out) {
  out.clear();
  if (p >= text.size() || text[p] != '"') return false;
  ++p;
  while (p < text.size()) {
    char c = text[p];
    if (c == '"') {
      ++p;
      return true;
    }
    if (c == '\\' && p + 1 < text.size()) {
      char e = text[p + 1];
      p += 2;
      switch (e) {
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        default: out.push_back(e); break;  // \" \\ \/ and anything unknown: the byte itself
      }
      continue;
    }
    out.push_back(c);  // also a backslash that is the last byte
    ++p;
  }
  return true;  // cut off by the end of the text: keep what was read
}

bool isPlainCode(std::string_view code) {
  if (code.empty()) return false;
  for (char c : code) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

LocaleStrings parseLocaleText(std::string_view text, std::size_t* stoppedAt) {
  LocaleStrings result;
  if (stoppedAt) *stoppedAt = std::string_view::npos;
  std::size_t p = 0;
  skipBlanks(text, p);
  if (p >= text.size() || text[p] != '{') return result;
  ++p;
  std::string key, value;
  while (p < text.size()) {
    skipBlanks(text, p);
    if (p >= text.size() || text[p] == '}') break;
    std::size_t memberStart = p;
    if (!readString(text, p, key)) {
      if (stoppedAt) *stoppedAt = p;
      break;
    }
    skipBlanks(text, p);
    if (p < text.size() && text[p] == ':') ++p;
    skipBlanks(text, p);
    if (!readString(text, p, value)) {
      // A number, literal, object, array or nothing: this member has no usable value.
      if (stoppedAt) *stoppedAt = p < text.size() ? p : memberStart;
      break;
    }
    result.insert_or_assign(key, value);
    skipBlanks(text, p);
    if (p < text.size() && text[p] == ',') ++p;
  }
  return result;
}

LocaleStrings loadLocaleFileFrom(const std::filesystem::path& folder, std::string_view code, TextOrder order) {
  if (!isPlainCode(code)) {
    logLine("[Locale] refused language code \"%.*s\"\n", static_cast<int>(code.size() > 32 ? 32 : code.size()), code.data());
    return {};
  }
  const std::string name = std::string(code) + ".json";
  std::filesystem::path path = folder / name;

  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) return {};  // no file for this language: not an error
  const std::uintmax_t size = std::filesystem::is_regular_file(status) ? std::filesystem::file_size(path, ec) : 0;
  // Read as bytes and fold CR LF here: text mode on Windows would also end the file at a ^Z.
  std::ifstream file;
  if (std::filesystem::is_regular_file(status) && !ec && size <= kMaxLocaleFileSize) file.open(path, std::ios::binary);
  if (!file.is_open()) {
    logLine("[Locale] %s: not a readable file of at most %d bytes, ignored\n", name.c_str(), static_cast<int>(kMaxLocaleFileSize));
    return {};
  }
  std::string raw(static_cast<std::size_t>(size), '\0');
  file.read(raw.data(), static_cast<std::streamsize>(raw.size()));
  raw.resize(static_cast<std::size_t>(file.gcount()));
  std::string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text.push_back(raw[i]);
  }

  std::size_t stoppedAt = 0;
  LocaleStrings strings = parseLocaleText(text, &stoppedAt);
  std::size_t first = 0;
  skipBlanks(text, first);
  if (first >= text.size() || text[first] != '{')
    logLine("[Locale] %s: not a JSON object (a byte-order mark?), no texts read\n", name.c_str());
  if (stoppedAt != std::string_view::npos) {
    // Both fit an int: the file is at most kMaxLocaleFileSize bytes.
    logLine("[Locale] %s: not a string at byte %d, kept the %d texts before it\n", name.c_str(), static_cast<int>(stoppedAt),
            static_cast<int>(strings.size()));
  }

  if (isRtlLanguage(code)) {
    const bool shape = needsArabicShaping(code);
    for (auto& entry : strings) {
      if (order == TextOrder::Display) {
        // Texts are drawn one line at a time, so each line is ordered on its own.
        entry.second = prepareRtlLines(entry.second, shape);
      } else if (shape) {
        entry.second = shapeArabicText(entry.second);
      }
    }
  }
  return strings;
}

LocaleStrings loadLocaleFile(std::string_view code, TextOrder order) {
  return loadLocaleFileFrom(localesDirectory(), code, order);
}

}  // namespace i18n
