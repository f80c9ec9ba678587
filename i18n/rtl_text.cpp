#include "i18n/rtl_text.h"

#include "i18n/arabic_shaping.h"
#include "i18n/bidi_reorder.h"
#include "i18n/utf8.h"

namespace i18n {

namespace {

// Calls `line` with each line of `text`, without its line feed.
template <class Line>
void forEachLine(std::string_view text, Line line) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    line(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return;
    start = end + 1;
  }
}

}  // namespace

bool isRtlLanguage(std::string_view code) { return code == "ar" || code == "he" || code == "fa" || code == "ur"; }

bool needsArabicShaping(std::string_view code) { return code == "ar" || code == "fa" || code == "ur"; }

std::string prepareRtlText(std::string_view text, bool shape) {
  std::u32string cps = decodeUtf8(text);
  if (shape) cps = shapeArabic(cps);
  return encodeUtf8(reorderForDisplay(cps));
}

std::string prepareRtlLines(std::string_view text, bool shape) {
  std::string out;
  out.reserve(text.size());
  bool first = true;
  forEachLine(text, [&](std::string_view line) {
    if (!first) out.push_back('\n');
    first = false;
    out += prepareRtlText(line, shape);
  });
  return out;
}

std::string shapeArabicText(std::string_view text) { return encodeUtf8(shapeArabic(decodeUtf8(text))); }

std::vector<std::string> wrapRtlParagraph(std::string_view logical, float width,
                                          const std::function<float(char32_t)>& advance) {
  std::vector<std::string> lines;
  auto emit = [&](const std::u32string& cps, std::size_t from, std::size_t to) {
    while (to > from && cps[to - 1] == U' ') --to;
    lines.push_back(encodeUtf8(reorderForDisplay(std::u32string_view(cps).substr(from, to - from))));
  };
  forEachLine(logical, [&](std::string_view line) {
    const std::u32string cps = decodeUtf8(line);
    const std::size_t n = cps.size();
    std::size_t start = 0;
    do {
      float used = 0;
      std::size_t i = start;
      std::size_t lastBlank = std::string_view::npos;
      for (; i < n; ++i) {
        const float a = advance(cps[i]);
        if (used + a > width && i > start && cps[i] != U' ') break;  // a blank may hang over
        used += a;
        if (cps[i] == U' ') lastBlank = i;
      }
      const bool atBlank = i < n && lastBlank != std::string_view::npos && lastBlank > start;
      const std::size_t end = atBlank ? lastBlank : i;
      emit(cps, start, end);
      start = end;
      while (start < n && cps[start] == U' ') ++start;
    } while (start < n);
  });
  return lines;
}

}  // namespace i18n
