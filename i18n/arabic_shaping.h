// Contextual forms of Arabic letters, for a user interface that draws text without shaping.
// Letters become their presentation forms (isolated, final, initial, medial) by their joining
// neighbours; harakat are skipped when looking for neighbours. No ligatures are formed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace i18n {

enum class ArabicJoining { None, Right, Dual, Transparent };

// 0 in a form field: the letter has no such form.
struct ArabicForm {
  char32_t codePoint;
  ArabicJoining joining;
  char32_t isolated;
  char32_t final;
  char32_t initial;
  char32_t medial;
};

constexpr std::size_t kArabicFormCount = 53;
extern const ArabicForm kArabicForms[kArabicFormCount];  // sorted by code point

// The table entry of `cp`, or nullptr when the letter is not in the table.
const ArabicForm* findArabicForm(char32_t cp);

// Same length as the input; code points outside the table pass unchanged.
std::u32string shapeArabic(std::u32string_view text);

}  // namespace i18n
