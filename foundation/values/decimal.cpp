// Arithmetic, rounding and business calculations of `decimal`.
//
// Model. A decimal is a plain double; every typed operation computes in
// double and then rounds once to the logical type:
//   ZorRoundDouble(v, type, mode) = RoundScaled(v * factor, mode) / factor
// with the factor 1, 10, 100, 1000, 10000 or 1e8 of the type (6 resolved to
// the configuration's money type first). RoundScaled turns the scaled value
// into an integer by the mode; mode 0 first moves the value 1e-8 away from
// zero and then rounds to nearest with ties to even, so that the halves that
// a binary double cannot hold exactly (2.675 * 100 = 267.49999999999997) still
// go away from zero.
//
// Invariants kept by every function below:
//   - the operation order is the one written (a * b / 100 is (a * b) / 100),
//     in plain doubles, so that results are bit-exact and reproducible by any
//     other IEEE 754 implementation of the same steps;
//   - no operation "repairs" the artefacts of double arithmetic beyond the
//     1e-8 nudge of mode 0;
//   - a failure of a typed operation leaves the value unchanged when it
//     raises, or sets it to 0 when asked not to raise.
// The default floating-point environment (round to nearest) is assumed:
// std::nearbyint then rounds ties to even.
#include <zorvane/decimal.h>

#include <zorvane/doc_config.h>
#include <zorvane/exception.h>

#include <cmath>

#include "foundation/errors/raise.h"
#include "foundation/values/decimal_rules.h"

