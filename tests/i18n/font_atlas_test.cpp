// The real thing: Debian's fonts under the program's file names, every script merged, the
// atlas built, and a glyph (not the fallback) for every character the language list shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "font_test_support.h"
#include "i18n/arabic_shaping.h"
#include "i18n/font_loader.h"
#include "i18n/rtl_text.h"
#include "i18n/utf8.h"
#include "imgui.h"
#include "support/log_capture.h"

namespace {

std::string fromU8(const char8_t* s) { return std::string(reinterpret_cast<const char*>(s)); }

// The native names of the language list, drawn without preparation.
const char8_t* const kNativeNames[] = {
    u8"English", u8"日本語", u8"简体中文", u8"繁體中文", u8"한국어", u8"Español", u8"Français", u8"Deutsch",
    u8"Italiano", u8"Português (Brasil)", u8"Nederlands", u8"Polski", u8"Русский", u8"Türkçe", u8"Tiếng Việt",
    u8"ไทย", u8"Bahasa Indonesia", u8"Українська", u8"Čeština", u8"Slovenčina", u8"Magyar", u8"Română",
    u8"Ελληνικά", u8"Svenska", u8"Dansk", u8"Norsk", u8"Suomi", u8"Български", u8"Српски", u8"Hrvatski",
    u8"Slovenščina", u8"Bahasa Melayu", u8"Filipino", u8"العربية", u8"עברית", u8"فارسی", u8"हिन्दी",
};

class FontAtlas : public testing::Test {
 protected:
  void SetUp() override {
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;
  }
  void TearDown() override { ImGui::DestroyContext(); }

  static std::string missingGlyphs(const ImFont* font, const std::u32string& text) {
    std::string missing;
    for (char32_t cp : text) {
      if (font->FindGlyphNoFallback(static_cast<ImWchar>(cp)) == nullptr) {
        char hex[16];
        std::snprintf(hex, sizeof(hex), " U+%04X", unsigned(cp));
        missing += hex;
      }
    }
    return missing;
  }
};

TEST_F(FontAtlas, AllScriptsMergedHoldEveryLanguagesGlyphs) {
  ImGuiIO& io = ImGui::GetIO();
  const std::string folder = fonttest::allScriptsFolder();
  testsupport::LogCapture capture;
  i18n::loadFonts(io.Fonts, folder.c_str());
  EXPECT_EQ(capture.linesStartingWith("[font]"),
            (std::vector<std::string>{"[font] Japanese -> " + folder + "YuGothM.ttc\n", "[font] Chinese -> " + folder + "msyh.ttc\n",
                                      "[font] Korean -> " + folder + "malgun.ttf\n", "[font] Thai -> " + folder + "leelawui.ttf\n",
                                      "[font] Devanagari -> " + folder + "Nirmala.ttf\n"}));

  ASSERT_TRUE(io.Fonts->Build());
  unsigned char* pixels = nullptr;
  int width = 0, height = 0;
  io.Fonts->GetTexDataAsAlpha8(&pixels, &width, &height);
  ASSERT_NE(pixels, nullptr);
  EXPECT_GT(width, 0);
  EXPECT_GT(height, 0);
  ASSERT_EQ(io.Fonts->Fonts.Size, 1);
  const ImFont* font = io.Fonts->Fonts[0];

  for (const char8_t* name : kNativeNames) {
    const std::string text = fromU8(name);
    EXPECT_EQ(missingGlyphs(font, i18n::decodeUtf8(text)), "") << text;
    // Right-to-left names as the locale loader would prepare them.
    EXPECT_EQ(missingGlyphs(font, i18n::decodeUtf8(i18n::prepareRtlText(text, true))), "") << text;
  }

  std::u32string forms;
  for (const i18n::ArabicForm& f : i18n::kArabicForms)
    for (char32_t cp : {f.codePoint, f.isolated, f.final, f.initial, f.medial})
      if (cp != 0) forms.push_back(cp);
  EXPECT_EQ(missingGlyphs(font, forms), "");

  // Samples across each requested block: symbols, Greek, Cyrillic, Hebrew, kana, ideographs at
  // both ends of the Chinese block, Hangul, Thai, Devanagari.
  EXPECT_EQ(missingGlyphs(font, U"\u00A9\u2026\u20AC\u2192\u25B6\u03A9\u0416\u0492\u05D0\u3042\u30A2\u4E00\u9F8D\u7E41"
                                U"\uAC00\uD7A3\u0E01\u0905\u0966"),
            "");
  // The check can fail: Tibetan is in no requested range.
  EXPECT_EQ(font->FindGlyphNoFallback(0x0F40), nullptr);
}

// Without the Chinese font, simplified characters outside the Japanese set fall back.
TEST_F(FontAtlas, MissingChineseFontLeavesOnlyChineseCharactersUnsupported) {
  ImGuiIO& io = ImGui::GetIO();
  testsupport::LogCapture capture;
  i18n::loadFonts(io.Fonts, fonttest::noChineseFolder().c_str());
  EXPECT_EQ(capture.count("[font] Chinese MISSING\n"), 1u);
  EXPECT_EQ(capture.count("[font]"), 5u);
  ASSERT_TRUE(io.Fonts->Build());
  const ImFont* font = io.Fonts->Fonts[0];
  EXPECT_EQ(missingGlyphs(font, U"\u65E5\u672C\uD55C\u0E44\u0939\u05D0\uFEB3"), "");
  EXPECT_EQ(font->FindGlyphNoFallback(0x4EEC), nullptr);  // 们: not in the Japanese set
}

}  // namespace
