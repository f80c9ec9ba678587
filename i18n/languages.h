// The languages the user can choose, and the choice of the starting one from the user's locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace i18n {

struct LanguageInfo {
  const char* code;  // locale file name, such as "pt-BR"
  const char* name;  // the language's name for itself, UTF-8, shown as is
};

constexpr std::size_t kLanguageCount = 37;
// In the order of the language list; the index is what the list shows and stores.
extern const LanguageInfo kLanguages[kLanguageCount];

// Item source of the language list: for 0 <= index < 37 stores the entry's native name in
// *outText and returns true; any other index returns false and leaves *outText alone.
bool languageName(int index, const char** outText);

// The catalogue code for a Windows locale name such as u"zh-TW": the first rule whose prefix
// begins the name (case-sensitive) and ends at the end of it, a '-' or a '_' decides, "en" when
// none does. Always a code of kLanguages.
const char* languageForLocaleName(std::u16string_view localeName);

// The code to start with, from the user's locale ("en" when it cannot be had). On Windows the
// user default locale name; elsewhere LC_ALL, LC_MESSAGES or LANG, "_" read as "-".
std::string detectSystemLanguage();

}  // namespace i18n
