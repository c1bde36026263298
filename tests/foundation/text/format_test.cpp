// The formatter beyond what the random oracle covers: decimal and date
// types, the debug and exception channels, aliasing of the destination,
// long results, catalogue patterns, and the number-to-text functions against
// the C library's own conversions.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <random>
#include <string>

#include "platform/pointer_check.h"
#include "tests/support/channels.h"

using namespace zorvane;
using zorvane::test::Channels;

namespace {

std::string Fmt(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  string out;
  ZorFormStringV(&out, pattern, args);
  va_end(args);
  return out.CStr();
}

}  // namespace

TEST(FormatErrors, MalformedPlaceholderIsReportedWithThePatternAndKept) {
  Channels ch;
  EXPECT_EQ(Fmt("x^0k ^0s", "A"), "x^0k A");
  ASSERT_EQ(ch.debug.size(), 1u);
  EXPECT_EQ(ch.debug[0], "FormatV incorrect x^0k ^0s\n");
  EXPECT_TRUE(ch.exceptions.empty());
}

TEST(FormatErrors, CharacterAbove255RaisesInsideAndStopsTheFormatting) {
  Channels ch;
  EXPECT_EQ(Fmt("<^0w^1w> ^0i", 'A', 256), "<A^1w> ^0i");
  ASSERT_EQ(ch.exceptions.size(), 1u);
  EXPECT_EQ(ch.exceptions[0], "Cannot convert void* pointer to uchar value");
  EXPECT_EQ(ch.errors[0], ZorErr(1, 23));
  ASSERT_EQ(ch.debug.size(), 1u);
  EXPECT_EQ(ch.debug[0], "ZorFormString: error in the Format string or in the arguments provided\n");
  EXPECT_EQ(Fmt("^0w^1w^2w", 0, 31, 255), "  \xff");
}

TEST(FormatErrors, UnreadablePointersStopTheFormatting) {
  Channels ch;
  const long page = sysconf(_SC_PAGESIZE);
  char* map = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(map, MAP_FAILED);
  ASSERT_EQ(mprotect(map + page, page, PROT_NONE), 0);
  char* edge = map + page - 4;  // 4 readable bytes, then the locked page
  memcpy(edge, "abcd", 4);
  EXPECT_EQ(Fmt("[^0s]", edge), "[^0s]");  // no terminator before the locked page
  edge[3] = 0;
  EXPECT_EQ(Fmt("[^0s]", edge), "[abc]");
  EXPECT_EQ(Fmt("[^0q]", edge), "[^0q]");  // 8 bytes needed
  EXPECT_EQ(Fmt("[^0g]", edge - 4), "[^0g]");  // 16 bytes needed
  EXPECT_EQ(Fmt("[^0y]", edge - 8), "[^0y]");
  int64_t q;
  memcpy(&q, edge - 4, 8);
  EXPECT_EQ(Fmt("[^0q]", edge - 4), "[" + std::to_string(q) + "]");
  // A decimal and a date whose 8 bytes end at the locked page are read.
  static_assert(sizeof(decimal) == 8 && sizeof(date) == 8);
  const decimal amount(1234.5, kZorLogTypeFloat);
  memcpy(edge - 4, &amount, 8);
  EXPECT_EQ(Fmt("[^0.2]", edge - 4), Fmt("[^0.2]", &amount));
  date day;
  day.SetValue(150000.5);
  memcpy(edge - 4, &day, 8);
  EXPECT_EQ(Fmt("[^0t]", edge - 4), Fmt("[^0t]", &day));
  EXPECT_EQ(Fmt("[^0s]", reinterpret_cast<const char*>(0x00475542)), "[^0s]");
  munmap(map, 2 * page);
}

