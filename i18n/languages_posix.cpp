#include <cstdlib>

#include "i18n/languages.h"

namespace i18n {

std::string detectSystemLanguage() {
  // The same variables, in the same order, that decide the C library's message language.
  const char* value = nullptr;
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    value = std::getenv(var);
    if (value && *value) break;
    value = nullptr;
  }
  if (!value) return "en";
  std::u16string name;
  for (const char* c = value; *c && *c != '.' && *c != '@'; ++c) name.push_back(*c == '_' ? u'-' : static_cast<unsigned char>(*c));
  return languageForLocaleName(name);
}

}  // namespace i18n
