// `date` moves (eZorDate codes), Easter and working days.
//
// A move reads the reference value (or the date itself when no reference is
// given) as a day number and a time of day, computes a new day number and
// keeps the time, except for the codes that give a fixed value (-9 .. 0) and
// the time moves (61 .. 65). A move of the empty date, or of a value outside
// the calendar, gives the empty date. A result outside the calendar (1 January 1600 .. 31 December 9999)
// gives the empty date; the searches for a weekday, a working day or a day
// off give it already when they leave [5, 3068038].
//
// Working days, as a French business application counts them: Sunday is
// always off; Saturday is off unless the caller counts "jours ouvrables"
// (IsDayOff's first flag false); the public holidays are 1 January, Easter
// Monday, 1 May, 8 May, Ascension Thursday, Whit Monday, 14 July, 15 August,
// 1 November, 11 November and 25 December. The moves 28 .. 35 use the default
// rules (Saturday, Sunday and holidays off).
//
// Easter Sunday comes from a table of the years 1901 .. 2100 (one byte per
// year: days after 22 March); any other year of the calendar gives 15 April.
#include <zorvane/date.h>
#include <zorvane/exception.h>

#include "foundation/errors/raise.h"
#include "foundation/values/date_calendar.h"

namespace zorvane {

namespace calendar {

namespace {
constexpr int32_t kEasterFirst = 1901;
constexpr int32_t kEasterLast = 2100;
constexpr uint8_t kEasterAfter22March[kEasterLast - kEasterFirst + 1] = {
    16, 8,  21, 12, 32, 24, 9,  28, 20, 5,  25, 16, 1,  21, 13, 32, 17, 9,  29, 13,  // 1901-1920
    5,  25, 10, 29, 21, 13, 26, 17, 9,  29, 14, 5,  25, 10, 30, 21, 6,  26, 18, 2,   // 1921-1940
    22, 14, 34, 18, 10, 30, 15, 6,  26, 18, 3,  22, 14, 27, 19, 10, 30, 15, 7,  26,  // 1941-1960
    11, 31, 23, 7,  27, 19, 4,  23, 15, 7,  20, 11, 31, 23, 8,  27, 19, 4,  24, 15,  // 1961-1980
    28, 20, 12, 31, 16, 8,  28, 12, 4,  24, 9,  28, 20, 12, 25, 16, 8,  21, 13, 32,  // 1981-2000
    24, 9,  29, 20, 5,  25, 17, 1,  21, 13, 33, 17, 9,  29, 14, 5,  25, 10, 30, 21,  // 2001-2020
    13, 26, 18, 9,  29, 14, 6,  25, 10, 30, 22, 6,  26, 18, 3,  22, 14, 34, 19, 10,  // 2021-2040
    30, 15, 7,  26, 18, 3,  23, 14, 27, 19, 11, 30, 15, 7,  27, 11, 31, 23, 8,  27,  // 2041-2060
    19, 4,  24, 15, 7,  20, 12, 31, 23, 8,  28, 19, 4,  24, 16, 28, 20, 12, 32, 16,  // 2061-2080
    8,  28, 13, 4,  24, 9,  29, 20, 12, 25, 17, 8,  21, 13, 33, 24, 9,  29, 21, 6,   // 2081-2100
};
}  // namespace

int32_t EasterDay(int32_t year) {
  if (year < kFirstYear || year > kLastYear) return 0;
  if (year < kEasterFirst || year > kEasterLast) return DayNumber(15, 4, year);
  return DayNumber(22, 3, year) + kEasterAfter22March[year - kEasterFirst];
}

}  // namespace calendar

namespace {

using calendar::Civil;
using calendar::CivilFromDay;
using calendar::DayNumber;
using calendar::DaysInMonth;

constexpr int64_t kSearchFirst = 5;
constexpr int64_t kSearchLast = 3068038;

bool IsHoliday(const Civil& c, int64_t day) {
  switch (c.m * 100 + c.d) {
    case 101: case 501: case 508: case 714: case 815: case 1101: case 1111: case 1225:
      return true;
    default:
      break;
  }
  if (c.m < 3 || c.m > 6) return false;
  const int64_t easter = calendar::EasterDay(c.y);
  return day == easter + 1 || day == easter + 39 || day == easter + 50;
}

bool DayOff(int64_t day, bool saturdayOff, bool holidaysOff) {
  const int32_t wd = calendar::SundayIndex(day);
  if (wd == 0 || (wd == 6 && saturdayOff)) return true;
  return holidaysOff && IsHoliday(CivilFromDay(day), day);
}

// The first day from `day` going by `step` (+1 or -1) whose off state is
// `wantOff`; -1 when the search leaves the range of the moves.
int64_t Search(int64_t day, int32_t step, bool wantOff) {
  for (; day >= kSearchFirst && day <= kSearchLast; day += step) {
    if (DayOff(day, true, true) == wantOff) return day;
  }
  return -1;
}

int64_t AddMonths(const Civil& c, int64_t n, bool keepMonthEnd) {
  const int64_t total = int64_t{c.y} * 12 + (c.m - 1) + n;
  if (total < int64_t{calendar::kFirstYear} * 12 || total > int64_t{calendar::kLastYear} * 12 + 11) return -1;
  const int32_t y = static_cast<int32_t>(total / 12);
  const int32_t m = static_cast<int32_t>(total % 12) + 1;
  const int32_t last = DaysInMonth(m, y);
  const bool wasLast = c.d == DaysInMonth(c.m, c.y);
  const int32_t d = (keepMonthEnd && wasLast) || c.d > last ? last : c.d;
  return DayNumber(d, m, y);
}

int64_t AddYears(const Civil& c, int64_t n) {
  const int64_t y = c.y + n;
  if (y < calendar::kFirstYear || y > calendar::kLastYear) return -1;
  const int32_t year = static_cast<int32_t>(y);
  if (c.m == 2 && c.d == 29 && !calendar::IsLeap(year)) return DayNumber(1, 3, year);
  return DayNumber(c.d, c.m, year);
}

// The period [first, last] month of the quarter (3), half-year (6) or year (12).
int64_t PeriodStart(const Civil& c, int32_t months) { return DayNumber(1, (c.m - 1) / months * months + 1, c.y); }
int64_t PeriodEnd(const Civil& c, int32_t months) {
  const int32_t m = (c.m - 1) / months * months + months;
  return DayNumber(DaysInMonth(m, c.y), m, c.y);
}

// Ten-day periods (width 10) and half-months (width 15); the last one runs to
// the month's end.
int64_t PartStart(const Civil& c, int32_t width, int32_t parts) {
  const int32_t index = (c.d - 1) / width < parts ? (c.d - 1) / width : parts - 1;
  return DayNumber(index * width + 1, c.m, c.y);
}
int64_t PartEnd(const Civil& c, int32_t width, int32_t parts) {
  const int32_t index = (c.d - 1) / width < parts ? (c.d - 1) / width : parts - 1;
  const int32_t end = index == parts - 1 ? DaysInMonth(c.m, c.y) : (index + 1) * width;
  return DayNumber(end, c.m, c.y);
}

int64_t DayOfYear(const Civil& c, int32_t d, int32_t m) { return DayNumber(d, m, c.y); }

// The new day number of a calendar move, or -1 for "no such day".
int64_t MoveDay(int32_t code, int64_t day, int32_t n) {
  const Civil c = CivilFromDay(day);
  const int32_t monday = calendar::MondayIndex(day);
  switch (code) {
    case ZorDatePentecost: return calendar::EasterDay(c.y) ? calendar::EasterDay(c.y) + 49 : -1;
    case ZorDateAscension: return calendar::EasterDay(c.y) ? calendar::EasterDay(c.y) + 39 : -1;
    case ZorDateEaster: return calendar::EasterDay(c.y) ? calendar::EasterDay(c.y) : -1;
    case ZorDateNextDay: return day + 1;
    case ZorDateNext2Days: return day + 2;
    case ZorDatePrevDay: return day - 1;
    case ZorDatePrev2Days: return day - 2;
    case ZorDateNextWeek: return day + 7;
    case ZorDatePrevWeek: return day - 7;
    case ZorDateNextMonth: return AddMonths(c, 1, false);
    case ZorDatePrevMonth: return AddMonths(c, -1, false);
    case ZorDateNextYear: return AddYears(c, 1);
    case ZorDatePrevYear: return AddYears(c, -1);
    case ZorDateWeekMonday: return day - monday;
    case ZorDateWeekSunday: return day - monday + 6;
    case ZorDateWorkDayFrom: return Search(day, 1, false);
    case ZorDateWorkDayAfter: return Search(day + 1, 1, false);
    case ZorDateWorkDayUntil: return Search(day, -1, false);
    case ZorDateWorkDayBefore: return Search(day - 1, -1, false);
    case ZorDateDayOffFrom: return Search(day, 1, true);
    case ZorDateDayOffAfter: return Search(day + 1, 1, true);
    case ZorDateDayOffUntil: return Search(day, -1, true);
    case ZorDateDayOffBefore: return Search(day - 1, -1, true);
    case ZorDateFirstOfMonth: return DayNumber(1, c.m, c.y);
    case ZorDateLastOfMonth: return DayNumber(DaysInMonth(c.m, c.y), c.m, c.y);
    case ZorDateFirstOfYear: case ZorDateFirstOfYearQ: case ZorDateFirstOfYearH: return DayOfYear(c, 1, 1);
    case ZorDateEndOfQ1: return DayOfYear(c, 31, 3);
    case ZorDateStartOfQ2: return DayOfYear(c, 1, 4);
    case ZorDateEndOfQ2: case ZorDateEndOfH1: return DayOfYear(c, 30, 6);
    case ZorDateStartOfQ3: case ZorDateStartOfH2: return DayOfYear(c, 1, 7);
    case ZorDateEndOfQ3: return DayOfYear(c, 30, 9);
    case ZorDateStartOfQ4: return DayOfYear(c, 1, 10);
    case ZorDateLastOfYear: case ZorDateLastOfYearH: case ZorDateLastOfYearY: return DayOfYear(c, 31, 12);
    case ZorDateFirstOfQuarter: return PeriodStart(c, 3);
    case ZorDateLastOfQuarter: return PeriodEnd(c, 3);
    case ZorDateFirstOfHalf: return PeriodStart(c, 6);
    case ZorDateLastOfHalf: return PeriodEnd(c, 6);
    case ZorDateAddDays: return day + n;
    case ZorDateAddMonths: return AddMonths(c, n, false);
    case ZorDateAddYears: return AddYears(c, n);
    case ZorDateAddWeeks: return day + int64_t{n} * 7;
    case ZorDateAddMonthsEnd: return AddMonths(c, n, true);
    case ZorDateFirstOfDecade: return PartStart(c, 10, 3);
    case ZorDateLastOfDecade: return PartEnd(c, 10, 3);
    case ZorDateFirstOfHalfMonth: return PartStart(c, 15, 2);
    case ZorDateLastOfHalfMonth: return PartEnd(c, 15, 2);
    default: break;
  }
  if (code >= ZorDateNextMonday && code <= ZorDateNextSunday) {
    const int32_t k = code - ZorDateNextMonday;
    return day + 1 + (k - calendar::MondayIndex(day + 1) + 7) % 7;
  }
  const int32_t k = code - ZorDatePrevMonday;
  const int64_t prev = day - 1 - (calendar::MondayIndex(day - 1) - k + 7) % 7;
  return prev >= kSearchFirst && prev <= kSearchLast ? prev : -1;
}

// The moves of the time of day; the result may leave the calendar.
double MoveTime(int32_t code, double v, int32_t n) {
  switch (code) {
    case ZorDateAddHours: return v + n * 0.04166666651144624;
    case ZorDateAddMinutes: return v + n * 0.00069444440305233;
    case ZorDateAddSeconds: return v + n * 1.157401129603386e-5;
    case ZorDateStartOfDay: return static_cast<double>(calendar::SplitValue(v).day);
    default: return static_cast<double>(calendar::SplitValue(v).day) + calendar::TimeFraction(86399);
  }
}

// The value of a code that does not read the reference; false for the others.
bool FixedValue(int32_t code, int32_t n, date* out) {
  const ZorDocConfig& config = ZorGetDocConfig();
  switch (code) {
    case ZorDateStored1: out->SetValue(config.storedDate1); return true;
    case ZorDateStored2: out->SetValue(config.storedDate2); return true;
    case ZorDateMax: out->SetValue(date::kMaxValue); return true;
    case ZorDateMin: out->SetValue(date::kMinValue); return true;
    case ZorDateWork: out->WorkDate(); return true;
    case ZorDateToday: out->Today(n != 0, true); return true;
    case ZorDateEmpty: out->Clear(); return true;
    default: return false;
  }
}

bool InCalendar(double v) { return ZorIsDateValid(v); }

}  // namespace

void date::Set(eZorDate code, const date* ref, int32_t n) {
  const int32_t c = code;
  if (c < ZorDateStored1 || c > ZorDateLastOfHalfMonth || c == 1) ZorRaise("ZorDates", ZorErr(1, 23));
  const double base = ref ? ref->_value : _value;
  if (FixedValue(c, n, this)) return;
  if (!InCalendar(base)) {
    _value = 0;
    return;
  }
  if (c >= ZorDateAddHours && c <= ZorDateEndOfDay) {
    const double v = MoveTime(c, base, n);
    _value = InCalendar(v) ? v : 0;
    return;
  }
  const int64_t day = MoveDay(c, calendar::SplitValue(base).day, n);
  const double v = day < 0 ? 0 : calendar::WithTimeOf(day, base);
  _value = InCalendar(v) ? v : 0;
}

bool date::IsDayOff(bool saturdayOff, bool holidaysOff) const {
  if (!calendar::Readable(_value)) return false;
  return DayOff(calendar::SplitValue(_value).day, saturdayOff, holidaysOff);
}

int32_t date::GetNbDayWork(const date* from, const date* to, bool saturdayOff, bool holidaysOff) {
  if (from == nullptr || to == nullptr || !calendar::Readable(from->_value) || !calendar::Readable(to->_value))
    return 0;
  const int64_t first = calendar::SplitValue(from->_value).day;
  const int64_t last = calendar::SplitValue(to->_value).day;
  int32_t count = 0;
  for (int64_t day = first; day <= last; ++day) count += DayOff(day, saturdayOff, holidaysOff) ? 0 : 1;
  return count;
}

}  // namespace zorvane
