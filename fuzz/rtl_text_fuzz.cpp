// A right-to-left interface text as the locale reader prepares it: UTF-8 decoding, Arabic
// shaping and reordering for display, over any bytes.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "i18n/arabic_shaping.h"
#include "i18n/bidi_reorder.h"
#include "i18n/rtl_text.h"
#include "i18n/utf8.h"

namespace {

using i18n::BidiClass;

bool samePoints(std::u32string a, std::u32string b) {
  std::ranges::sort(a);
  std::ranges::sort(b);
  return a == b;
}

bool isFormOf(char32_t shaped, const i18n::ArabicForm& f) {
  return shaped == f.codePoint || shaped == f.isolated || shaped == f.final || shaped == f.initial ||
         shaped == f.medial;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::u32string points = i18n::decodeUtf8(text);
  FUZZ_CHECK(points.size() <= size);
  for (char32_t cp : points) FUZZ_CHECK(cp < 0x200000);
  FUZZ_CHECK(i18n::decodeUtf8(i18n::encodeUtf8(points)) == points);

  // Shaping changes table letters only, each into one of its own forms.
  const std::u32string shaped = i18n::shapeArabic(points);
  FUZZ_CHECK(shaped.size() == points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (shaped[i] == points[i]) continue;
    const i18n::ArabicForm* form = i18n::findArabicForm(points[i]);
    FUZZ_CHECK(form != nullptr && isFormOf(shaped[i], *form));
  }

  // Reordering only moves code points: with no left-to-right text it reverses, with nothing but
  // left-to-right text it keeps the order.
  const std::u32string visual = i18n::reorderForDisplay(points);
  FUZZ_CHECK(samePoints(visual, points));
  const std::size_t leftToRight = std::size_t(std::ranges::count_if(
      points, [](char32_t cp) { return i18n::bidiClassOf(cp) == BidiClass::LeftToRight; }));
  if (leftToRight == 0) FUZZ_CHECK(std::equal(visual.begin(), visual.end(), points.rbegin(), points.rend()));
  if (leftToRight == points.size()) FUZZ_CHECK(visual == points);

  FUZZ_CHECK(samePoints(i18n::decodeUtf8(i18n::prepareRtlText(text, false)), points));
  FUZZ_CHECK(samePoints(i18n::decodeUtf8(i18n::prepareRtlText(text, true)), shaped));
  return 0;
}
