#include "i18n/localizer.h"

#include <utility>

#include "i18n/languages.h"
#include "i18n/rtl_text.h"

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

Paragraph Localizer::paragraph(const std::string& key) const {
  auto it = paragraphs_.find(key);
  if (it != paragraphs_.end()) return {it->second, true};
  return {translate(key), false};
}

void Localizer::setLanguage(std::string_view code) {
  std::string chosen = code.empty() ? detectSystemLanguage() : std::string(code);
  if (chosen == currentLanguage_) return;
  if (isRtlLanguage(chosen)) {
    // Read once in logical order; the line-by-line display order is made from it.
    paragraphs_ = loadLocaleFileFrom(folder_, chosen, TextOrder::Logical);
    strings_.clear();
    for (const auto& [key, text] : paragraphs_) strings_.emplace(key, prepareRtlLines(text, false));
  } else {
    strings_ = loadLocaleFileFrom(folder_, chosen);
    paragraphs_.clear();
  }
  currentLanguage_ = std::move(chosen);
}

}  // namespace i18n
