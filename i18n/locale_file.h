// Locale files: one flat JSON object of string keys and string values per language, in a
// "locales" folder beside the program ("locales/pt-BR.json"), UTF-8 without a byte-order mark.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

namespace i18n {

// Key to value, both UTF-8 byte strings.
using LocaleStrings = std::unordered_map<std::string, std::string>;

// Files larger than this are refused: the real ones are a few kilobytes.
constexpr std::size_t kMaxLocaleFileSize = 4u << 20;

// Reads `text` leniently and never past its end. The first non-blank byte must be '{' (a
// byte-order mark gives nothing). Members are "key":"value"; a missing ':' or ',' is accepted,
// a later duplicate replaces the earlier value, text after the closing '}' is ignored. Escapes:
// \" \\ \/ \n \r \t; any other escaped byte is kept as itself (\u0041 reads "u0041"). A string
// cut off by the end of the text keeps what was read. Reading ends, keeping the members read so
// far, where a key or value is not a string (number, literal, object, array, nothing left).
// `stoppedAt`, when given, receives the offset where reading ended that way, or npos when the
// object was read to its end (or its closing brace) or the text is not an object at all.
LocaleStrings parseLocaleText(std::string_view text, std::size_t* stoppedAt = nullptr);

// "<program folder>/locales". The program folder is the program file's path without its last
// component; an empty path when the program's path cannot be had.
std::filesystem::path localesDirectory();

// How the values of a right-to-left language come back: ready to draw line by line, or in
// logical order for paragraphs that are wrapped when drawn (rtl_text.h).
enum class TextOrder { Display, Logical };

// Reads "<folder>/<code>.json" (CR LF read as LF) and parses it. For "ar", "he", "fa" and "ur"
// the Arabic letters of every value are then shaped (except for "he") and, in display order,
// each line is put into that order on its own. A missing file gives an empty table silently; a
// code that is not a plain language tag (ASCII letters, digits, '-', '_'), an oversized file or
// a file that is not an object gives an empty table with a "[Locale]" line, and a file that
// stops early keeps what was read.
LocaleStrings loadLocaleFileFrom(const std::filesystem::path& folder, std::string_view code,
                                 TextOrder order = TextOrder::Display);

// loadLocaleFileFrom(localesDirectory(), code, order).
LocaleStrings loadLocaleFile(std::string_view code, TextOrder order = TextOrder::Display);

}  // namespace i18n
