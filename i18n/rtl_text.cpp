#include "i18n/rtl_text.h"

#include "i18n/arabic_shaping.h"
#include "i18n/bidi_reorder.h"
#include "i18n/utf8.h"

namespace i18n {

bool isRtlLanguage(std::string_view code) { return code == "ar" || code == "he" || code == "fa" || code == "ur"; }

bool needsArabicShaping(std::string_view code) { return code == "ar" || code == "fa" || code == "ur"; }

std::string prepareRtlText(std::string_view text, bool shape) {
  std::u32string cps = decodeUtf8(text);
  if (shape) cps = shapeArabic(cps);
  return encodeUtf8(reorderForDisplay(cps));
}

}  // namespace i18n
