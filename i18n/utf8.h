// UTF-8 to code points and back, for the right-to-left preparation of interface texts.
#pragma once

#include <string>
#include <string_view>

namespace i18n {

// Lenient: a stray continuation byte or a byte 0xF8-0xFF is skipped; a sequence cut short by a
// byte that is not a continuation byte is dropped and decoding resumes at that byte; a sequence
// cut short by the end of the text drops the rest. Overlong forms and surrogate values are
// taken by value. Never reads outside `text`.
std::u32string decodeUtf8(std::string_view text);

// The standard UTF-8 form of each code point by value (1 to 4 bytes; values of 0x110000 and
// above are written with a 4-byte lead whose high bits are cut to the byte).
std::string encodeUtf8(std::u32string_view codePoints);

}  // namespace i18n
