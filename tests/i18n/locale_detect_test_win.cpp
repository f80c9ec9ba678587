// Windows side of language detection and of finding the locales folder, under the real
// GetUserDefaultLocaleName and GetModuleFileNameW. Neither the user locale nor the program's
// path can change inside a process, and Wine starts no child from a path that long, so CTest
// runs this program once per case with the environment set (see CMakeLists.txt).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "i18n/languages.h"
#include "i18n/locale_file.h"

namespace {

TEST(UserLocale, GivesTheExpectedLanguage) {
  const char* expected = std::getenv("BRINDLE_EXPECTED_LANGUAGE");
  if (!expected) GTEST_SKIP() << "run by the per-locale CTest entries";
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
  EXPECT_EQ(i18n::detectSystemLanguage(), expected) << "user locale " << std::filesystem::path(name).string();
}

// CTest runs a copy of this program placed deeper than 260 characters, with the shipped
// locales beside it.
TEST(LocalesFolder, FoundBesideAProgramWithAPathLongerThan260) {
  if (!std::getenv("BRINDLE_LONG_PATH_RUN")) GTEST_SKIP() << "run by locale_long_program_path";
  EXPECT_GT(i18n::localesDirectory().wstring().size(), 260u);
  i18n::LocaleStrings strings = i18n::loadLocaleFile("en");
  ASSERT_EQ(strings.count("app.name"), 1u);
  EXPECT_EQ(strings.at("app.name"), "Orvik");
}

}  // namespace
