#include <gtest/gtest.h>

#include <string>

#include "platform/coreservices/UnicodeText.h"

namespace {

// Byte sequences written out by hand from the UTF-8 and UTF-16 tables.
struct CodePointCase {
  char32_t codePoint;
  std::string utf8;
  std::u16string utf16;
};

const CodePointCase kCodePoints[] = {
    {U'A', "A", u"A"},
    {0x7F, "\x7F", {char16_t(0x7F)}},
    {0x80, "\xC2\x80", {char16_t(0x80)}},
    {0xE9, "\xC3\xA9", {char16_t(0xE9)}},
    {0x7FF, "\xDF\xBF", {char16_t(0x7FF)}},
    {0x800, "\xE0\xA0\x80", {char16_t(0x800)}},
    {0x20AC, "\xE2\x82\xAC", {char16_t(0x20AC)}},
    {0xFFFD, "\xEF\xBF\xBD", {char16_t(0xFFFD)}},
    {0x10000, "\xF0\x90\x80\x80", {char16_t(0xD800), char16_t(0xDC00)}},
    {0x1F600, "\xF0\x9F\x98\x80", {char16_t(0xD83D), char16_t(0xDE00)}},
    {0x10FFFF, "\xF4\x8F\xBF\xBF", {char16_t(0xDBFF), char16_t(0xDFFF)}},
};

const UInt8* Bytes(const std::string& s) { return reinterpret_cast<const UInt8*>(s.data()); }

TEST(UnicodeText, EncodesAndDecodesEveryLengthBothWays) {
  for (const auto& c : kCodePoints) {
    SCOPED_TRACE(unsigned(c.codePoint));
    std::string utf8;
    SkyloomAppendUTF8(utf8, c.codePoint);
    EXPECT_EQ(utf8, c.utf8);
    std::u16string utf16;
    SkyloomAppendUTF16(utf16, c.codePoint);
    EXPECT_EQ(utf16, c.utf16);

    // A following byte or unit is not taken with the character.
    const std::string more = c.utf8 + "x";
    char32_t cp = 0;
    EXPECT_EQ(SkyloomDecodeUTF8(Bytes(more), more.size(), &cp), c.utf8.size());
    EXPECT_EQ(cp, c.codePoint);
    cp = 0;
    const UInt32 second = c.utf16.size() > 1 ? c.utf16[1] : u'x';
    EXPECT_EQ(SkyloomDecodeUTF16(c.utf16[0], second, &cp), c.utf16.size());
    EXPECT_EQ(cp, c.codePoint);
  }
}

TEST(UnicodeText, RefusesMalformedUTF8) {
  const std::string bad[] = {
      "\x80",              // a continuation byte first
      "\xC0\x80",          // overlong NUL
      "\xC1\xBF",          // overlong 0x7F
      "\xE0\x9F\xBF",      // overlong 0x7FF
      "\xF0\x8F\xBF\xBF",  // overlong 0xFFFF
      "\xED\xA0\x80",      // a surrogate (U+D800)
      "\xED\xBF\xBF",      // a surrogate (U+DFFF)
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xF8\x88\x80\x80\x80",
      "\xE2\x82",          // cut short
      "\xE2\x28\xAC",      // a continuation byte missing
      "",
  };
  for (const std::string& s : bad) {
    SCOPED_TRACE(testing::PrintToString(s));
    char32_t cp = 0x1234;
    EXPECT_EQ(SkyloomDecodeUTF8(Bytes(s), s.size(), &cp), 0u);
    EXPECT_EQ(cp, 0x1234u);
  }
}

TEST(UnicodeText, RefusesLoneSurrogatesInUTF16) {
  char32_t cp = 0;
  EXPECT_EQ(SkyloomDecodeUTF16(0xD800, 0, &cp), 0u);       // high at the end
  EXPECT_EQ(SkyloomDecodeUTF16(0xD800, u'A', &cp), 0u);    // high before a non-surrogate
  EXPECT_EQ(SkyloomDecodeUTF16(0xDBFF, 0xD800, &cp), 0u);  // two highs
  EXPECT_EQ(SkyloomDecodeUTF16(0xDC00, 0xDC00, &cp), 0u);  // low first
  EXPECT_EQ(SkyloomDecodeUTF16(0xDFFF, 0, &cp), 0u);
  // A character before a lone surrogate is whole on its own.
  EXPECT_EQ(SkyloomDecodeUTF16(0xD7FF, 0xDC00, &cp), 1u);
  EXPECT_EQ(cp, 0xD7FFu);
  EXPECT_EQ(SkyloomDecodeUTF16(0xE000, 0, &cp), 1u);
  EXPECT_EQ(cp, 0xE000u);
}

}  // namespace
