// Prepares interface texts of right-to-left languages once, as they are read, so that a
// renderer that draws left to right without shaping shows them legibly; and lays out a
// right-to-left paragraph that has to be wrapped at a width known only when it is drawn.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace i18n {

// True for exactly "ar", "he", "fa" and "ur".
bool isRtlLanguage(std::string_view code);
// True for exactly "ar", "fa" and "ur" (Hebrew is reordered, not shaped).
bool needsArabicShaping(std::string_view code);

// UTF-8 in logical order to UTF-8 in visual order: decode, shape Arabic letters when `shape`
// is set, reorder, encode. Malformed UTF-8 is skipped as decodeUtf8 describes.
std::string prepareRtlText(std::string_view text, bool shape);

// prepareRtlText for each line of `text` on its own, so that a text of several lines keeps its
// lines in order.
std::string prepareRtlLines(std::string_view text, bool shape);

// Arabic letters of UTF-8 `text` in their contextual forms; the order stays logical.
std::string shapeArabicText(std::string_view text);

// The lines to draw, top to bottom, of a right-to-left paragraph given in logical order (Arabic
// letters already shaped, so that `advance`, a code point's width, measures what is drawn).
// The text breaks at its line feeds and wherever a line would grow wider than `width`: after
// the last blank that fits, or inside a word when the word alone is wider. The blanks at a
// break are dropped. Each line comes back in display order, to be drawn right-aligned.
std::vector<std::string> wrapRtlParagraph(std::string_view logical, float width,
                                          const std::function<float(char32_t)>& advance);

}  // namespace i18n
