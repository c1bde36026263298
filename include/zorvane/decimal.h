// `decimal`: the library's number for amounts, quantities and rates.
//
// A decimal is one IEEE 754 double that every typed operation brings back to
// the precision of a logical type (eZorLogType): 0 to 4 decimals for the types
// 0 to 4, 8 decimals for type 5 (Float), 0 for type 7 (Int) and type 19, and
// the document configuration's money type for type 6. Exactness comes from
// that rounding, not from an integer representation:
//   - a value is null when it lies within 1e-9 of 0;
//   - a value is valid when it is finite and |v| <= 4503599627370400.
// Rounding, text conversions and type 6 read the current document
// configuration (ZorGetDocConfig); it must not change while other threads
// convert. A decimal is a plain value, copied by value, with no locking.
//
// Typed operations raise ZorEBasic (module 1, source "ZorDecimal") with the
// codes (1, 16) for a domain failure, (1, 17) for a division by a null value
// and (1, 25) for a logical type that has no rounding factor; the operations
// that take a `raise` flag give 0 instead when it is false. Parsing never
// raises.
#pragma once

#include <zorvane/log_type.h>
#include <zorvane/types.h>

#include <cmath>

namespace zorvane {

class string;

// Rounding factor of each logical type, 0 for the types that have none (type
// 6 has none of its own: it resolves through the configuration's money type).
inline constexpr double kZorDecimalFactor[20] = {1, 10, 100, 1000, 10000, 1e8, 0, 1, 0, 0,
                                                 0, 0,  0,   0,    0,     0,   0, 0, 0, 1};

namespace decimal_detail {
// Rounding mode 0 of a value already scaled by a factor: 1e-8 away from zero,
// then to nearest with ties to even (the default floating-point environment).
// A zero of either sign stays that zero.
inline double RoundNearestScaled(double s) { return std::nearbyint(s + std::copysign(1e-8, s)); }
}  // namespace decimal_detail

// How a value already scaled by the rounding factor becomes an integer.
// Any value above 4 (or below 0) acts as kZorRoundNearest.
enum eZorRound : int32_t {
  kZorRoundNearest = 0,  // add 1e-8 away from zero, then to nearest (ties to even)
  kZorRoundCeil = 1,     // toward +infinity
  kZorRoundFloor = 2,    // toward -infinity
  kZorRoundTrunc = 3,    // toward zero
  kZorRoundEven = 4,     // to nearest, ties to even, no nudge
};

class ZOR_API decimal {
 public:
  static constexpr double kNullEpsilon = 1e-9;
  static constexpr double kMaxValid = 4503599627370400.0;

  // ------------------------------------------------------------ construction
  constexpr decimal() = default;
  constexpr decimal(int32_t v) : _value(v) {}  // NOLINT(runtime/explicit)
  constexpr decimal(int64_t v) : _value(static_cast<double>(v)) {}  // NOLINT(runtime/explicit)
  decimal(double v, eZorLogType type);  // rounded to the type

  // ------------------------------------------------------------ access
  decimal& SetValue(double v, eZorLogType type);  // rounded to the type
  double GetValue(eZorLogType type) const;        // a rounded copy
  void _setDouble(double v) { _value = v; }       // raw, no rounding
  double _getDouble() const { return _value; }    // raw
  void Clear() { _value = 0; }
  decimal& Abs();
  decimal& InvertSign();
  bool IsNegative() const { return _value < 0; }
  bool IsPositive() const { return _value > 0; }
  bool IsNull() const { return _value >= -kNullEpsilon && _value <= kNullEpsilon; }
  bool IsValid() const;
  int32_t Sign() const;  // 0 when null, else -1 or 1

  // ------------------------------------------------------------ rounding
  decimal& FixPrec(eZorLogType type, eZorRound mode);
  decimal& Round(eZorRound mode);  // to an integer
  // value = round(value / step, mode) * step, then rounded to the type. A null
  // step is one unit of the type's last decimal (types 0-5 and 7 only).
  decimal& RoundTo(const decimal& step, eZorRound mode, eZorLogType type);

