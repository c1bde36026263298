// Text forms of `decimal`: display (ToStr), canonical "kernel" form
// (ToKernel), parsing (the Set forms) and the classification of typed text.
//
// Writing. The value is first rounded to its type (n decimals, 8 for type
// 5). Its magnitude x is cut into floor(x) as 19 digits and
// floor((x - floor(x)) * 10^(n+1)) as n + 1 digits; the extra digit rounds
// the text half up, carrying leftwards through the 9s into the integer
// digits, and is dropped. The layout then skips the leading zeros (keeping
// one), groups the integer digits by three from the right when a thousands
// separator is asked, and appends the separator and the n fraction digits
// (type 5 trims its trailing zeros). Everything is built in fixed buffers on
// the stack and stored with one assignment to the caller's string.
//
// Reading. Blanks, an optional sign, then a run of digits, accepted
// thousands separators (skipped) and at most one accepted decimal separator;
// at most 253 such characters are looked at. Of the digits, the first 18
// significant ones form an integer m (later ones only move the exponent),
// converted exactly as high * 1e9 + low and scaled by 10^e through a table of
// binary powers of ten, low bit first. The sign is applied and the value is
// rounded to the type with mode 0. Parsing never raises: a bad text, or a
// type without a rounding factor, gives 0 and false.
#include <zorvane/decimal.h>

#include <zorvane/doc_config.h>
#include <zorvane/exception.h>
#include <zorvane/string.h>

#include <cmath>
#include <cstring>

#include "foundation/values/decimal_rules.h"

