// Calendar arithmetic shared by the date sources (internal).
//
// Day numbers: N = 365y + y/4 - y/100 + y/400 + C[m] + d - 584383, one less
// in January and February of a leap year, where C[m] counts the days before
// month m in a common year. Day 5 is 1 January 1600 and N mod 7 == 0 is a
// Monday. Going back from N to (d, m, y) shifts N to days since 1 March of
// year 0 and splits it into 400-year eras of 146097 days, years of March to
// February (so that the leap day ends the year) and months found by one
// multiplication; it is exact for every N, negative ones included.
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
constexpr int64_t kFirstDay = 5;        // 1 January 1600
constexpr int64_t kLastDay = 3068041;   // 31 December 9999
constexpr double kQuantum = 3068038.0;
constexpr double kHalfSecond = 1.0 / 172800.0;
// Values whose magnitude reaches this are not dates; reading them gives zeros.
constexpr double kReadLimit = 1.0e8;

// Divisible by 100 means divisible by 4 and 25, by 400 by 16 and 25: one
// remainder and a mask, without branches that random years would mispredict.
constexpr bool IsLeap(int32_t y) { return (y & (y % 25 != 0 ? 3 : 15)) == 0; }

// Month lengths and days before each month of a common year (index = month).
inline constexpr int8_t kMonthLength[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
inline constexpr int16_t kDaysBefore[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

constexpr int32_t DaysInMonth(int32_t m, int32_t y) { return m == 2 && IsLeap(y) ? 29 : kMonthLength[m]; }

// Day number of a valid (d, m, y) with y >= 1.
constexpr int32_t DayNumber(int32_t d, int32_t m, int32_t y) {
  const uint32_t u = static_cast<uint32_t>(y);
  const int32_t n = static_cast<int32_t>(365 * u + u / 4 - u / 100 + u / 400) + kDaysBefore[m] + d - 584383;
  return m <= 2 && IsLeap(y) ? n - 1 : n;
}

struct Civil {
  int32_t d, m, y;
  int32_t dayOfYear;  // from 1 (1 January)
};

// Parts from the year of a March-based year and its day (0 = 1 March). The
// month comes from one multiplication: 2141 * day + 197913 holds the month
// (3 .. 14) in its high 16 bits and 2141 * (day of month - 1) plus a remainder
// below 2141 in its low 16 bits.
constexpr Civil CivilFromMarch(int32_t yearOfMarch, uint32_t marchDay) {
  const uint32_t n3 = 2141 * marchDay + 197913;
  const bool january = marchDay >= 306;  // January or February of the next year
  const int32_t y = yearOfMarch + january;
  const int32_t m = static_cast<int32_t>(n3 >> 16) - (january ? 12 : 0);
  const int32_t d = static_cast<int32_t>((n3 & 0xFFFF) / 2141) + 1;
  const int32_t doy = january ? static_cast<int32_t>(marchDay) - 305 : static_cast<int32_t>(marchDay) + 60 + IsLeap(y);
  return {d, m, y, doy};
}

// Any day number, by 400-year eras (for the values before year 0 too).
constexpr Civil CivilFromAnyDay(int64_t n) {
  const int64_t z = n + 584323;  // days since 1 March of year 0
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;                                        // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
  return CivilFromMarch(static_cast<int32_t>(yoe + era * 400), static_cast<uint32_t>(doy));
}

// The usual days go through centuries and four-year cycles scaled by 4 (so
// that the leap days fall out of the remainders) in unsigned 32-bit
// arithmetic.
constexpr Civil CivilFromDay(int64_t n) {
  const int64_t z = n + 584323;
  if (z < 0 || z > 0x3FFFFFFF) return CivilFromAnyDay(n);
  const uint32_t n1 = 4 * static_cast<uint32_t>(z) + 3;
  const uint32_t century = n1 / 146097;
  const uint32_t n2 = (n1 % 146097) | 3;  // 4 * (day of the century) + 3
  const uint32_t yearOfCentury = n2 / 1461;
  const uint32_t marchDay = n2 % 1461 / 4;
  return CivilFromMarch(static_cast<int32_t>(100 * century + yearOfCentury), marchDay);
}

// Monday = 0 .. Sunday = 6, for any N.
constexpr int32_t MondayIndex(int64_t n) {
  return n >= 0 ? static_cast<int32_t>(static_cast<uint64_t>(n) % 7) : static_cast<int32_t>(((n % 7) + 7) % 7);
}
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
  if (seconds == 0) return 0;
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
  if (v >= 0 && static_cast<double>(static_cast<int64_t>(v)) == v) return {static_cast<int64_t>(v), 0};
  const double r = v + (v < 0 ? -kHalfSecond : kHalfSecond);
  // Truncation is the floor for the usual non-negative values and much cheaper.
  const double day = r >= 0 ? static_cast<double>(static_cast<int64_t>(r)) : std::floor(r);
  int32_t s = static_cast<int32_t>((r - day) * 86400.0);
  if (s > 86399) s = 86399;
  return {static_cast<int64_t>(day), s};
}

// Whether a value reads as a moment of the calendar: its day (after the
// rounding to the second) lies from 1 January 1600 to 31 December 9999. The
// empty date, NaN, infinities and values out of that range do not; their
// parts read as zeros and their texts are empty.
inline bool Readable(double v) {
  const int64_t day = SplitValue(v).day;
  return day >= kFirstDay && day <= kLastDay;
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
