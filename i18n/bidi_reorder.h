// Visual order for right-to-left texts drawn by a left-to-right renderer. A simplified scheme,
// not the Unicode bidirectional algorithm: the whole text is one right-to-left paragraph, code
// points fall into three classes, and brackets are not mirrored.
#pragma once

#include <string>
#include <string_view>

namespace i18n {

enum class BidiClass { LeftToRight, RightToLeft, Neutral };

// Left-to-right: ASCII digits and letters, Latin (U+00A0-024F, U+1E00-1EFF), Greek, Cyrillic.
// Right-to-left: Hebrew, Arabic, Syriac and the Hebrew and Arabic presentation forms.
// Neutral: everything else (blanks, punctuation, line feeds, other scripts).
BidiClass bidiClassOf(char32_t cp);

// Reverses the whole text, then turns each run of left-to-right code points, with the neutrals
// enclosed between them, back into reading order. Neutrals at the edges of a run stay reversed.
// Lines are not treated apart: a multi-line text comes out with its lines in reverse order.
std::u32string reorderForDisplay(std::u32string_view text);

}  // namespace i18n
