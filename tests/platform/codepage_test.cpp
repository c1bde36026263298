// The character classes of the code page. Its conversion tables are checked
// byte by byte against Python's codecs through the string functions
// (tests/foundation/text/string_text_oracle.py).
#include "platform/codepage.h"

#include <gtest/gtest.h>

using namespace zorvane::platform;

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
