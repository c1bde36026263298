// Behaviour of decimal that the oracle (decimal_oracle.py) does not reach:
// the documented examples as fixed anchors, the error paths with their codes
// and source, and the functions computed with the C library (roots,
// logarithms, powers, trigonometry, annuity).
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include "tests/support/test_util.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace zorvane {
namespace {

decimal Raw(double v) {
  decimal d;
  d._setDouble(v);
  return d;
}

ZorDocConfig Separators(const char* decimals, const char* thousands) {
  ZorDocConfig config = ZorGetDocConfig();
  std::memset(config.decimalSeps, 0, sizeof(config.decimalSeps));
  std::memset(config.thousandsSeps, 0, sizeof(config.thousandsSeps));
  std::strncpy(config.decimalSeps, decimals, 3);
  std::strncpy(config.thousandsSeps, thousands, 2);
  return config;
}

// The documented examples anchor the oracle's replica: the nudge of mode 0
// and the even halves. The oracle checks which types raise; here, what the
// exception carries.
TEST(DecimalRounding, DocumentedHalvesAndTypesWithoutFactorRaiseFromTheDecimalSource) {
  EXPECT_EQ(ZorRoundDouble(2.675, kZorLogTypeDec2, kZorRoundNearest), 2.68);
  EXPECT_EQ(ZorRoundDouble(0.125, kZorLogTypeDec2, kZorRoundEven), 0.12);
  try {
    ZorRoundDouble(1.5, kZorLogTypeText, kZorRoundNearest);
    ADD_FAILURE() << "no exception";
  } catch (const ZorEBasic& e) {
    EXPECT_EQ(e.GetError(), ZorErr(1, 25));
    EXPECT_EQ(e.GetModuleId(), 1);
    EXPECT_STREQ(e.GetFileText(), "ZorDecimal");
  }
  EXPECT_LIB_ERROR(25, Raw(1).Cmp(1.0, kZorLogTypeBoolean, kZorRoundNearest));
  EXPECT_LIB_ERROR(25, Raw(1).RoundTo(Dec_0, kZorRoundNearest, kZorLogTypeMoney));
  EXPECT_LIB_ERROR(25, Raw(1).Add(&Dec_1, static_cast<eZorLogType>(-1)));
}

TEST(DecimalValue, NullSignAndValidity) {
  const decimal tiny = Raw(1e-10);
  EXPECT_TRUE(tiny.IsNull());
  EXPECT_TRUE(Raw(-1e-9).IsNull());
  EXPECT_FALSE(Raw(1.1e-9).IsNull());
  EXPECT_EQ(tiny.Sign(), 0);
  EXPECT_EQ(Raw(-1e-8).Sign(), -1);
  EXPECT_TRUE(tiny.IsPositive());  // positive although null
  decimal d = Raw(3.14159);
  EXPECT_EQ(d.GetValue(kZorLogTypeDec2), 3.14);
  EXPECT_EQ(d._getDouble(), 3.14159);  // GetValue leaves the value alone

  const std::pair<double, bool> validity[] = {
      {4503599627370400.0, true}, {-4503599627370400.0, true}, {std::nextafter(4503599627370400.0, 1e300), false},
      {4503599627370496.0, false},  // 2^52 is already beyond the limit
      {std::numeric_limits<double>::infinity(), false}, {std::nan(""), false}};
  for (const auto& [v, valid] : validity) EXPECT_EQ(Raw(v).IsValid(), valid) << v;
}

TEST(DecimalArithmetic, DivisionByNull) {
  const decimal tiny = Raw(1e-10);
  decimal d = Raw(5);
  EXPECT_EQ(d.Div(&tiny, kZorLogTypeDec2, false)._getDouble(), 0);
  d = Raw(5);
  EXPECT_LIB_ERROR(17, d.Div(&tiny, kZorLogTypeDec2, true));
  EXPECT_EQ(d._getDouble(), 5);  // unchanged when it raises
  EXPECT_LIB_ERROR(17, d.Div(0, kZorLogTypeDec2, true));
  EXPECT_EQ(d.Div(0, kZorLogTypeDec2, false)._getDouble(), 0);
  EXPECT_LIB_ERROR(17, (void)(d / tiny));
  EXPECT_LIB_ERROR(17, d /= tiny);
}

TEST(DecimalArithmetic, DomainFailures) {
  const decimal zero = Dec_0, minus = Raw(-4);
  decimal d = Raw(7);
  EXPECT_LIB_ERROR(16, d.Ln(&zero, kZorLogTypeDec2, true));
  EXPECT_LIB_ERROR(16, d.Log10(&minus, kZorLogTypeDec2, true));
  EXPECT_LIB_ERROR(16, d.Ratio(&minus, &zero, kZorLogTypeDec2, true));
  EXPECT_LIB_ERROR(16, d.Fact(0, kZorLogTypeInt, true));
  EXPECT_EQ(d._getDouble(), 7);
  decimal neg = Raw(-4);
  EXPECT_LIB_ERROR(16, neg.Sqr(kZorLogTypeDec2, true));
  EXPECT_LIB_ERROR(16, neg.SqrN(4, kZorLogTypeDec2, true));
  EXPECT_LIB_ERROR(16, Raw(8).SqrN(0, kZorLogTypeDec2, true));
  EXPECT_EQ(neg.Sqr(kZorLogTypeDec2, false)._getDouble(), 0);
  EXPECT_EQ(Raw(5).Ln(&minus, kZorLogTypeDec2, false)._getDouble(), 0);
  EXPECT_EQ(Raw(5).Fact(-3, kZorLogTypeInt, false)._getDouble(), 0);
}

TEST(DecimalArithmetic, FunctionsComputedInDouble) {
  const decimal two = Raw(2), ten = Raw(10), e1 = Dec_1, angle = Raw(M_PI / 4), half = Raw(0.5);
  EXPECT_EQ(Raw(1.5).Pow(&two, kZorLogTypeDec2)._getDouble(), 2.25);
  EXPECT_EQ(Raw(2).Pow(-2, kZorLogTypeDec2)._getDouble(), 0.25);
  EXPECT_EQ(decimal().Pow10(3, kZorLogTypeInt)._getDouble(), 1000);
  EXPECT_EQ(decimal().Pow10(&half, kZorLogTypeDec4)._getDouble(), 3.1623);
  EXPECT_EQ(decimal().Exp(&e1, kZorLogTypeDec4)._getDouble(), 2.7183);
  EXPECT_EQ(decimal().Ln(&ten, kZorLogTypeDec3, true)._getDouble(), 2.303);
  EXPECT_EQ(decimal().Log10(&ten, kZorLogTypeDec3, true)._getDouble(), 1);
  EXPECT_EQ(Raw(2).Sqr(kZorLogTypeFloat, true)._getDouble(), 1.41421356);
  EXPECT_EQ(Raw(-27).SqrN(3, kZorLogTypeDec2, true)._getDouble(), -3);
  EXPECT_EQ(Raw(16).SqrN(4, kZorLogTypeDec2, true)._getDouble(), 2);
  EXPECT_EQ(Raw(5).SqrN(1, kZorLogTypeDec2, true)._getDouble(), 5);
  EXPECT_EQ(decimal().Fact(5, kZorLogTypeInt, true)._getDouble(), 120);
  EXPECT_FALSE(decimal().Fact(171, kZorLogTypeInt, true).IsValid());  // beyond the doubles
  EXPECT_EQ(decimal().Tan(&angle, kZorLogTypeDec4)._getDouble(), 1);
  EXPECT_EQ(decimal().Sin(&angle, kZorLogTypeDec4)._getDouble(), 0.7071);
  EXPECT_EQ(decimal().Cos(&angle, kZorLogTypeDec4)._getDouble(), 0.7071);
  EXPECT_EQ((Raw(1.5) ^ 2)._getDouble(), 2.25);
  EXPECT_EQ((Raw(4) ^ half)._getDouble(), 2);
}

TEST(DecimalArithmetic, OperatorsRoundToEightDecimalsCompoundOnesDoNot) {
  EXPECT_EQ((Raw(0.1) + Raw(0.2))._getDouble(), 0.3);
  decimal raw = Raw(0.1);
  raw += Raw(0.2);
  EXPECT_NE(raw._getDouble(), 0.3);
  // == with an integer rounds the value first; between decimals it is exact.
  EXPECT_TRUE(Raw(2.5) == 3);
  EXPECT_TRUE(Raw(-2.5) != -2);
  EXPECT_FALSE(Raw(2.5) == Raw(3));
  EXPECT_TRUE(Raw(2.5) < Raw(2.5000001));
}

TEST(DecimalBusiness, DocumentedTaxExampleAndAnnuity) {
  const decimal ttc = Raw(120), rate20 = Raw(20);
  EXPECT_EQ(decimal().HT(&ttc, &rate20, kZorLogTypeDec2)._getDouble(), 100);
  const decimal rate = Dec_1, none = Dec_0;
  decimal result = Raw(100000);
  ZorAnnuity(&result, &rate, 12, kZorLogTypeDec2);
  EXPECT_EQ(result._getDouble(), 8884.88);
  result = Raw(1200);
  ZorAnnuity(&result, &none, 12, kZorLogTypeDec2);
  EXPECT_EQ(result._getDouble(), 100);
  ZorAnnuity(&result, &rate, 0, kZorLogTypeDec2);
  EXPECT_EQ(result._getDouble(), 0);
}

// Anchors of the oracle's replica of the text forms.
TEST(DecimalText, DocumentedExamples) {
  ZorDocConfigScope scope(Separators(",", " "));
  string s;
  EXPECT_STREQ(Raw(1234567.891).ToStr(&s, kZorLogTypeDec2), "1 234 567,89");
  EXPECT_STREQ(Dec_0.ToStr(&s, kZorLogTypeDec2), "");
  decimal d = Raw(9);
  EXPECT_TRUE(d.Set("1 234,5", kZorLogTypeDec2));
  EXPECT_EQ(d._getDouble(), 1234.5);
  EXPECT_FALSE(d.Set("1 234,5", kZorLogTypeText));  // never raises
}

TEST(DecimalLogType, Classification) {
  const std::pair<eZorLogType, eZorLogType> reduced[] = {
      {kZorLogTypeDec3, kZorLogTypeInt},  {kZorLogTypeMoney, kZorLogTypeInt}, {kZorLogTypeBoolean, kZorLogTypeInt},
      {kZorLogTypeDate, kZorLogTypeDate}, {kZorLogTypeTime, kZorLogTypeText},
      {static_cast<eZorLogType>(42), kZorLogTypeText}};
  for (const auto& [type, want] : reduced) EXPECT_EQ(ZorReduceLogType(type), want) << type;
  EXPECT_EQ(ZorForceLogTypeNum(kZorLogTypeInt, kZorLogTypeFloat), kZorLogTypeInt);
  EXPECT_EQ(ZorForceLogTypeNum(kZorLogTypeBoolean, kZorLogTypeFloat), kZorLogTypeFloat);

  ZorDocConfigScope scope(Separators(",", " "));
  const std::pair<const char*, eZorLogType> texts[] = {
      {" -1 234,5 ", kZorLogTypeInt}, {"12/05/2020", kZorLogTypeDate}, {"12-05", kZorLogTypeDate},
      {"9:30", kZorLogTypeTime},      {"09:30:15", kZorLogTypeTime},   {"9:3", kZorLogTypeText},
      {"1/2/3/4", kZorLogTypeText},   {"12345/6", kZorLogTypeText},    {"1//2", kZorLogTypeText},
      {",", kZorLogTypeText},         {"abc", kZorLogTypeText},        {"", kZorLogTypeText}};
  for (const auto& [text, type] : texts) EXPECT_EQ(ZorExpToLogType(text), type) << text;
  ZorDocConfigScope commas(Separators(".", ","));
  EXPECT_EQ(ZorExpToLogType("  12.5  "), kZorLogTypeInt);  // the spaces around are no separators here
}

}  // namespace
}  // namespace zorvane
