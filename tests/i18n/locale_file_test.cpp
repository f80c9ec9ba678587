#include "i18n/locale_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "i18n/rtl_text.h"
#include "locale_test_folder.h"
#include "support/log_capture.h"

namespace {

using i18n::LocaleStrings;
using i18n::parseLocaleText;

// Parses from an exactly-sized heap copy, so that a read past the end trips AddressSanitizer.
LocaleStrings parseExact(const std::string& bytes, std::size_t* stoppedAt = nullptr) {
  std::unique_ptr<char[]> copy(new char[bytes.empty() ? 1 : bytes.size()]);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return parseLocaleText(std::string_view(copy.get(), bytes.size()), stoppedAt);
}

TEST(LocaleParse, MembersAreReadLenientlyAndLaterDuplicatesWin) {
  EXPECT_EQ(parseExact(R"({"a":"x","a":"y"})"), (LocaleStrings{{"a", "y"}}));
  EXPECT_EQ(parseExact(R"({"a" "x"})"), (LocaleStrings{{"a", "x"}}));                     // no colon
  EXPECT_EQ(parseExact(R"({"a":"x" "b":"y"})"), (LocaleStrings{{"a", "x"}, {"b", "y"}}));  // no comma
  EXPECT_EQ(parseExact(" \t\r\n\v\f{ \n\"a\" :\t\"x\" ,\n}"), (LocaleStrings{{"a", "x"}}));
  EXPECT_EQ(parseExact(R"({"a":"x"} {"b":"y"} garbage)"), (LocaleStrings{{"a", "x"}}));
  EXPECT_EQ(parseExact(R"({"a":"x",})"), (LocaleStrings{{"a", "x"}}));
  EXPECT_EQ(parseExact(R"({"":""})"), (LocaleStrings{{"", ""}}));
  EXPECT_EQ(parseExact("{\"k\":\"日本語 العربية\"}"), (LocaleStrings{{"k", "日本語 العربية"}}));
}

TEST(LocaleParse, OnlyTheSimpleEscapesAreDecoded) {
  EXPECT_EQ(parseExact(R"({"k":"q\" b\\ s\/ n\n r\r t\t"})").at("k"), "q\" b\\ s/ n\n r\r t\t");
  EXPECT_EQ(parseExact(R"({"k":"\u0041\b\x"})").at("k"), "u0041bx");
  EXPECT_EQ(parseExact(R"({"k\"1":"v"})").count("k\"1"), 1u);  // escapes work in keys too
  // A string cut off by the end keeps what was read; a final lone backslash is kept as is.
  EXPECT_EQ(parseExact(R"({"k":"abc)").at("k"), "abc");
  EXPECT_EQ(parseExact(R"({"k":"abc\)").at("k"), "abc\\");
}

TEST(LocaleParse, TextThatIsNotAnObjectGivesNothing) {
  for (const char* text : {"", "   \n\t ", "[]", "[{\"a\":\"x\"}]", "\"a\"", "x{\"a\":\"x\"}", "\xEF\xBB\xBF{\"a\":\"x\"}"}) {
    std::size_t stoppedAt = 0;
    EXPECT_TRUE(parseExact(text, &stoppedAt).empty()) << text;
    EXPECT_EQ(stoppedAt, std::string_view::npos) << text;
  }
  EXPECT_TRUE(parseExact("{}").empty());
  EXPECT_TRUE(parseExact("{").empty());
}

// Values and keys that are not strings end the reading; what came before is kept.
TEST(LocaleParse, NonStringsEndTheReadingAndKeepWhatCameBefore) {
  const struct {
    const char* text;
    std::size_t stop;
  } cases[] = {
      {R"({"a":"x","n":12,"b":"y"})", 13},   {R"({"a":"x","t":true})", 13},      {R"({"a":"x","z":null})", 13},
      {R"({"a":"x","o":{"c":"d"}})", 13},    {R"({"a":"x","l":["c"]})", 13},     {R"({"a":"x",7:"y"})", 9},
      {R"({"a":"x",,"b":"y"})", 9},          {R"({"a":"x", b:"y"})", 10},        {R"({"a":"x","b":)", 9},
      {R"({"a":"x","b")", 9},
  };
  for (const auto& c : cases) {
    std::size_t stoppedAt = 0;
    EXPECT_EQ(parseExact(c.text, &stoppedAt), (LocaleStrings{{"a", "x"}})) << c.text;
    EXPECT_EQ(stoppedAt, c.stop) << c.text;
  }
}

// Every cut of a real file, and random mutations of it, are read without leaving the text; the
// members of a cut file are members of the whole file, the last value possibly shortened.
TEST(LocaleParse, CutAndRandomTextsStayInsideTheText) {
  const std::string full =
      "{\n  \"app.name\": \"Orvik\",\n  \"q\": \"say \\\"hi\\\"\\n\\tnow\",\n  \"ar\": \"اتصال\",\n  \"ja\": \"接続\"\n}\n";
  const LocaleStrings whole = parseExact(full);
  ASSERT_EQ(whole.size(), 4u);
  for (std::size_t n = 0; n <= full.size(); ++n) {
    for (const auto& [key, value] : parseExact(full.substr(0, n))) {
      ASSERT_EQ(whole.count(key), 1u) << n;
      std::string v = value;
      if (!v.empty() && v.back() == '\\') v.pop_back();  // cut inside an escape
      EXPECT_EQ(whole.at(key).compare(0, v.size(), v), 0) << n << " " << key;
    }
  }
  std::mt19937 rng(1234);
  const char alphabet[] = "{}[]\":,\\ \nnu0-9tf\xD8\xA7\xEF\xBB\xBF";
  for (int round = 0; round < 3000; ++round) {
    std::string text = full;
    int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      std::size_t at = rng() % text.size();
      switch (rng() % 3) {
        case 0: text[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
        case 1: text.erase(at, 1 + rng() % 4); break;
        default: text.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]); break;
      }
    }
    text.resize(rng() % (text.size() + 1));
    std::size_t stoppedAt = 0;
    parseExact(text, &stoppedAt);
    EXPECT_TRUE(stoppedAt == std::string_view::npos || stoppedAt <= text.size());
  }
}