TEST(PointerCheck, RangesAndTexts) {
  using platform::ZorIsBadPtr;
  using platform::ZorIsBadStringPtr;
  const long page = sysconf(_SC_PAGESIZE);
  char* map = static_cast<char*>(mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(map, MAP_FAILED);
  ASSERT_EQ(mprotect(map + 2 * page, page, PROT_NONE), 0);
  EXPECT_TRUE(ZorIsBadPtr(nullptr, 1));
  EXPECT_TRUE(ZorIsBadPtr(reinterpret_cast<void*>(0xFFFF), 1));
  EXPECT_FALSE(ZorIsBadPtr(map, 2 * page));          // spans two readable pages
  EXPECT_TRUE(ZorIsBadPtr(map, 2 * page + 1));       // one byte into the locked page
  EXPECT_TRUE(ZorIsBadPtr(map + 2 * page + 5, 1));
  EXPECT_TRUE(ZorIsBadPtr(reinterpret_cast<void*>(UINTPTR_MAX - 3), 8));  // wraps
  memset(map, 'x', 2 * page);
  EXPECT_TRUE(ZorIsBadStringPtr(map + 10));          // runs into the locked page
  map[2 * page - 1] = 0;
  EXPECT_FALSE(ZorIsBadStringPtr(map + 10));         // text across a page boundary
  EXPECT_TRUE(ZorIsBadStringPtr(map + 10, 100));     // longer than allowed
  EXPECT_FALSE(ZorIsBadStringPtr(map + 2 * page - 1, 0));
  munmap(map, 3 * page);
}

TEST(FormatResult, DestinationMayBeAnArgumentOrThePattern) {
  string s("abc");
  s.Format("^0s-^0s-^0s", s.CStr());
  EXPECT_STREQ(s.CStr(), "abc-abc-abc");
  string p("^0i<^^>");
  p.Format(p.CStr(), 12);
  EXPECT_STREQ(p.CStr(), "12<^>");
}

TEST(FormatResult, LongResultsGrowPastTheStackBuffer) {
  std::string big(5000, 'q');
  big[4999] = 'z';
  std::string want = big + "|" + big + "|" + std::string(3000, '-');
  EXPECT_EQ(Fmt("^0s|^0s|^1s", big.c_str(), std::string(3000, '-').c_str()), want);
  char buffer[20000];
  ZorFormString(buffer, "^0s|^0s|^1s", big.c_str(), std::string(3000, '-').c_str());
  EXPECT_EQ(std::string(buffer), want);
  EXPECT_EQ(Fmt(nullptr), "");
}

TEST(FormatResult, CataloguePatterns) {
  string s;
  EXPECT_STREQ(s.Format(1, 106, 3), "Ko");
  EXPECT_STREQ(ZorFormString(&s, 1, 106, 2), "octets");
  EXPECT_STREQ(ZorFormString(&s, 1, 106, 99), "");
}

TEST(FormatValues, DecimalTypesFollowTheDecimalsOwnText) {
  ZorDocConfig config;  // French defaults: "," and " "
  ZorDocConfigScope scope(config);
  std::mt19937 rng(19);
  std::uniform_real_distribution<double> dist(-1e7, 1e7);
  for (int n = 0; n < 200; ++n) {
    decimal d(dist(rng), kZorLogTypeFloat);
    if (n == 0) d.Clear();
    string want;
    for (int code = 0; code <= 4; ++code) {
      char pattern[8];
      snprintf(pattern, sizeof pattern, "^0.%d", code);
      d.ToStr(&want, static_cast<eZorLogType>(code), true, 1, 1);
      EXPECT_EQ(Fmt(pattern, &d), want.CStr()) << pattern;
      pattern[2] = '!';
      EXPECT_EQ(Fmt(pattern, &d), want.CStr()) << pattern;
    }
    d.ToStr(&want, kZorLogTypeFloat, true, 1, 1);
    EXPECT_EQ(Fmt("^0f", &d), want.CStr());
    EXPECT_EQ(Fmt("^0F", &d), want.CStr());
    d.ToStr(&want, kZorLogTypeMoney, true, 1, 1);
    EXPECT_EQ(Fmt("^0m", &d), want.CStr());
    EXPECT_EQ(Fmt("^0.5^0.6^0!7", &d), "");
  }
  decimal d(1234.5, kZorLogTypeFloat);
  EXPECT_EQ(Fmt("^0.2|^0R12.1|^0r3.2", &d), "1 234,50|     1 234,5|###");
  decimal zero;
  EXPECT_EQ(Fmt("^0.2", &zero), "0,00");
}

TEST(FormatValues, DateTypesUseTheirPatterns) {
  ZorDocConfig config;
  strcpy(config.datePattern, "D/M/CY");
  strcpy(config.datePattern2, "CY-M-D");
  ZorDocConfigScope scope(config);
  date d;
  ASSERT_TRUE(d.Set(14, 7, 2024, nullptr, 9, 5, 7));
  string want;
  const struct { const char *placeholder, *pattern; } cases[] = {
      {"^0d", "D/M/CY"}, {"^0D", "CY-M-D"}, {"^0t", "D/M/CY H:I:S"},
      {"^0T", "d O CY H:I:S"}, {"^0h", "H:I"}, {"^0H", "H:I:S"}};
  for (const auto& c : cases) {
    d.Format(c.pattern, &want);
    EXPECT_EQ(Fmt(c.placeholder, &d), want.CStr()) << c.placeholder;
  }
  EXPECT_EQ(Fmt("^0d", &d), "14/07/2024");
  EXPECT_EQ(Fmt("^0h", &d), "09:05");
}

// The digits themselves are the formatter's (format_oracle.py checks every
// integer and hexadecimal form); here the entry points around them, and the
// hexadecimal reader against the C library.
TEST(NumberText, EntryPointsAndTheHexReader) {
  string s;
  EXPECT_STREQ(ZorLongToStr(INT32_MIN, &s), "-2147483648");
  EXPECT_STREQ(ZorQuadToStr(INT64_MIN, &s), "-9223372036854775808");
  EXPECT_STREQ(ZorLongToStrNz(-7, &s), "-7");
  EXPECT_STREQ(ZorLongToStrNz(0, &s), "");
  EXPECT_STREQ(ZorQuadToStrNz(int64_t{1} << 40, &s), "1099511627776");
  EXPECT_STREQ(ZorQuadToStrNz(0, &s), "");
  EXPECT_STREQ(ZorLongToStrHex(0xABC, &s), "ABC");
  EXPECT_STREQ(ZorLongToStrHex(0, &s, true, false), "0x0");
  EXPECT_STREQ(ZorLongToStrHex(0xABC, &s, true, true), "0x00000ABC");
  EXPECT_STREQ(ZorQuadToStrHex(UINT64_MAX, &s), "FFFFFFFFFFFFFFFF");
  EXPECT_STREQ(ZorQuadToStrHex(0x1F, &s, true), "0x1F");
  EXPECT_STREQ(ZorLongToSize(INT32_MIN, &s), "-2 Go");
  EXPECT_STREQ(ZorLongToSize(INT32_MAX, &s), "1.99 Go");
  EXPECT_STREQ(ZorLongToSize(1035, &s), "1.01 Ko");

  std::mt19937_64 rng(1909);
  char text[64];
  for (int n = 0; n < 20000; ++n) {
    const uint64_t v = rng() >> (rng() % 64);
    snprintf(text, sizeof text, n % 2 ? "%" PRIX64 : " \t\r\n%" PRIx64 "g1", v);
    EXPECT_EQ(ZorStrHexToQuad(text), static_cast<int64_t>(v)) << text;
  }
  EXPECT_EQ(ZorStrHexToQuad("1234567890ABCDEF1"), 0x234567890ABCDEF1);  // wraps
  EXPECT_EQ(ZorStrHexToQuad(" x12"), 0);
  EXPECT_EQ(ZorStrHexToQuad(nullptr), 0);
}