  // ------------------------------------------------------------ typed arithmetic
  // Each result is rounded to `type` with kZorRoundNearest. The most used
  // ones are inline: they run once per amount in sums and scripts.
  // A null operand is refused with ZorEBasic (1, 23).
  decimal& Set(const decimal* d, eZorLogType type) { return _storeTyped(_of(d), type); }
  decimal& Add(const decimal* d, eZorLogType type) { return _storeTyped(_value + _of(d), type); }
  decimal& Add(int32_t n, eZorLogType type) { return _storeTyped(_value + n, type); }
  decimal& Sub(const decimal* d, eZorLogType type) { return _storeTyped(_value - _of(d), type); }
  decimal& Sub(int32_t n, eZorLogType type) { return _storeTyped(_value - n, type); }
  decimal& Mul(const decimal* d, eZorLogType type) { return _storeTyped(_value * _of(d), type); }
  decimal& Mul(int32_t n, eZorLogType type) { return _storeTyped(_value * n, type); }
  decimal& Div(const decimal* d, eZorLogType type, bool raise);
  decimal& Div(int32_t n, eZorLogType type, bool raise);
  decimal& Pow(const decimal* exponent, eZorLogType type);  // this ^ exponent
  decimal& Pow(int32_t exponent, eZorLogType type);
  decimal& Pow10(const decimal* exponent, eZorLogType type);  // 10 ^ exponent
  decimal& Pow10(int32_t exponent, eZorLogType type);
  decimal& Exp(const decimal* x, eZorLogType type);  // e ^ x
  decimal& Ln(const decimal* x, eZorLogType type, bool raise);     // x > 0
  decimal& Log10(const decimal* x, eZorLogType type, bool raise);  // x > 0
  decimal& Sqr(eZorLogType type, bool raise);  // square root of this value
  // The n-th root of this value (n >= 1); a negative value has one only for
  // an odd n.
  decimal& SqrN(int32_t n, eZorLogType type, bool raise);
  decimal& Ratio(const decimal* a, const decimal* b, eZorLogType type, bool raise);  // a * 100 / b
  decimal& Fact(int32_t n, eZorLogType type, bool raise);  // n!, n >= 1
  decimal& Sin(const decimal* radians, eZorLogType type);
  decimal& Cos(const decimal* radians, eZorLogType type);
  decimal& Tan(const decimal* radians, eZorLogType type);

  // ------------------------------------------------------------ business
  decimal& Perc(const decimal* a, const decimal* b, eZorLogType type);  // a * b / 100
  // this + this * rate / 100; with `subtract` the rate is negated first.
  decimal& AddPerc(const decimal* rate, eZorLogType type, bool subtract);
  decimal& TTC(const decimal* ht, const decimal* rate, eZorLogType type);
  decimal& HT(const decimal* ttc, const decimal* rate, eZorLogType type);
  decimal& TVAPerc(const decimal* ht, const decimal* ttc, eZorLogType type);
  decimal& TVAFromHT(const decimal* ht, const decimal* rate, eZorLogType type);
  decimal& TVAFromTTC(const decimal* ttc, const decimal* rate, eZorLogType type);
  // value / rate rounded to 2 decimals (kZorRoundEven); a null pointer rate
  // is the configuration's euro rate, a null rate value keeps `value`.
  decimal& ToEuro(const decimal* value, const decimal* rate = nullptr);
  // value * rate rounded to the money type; a null pointer rate is the
  // configuration's euro rate.
  decimal& ToMoney(const decimal* value, const decimal* rate = nullptr);
  static double CurEuroRate();

  // ------------------------------------------------------------ comparison
  // Both values scaled by the type's factor and rounded with the mode, then
  // compared: -1, 0 or 1. Types 0-7 only (6 resolved first).
  int32_t Cmp(double other, eZorLogType type, eZorRound mode) const;
  int32_t Cmp(const decimal* other, eZorLogType type, eZorRound mode) const;

