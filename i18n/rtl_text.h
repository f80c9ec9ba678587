// Prepares interface texts of right-to-left languages once, as they are read, so that a
// renderer that draws left to right without shaping shows them legibly.
#pragma once

#include <string>
#include <string_view>

namespace i18n {

// True for exactly "ar", "he", "fa" and "ur".
bool isRtlLanguage(std::string_view code);
// True for exactly "ar", "fa" and "ur" (Hebrew is reordered, not shaped).
bool needsArabicShaping(std::string_view code);

// UTF-8 in logical order to UTF-8 in visual order: decode, shape Arabic letters when `shape`
// is set, reorder, encode. Malformed UTF-8 is skipped as decodeUtf8 describes.
std::string prepareRtlText(std::string_view text, bool shape);

}  // namespace i18n
