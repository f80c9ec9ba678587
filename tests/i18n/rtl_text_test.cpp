#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "i18n/arabic_shaping.h"
#include "i18n/bidi_reorder.h"
#include "i18n/rtl_text.h"
#include "i18n/utf8.h"

namespace {

// A named input and the text expected from it.
struct TextCase {
  const char* what;
  std::u32string in, out;
};

using i18n::ArabicJoining;
using i18n::BidiClass;

std::string utf8(const std::u32string& s) { return i18n::encodeUtf8(s); }

TEST(RtlLanguage, OnlyExactCodesAreRightToLeftAndOnlyArabicScriptIsShaped) {
  for (const char* code : {"ar", "he", "fa", "ur"}) EXPECT_TRUE(i18n::isRtlLanguage(code)) << code;
  for (const char* code : {"ar", "fa", "ur"}) EXPECT_TRUE(i18n::needsArabicShaping(code)) << code;
  EXPECT_FALSE(i18n::needsArabicShaping("he"));
  for (const char* code : {"", "en", "AR", "ar-SA", "he-IL", "a", "arx", "iw", "hi", "zh-Hans"}) {
    EXPECT_FALSE(i18n::isRtlLanguage(code)) << code;
    EXPECT_FALSE(i18n::needsArabicShaping(code)) << code;
  }
}

TEST(BidiClasses, RangeEdgesFallInTheRightClass) {
  const BidiClass L = BidiClass::LeftToRight, R = BidiClass::RightToLeft, N = BidiClass::Neutral;
  const struct {
    char32_t cp;
    BidiClass cls;
  } cases[] = {
      {0x20, N},    {0x2F, N},    {0x30, L},    {0x39, L},    {0x3A, N},    {0x40, N},    {0x41, L},
      {0x5A, L},    {0x5B, N},    {0x60, N},    {0x61, L},    {0x7A, L},    {0x7B, N},    {0x0A, N},
      {0x9F, N},    {0xA0, L},    {0x24F, L},   {0x250, N},   {0x36F, N},   {0x370, L},   {0x3FF, L},
      {0x400, L},   {0x4FF, L},   {0x500, N},   {0x58F, N},   {0x590, R},   {0x5FF, R},   {0x600, R},
      {0x6FF, R},   {0x700, R},   {0x77F, R},   {0x780, N},   {0x1DFF, N},  {0x1E00, L},  {0x1EFF, L},
      {0x1F00, N},  {0x4E00, N},  {0xFB1C, N},  {0xFB1D, R},  {0xFB4F, R},  {0xFB50, R},  {0xFDFF, R},
      {0xFE00, N},  {0xFE6F, N},  {0xFE70, R},  {0xFEFF, R},  {0xFF00, N},  {0x10FFFF, N},
  };
  for (const auto& c : cases) EXPECT_EQ(i18n::bidiClassOf(c.cp), c.cls) << std::hex << uint32_t(c.cp);
}

// The table is checked against how Unicode lays out the presentation forms, not against itself.
TEST(ArabicForms, TableMatchesTheUnicodePresentationFormLayout) {
  ASSERT_EQ(i18n::kArabicFormCount, 53u);
  char32_t expectedIsolated = 0xFE80;  // forms B start with hamza
  for (std::size_t k = 0; k < i18n::kArabicFormCount; ++k) {
    const i18n::ArabicForm& f = i18n::kArabicForms[k];
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << uint32_t(f.codePoint));
    if (k > 0) {
      EXPECT_LT(i18n::kArabicForms[k - 1].codePoint, f.codePoint);  // lookup is a binary search
    }
    EXPECT_EQ(i18n::findArabicForm(f.codePoint), &f);
    EXPECT_EQ(i18n::findArabicForm(f.codePoint + 1) == nullptr,
              k + 1 == i18n::kArabicFormCount || i18n::kArabicForms[k + 1].codePoint != f.codePoint + 1);

    const bool hasForms = f.codePoint != 0x0640 && f.joining != ArabicJoining::Transparent;
    if (!hasForms) {
      EXPECT_EQ(f.isolated | f.final | f.initial | f.medial, 0u);
      continue;
    }
    // Each letter's forms are consecutive: isolated, final, then initial and medial.
    EXPECT_NE(f.isolated, 0u);
    const bool dual = f.joining == ArabicJoining::Dual;
    const bool right = f.joining == ArabicJoining::Right;
    EXPECT_EQ(f.final, dual || right ? f.isolated + 1 : 0);
    EXPECT_EQ(f.initial, dual ? f.isolated + 2 : 0);
    EXPECT_EQ(f.medial, dual ? f.isolated + 3 : 0);
    // The letters up to yeh follow each other in forms B in code point order.
    if (f.codePoint <= 0x064A) {
      EXPECT_EQ(f.isolated, expectedIsolated);
      expectedIsolated = f.isolated + (dual ? 4 : right ? 2 : 1);
    }
  }
  EXPECT_EQ(expectedIsolated, 0xFEF5u);  // where the lam-alef ligatures begin
  for (char32_t cp : {0x0620, 0x063B, 0x0654, 0x0671, 0x06BA, 0x06CD, 0x0041, 0xFE8D})
    EXPECT_EQ(i18n::findArabicForm(cp), nullptr) << std::hex << uint32_t(cp);
}

