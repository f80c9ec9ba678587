#include "i18n/localizer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "i18n/languages.h"
#include "locale_test_folder.h"

namespace {

using i18n::Localizer;

class LocalizerTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_.write("en.json", R"({"a":"A-en","b":"B-en","blank":"not blank"})");
    folder_.write("de.json", R"({"a":"A-de","blank":""})");
  }
  localetest::TempFolder folder_;
};

TEST_F(LocalizerTest, TextsComeFromTheLanguageThenEnglishThenTheKey) {
  Localizer localizer(folder_.path());
  EXPECT_EQ(localizer.currentLanguage(), i18n::detectSystemLanguage());
  localizer.setLanguage("de");
  EXPECT_EQ(localizer.currentLanguage(), "de");
  EXPECT_EQ(localizer.translate("a"), "A-de");
  EXPECT_EQ(localizer.translate("b"), "B-en");
  EXPECT_EQ(localizer.translate("blank"), "");  // present, even though empty
  EXPECT_EQ(localizer.translate("help.body.audio"), "help.body.audio");

  localizer.setLanguage("xx");  // no such file: everything falls back
  EXPECT_EQ(localizer.currentLanguage(), "xx");
  EXPECT_EQ(localizer.translate("a"), "A-en");
  EXPECT_EQ(localizer.translate("blank"), "not blank");

  Localizer bare(folder_.path() / "missing");  // not even English
  bare.setLanguage("de");
  EXPECT_EQ(bare.translate("a"), "a");
}

TEST_F(LocalizerTest, SwitchingLoadsOnlyWhenTheCodeChanges) {
  Localizer localizer(folder_.path());
  localizer.setLanguage("de");
  folder_.write("de.json", R"({"a":"A-de-2"})");
  localizer.setLanguage("de");
  EXPECT_EQ(localizer.translate("a"), "A-de");  // same code: the file is not read again
  localizer.setLanguage("en");
  localizer.setLanguage("de");
  EXPECT_EQ(localizer.translate("a"), "A-de-2");

  localizer.setLanguage("");  // empty: back to the detected language
  EXPECT_EQ(localizer.currentLanguage(), i18n::detectSystemLanguage());
  EXPECT_FALSE(localizer.currentLanguage().empty());
}

TEST_F(LocalizerTest, RightToLeftTextsAreReadyToDrawAndParagraphsStayInLogicalOrder) {
  folder_.write("he.json", "{\"a\":\"\u05E9\u05DC\u05D5\u05DD world\\n\u05D0\"}");
  Localizer localizer(folder_.path());
  localizer.setLanguage("he");
  EXPECT_EQ(localizer.translate("a"), "world \u05DD\u05D5\u05DC\u05E9\n\u05D0");
  i18n::Paragraph paragraph = localizer.paragraph("a");
  EXPECT_EQ(paragraph.text, "\u05E9\u05DC\u05D5\u05DD world\n\u05D0");
  EXPECT_TRUE(paragraph.rightToLeft);
  paragraph = localizer.paragraph("b");  // from English
  EXPECT_EQ(paragraph.text, "B-en");
  EXPECT_FALSE(paragraph.rightToLeft);

  localizer.setLanguage("de");
  EXPECT_FALSE(localizer.paragraph("a").rightToLeft);
  EXPECT_EQ(localizer.paragraph("a").text, "A-de");
}

TEST(LocalizerInstance, IsOneObjectReadingTheLocalesBesideTheProgram) {
  Localizer& first = Localizer::instance();
  EXPECT_EQ(&first, &Localizer::instance());
  EXPECT_EQ(first.translate("app.name"), "Orvik");
  EXPECT_NE(first.translate("settings.language"), "settings.language");
}

