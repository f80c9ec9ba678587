#include "i18n/arabic_shaping.h"

#include <algorithm>

namespace i18n {

namespace {
constexpr ArabicJoining N = ArabicJoining::None;
constexpr ArabicJoining R = ArabicJoining::Right;
constexpr ArabicJoining D = ArabicJoining::Dual;
constexpr ArabicJoining T = ArabicJoining::Transparent;
}  // namespace

const ArabicForm kArabicForms[kArabicFormCount] = {
    {0x0621, N, 0xFE80, 0, 0, 0},                 // Hamza
    {0x0622, R, 0xFE81, 0xFE82, 0, 0},            // Alef With Madda Above
    {0x0623, R, 0xFE83, 0xFE84, 0, 0},            // Alef With Hamza Above
    {0x0624, R, 0xFE85, 0xFE86, 0, 0},            // Waw With Hamza Above
    {0x0625, R, 0xFE87, 0xFE88, 0, 0},            // Alef With Hamza Below
    {0x0626, D, 0xFE89, 0xFE8A, 0xFE8B, 0xFE8C},  // Yeh With Hamza Above
    {0x0627, R, 0xFE8D, 0xFE8E, 0, 0},            // Alef
    {0x0628, D, 0xFE8F, 0xFE90, 0xFE91, 0xFE92},  // Beh
    {0x0629, R, 0xFE93, 0xFE94, 0, 0},            // Teh Marbuta
    {0x062A, D, 0xFE95, 0xFE96, 0xFE97, 0xFE98},  // Teh
    {0x062B, D, 0xFE99, 0xFE9A, 0xFE9B, 0xFE9C},  // Theh
    {0x062C, D, 0xFE9D, 0xFE9E, 0xFE9F, 0xFEA0},  // Jeem
    {0x062D, D, 0xFEA1, 0xFEA2, 0xFEA3, 0xFEA4},  // Hah
    {0x062E, D, 0xFEA5, 0xFEA6, 0xFEA7, 0xFEA8},  // Khah
    {0x062F, R, 0xFEA9, 0xFEAA, 0, 0},            // Dal
    {0x0630, R, 0xFEAB, 0xFEAC, 0, 0},            // Thal
    {0x0631, R, 0xFEAD, 0xFEAE, 0, 0},            // Reh
    {0x0632, R, 0xFEAF, 0xFEB0, 0, 0},            // Zain
    {0x0633, D, 0xFEB1, 0xFEB2, 0xFEB3, 0xFEB4},  // Seen
    {0x0634, D, 0xFEB5, 0xFEB6, 0xFEB7, 0xFEB8},  // Sheen
    {0x0635, D, 0xFEB9, 0xFEBA, 0xFEBB, 0xFEBC},  // Sad
    {0x0636, D, 0xFEBD, 0xFEBE, 0xFEBF, 0xFEC0},  // Dad
    {0x0637, D, 0xFEC1, 0xFEC2, 0xFEC3, 0xFEC4},  // Tah
    {0x0638, D, 0xFEC5, 0xFEC6, 0xFEC7, 0xFEC8},  // Zah
    {0x0639, D, 0xFEC9, 0xFECA, 0xFECB, 0xFECC},  // Ain
    {0x063A, D, 0xFECD, 0xFECE, 0xFECF, 0xFED0},  // Ghain
    {0x0640, D, 0, 0, 0, 0},                      // Tatweel
    {0x0641, D, 0xFED1, 0xFED2, 0xFED3, 0xFED4},  // Feh
    {0x0642, D, 0xFED5, 0xFED6, 0xFED7, 0xFED8},  // Qaf
    {0x0643, D, 0xFED9, 0xFEDA, 0xFEDB, 0xFEDC},  // Kaf
    {0x0644, D, 0xFEDD, 0xFEDE, 0xFEDF, 0xFEE0},  // Lam
    {0x0645, D, 0xFEE1, 0xFEE2, 0xFEE3, 0xFEE4},  // Meem
    {0x0646, D, 0xFEE5, 0xFEE6, 0xFEE7, 0xFEE8},  // Noon
    {0x0647, D, 0xFEE9, 0xFEEA, 0xFEEB, 0xFEEC},  // Heh
    {0x0648, R, 0xFEED, 0xFEEE, 0, 0},            // Waw
    {0x0649, R, 0xFEEF, 0xFEF0, 0, 0},            // Alef Maksura
    {0x064A, D, 0xFEF1, 0xFEF2, 0xFEF3, 0xFEF4},  // Yeh
    {0x064B, T, 0, 0, 0, 0},                      // Fathatan
    {0x064C, T, 0, 0, 0, 0},                      // Dammatan
    {0x064D, T, 0, 0, 0, 0},                      // Kasratan
    {0x064E, T, 0, 0, 0, 0},                      // Fatha
    {0x064F, T, 0, 0, 0, 0},                      // Damma
    {0x0650, T, 0, 0, 0, 0},                      // Kasra
    {0x0651, T, 0, 0, 0, 0},                      // Shadda
    {0x0652, T, 0, 0, 0, 0},                      // Sukun
    {0x0653, T, 0, 0, 0, 0},                      // Maddah Above
    {0x0670, T, 0, 0, 0, 0},                      // Superscript Alef
    {0x067E, D, 0xFB56, 0xFB57, 0xFB58, 0xFB59},  // Peh
    {0x0686, D, 0xFB7A, 0xFB7B, 0xFB7C, 0xFB7D},  // Tcheh
    {0x0698, R, 0xFB8A, 0xFB8B, 0, 0},            // Jeh
    {0x06A9, D, 0xFB8E, 0xFB8F, 0xFB90, 0xFB91},  // Keheh
    {0x06AF, D, 0xFB92, 0xFB93, 0xFB94, 0xFB95},  // Gaf
    {0x06CC, D, 0xFBFC, 0xFBFD, 0xFBFE, 0xFBFF},  // Farsi Yeh
};

const ArabicForm* findArabicForm(char32_t cp) {
  const ArabicForm* end = kArabicForms + kArabicFormCount;
  const ArabicForm* it = std::lower_bound(kArabicForms, end, cp,
                                          [](const ArabicForm& f, char32_t c) { return f.codePoint < c; });
  return (it != end && it->codePoint == cp) ? it : nullptr;
}

namespace {

// The neighbouring letter that joining looks at, skipping harakat; nullptr when the first
// non-mark is outside the table or the text ends.
const ArabicForm* joiningNeighbour(std::u32string_view text, std::size_t i, bool forward) {
  std::size_t j = i;
  while (forward ? j + 1 < text.size() : j > 0) {
    j = forward ? j + 1 : j - 1;
    const ArabicForm* f = findArabicForm(text[j]);
    if (f == nullptr) return nullptr;
    if (f->joining != ArabicJoining::Transparent) return f;
  }
  return nullptr;
}

}  // namespace

std::u32string shapeArabic(std::u32string_view text) {
  std::u32string out(text);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const ArabicForm* f = findArabicForm(text[i]);
    if (f == nullptr || f->joining == ArabicJoining::None || f->joining == ArabicJoining::Transparent) continue;

    const ArabicForm* prev = joiningNeighbour(text, i, false);
    const ArabicForm* next = joiningNeighbour(text, i, true);
    const bool joinsBefore = prev != nullptr && prev->joining == ArabicJoining::Dual;
    const bool joinsAfter = next != nullptr && (next->joining == ArabicJoining::Dual || next->joining == ArabicJoining::Right);

    char32_t result = f->isolated != 0 ? f->isolated : f->codePoint;
    if (f->joining == ArabicJoining::Dual) {
      if (joinsBefore && joinsAfter && f->medial != 0)
        result = f->medial;
      else if (joinsBefore && f->final != 0)
        result = f->final;
      else if (joinsAfter && f->initial != 0)
        result = f->initial;
    } else if (joinsBefore && f->final != 0) {
      result = f->final;
    }
    out[i] = result;
  }
  return out;
}

}  // namespace i18n
