#include "i18n/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace {

using i18n::decodeUtf8;
using i18n::encodeUtf8;

// Decodes from an exactly-sized heap copy, so that a read past the end trips AddressSanitizer.
std::u32string decodeExact(const std::string& bytes) {
  std::unique_ptr<char[]> copy(new char[bytes.size() == 0 ? 1 : bytes.size()]);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return decodeUtf8(std::string_view(copy.get(), bytes.size()));
}

std::string asciiOnly(const std::string& bytes) {
  std::string out;
  for (char c : bytes)
    if (static_cast<unsigned char>(c) < 0x80) out.push_back(c);
  return out;
}

std::string asciiOnly(const std::u32string& cps) {
  std::string out;
  for (char32_t c : cps)
    if (c < 0x80) out.push_back(static_cast<char>(c));
  return out;
}

// True when every byte of `part` occurs in `whole` in the same order.
bool isSubsequence(const std::string& part, const std::string& whole) {
  std::size_t j = 0;
  for (char c : whole)
    if (j < part.size() && part[j] == c) ++j;
  return j == part.size();
}

std::string fromU8(const char8_t* s) { return std::string(reinterpret_cast<const char*>(s)); }

TEST(Utf8, EncodesEachLengthClassAtItsBoundaries) {
  struct Case {
    char32_t cp;
    const char* bytes;
  };
  const Case cases[] = {
      {0x41, "\x41"},          {0x7F, "\x7F"},          {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},     {0x800, "\xE0\xA0\x80"}, {0xFEB3, "\xEF\xBA\xB3"},
      {0xFFFF, "\xEF\xBF\xBF"}, {0x10000, "\xF0\x90\x80\x80"}, {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(encodeUtf8(std::u32string(1, c.cp)), c.bytes) << std::hex << uint32_t(c.cp);
    EXPECT_EQ(decodeExact(c.bytes), std::u32string(1, c.cp)) << std::hex << uint32_t(c.cp);
  }
  // NUL is a code point like any other.
  EXPECT_EQ(decodeExact(std::string("a\0b", 3)), std::u32string(U"a\0b", 3));
}

TEST(Utf8, RoundTripsEveryScalarValueAndAgreesWithTheCompiler) {
  std::u32string all;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp)
    if (cp < 0xD800 || cp > 0xDFFF) all.push_back(cp);
  const std::string bytes = encodeUtf8(all);
  EXPECT_EQ(decodeUtf8(bytes), all);

  // The compiler's own UTF-8 is an independent reference.
  const std::u32string mixed = U"USB 3.0 \u05E9\u05DC\u05D5\u05DD \u0627\u0644\u0639\u0631\u0628\u064A\u0629 \u65E5\u672C "
                               U"\uD55C\uAD6D\uC5B4 \u0E44\u0E17\u0E22 \u0939\u093F\u0928\u094D\u0926\u0940 \U0001F600";
  const std::string reference =
      fromU8(u8"USB 3.0 \u05E9\u05DC\u05D5\u05DD \u0627\u0644\u0639\u0631\u0628\u064A\u0629 \u65E5\u672C "
             u8"\uD55C\uAD6D\uC5B4 \u0E44\u0E17\u0E22 \u0939\u093F\u0928\u094D\u0926\u0940 \U0001F600");
  EXPECT_EQ(encodeUtf8(mixed), reference);
  EXPECT_EQ(decodeExact(reference), mixed);
}

TEST(Utf8, MalformedBytesAreSkippedWithoutLosingTheTextAround) {
  struct Case {
    std::string bytes;
    std::u32string expected;
  };
  const Case cases[] = {
      {"\x80" "A", U"A"},                    // stray continuation first
      {"A\xBF", U"A"},                       // and last
      {"A\x80\x80\x80" "B", U"AB"},          // several
      {"A\xC3", U"A"},                       // lead byte at the end
      {"A\xE2\x82", U"A"},                   // truncated three-byte sequence at the end
      {"\xF0\x9F\x98", U""},                 // truncated four-byte sequence is all there is
      {"\xE2\x82" "A", U"A"},                // cut short by ASCII: the ASCII survives
      {"\xC3(\xC3\xA9", U"(\u00E9"},         // cut short by ASCII, then a good character
      {"\xE2\xC3\xA9", U"\u00E9"},           // cut short by another lead byte
      {"\xF0\x9F" "ab", U"ab"},
      {"\xC0\xAF", U"/"},                    // overlong forms are taken by value
      {"\xED\xA0\x80", U"\xD800"},            // and so are surrogates
  };
  for (const Case& c : cases) EXPECT_EQ(decodeExact(c.bytes), c.expected) << testing::PrintToString(c.bytes);

  for (int b = 0xF8; b <= 0xFF; ++b) {
    std::string bytes = "a";
    bytes.push_back(static_cast<char>(b));
    bytes += "b";
    EXPECT_EQ(decodeExact(bytes), U"ab") << std::hex << b;
    EXPECT_EQ(decodeExact(std::string(1, static_cast<char>(b))), U"") << std::hex << b;
  }
}

// Every input of up to two bytes, then seeded random ones biased towards lead and continuation
// bytes: decoding stays inside the buffer, never yields more code points than bytes, never
// exceeds 21 bits, and keeps every ASCII byte in order (overlong forms may add more ASCII).
TEST(Utf8, ArbitraryBytesNeverReadOutsideAndKeepAscii) {
  for (int a = 0; a < 256; ++a) {
    EXPECT_LE(decodeExact(std::string(1, static_cast<char>(a))).size(), 1u);
    for (int b = 0; b < 256; ++b) {
      const std::string bytes{static_cast<char>(a), static_cast<char>(b)};
      const std::u32string cps = decodeExact(bytes);
      ASSERT_LE(cps.size(), 2u);
      ASSERT_TRUE(isSubsequence(asciiOnly(bytes), asciiOnly(cps))) << a << " " << b;
    }
  }

  std::mt19937 rng(12345);
  const unsigned char alphabet[] = {0x00, 0x41, 0x7F, 0x80, 0x9F, 0xBF, 0xC0, 0xC3, 0xDF, 0xE0,
                                    0xE2, 0xEF, 0xF0, 0xF4, 0xF7, 0xF8, 0xFC, 0xFF, 0xA9, 0x20};
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(rng() % 17, '\0');
    for (char& c : bytes) c = static_cast<char>(alphabet[rng() % sizeof(alphabet)]);
    const std::u32string cps = decodeExact(bytes);
    ASSERT_LE(cps.size(), bytes.size());
    for (char32_t cp : cps) ASSERT_LE(uint32_t(cp), 0x1FFFFFu);
    ASSERT_TRUE(isSubsequence(asciiOnly(bytes), asciiOnly(cps))) << testing::PrintToString(bytes);
    // Whatever was decoded encodes to text that decodes to the same code points.
    ASSERT_EQ(decodeUtf8(encodeUtf8(cps)), cps);
  }
}

}  // namespace