namespace zorvane {

namespace {

using decimal_rules::FactorOf;
using decimal_rules::IsNullValue;
using decimal_rules::ResolveType;

constexpr char kSource[] = "ZorDecimal";
constexpr int32_t kErrOverflow = 16;  // domain failure
constexpr int32_t kErrZeroDiv = 17;
constexpr int32_t kErrNotImpl = 25;   // a type without a rounding factor

// 0 for a null value, or raises when asked.
double FailValue(int32_t number, bool raise, uint32_t line) {
  if (raise) ZorRaise({kSource, line}, ZorErr(1, number));
  return 0;
}

inline double CheckedFactor(eZorLogType type) {
  const double factor = FactorOf(ResolveType(type));
  if (factor == 0) ZorRaise(kSource, ZorErr(1, kErrNotImpl));
  return factor;
}

// Mode 0 on a scaled value (shared with the inline typed operations).
using decimal_detail::RoundNearestScaled;

inline double RoundScaled(double s, eZorRound mode) {
  switch (mode) {
    case kZorRoundCeil:
      return std::ceil(s);
    case kZorRoundFloor:
      return std::floor(s);
    case kZorRoundTrunc:
      return std::trunc(s);
    case kZorRoundEven:
      return std::nearbyint(s);
    default:
      return RoundNearestScaled(s);
  }
}

// ZorRoundDouble without the exported entry point.
inline double RoundTyped(double v, eZorLogType type, eZorRound mode) {
  const double factor = CheckedFactor(type);
  return RoundScaled(v * factor, mode) / factor;
}

inline double Rounded(double v, eZorLogType type) {
  const double factor = CheckedFactor(type);
  return RoundNearestScaled(v * factor) / factor;
}

// One unit of the type's last decimal (a null step of RoundTo).
double UnitOf(eZorLogType type) {
  switch (type) {
    case kZorLogTypeDec0:
    case kZorLogTypeInt:
      return 1;
    case kZorLogTypeDec1:
      return 0.1;
    case kZorLogTypeDec2:
      return 0.01;
    case kZorLogTypeDec3:
      return 0.001;
    case kZorLogTypeDec4:
      return 0.0001;
    case kZorLogTypeFloat:
      return 1e-8;
    default:
      ZorRaise(kSource, ZorErr(1, kErrNotImpl));
  }
}

// Sets the value rounded to the type (mode 0); the typed operations' common
// tail, kept inside this file so that it inlines.
inline decimal& Store(decimal* d, double v, eZorLogType type) {
  d->_setDouble(Rounded(v, type));
  return *d;
}

// An operand of the typed operations: a null pointer is no value.
const decimal& Operand(const decimal* d) { return *ZorNotNull(d, kSource); }

double EuroRateOr(const decimal* rate) { return rate ? rate->_getDouble() : decimal::CurEuroRate(); }

}  // namespace

void decimal::_refuseNull() { ZorRaiseBadParam(kSource); }

// ---------------------------------------------------------------- free functions

double ZorRoundDouble(double v, eZorLogType type, eZorRound mode) { return RoundTyped(v, type, mode); }

double ZorFixPrec(double v, eZorLogType type, eZorRound mode) { return RoundTyped(v, type, mode); }

double ZorRoundTo(double value, double step, eZorLogType type, eZorRound mode) {
  if (IsNullValue(step)) step = UnitOf(type);
  return RoundTyped(RoundScaled(value / step, mode) * step, type, kZorRoundNearest);
}

void ZorAnnuity(decimal* result, const decimal* ratePerc, int32_t periods, eZorLogType type) {
  ZorNotNull(result, kSource);
  ZorNotNull(ratePerc, kSource);
  const double capital = result->_getDouble();
  double payment = 0;
  if (periods > 0) {
    const double n = periods;
    if (ratePerc->IsNull()) {
      payment = capital / n;
    } else {
      const double r = ratePerc->_getDouble() / 100;
      payment = capital * r / (1 - std::pow(1 + r, -n));
    }
  }
  result->_setDouble(Rounded(payment, type));
}

eZorLogType ZorReduceLogType(eZorLogType type) {
  if ((type >= kZorLogTypeDec0 && type <= kZorLogTypeInt) || type == kZorLogTypeBoolean) return kZorLogTypeInt;
  return type == kZorLogTypeDate ? kZorLogTypeDate : kZorLogTypeText;
}

eZorLogType ZorForceLogTypeNum(eZorLogType type, eZorLogType dflt) {
  return type <= kZorLogTypeInt ? type : dflt;
}

// ---------------------------------------------------------------- access

decimal::decimal(double v, eZorLogType type) : _value(Rounded(v, type)) {}

decimal& decimal::SetValue(double v, eZorLogType type) { return Store(this, v, type); }

double decimal::GetValue(eZorLogType type) const { return Rounded(_value, type); }

decimal& decimal::Abs() {
  _value = std::fabs(_value);
  return *this;
}

decimal& decimal::InvertSign() {
  _value = -_value;
  return *this;
}

bool decimal::IsValid() const { return std::fabs(_value) <= kMaxValid; }  // false for NaN too

int32_t decimal::Sign() const {
  if (IsNull()) return 0;
  return _value < 0 ? -1 : 1;
}

double decimal::CurEuroRate() { return ZorGetDocConfig().euroRate; }

// ---------------------------------------------------------------- rounding

decimal& decimal::FixPrec(eZorLogType type, eZorRound mode) {
  _value = RoundTyped(_value, type, mode);
  return *this;
}

decimal& decimal::Round(eZorRound mode) {
  _value = RoundScaled(_value, mode);
  return *this;
}

decimal& decimal::RoundTo(const decimal& step, eZorRound mode, eZorLogType type) {
  _value = ZorRoundTo(_value, step._value, type, mode);
  return *this;
}

// ---------------------------------------------------------------- typed arithmetic


decimal& decimal::Div(const decimal* d, eZorLogType type, bool raise) {
  if (Operand(d).IsNull()) {
    _value = FailValue(kErrZeroDiv, raise, __LINE__);
    return *this;
  }
  return Store(this, _value / Operand(d)._value, type);
}

decimal& decimal::Div(int32_t n, eZorLogType type, bool raise) {
  if (n == 0) {
    _value = FailValue(kErrZeroDiv, raise, __LINE__);
    return *this;
  }
  return Store(this, _value / n, type);
}

decimal& decimal::Pow(const decimal* exponent, eZorLogType type) {
  return Store(this, std::pow(_value, Operand(exponent)._value), type);
}
decimal& decimal::Pow(int32_t exponent, eZorLogType type) {
  return Store(this, std::pow(_value, static_cast<double>(exponent)), type);
}
decimal& decimal::Pow10(const decimal* exponent, eZorLogType type) {
  return Store(this, std::pow(10.0, Operand(exponent)._value), type);
}
decimal& decimal::Pow10(int32_t exponent, eZorLogType type) {
  return Store(this, std::pow(10.0, static_cast<double>(exponent)), type);
}
decimal& decimal::Exp(const decimal* x, eZorLogType type) { return Store(this, std::exp(Operand(x)._value), type); }

decimal& decimal::Ln(const decimal* x, eZorLogType type, bool raise) {
  if (Operand(x).IsNegative() || Operand(x).IsNull()) {
    _value = FailValue(kErrOverflow, raise, __LINE__);
    return *this;
  }
  return Store(this, std::log(Operand(x)._value), type);
}

decimal& decimal::Log10(const decimal* x, eZorLogType type, bool raise) {
  if (Operand(x).IsNegative() || Operand(x).IsNull()) {
    _value = FailValue(kErrOverflow, raise, __LINE__);
    return *this;
  }
  return Store(this, std::log10(Operand(x)._value), type);
}

decimal& decimal::Sqr(eZorLogType type, bool raise) {
  if (IsNegative() && !IsNull()) {
    _value = FailValue(kErrOverflow, raise, __LINE__);
    return *this;
  }
  return Store(this, std::sqrt(std::fabs(_value)), type);
}

decimal& decimal::SqrN(int32_t n, eZorLogType type, bool raise) {
  const bool negative = IsNegative() && !IsNull();
  if (n <= 0 || (negative && n % 2 == 0)) {
    _value = FailValue(kErrOverflow, raise, __LINE__);
    return *this;
  }
  const double x = std::fabs(_value);
  double root = x;
  if (n == 2) {
    root = std::sqrt(x);
  } else if (n == 3) {
    root = std::cbrt(x);
  } else if (n > 3) {
    root = std::pow(x, 1.0 / n);
  }
  return Store(this, negative ? -root : root, type);
}

decimal& decimal::Ratio(const decimal* a, const decimal* b, eZorLogType type, bool raise) {
  if (Operand(b).IsNull()) {
    _value = FailValue(kErrOverflow, raise, __LINE__);
    return *this;
  }
  return Store(this, Operand(a)._value * Dec_100._value / Operand(b)._value, type);
}

decimal& decimal::Fact(int32_t n, eZorLogType type, bool raise) {
  if (n <= 0) {
    _value = FailValue(kErrOverflow, raise, __LINE__);
    return *this;
  }
  double product = 1;
  for (int32_t i = 2; i <= n && std::isfinite(product); ++i) product *= i;
  return Store(this, product, type);
}

decimal& decimal::Sin(const decimal* radians, eZorLogType type) { return Store(this, std::sin(Operand(radians)._value), type); }
decimal& decimal::Cos(const decimal* radians, eZorLogType type) { return Store(this, std::cos(Operand(radians)._value), type); }
decimal& decimal::Tan(const decimal* radians, eZorLogType type) { return Store(this, std::tan(Operand(radians)._value), type); }

// ---------------------------------------------------------------- business

decimal& decimal::Perc(const decimal* a, const decimal* b, eZorLogType type) {
  return Store(this, Operand(a)._value * Operand(b)._value / Dec_100._value, type);
}

decimal& decimal::AddPerc(const decimal* rate, eZorLogType type, bool subtract) {
  const double r = subtract ? -Operand(rate)._value : Operand(rate)._value;
  return Store(this, _value + _value * r / Dec_100._value, type);
}

decimal& decimal::TTC(const decimal* ht, const decimal* rate, eZorLogType type) {
  return Store(this, Operand(ht)._value * Operand(rate)._value / Dec_100._value + Operand(ht)._value, type);
}

decimal& decimal::HT(const decimal* ttc, const decimal* rate, eZorLogType type) {
  if (Operand(ttc).IsNull()) {
    _value = 0;
    return *this;
  }
  if (Operand(rate).IsNull()) return Store(this, Operand(ttc)._value, type);
  const double divisor = RoundTyped(Dec_100._value + Operand(rate)._value, kZorLogTypeFloat, kZorRoundNearest);
  if (IsNullValue(divisor)) {
    _value = 0;
    return *this;
  }
  _value = RoundTyped(Operand(ttc)._value * Dec_100._value / divisor, type, kZorRoundEven);
  return *this;
}

decimal& decimal::TVAPerc(const decimal* ht, const decimal* ttc, eZorLogType type) {
  if (Operand(ht)._value == Operand(ttc)._value || Operand(ht).IsNull()) {
    _value = 0;
    return *this;
  }
  return Store(this, (Operand(ttc)._value - Operand(ht)._value) * Dec_100._value / Operand(ht)._value, type);
}

decimal& decimal::TVAFromHT(const decimal* ht, const decimal* rate, eZorLogType type) {
  return Store(this, Operand(ht)._value * Operand(rate)._value / Dec_100._value, type);
}

decimal& decimal::TVAFromTTC(const decimal* ttc, const decimal* rate, eZorLogType type) {
  decimal ht;
  ht.HT(ttc, rate, type);
  return Store(this, Operand(ttc)._value - ht._value, type);
}

decimal& decimal::ToEuro(const decimal* value, const decimal* rate) {
  const double r = EuroRateOr(rate);
  const double v = IsNullValue(r) ? Operand(value)._value : Operand(value)._value / r;
  _value = RoundTyped(v, kZorLogTypeDec2, kZorRoundEven);
  return *this;
}

decimal& decimal::ToMoney(const decimal* value, const decimal* rate) {
  return Store(this, Operand(value)._value * EuroRateOr(rate), kZorLogTypeMoney);
}

// ---------------------------------------------------------------- comparison

int32_t decimal::Cmp(double other, eZorLogType type, eZorRound mode) const {
  const int32_t resolved = ResolveType(type);
  const double factor = resolved <= kZorLogTypeInt ? FactorOf(resolved) : 0;
  if (factor == 0) ZorRaise(kSource, ZorErr(1, kErrNotImpl));
  const double a = RoundScaled(_value * factor, mode);
  const double b = RoundScaled(other * factor, mode);
  if (a < b) return -1;
  return a > b ? 1 : 0;
}

int32_t decimal::Cmp(const decimal* other, eZorLogType type, eZorRound mode) const {
  return Cmp(Operand(other)._value, type, mode);
}

// ---------------------------------------------------------------- operators

decimal decimal::operator+(const decimal& d) const { return decimal(_value + d._value, kZorLogTypeFloat); }
decimal decimal::operator-(const decimal& d) const { return decimal(_value - d._value, kZorLogTypeFloat); }
decimal decimal::operator*(const decimal& d) const { return decimal(_value * d._value, kZorLogTypeFloat); }

decimal decimal::operator/(const decimal& d) const {
  if (d.IsNull()) ZorRaise(kSource, ZorErr(1, kErrZeroDiv));
  return decimal(_value / d._value, kZorLogTypeFloat);
}

decimal decimal::operator^(const decimal& exponent) const {
  return decimal(std::pow(_value, exponent._value), kZorLogTypeFloat);
}

decimal decimal::operator^(int32_t exponent) const {
  return decimal(std::pow(_value, static_cast<double>(exponent)), kZorLogTypeFloat);
}

decimal& decimal::operator/=(const decimal& d) {
  if (d.IsNull()) ZorRaise(kSource, ZorErr(1, kErrZeroDiv));
  _value /= d._value;
  return *this;
}

bool decimal::operator==(int32_t n) const { return RoundScaled(_value, kZorRoundNearest) == n; }

}  // namespace zorvane
