#include "i18n/languages.h"

namespace i18n {

const LanguageInfo kLanguages[kLanguageCount] = {
    {"en", "English"},
    {"ja", "日本語"},
    {"zh-Hans", "简体中文"},
    {"zh-Hant", "繁體中文"},
    {"ko", "한국어"},
    {"es", "Español"},
    {"fr", "Français"},
    {"de", "Deutsch"},
    {"it", "Italiano"},
    {"pt-BR", "Português (Brasil)"},
    {"nl", "Nederlands"},
    {"pl", "Polski"},
    {"ru", "Русский"},
    {"tr", "Türkçe"},
    {"vi", "Tiếng Việt"},
    {"th", "ไทย"},
    {"id", "Bahasa Indonesia"},
    {"uk", "Українська"},
    {"cs", "Čeština"},
    {"sk", "Slovenčina"},
    {"hu", "Magyar"},
    {"ro", "Română"},
    {"el", "Ελληνικά"},
    {"sv", "Svenska"},
    {"da", "Dansk"},
    {"nb", "Norsk"},
    {"fi", "Suomi"},
    {"bg", "Български"},
    {"sr", "Српски"},
    {"hr", "Hrvatski"},
    {"sl", "Slovenščina"},
    {"ms", "Bahasa Melayu"},
    {"fil", "Filipino"},
    {"ar", "العربية"},
    {"he", "עברית"},
    {"fa", "فارسی"},
    {"hi", "हिन्दी"},
};

namespace {

struct LocaleRule {
  const char16_t* prefixes[4];  // unused slots are null
  const char* code;
};

// Order matters: "zh-TW" must be seen before "zh", "fil" before "fi".
const LocaleRule kLocaleRules[] = {
    {{u"ja"}, "ja"},
    {{u"zh-Hant", u"zh-TW", u"zh-HK", u"zh-MO"}, "zh-Hant"},
    {{u"zh"}, "zh-Hans"},
    {{u"ko"}, "ko"},
    {{u"es"}, "es"},
    {{u"fr"}, "fr"},
    {{u"de"}, "de"},
    {{u"it"}, "it"},
    {{u"pt-BR", u"pt"}, "pt-BR"},
    {{u"nl"}, "nl"},
    {{u"pl"}, "pl"},
    {{u"ru"}, "ru"},
    {{u"tr"}, "tr"},
    {{u"vi"}, "vi"},
    {{u"th"}, "th"},
    {{u"id"}, "id"},
    {{u"uk"}, "uk"},
    {{u"cs"}, "cs"},
    {{u"sk"}, "sk"},
    {{u"hu"}, "hu"},
    {{u"ro"}, "ro"},
    {{u"el"}, "el"},
    {{u"sv"}, "sv"},
    {{u"da"}, "da"},
    {{u"nb", u"nn", u"no"}, "nb"},
    {{u"fil", u"tl"}, "fil"},
    {{u"fi"}, "fi"},
    {{u"bg"}, "bg"},
    {{u"sr"}, "sr"},
    {{u"hr"}, "hr"},
    {{u"sl"}, "sl"},
    {{u"ms"}, "ms"},
    {{u"ar"}, "ar"},
    {{u"he", u"iw"}, "he"},
    {{u"fa"}, "fa"},
    {{u"hi"}, "hi"},
};

// The prefix ends where a subtag does, so that "kok-IN" (Konkani) is not taken for "ko".
bool beginsWithTag(std::u16string_view localeName, std::u16string_view prefix) {
  if (!localeName.starts_with(prefix)) return false;
  if (localeName.size() == prefix.size()) return true;
  const char16_t next = localeName[prefix.size()];
  return next == u'-' || next == u'_';
}

}  // namespace

bool languageName(int index, const char** outText) {
  if (index < 0 || static_cast<std::size_t>(index) >= kLanguageCount) return false;
  if (outText) *outText = kLanguages[index].name;
  return true;
}

const char* languageForLocaleName(std::u16string_view localeName) {
  for (const LocaleRule& rule : kLocaleRules) {
    for (const char16_t* prefix : rule.prefixes) {
      if (prefix && beginsWithTag(localeName, prefix)) return rule.code;
    }
  }
  return "en";
}

}  // namespace i18n