TEST(LocaleLoad, FilesAreFoundByCodeAndReadAsBytesWithCrLfFolded) {
  localetest::TempFolder folder;
  folder.write("xx.json", "{\r\n  \"a\": \"one\r\ntwo\",\r\n  \"z\": \"x\x1Ay\"\r\n}\r\n");
  folder.write("pt-BR.json", R"({"a":"Português"})");
  testsupport::LogCapture log;
  EXPECT_EQ(i18n::loadLocaleFileFrom(folder.path(), "xx"), (LocaleStrings{{"a", "one\ntwo"}, {"z", "x\x1Ay"}}));
  EXPECT_EQ(i18n::loadLocaleFileFrom(folder.path(), "pt-BR").at("a"), "Português");
  EXPECT_TRUE(i18n::loadLocaleFileFrom(folder.path(), "absent").empty());
  EXPECT_TRUE(i18n::loadLocaleFileFrom(folder.path() / "no-such-folder", "xx").empty());
  EXPECT_EQ(log.count("[Locale]"), 0u);  // a language without a file is normal
}

TEST(LocaleLoad, BadFilesAndCodesGiveAnEmptyTableWithALogLine) {
  localetest::TempFolder folder;
  folder.write("bom.json", "\xEF\xBB\xBF{\"a\":\"x\"}");
  folder.write("num.json", R"({"a":"x","n":1,"b":"y"})");
  folder.write("big.json", "{\"a\":\"" + std::string(i18n::kMaxLocaleFileSize, 'x') + "\"}");
  folder.write("en.json", R"({"a":"x"})");
  std::filesystem::create_directories(folder.path() / "dir.json");

  testsupport::LogCapture log;
  EXPECT_TRUE(i18n::loadLocaleFileFrom(folder.path(), "bom").empty());
  EXPECT_EQ(i18n::loadLocaleFileFrom(folder.path(), "num"), (LocaleStrings{{"a", "x"}}));
  EXPECT_TRUE(i18n::loadLocaleFileFrom(folder.path(), "big").empty());
  EXPECT_TRUE(i18n::loadLocaleFileFrom(folder.path(), "dir").empty());
  // Codes never lead out of the folder.
  for (const char* code : {"", "../en", "sub/en", "sub\\en", "en.json", "e n"})
    EXPECT_TRUE(i18n::loadLocaleFileFrom(folder.path() / "sub", code).empty()) << code;

  const auto lines = log.linesStartingWith("[Locale]");
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "[Locale] bom.json: not a JSON object (a byte-order mark?), no texts read\n");
  EXPECT_EQ(lines[1], "[Locale] num.json: not a string at byte 13, kept the 1 texts before it\n");
  EXPECT_EQ(lines[2], "[Locale] big.json: not a readable file of at most 4194304 bytes, ignored\n");
  EXPECT_EQ(lines[3], "[Locale] dir.json: not a readable file of at most 4194304 bytes, ignored\n");
  EXPECT_EQ(lines[5], "[Locale] refused language code \"../en\"\n");
}

