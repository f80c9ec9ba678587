// A cheap look at a font file before Dear ImGui takes it: Dear ImGui's TrueType reader trusts
// the table directory, so a truncated or foreign file would crash it or fail the whole atlas.
#pragma once

namespace i18n {

enum class FontFileStatus { Usable, Missing, Damaged };

// Usable: a TrueType or OpenType file (for a collection, its first face) whose table directory
// lies inside the file, every table lies inside the file, and the tables the glyph reader needs
// are present. Missing: the file cannot be opened. Damaged: anything else.
// `path` is UTF-8, as Dear ImGui takes it.
FontFileStatus checkFontFile(const char* path);

}  // namespace i18n