namespace zorvane {

namespace {

using decimal_rules::DecimalsOf;
using decimal_rules::FactorOf;
using decimal_rules::IsNullValue;
using decimal_rules::ResolveType;

constexpr int32_t kIntDigits = 19;
constexpr int32_t kMaxKept = 253;
constexpr int32_t kMaxSignificant = 18;
constexpr double kLimit19Digits = 9.2e18;  // below 2^63: floor(x) fits an int64_t
constexpr double kPow10[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
constexpr double kBinaryPow10[] = {1e1, 1e2, 1e4, 1e8, 1e16, 1e32, 1e64, 1e128, 1e256};

// The digits of a rounded value: 19 integer digits and n + 1 fraction digits,
// already rounded on the text (the extra digit is left in place, unused).
struct Digits {
  char integer[kIntDigits];
  char fraction[10];
};

void WriteFixed(char* dst, int32_t count, uint64_t v) {
  for (int32_t i = count - 1; i >= 0; --i) {
    dst[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
}

// Adds one unit to the last of the n fraction digits (or to the integer
// digits when n is 0), carrying leftwards.
void CarryUp(Digits* d, int32_t n) {
  for (int32_t i = n - 1; i >= 0; --i) {
    if (d->fraction[i] != '9') {
      ++d->fraction[i];
      return;
    }
    d->fraction[i] = '0';
  }
  for (int32_t i = kIntDigits - 1; i >= 0; --i) {
    if (d->integer[i] != '9') {
      ++d->integer[i];
      return;
    }
    d->integer[i] = '0';
  }
}

// False when |v| does not fit 19 integer digits (or is not a number).
bool ExtractDigits(double v, int32_t n, Digits* d) {
  const double x = std::fabs(v);
  if (!(x < kLimit19Digits)) return false;
  const double ip = std::floor(x);
  WriteFixed(d->integer, kIntDigits, static_cast<uint64_t>(ip));
  const double scale = kPow10[n + 1];
  double frac = std::floor((x - ip) * scale);
  if (frac >= scale) frac = scale - 1;  // unreachable for a value rounded to n decimals
  WriteFixed(d->fraction, n + 1, static_cast<uint64_t>(frac));
  if (d->fraction[n] >= '5') CarryUp(d, n);
  return true;
}

// Appends the integer digits, grouped by three when `sep` is not 0.
char* LayoutInteger(const Digits& d, char sep, char* out) {
  int32_t first = 0;
  while (first < kIntDigits - 1 && d.integer[first] == '0') ++first;
  for (int32_t i = first; i < kIntDigits; ++i) {
    if (sep != 0 && i != first && (kIntDigits - i) % 3 == 0) *out++ = sep;
    *out++ = d.integer[i];
  }
  return out;
}

// Writes the rounded value `v` of a type with n decimals into `buf` (at
// least 64 bytes); returns the length, or -1 when the value has no text.
int32_t Layout(double v, int32_t n, bool trim, char thousandsSep, char decimalSep, char* buf) {
  Digits d;
  if (!ExtractDigits(v, n, &d)) return -1;
  char* out = buf;
  if (v < 0) *out++ = '-';
  out = LayoutInteger(d, thousandsSep, out);
  int32_t kept = n;
  if (trim) {
    while (kept > 0 && d.fraction[kept - 1] == '0') --kept;
  }
  if (kept > 0) {
    if (decimalSep != 0) *out++ = decimalSep;
    std::memcpy(out, d.fraction, static_cast<size_t>(kept));
    out += kept;
  }
  return static_cast<int32_t>(out - buf);
}

// The text of a null value shown with showZero.
int32_t ZeroText(int32_t n, bool trim, char decimalSep, char* buf) {
  if (n == 0 || trim) {
    buf[0] = '0';
    return 1;
  }
  int32_t len = 0;
  buf[len++] = '0';
  if (decimalSep != 0) buf[len++] = decimalSep;
  for (int32_t i = 0; i < n; ++i) buf[len++] = '0';
  return len;
}

char ConfiguredOr(char given, char configured) { return given == 1 ? configured : given; }

// ---------------------------------------------------------------- parsing

// A set of at most three accepted characters, NUL-terminated.
bool InSet(char c, const char* set) {
  for (; *set != 0; ++set) {
    if (*set == c) return true;
  }
  return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The significant digits of a text and the power of ten that places them.
struct Mantissa {
  uint64_t digits = 0;
  int32_t significant = 0;
  int32_t exponent = 0;

  void Push(int32_t digit, bool afterPoint) {
    if (significant == 0 && digit == 0) {
      if (afterPoint) --exponent;
    } else if (significant < kMaxSignificant) {
      digits = digits * 10 + static_cast<uint64_t>(digit);
      ++significant;
      if (afterPoint) --exponent;
    } else if (!afterPoint) {
      ++exponent;
    }
  }
};

double Scale(double v, int32_t exponent) {
  const bool divide = exponent < 0;
  uint32_t e = static_cast<uint32_t>(divide ? -exponent : exponent);
  for (int32_t i = 0; e != 0; ++i, e >>= 1) {
    if (e & 1) v = divide ? v / kBinaryPow10[i] : v * kBinaryPow10[i];
  }
  return v;
}

// Reads the number of `p` (the sign already taken) into *m. False for a
// character outside the accepted ones or a second decimal point.
bool ScanDigits(const char* p, const char* thousands, const char* decimals, Mantissa* m) {
  bool afterPoint = false;
  for (int32_t kept = 0; *p != 0 && kept < kMaxKept; ++p) {
    const char c = *p;
    if (InSet(c, thousands)) continue;
    if (InSet(c, decimals)) {
      if (afterPoint) return false;
      afterPoint = true;
    } else if (c >= '0' && c <= '9') {
      m->Push(c - '0', afterPoint);
    } else {
      return false;
    }
    ++kept;
  }
  return true;
}

bool ParseText(const char* text, bool allowSign, const char* thousands, const char* decimals, double* out) {
  const char* p = text ? text : "";
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (allowSign && (*p == '-' || *p == '+')) negative = *p++ == '-';
  Mantissa m;
  if (!ScanDigits(p, thousands, decimals, &m)) return false;
  const uint64_t high = m.digits / 1000000000u;
  const uint64_t low = m.digits % 1000000000u;
  double v = static_cast<double>(high) * 1e9 + static_cast<double>(low);
  v = Scale(v, m.exponent);
  *out = negative ? -v : v;
  return true;
}

// A single separator given to Set: 0 none, 1 the configuration's set.
void SeparatorSet(char given, const char* configured, char set[4]) {
  if (given == 1) {
    std::memcpy(set, configured, 3);
    set[3] = 0;
  } else {
    set[0] = given;
    set[1] = 0;
  }
}

// ---------------------------------------------------------------- classification

const char* SkipDigits(const char* p, int32_t* count) {
  *count = 0;
  while (*p >= '0' && *p <= '9') {
    ++p;
    ++*count;
  }
  return p;
}

// h:mm or h:mm:ss (one or two hour digits).
bool LooksLikeTime(const char* p, char sep) {
  int32_t count = 0;
  p = SkipDigits(p, &count);
  if (count < 1 || count > 2) return false;
  for (int32_t group = 0; group < 2; ++group) {
    if (*p != sep || sep == 0) return group == 1 && *p == 0;
    p = SkipDigits(p + 1, &count);
    if (count != 2) return false;
  }
  return *p == 0;
}

// Two or three groups of 1 to 4 digits joined by the accepted date separators.
bool LooksLikeDate(const char* p, const char* seps) {
  for (int32_t group = 1; group <= 3; ++group) {
    int32_t count = 0;
    p = SkipDigits(p, &count);
    if (count < 1 || count > 4) return false;
    if (*p == 0) return group >= 2;
    if (!InSet(*p, seps)) return false;
    ++p;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------- writing

const char* decimal::ToStr(string* dst, eZorLogType type) const {
  return ToStr(dst, type, ResolveType(type) == kZorLogTypeInt, 1, 1);
}

const char* decimal::ToStr(string* dst, eZorLogType type, bool showZero, char thousandsSep, char decimalSep) const {
  ZorNotNull(dst, "ZorDecimal");
  const int32_t resolved = ResolveType(type);
  const int32_t n = DecimalsOf(resolved);
  if (n < 0) return dst->Clear();
  const ZorDocConfig& config = ZorGetDocConfig();
  char thousands = ConfiguredOr(thousandsSep, config.thousandsSeps[0]);
  if (resolved == kZorLogTypeInt) thousands = 0;
  const char point = ConfiguredOr(decimalSep, config.decimalSeps[0]);
  const bool trim = resolved == kZorLogTypeFloat;
  const double v = ZorRoundDouble(_value, static_cast<eZorLogType>(resolved), kZorRoundNearest);
  char buf[64];
  int32_t len = 0;
  if (IsNullValue(v)) {
    if (showZero) len = ZeroText(n, trim, point, buf);
  } else {
    len = Layout(v, n, trim, thousands, point, buf);
  }
  return len > 0 ? dst->Assign(buf, len) : dst->Clear();
}

const char* decimal::ToKernel(string* dst, eZorLogType type) const {
  ZorNotNull(dst, "ZorDecimal");
  const int32_t resolved = ResolveType(type);
  const int32_t n = DecimalsOf(resolved);
  if (n < 0) return dst->Clear();
  const double v = ZorRoundDouble(_value, static_cast<eZorLogType>(resolved), kZorRoundNearest);
  char buf[64];
  const int32_t len = Layout(v, n, resolved == kZorLogTypeFloat, 0, '.', buf);
  return len > 0 ? dst->Assign(buf, len) : dst->Clear();
}

// ---------------------------------------------------------------- reading

bool decimal::Set(const char* text, eZorLogType type, bool allowSign, char thousandsSep, char decimalSep) {
  const ZorDocConfig& config = ZorGetDocConfig();
  char thousands[4];
  char decimals[4];
  SeparatorSet(thousandsSep, config.thousandsSeps, thousands);
  SeparatorSet(decimalSep, config.decimalSeps, decimals);
  _value = 0;
  double v = 0;
  if (!ParseText(text, allowSign, thousands, decimals, &v)) return false;
  if (FactorOf(ResolveType(type)) == 0) return false;
  _value = ZorRoundDouble(v, type, kZorRoundNearest);
  return true;
}

bool decimal::Set(const char* text, eZorLogType type) { return Set(text, type, true, 1, 1); }

bool decimal::SetKernel(const char* text, eZorLogType type) { return Set(text, type, true, 0, '.'); }

// ---------------------------------------------------------------- classification

eZorLogType ZorExpToLogType(const char* text) {
  if (text == nullptr) return kZorLogTypeText;
  while (*text == ' ') ++text;
  size_t len = std::strlen(text);
  while (len > 0 && text[len - 1] == ' ') --len;
  char buf[256];
  if (len == 0 || len >= sizeof(buf)) return kZorLogTypeText;
  std::memcpy(buf, text, len);
  buf[len] = 0;
  decimal d;
  if (std::strpbrk(buf, "0123456789") != nullptr && d.Set(buf, kZorLogTypeFloat)) return kZorLogTypeInt;
  const ZorDocConfig& config = ZorGetDocConfig();
  if (LooksLikeTime(buf, config.timeSep)) return kZorLogTypeTime;
  if (LooksLikeDate(buf, config.dateSeps)) return kZorLogTypeDate;
  return kZorLogTypeText;
}

}  // namespace zorvane
