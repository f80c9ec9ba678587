#include <windows.h>

#include "i18n/languages.h"

namespace i18n {

std::string detectSystemLanguage() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  int n = GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
  if (n <= 0) return "en";
  std::u16string utf16;  // wchar_t holds UTF-16 units on Windows; n counts the terminator
  for (int i = 0; i < n && i < LOCALE_NAME_MAX_LENGTH && name[i]; ++i) utf16.push_back(static_cast<char16_t>(name[i]));
  return languageForLocaleName(utf16);
}

}  // namespace i18n