  // ------------------------------------------------------------ operators
  // +, -, *, / and ^ give a new value rounded to type 5; / raises (1, 17) for
  // a null divisor. The compound forms are raw double operations.
  decimal operator+(const decimal& d) const;
  decimal operator-(const decimal& d) const;
  decimal operator*(const decimal& d) const;
  decimal operator/(const decimal& d) const;
  decimal operator^(const decimal& exponent) const;
  decimal operator^(int32_t exponent) const;
  decimal& operator+=(const decimal& d) {
    _value += d._value;
    return *this;
  }
  decimal& operator-=(const decimal& d) {
    _value -= d._value;
    return *this;
  }
  decimal& operator*=(const decimal& d) {
    _value *= d._value;
    return *this;
  }
  decimal& operator/=(const decimal& d);

  // Exact comparison of the doubles.
  friend bool operator==(const decimal& a, const decimal& b) { return a._value == b._value; }
  friend bool operator<(const decimal& a, const decimal& b) { return a._value < b._value; }
  friend bool operator<=(const decimal& a, const decimal& b) { return a._value <= b._value; }
  friend bool operator>(const decimal& a, const decimal& b) { return a._value > b._value; }
  friend bool operator>=(const decimal& a, const decimal& b) { return a._value >= b._value; }
  // The value rounded to an integer (kZorRoundNearest), then compared.
  bool operator==(int32_t n) const;

  // ------------------------------------------------------------ text
  // The value rounded to the type, with the configuration's separators. A
  // null value gives the empty text, except for type 7, which shows 0; type 7
  // is never grouped; a type other than 0-5 and 7 (6 resolved) gives the
  // empty text. Returns dst's text.
  const char* ToStr(string* dst, eZorLogType type) const;
  // A separator of 1 is the configuration's, 0 is none. A null value gives
  // the empty text unless showZero.
  const char* ToStr(string* dst, eZorLogType type, bool showZero, char thousandsSep, char decimalSep) const;
  // Canonical form: "-", no grouping, "." and all the type's decimals (type 5
  // trimmed). Null values are written too. A non-finite value (or one beyond
  // 19 integer digits) gives the empty text.
  const char* ToKernel(string* dst, eZorLogType type) const;

  // Parsing: leading blanks, an optional sign, then digits with the accepted
  // separators; the value is rounded to the type. False (and 0) for any other
  // character, a second decimal point or a type without a factor; the empty
  // text gives 0 and true.
  bool Set(const char* text, eZorLogType type);        // configuration's separators
  bool SetKernel(const char* text, eZorLogType type);  // "." only, no grouping
  // The given single separators; 0 is none, 1 the configuration's.
  bool Set(const char* text, eZorLogType type, bool allowSign, char thousandsSep, char decimalSep);

 private:
  static double _of(const decimal* d) {
    if (!d) _refuseNull();
    return d->_value;
  }
  [[noreturn]] static void _refuseNull();
  // SetValue with the types that have a factor rounded in place; type 6 and
  // the types without a factor take the library's path.
  decimal& _storeTyped(double v, eZorLogType type) {
    const auto t = static_cast<uint32_t>(type);
    const double factor = t < 20 ? kZorDecimalFactor[t] : 0;
    if (factor == 0) return SetValue(v, type);
    _value = decimal_detail::RoundNearestScaled(v * factor) / factor;
    return *this;
  }

  double _value = 0;
};

inline constexpr decimal Dec_0{0};
inline constexpr decimal Dec_1{1};
inline constexpr decimal Dec_10{10};
inline constexpr decimal Dec_12{12};
inline constexpr decimal Dec_100{100};
inline constexpr decimal Dec_1000{1000};

// round(v * factor, mode) / factor with the type's factor (type 6 resolved
// through the configuration). Raises (1, 25) for a type without a factor.
ZOR_API double ZorRoundDouble(double v, eZorLogType type, eZorRound mode);
ZOR_API double ZorFixPrec(double v, eZorLogType type, eZorRound mode);
ZOR_API double ZorRoundTo(double value, double step, eZorLogType type, eZorRound mode);

// The constant payment per period that repays `*result` (the capital, on
// entry) in `periods` periods at `ratePerc` percent per period:
// C * r / (1 - (1 + r)^-n) with r = rate / 100, C / n for a null rate, and 0
// for periods <= 0. The result replaces the capital, rounded to the type.
ZOR_API void ZorAnnuity(decimal* result, const decimal* ratePerc, int32_t periods, eZorLogType type);

}  // namespace zorvane
