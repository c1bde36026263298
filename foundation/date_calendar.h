// Calendar arithmetic shared by the date sources (internal).
//
// Day numbers: N = 365y + y/4 - y/100 + y/400 + C[m] + d - 584383, one less
// in January and February of a leap year, where C[m] counts the days before
// month m in a common year. Day 5 is 1 January 1600 and N mod 7 == 0 is a
// Monday. Going back from N to (d, m, y) shifts N to days since 1 March of
// year 0 and splits it into 400-year eras of 146097 days, years of March to
// February (so that the leap day ends the year) and months of 153 days per
// five; it is exact for every N, negative ones included.
//
// Time of day: the fraction of the value, (h*3600 + min*60 + s) / 86400,
// quantised by adding and subtracting kQuantum so that equal times give equal
// bits whatever the day. Reading a value back adds half a second (with the
// value's sign) and takes the day and the second from that, so a value a hair
// below midnight reads as the next day at 00:00:00.
#pragma once

#include <cmath>
#include <cstdint>

namespace zorvane::calendar {

constexpr int32_t kFirstYear = 1600;
constexpr int32_t kLastYear = 9999;
constexpr double kQuantum = 3068038.0;
constexpr double kHalfSecond = 1.0 / 172800.0;
// Values whose magnitude reaches this are not dates; reading them gives zeros.
constexpr double kReadLimit = 1.0e8;

constexpr bool IsLeap(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr int32_t DaysInMonth(int32_t m, int32_t y) {
  constexpr int8_t kLength[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kLength[m];
}

// Day number of a valid (d, m, y) with y >= 1.
constexpr int32_t DayNumber(int32_t d, int32_t m, int32_t y) {
  constexpr int16_t kBefore[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  int32_t n = 365 * y + y / 4 - y / 100 + y / 400 + kBefore[m] + d - 584383;
  return m <= 2 && IsLeap(y) ? n - 1 : n;
}

struct Civil {
  int32_t d, m, y;
};

constexpr Civil CivilFromDay(int64_t n) {
  const int64_t z = n + 584323;  // days since 1 March of year 0
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;                                    // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);            // [0, 365]
  const int64_t mp = (5 * doy + 2) / 153;                                  // March = 0
  const int32_t d = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
  const int32_t m = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  const int32_t y = static_cast<int32_t>(yoe + era * 400 + (m <= 2));
  return {d, m, y};
}

// Monday = 0 .. Sunday = 6, for any N.
constexpr int32_t MondayIndex(int64_t n) { return static_cast<int32_t>(((n % 7) + 7) % 7); }
// Sunday = 0 .. Saturday = 6.
constexpr int32_t SundayIndex(int64_t n) { return MondayIndex(n + 1); }

constexpr bool PartsValid(int32_t d, int32_t m, int32_t y) {
  return y >= kFirstYear && y <= kLastYear && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(m, y);
}

constexpr bool TimeValid(int32_t h, int32_t min, int32_t s) {
  return h >= 0 && h <= 23 && min >= 0 && min <= 59 && s >= 0 && s <= 59;
}

// The quantised fraction of a second count in [0, 86400).
inline double TimeFraction(int32_t seconds) {
  const double q = static_cast<double>(seconds) / 86400.0 + kQuantum;
  return q - kQuantum;
}

// A value read as (day number, second of the day), with rounding to the
// nearest second. Values that are not numbers or too large read as (0, 0).
struct Split {
  int64_t day;
  int32_t second;
};

inline Split SplitValue(double v) {
  if (!(std::fabs(v) < kReadLimit)) return {0, 0};
  const double r = v + (v < 0 ? -kHalfSecond : kHalfSecond);
  const double day = std::floor(r);
  int32_t s = static_cast<int32_t>((r - day) * 86400.0);
  if (s > 86399) s = 86399;
  return {static_cast<int64_t>(day), s};
}

// The value of a day number and the time kept from another value: the part
// of `v` past the start of its (rounded) day.
inline double WithTimeOf(int64_t day, double v) {
  const Split sp = SplitValue(v);
  return static_cast<double>(day) + (v - static_cast<double>(sp.day));
}

// Week number by the library's rule: days before the first week give 0.
constexpr int32_t WeekNumber(int32_t dayOfYear, int32_t jan1Weekday, bool thursdayRule) {
  constexpr int8_t kAdd[7] = {6, 7, 8, 9, 3, 4, 5};
  const int32_t add = jan1Weekday == 4 && thursdayRule ? 10 : kAdd[jan1Weekday];
  return (dayOfYear + add) / 7;
}

// Easter Sunday of a year as a day number; 15 April outside the table of
// 1901-2100; 0 outside 1600-9999.
int32_t EasterDay(int32_t year);

}  // namespace zorvane::calendar
