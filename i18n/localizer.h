// Interface texts by key in the current language, with English as the fallback. UI thread only:
// nothing here is locked.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "i18n/locale_file.h"

namespace i18n {

// A text to be wrapped when drawn. Right-to-left texts are in logical order with their Arabic
// letters shaped, for wrapRtlParagraph (rtl_text.h); others are as translate gives them.
struct Paragraph {
  std::string text;
  bool rightToLeft = false;
};

class Localizer {
 public:
  // The process's one Localizer, created on first use from the locales beside the program:
  // English as the fallback, then the language of the user's locale.
  static Localizer& instance();

  // The same, reading the locale files from `folder` (tests).
  explicit Localizer(std::filesystem::path folder);

  Localizer(const Localizer&) = delete;
  Localizer& operator=(const Localizer&) = delete;

  // The current language's text, else the English one, else the key itself. An empty text
  // counts as present.
  std::string translate(const std::string& key) const;
  // The same text as a paragraph: right to left when it comes from a right-to-left language.
  Paragraph paragraph(const std::string& key) const;

  // Loads the language's file unless `code` is already current; an empty code means the
  // detected language. A code without a file leaves every text to the fallback.
  void setLanguage(std::string_view code);

  // Empty only before the first setLanguage.
  const std::string& currentLanguage() const { return currentLanguage_; }

 private:
  std::filesystem::path folder_;
  std::string currentLanguage_;
  LocaleStrings strings_;
  LocaleStrings paragraphs_;  // a right-to-left language's texts in logical order; else empty
  LocaleStrings fallback_;
};

}  // namespace i18n
