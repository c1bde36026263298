// The code-page tables round-trip every byte and refuse what the page lacks.
#include "platform/codepage.h"

#include <gtest/gtest.h>

using namespace zorvane::platform;

TEST(CodePage, EveryByteRoundTripsThroughUtf16) {
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16(static_cast<uint8_t>(b))), b) << "cp1252 byte " << b;
    EXPECT_EQ(Utf16ToCp850(Cp850ToUtf16(static_cast<uint8_t>(b))), b) << "cp850 byte " << b;
  }
}

TEST(CodePage, KnownCharactersAndGaps) {
  EXPECT_EQ(Cp1252ToUtf16(0x80), u'\u20AC');  // euro sign
  EXPECT_EQ(Cp1252ToUtf16(0x81), u'\u0081');  // unassigned byte keeps its value
  EXPECT_EQ(Cp1252ToUtf16(0xE9), u'\u00E9');
  EXPECT_EQ(Cp850ToUtf16(0x82), u'\u00E9');
  EXPECT_EQ(Utf16ToCp1252(u'\u0100'), -1);    // A with macron is not in cp1252
  EXPECT_EQ(Utf16ToCp850(u'\u20AC'), -1);     // no euro sign in cp850
}

TEST(CodePage, CharacterClasses) {
  EXPECT_TRUE(CharType1('A') & kCtUpper);
  EXPECT_TRUE(CharType1(0xC9) & kCtUpper);    // E acute
  EXPECT_TRUE(CharType1(0xE9) & kCtLower);
  EXPECT_TRUE(CharType1(0xDF) & kCtAlpha);    // sharp s is a letter without case pair
  EXPECT_TRUE(CharType1(0xA0) & kCtSpace);    // no-break space
  EXPECT_TRUE(CharType1(0x80) & kCtPunct);    // the euro sign counts as punctuation
  EXPECT_TRUE(CharType1(0x09) & kCtBlank);
  EXPECT_FALSE(CharType1('5') & kCtAlpha);
  for (int b = 0; b < 256; ++b) EXPECT_TRUE(CharType1(static_cast<uint8_t>(b)) & kCtDefined);
}