// Right-to-left values are put into display order as they are read, each line on its own so
// that multi-line texts keep their lines in order; keys and other languages are untouched.
TEST(LocaleLoad, RightToLeftValuesArePreparedLineByLine) {
  localetest::TempFolder folder;
  const std::string arabic = "سلام USB 2";          // seen lam alef meem, then Latin and a digit
  const std::string hebrew = "שלום world";
  const std::string body = arabic + "\n" + hebrew;
  const std::string text = "{\"k.ey\":\"" + arabic + "\",\"h\":\"" + hebrew + "\",\"b\":\"" + body + "\"}";
  for (const char* code : {"ar", "he", "fa", "ur", "en", "arx", "iw"}) folder.write(std::string(code) + ".json", text);

  // seen initial, lam medial, alef final, meem isolated, shown last-to-first after "USB 2 ".
  const std::string shapedArabic = "USB 2 \uFEE1\uFE8E\uFEE0\uFEB3";
  const std::string plainArabic = "USB 2 \u0645\u0627\u0644\u0633";
  const std::string orderedHebrew = "world \u05DD\u05D5\u05DC\u05E9";
  for (const char* code : {"ar", "fa", "ur"}) {
    LocaleStrings s = i18n::loadLocaleFileFrom(folder.path(), code);
    EXPECT_EQ(s.at("k.ey"), shapedArabic) << code;
    EXPECT_EQ(s.at("h"), orderedHebrew) << code;
    EXPECT_EQ(s.at("b"), shapedArabic + "\n" + orderedHebrew) << code;
  }
  LocaleStrings he = i18n::loadLocaleFileFrom(folder.path(), "he");
  EXPECT_EQ(he.at("k.ey"), plainArabic);
  EXPECT_EQ(he.at("b"), plainArabic + "\n" + orderedHebrew);
  for (const char* code : {"en", "arx", "iw"})
    EXPECT_EQ(i18n::loadLocaleFileFrom(folder.path(), code), (LocaleStrings{{"k.ey", arabic}, {"h", hebrew}, {"b", body}})) << code;

  // In logical order, for paragraphs wrapped when drawn: shaped, not reordered.
  const std::string shapedLogical = "\uFEB3\uFEE0\uFE8E\uFEE1 USB 2";
  EXPECT_EQ(i18n::loadLocaleFileFrom(folder.path(), "ar", i18n::TextOrder::Logical).at("b"), shapedLogical + "\n" + hebrew);
  EXPECT_EQ(i18n::loadLocaleFileFrom(folder.path(), "he", i18n::TextOrder::Logical).at("b"), body);
}

}  // namespace
