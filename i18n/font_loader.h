// Fonts for every script of the language list, merged into one Dear ImGui font at start-up:
// a base font (Latin, Greek, Cyrillic, Hebrew, Arabic with its presentation forms, symbols),
// then Japanese, Chinese, Korean, Thai and Devanagari fonts merged into it, all at 16 px times
// the display scale. Every script is loaded whatever the language, so a change of language needs
// no font work.
#pragma once

struct ImFontAtlas;

namespace i18n {

// Adds the fonts to `atlas` (Dear ImGui's io.Fonts) before it is built, rasterised at `scale`
// times their size (the display's DPI / 96), so scaled text stays sharp. For the base and each
// script the first usable candidate file in `folder` is taken. Without any base font (or
// without a folder) it adds Dear ImGui's built-in font alone. Writes one
// "[font] <script> -> <path>" or "[font] <script> MISSING" line per script; a damaged candidate
// gets a line of its own and is passed over. `folder` is UTF-8; a separator is added when it
// does not end in one.
void loadFonts(ImFontAtlas* atlas, const char* folder, float scale = 1.0f);

}  // namespace i18n
