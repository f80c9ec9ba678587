#include "i18n/bidi_reorder.h"

#include <algorithm>
#include <cstddef>

namespace i18n {

BidiClass bidiClassOf(char32_t cp) {
  if ((cp >= 0x30 && cp <= 0x39) || (cp >= 0x41 && cp <= 0x5A) || (cp >= 0x61 && cp <= 0x7A) ||
      (cp >= 0x00A0 && cp <= 0x024F) || (cp >= 0x0370 && cp <= 0x03FF) || (cp >= 0x0400 && cp <= 0x04FF) ||
      (cp >= 0x1E00 && cp <= 0x1EFF))
    return BidiClass::LeftToRight;
  if ((cp >= 0x0590 && cp <= 0x05FF) || (cp >= 0x0600 && cp <= 0x06FF) || (cp >= 0x0700 && cp <= 0x077F) ||
      (cp >= 0xFB1D && cp <= 0xFB4F) || (cp >= 0xFB50 && cp <= 0xFDFF) || (cp >= 0xFE70 && cp <= 0xFEFF))
    return BidiClass::RightToLeft;
  return BidiClass::Neutral;
}

std::u32string reorderForDisplay(std::u32string_view text) {
  std::u32string out(text.rbegin(), text.rend());
  const std::size_t n = out.size();
  std::size_t i = 0;
  while (i < n) {
    if (bidiClassOf(out[i]) != BidiClass::LeftToRight) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < n) {
      const BidiClass c = bidiClassOf(out[j]);
      if (c == BidiClass::LeftToRight) {
        ++j;
        continue;
      }
      if (c == BidiClass::RightToLeft) break;
      // Neutrals join the run only when more left-to-right text follows them.
      std::size_t k = j;
      while (k < n && bidiClassOf(out[k]) == BidiClass::Neutral) ++k;
      if (k == n || bidiClassOf(out[k]) == BidiClass::RightToLeft) break;
      j = k;
    }
    std::reverse(out.begin() + std::ptrdiff_t(i), out.begin() + std::ptrdiff_t(j));
    i = j;
  }
  return out;
}

}  // namespace i18n
