#include "i18n/localizer.h"

#include <utility>

#include "i18n/languages.h"

namespace i18n {

Localizer& Localizer::instance() {
  static Localizer localizer(localesDirectory());
  return localizer;
}

Localizer::Localizer(std::filesystem::path folder) : folder_(std::move(folder)) {
  fallback_ = loadLocaleFileFrom(folder_, "en");
  setLanguage(detectSystemLanguage());
}

std::string Localizer::translate(const std::string& key) const {
  auto it = strings_.find(key);
  if (it != strings_.end()) return it->second;
  it = fallback_.find(key);
  if (it != fallback_.end()) return it->second;
  return key;
}

void Localizer::setLanguage(std::string_view code) {
  std::string chosen = code.empty() ? detectSystemLanguage() : std::string(code);
  if (chosen == currentLanguage_) return;
  strings_ = loadLocaleFileFrom(folder_, chosen);
  currentLanguage_ = std::move(chosen);
}

}  // namespace i18n
