// The locale files as shipped beside the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "i18n/languages.h"
#include "i18n/locale_file.h"
#include "i18n/rtl_text.h"
#include "i18n/utf8.h"

namespace {

const std::set<std::string> kKeys = {
    "app.name", "settings.language", "settings.transport", "connect.transport.wifi", "connect.button.start",
    "connect.button.stop", "preview.follow", "connect.status.idle", "connect.status.listening", "connect.status.connected",
    "error.network", "notice.camera.in_use", "notice.camera.name_taken", "notice.camera.no_memory",
    "notice.decoder.missing", "help.title", "help.footer", "help.section.quickstart", "help.body.quickstart",
    "help.section.connect", "help.body.connect", "help.section.useapps", "help.body.useapps",
    "help.section.audio", "help.body.audio", "help.section.troubleshoot", "help.body.troubleshoot",
};

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    char32_t cp = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < n; ++k) {
      unsigned char c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

std::string prepareEachLine(const std::string& value, bool shape) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = value.find('\n', start);
    out += i18n::prepareRtlText(value.substr(start, end == std::string::npos ? std::string::npos : end - start), shape);
    if (end == std::string::npos) return out;
    out += '\n';
    start = end + 1;
  }
}

bool hasCodePointIn(const std::string& text, char32_t low, char32_t high) {
  for (char32_t cp : i18n::decodeUtf8(text))
    if (cp >= low && cp <= high) return true;
  return false;
}

TEST(ShippedLocales, EveryLanguageHasExactlyOneCompleteFile) {
  const std::filesystem::path folder = i18n::localesDirectory();
  std::set<std::string> files, codes;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) files.insert(entry.path().filename().string());
  for (const i18n::LanguageInfo& language : i18n::kLanguages) codes.insert(std::string(language.code) + ".json");
  EXPECT_EQ(files, codes);  // a misnamed file would never be found

  const i18n::LocaleStrings english = i18n::parseLocaleText(readBytes(folder / "en.json"));
  for (const i18n::LanguageInfo& language : i18n::kLanguages) {
    SCOPED_TRACE(language.code);
    const std::string raw = readBytes(folder / (std::string(language.code) + ".json"));
    ASSERT_FALSE(raw.empty());
    EXPECT_NE(raw.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_TRUE(isValidUtf8(raw));
    EXPECT_EQ(raw.find("\\u"), std::string::npos);

    std::size_t stoppedAt = 0;
    const i18n::LocaleStrings strings = i18n::parseLocaleText(raw, &stoppedAt);
    EXPECT_EQ(stoppedAt, std::string::npos);
    std::set<std::string> keys;
    for (const auto& [key, value] : strings) {
      keys.insert(key);
      EXPECT_FALSE(value.empty()) << key;
      EXPECT_EQ(value.find('\\'), std::string::npos) << key;  // an escape the reader does not know
      EXPECT_EQ(value.find('\r'), std::string::npos) << key;
    }
    EXPECT_EQ(keys, kKeys);
    EXPECT_EQ(strings.at("app.name"), "Orvik");
    EXPECT_NE(strings.at("help.body.useapps").find("Orvik"), std::string::npos);  // the camera's name
    if (std::string(language.code) != "en") {
      for (const char* key : {"help.body.quickstart", "help.body.connect", "help.body.troubleshoot", "help.footer",
                              "preview.follow", "notice.camera.in_use", "notice.camera.name_taken",
                              "notice.camera.no_memory", "notice.decoder.missing"})
        EXPECT_NE(strings.at(key), english.at(key)) << key << " is not translated";
    }
  }
}

TEST(ShippedLocales, OnlyRightToLeftLanguagesArePreparedOnLoad) {
  for (const i18n::LanguageInfo& language : i18n::kLanguages) {
    const std::string code = language.code;
    SCOPED_TRACE(code);
    const i18n::LocaleStrings raw = i18n::parseLocaleText(readBytes(i18n::localesDirectory() / (code + ".json")));
    const i18n::LocaleStrings loaded = i18n::loadLocaleFile(code);
    ASSERT_EQ(loaded.size(), raw.size());
    const bool rtl = code == "ar" || code == "he" || code == "fa";
    const bool shaped = code == "ar" || code == "fa";
    for (const auto& [key, value] : raw) {
      if (!rtl) {
        EXPECT_EQ(loaded.at(key), value) << key;
        continue;
      }
      EXPECT_EQ(loaded.at(key), prepareEachLine(value, shaped)) << key;
      if (!hasCodePointIn(value, 0x0590, 0x06FF)) continue;  // "Orvik", "iPhone"
      EXPECT_NE(loaded.at(key), value) << key;
      // Arabic letters come out as presentation forms only when shaped.
      EXPECT_EQ(hasCodePointIn(loaded.at(key), 0xFB50, 0xFEFF), shaped) << key;
      if (shaped) {
        EXPECT_FALSE(hasCodePointIn(loaded.at(key), 0x0622, 0x064A)) << key;
      }
    }
  }
}

}  // namespace