TEST(LanguageCatalogue, CodesAreUniqueAndTheListAccessorIsBounded) {
  std::set<std::string> codes;
  for (const i18n::LanguageInfo& language : i18n::kLanguages) codes.insert(language.code);
  EXPECT_EQ(codes.size(), 37u);
  EXPECT_STREQ(i18n::kLanguages[0].code, "en");  // the list's fallback entry

  const char* text = "untouched";
  for (int i = 0; i < 37; ++i) {
    ASSERT_TRUE(i18n::languageName(i, &text));
    EXPECT_EQ(text, i18n::kLanguages[i].name);
  }
  text = "untouched";
  EXPECT_FALSE(i18n::languageName(37, &text));
  EXPECT_FALSE(i18n::languageName(-1, &text));
  EXPECT_FALSE(i18n::languageName(1 << 30, &text));
  EXPECT_STREQ(text, "untouched");
}

TEST(LanguageCatalogue, LocaleNamesMapByFirstPrefixEndingAtASubtag) {
  const struct {
    const char16_t* name;
    const char* code;
  } cases[] = {
      {u"ja-JP", "ja"},       {u"zh-TW", "zh-Hant"}, {u"zh-Hant-HK", "zh-Hant"}, {u"zh-HK", "zh-Hant"},
      {u"zh-MO", "zh-Hant"},  {u"zh-CN", "zh-Hans"}, {u"zh-SG", "zh-Hans"},      {u"zh-Hans-CN", "zh-Hans"},
      {u"pt-PT", "pt-BR"},    {u"pt-BR", "pt-BR"},   {u"nn-NO", "nb"},           {u"no", "nb"},
      {u"nb-NO", "nb"},       {u"iw-IL", "he"},      {u"he-IL", "he"},           {u"fil-PH", "fil"},
      {u"tl", "fil"},         {u"fi-FI", "fi"},      {u"en-GB", "en"},           {u"de-AT", "de"},
      {u"sw-KE", "en"},       {u"kok-IN", "en"},     {u"ur-PK", "en"},           {u"", "en"},
      {u"JA-JP", "en"},       {u"sr-Latn-RS", "sr"}, {u"ar-SA", "ar"},           {u"fa-IR", "fa"},
      {u"hi-IN", "hi"},       {u"ms-MY", "ms"},      {u"x", "en"},               {u"z", "en"},
      // Longer language subtags are other languages: Konkani, Mapudungun, Ngiemboon, Rombo.
      {u"arn-CL", "en"},      {u"nnh-CM", "en"},     {u"rof-TZ", "en"},          {u"ja_JP", "ja"},
      {u"fil", "fil"},
  };
  for (const auto& c : cases) EXPECT_STREQ(i18n::languageForLocaleName(c.name), c.code) << c.code;

  // Whatever the name, the result is a code of the catalogue.
  std::set<std::string> codes;
  for (const i18n::LanguageInfo& language : i18n::kLanguages) codes.insert(language.code);
  for (char16_t a = u'a'; a <= u'z'; ++a)
    for (char16_t b = u'a'; b <= u'z'; ++b) {
      const char16_t name[] = {a, b, u'-', u'X', 0};
      EXPECT_EQ(codes.count(i18n::languageForLocaleName(name)), 1u);
    }
}

#ifndef _WIN32
// Without Windows the message locale of the environment stands in for the user locale.
TEST(LanguageDetection, FollowsTheEnvironmentLikeTheCLibrary) {
  const char* saved[3] = {};
  const char* names[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::string copies[3];
  for (int i = 0; i < 3; ++i)
    if (const char* v = std::getenv(names[i])) saved[i] = (copies[i] = v).c_str();

  for (const char* n : names) unsetenv(n);
  EXPECT_EQ(i18n::detectSystemLanguage(), "en");
  setenv("LANG", "zh_TW.UTF-8", 1);
  EXPECT_EQ(i18n::detectSystemLanguage(), "zh-Hant");
  setenv("LC_MESSAGES", "pt_PT@euro", 1);
  EXPECT_EQ(i18n::detectSystemLanguage(), "pt-BR");
  setenv("LC_ALL", "", 1);  // empty counts as unset
  EXPECT_EQ(i18n::detectSystemLanguage(), "pt-BR");
  setenv("LC_ALL", "C.UTF-8", 1);
  EXPECT_EQ(i18n::detectSystemLanguage(), "en");

  for (int i = 0; i < 3; ++i) {
    if (saved[i]) setenv(names[i], copies[i].c_str(), 1);
    else unsetenv(names[i]);
  }
}
#endif

}  // namespace