TEST(ArabicShaping, LettersTakeTheirContextualForms) {
  const TextCase cases[] = {
      {"seen lam alef meem", U"\u0633\u0644\u0627\u0645", U"\uFEB3\uFEE0\uFE8E\uFEE1"},
      {"harakat are skipped", U"\u0628\u064E\u0628", U"\uFE91\u064E\uFE90"},
      {"several marks and shadda", U"\u0628\u0651\u064E\u0628\u0650", U"\uFE91\u0651\u064E\uFE90\u0650"},
      {"medial", U"\u0628\u0628\u0628", U"\uFE91\uFE92\uFE90"},
      {"single letter", U"\u0628", U"\uFE8F"},
      {"alef does not join forwards", U"\u0628\u0627\u0628", U"\uFE91\uFE8E\uFE8F"},
      {"hamza stays the base letter and breaks joining", U"\u0628\u0621\u0628", U"\uFE8F\u0621\uFE8F"},
      {"tatweel joins both ways and has no form", U"\u0628\u0640\u0627", U"\uFE91\u0640\uFE8E"},
      {"latin breaks joining", U"\u0628a\u0628", U"\uFE8Fa\uFE8F"},
      {"blank breaks joining", U"\u0628 \u0628", U"\uFE8F \uFE8F"},
      {"letters outside the table neither change nor join", U"\u0628\u06BA\u0628", U"\uFE8F\u06BA\uFE8F"},
      {"mark at the edges", U"\u064E\u0628\u064E", U"\u064E\uFE8F\u064E"},
      {"persian letters", U"\u067E\u06CC\u06A9\u06AF\u0698", U"\uFB58\uFBFF\uFB91\uFB95\uFB8B"},
      {"right-joining final after dual", U"\u0644\u0627", U"\uFEDF\uFE8E"},
      {"no arabic", U"abc 123", U"abc 123"},
      {"empty", U"", U""},
  };
  for (const auto& c : cases) EXPECT_EQ(i18n::shapeArabic(c.in), c.out) << c.what;
}

TEST(Reorder, TextComesOutInVisualOrder) {
  const TextCase cases[] = {
      {"empty", U"", U""},
      {"latin only comes back unchanged", U"USB 3.0", U"USB 3.0"},
      {"hebrew then latin", U"\u05E9\u05DC\u05D5\u05DD world", U"world \u05DD\u05D5\u05DC\u05E9"},
      {"digits and latin run keep enclosed blanks", U"\u05DE\u05D7\u05D9\u05E8 20 USD",
       U"20 USD \u05E8\u05D9\u05D7\u05DE"},
      {"neutrals enclosed in a latin run keep reading order", U"\u0627 Wi-Fi, USB", U"Wi-Fi, USB \u0627"},
      {"lines come out in reverse order", U"\u05D0\u05D1\n\u05D2\u05D3", U"\u05D3\u05D2\n\u05D1\u05D0"},
      {"brackets are not mirrored", U"(\u05D0)", U")\u05D0("},
      {"neutrals at the edges of a run stay reversed", U"\u05D0 (abc) \u05D1", U"\u05D1 )abc( \u05D0"},
      {"edges of a latin-only text too", U" abc.", U".abc "},
      {"other scripts count as neutral", U"\u65E5\u672C", U"\u672C\u65E5"},
      {"greek and cyrillic are left to right", U"\u05D0 \u03B1\u03B2 \u0436\u0437", U"\u03B1\u03B2 \u0436\u0437 \u05D0"},
  };
  for (const auto& c : cases) EXPECT_EQ(i18n::reorderForDisplay(c.in), c.out) << c.what;
}

TEST(PrepareRtlText, ShapesInLogicalOrderThenReorders) {
  // Shaping sees the logical neighbours; the forms then appear last-to-first.
  EXPECT_EQ(i18n::prepareRtlText(utf8(U"\u0633\u0644\u0627\u0645"), true), utf8(U"\uFEE1\uFE8E\uFEE0\uFEB3"));
  EXPECT_EQ(i18n::prepareRtlText(utf8(U"\u0628\u0628"), true), utf8(U"\uFE90\uFE91"));
  // Without shaping (Hebrew) only the order changes.
  EXPECT_EQ(i18n::prepareRtlText(utf8(U"\u0633\u0644\u0627\u0645"), false), utf8(U"\u0645\u0627\u0644\u0633"));
  EXPECT_EQ(i18n::prepareRtlText(utf8(U"\u05E9\u05DC\u05D5\u05DD world"), false), utf8(U"world \u05DD\u05D5\u05DC\u05E9"));
  // A mixed Arabic sentence.
  EXPECT_EQ(i18n::prepareRtlText(utf8(U"\u0627\u0628\u062F\u0623 USB 2"), true),
            utf8(U"USB 2 \uFE83\uFEAA\uFE91\uFE8D"));
  EXPECT_EQ(i18n::prepareRtlText("", true), "");
  EXPECT_EQ(i18n::prepareRtlText("Hello, World 123", true), "Hello, World 123");
  // Malformed bytes are dropped, the text around them kept.
  std::string damaged = "\x80";
  damaged += utf8(U"\u05D0\u05D1");
  damaged += "\xE2\x82";
  EXPECT_EQ(i18n::prepareRtlText(damaged, false), utf8(U"\u05D1\u05D0"));
}

// Wrapped in logical order first, so the first words stay on the first line; each line is then
// in display order on its own. Every code point is one unit wide here.
TEST(RtlParagraph, WrapsInLogicalOrderThenOrdersEachLineForDisplay) {
  auto unit = [](char32_t) { return 1.0f; };
  const struct {
    const char* what;
    std::u32string in;
    float width;
    std::vector<std::u32string> out;
  } cases[] = {
      {"first words on the first line", U"\u05D0\u05D1 \u05D2\u05D3 \u05D4\u05D5", 5,
       {U"\u05D3\u05D2 \u05D1\u05D0", U"\u05D5\u05D4"}},
      {"a number that starts the text ends its first line", U"1. \u05D0\u05D1\u05D2 Orvik", 9,
       {U"\u05D2\u05D1\u05D0 .1", U"Orvik"}},
      {"line feeds keep their order", U"\u05D0\u05D1\n\n\u05D2\u05D3", 80, {U"\u05D1\u05D0", U"", U"\u05D3\u05D2"}},
      {"a word wider than the line is cut", U"\u05D0\u05D1\u05D2\u05D3\u05D4\u05D5\u05D6", 3,
       {U"\u05D2\u05D1\u05D0", U"\u05D5\u05D4\u05D3", U"\u05D6"}},
      {"blanks at a break are dropped", U"\u05D0\u05D1   \u05D2\u05D3", 3, {U"\u05D1\u05D0", U"\u05D3\u05D2"}},
      {"empty", U"", 10, {U""}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> expected;
    for (const std::u32string& line : c.out) expected.push_back(utf8(line));
    EXPECT_EQ(i18n::wrapRtlParagraph(utf8(c.in), c.width, unit), expected) << c.what;
  }
  // Widths come from the caller: a wide letter moves the break forward.
  auto wideAlef = [](char32_t c) { return c == U'\u05D0' ? 4.0f : 1.0f; };
  EXPECT_EQ(i18n::wrapRtlParagraph(utf8(U"\u05D1 \u05D0"), 5, wideAlef),
            (std::vector<std::string>{utf8(U"\u05D1"), utf8(U"\u05D0")}));
}

}  // namespace
