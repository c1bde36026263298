// `date`: construction from parts, reading the parts back, clocks, Unix time
// and comparisons.
//
// The value is a day number plus the time of day as a fraction (see
// date_calendar.h for the formulas and the rounding of reads). Every part is
// read from SplitValue, so day and time always agree with each other; the
// empty date (exactly 0), and any value that is not a moment of the calendar
// (calendar::Readable), reads as zeros everywhere. Nothing here reads the
// document configuration except the week rule of Get(ZorDateGetWeek) and the
// work date.
//
// Choices of this library where the date rules leave them open:
// - Diff counts this - other: days and weeks from the day numbers (times
//   ignored), months and years as whole calendar periods (a month counts once
//   the day of the month is reached), hours, minutes and seconds from the full
//   values, and working days with the rules of IsDayOff.
// - Range and Borne treat an empty or missing bound as open.
// - Unix time reads the date as UTC; UTCToLocalTime and LocalTimeToUTC convert
//   with the process's time zone (localtime_r, mktime, timegm).
#include <zorvane/date.h>
#include <zorvane/exception.h>

#include <ctime>

#include "foundation/values/date_calendar.h"

namespace zorvane {

using calendar::CivilFromDay;
using calendar::SplitValue;

namespace {

struct Parts {
  int32_t d = 0, m = 0, y = 0, h = 0, min = 0, s = 0;
  int32_t doy = 0;
  int64_t day = 0;
  int32_t second = 0;
};

Parts ReadParts(double v) {
  Parts p;
  if (!calendar::Readable(v)) return p;
  const calendar::Split sp = SplitValue(v);
  const calendar::Civil c = CivilFromDay(sp.day);
  p.d = c.d;
  p.m = c.m;
  p.y = c.y;
  p.doy = c.dayOfYear;
  p.day = sp.day;
  p.second = sp.second;
  p.h = sp.second / 3600;
  p.min = sp.second / 60 % 60;
  p.s = sp.second % 60;
  return p;
}

double Compose(int64_t day, int32_t second) {
  return static_cast<double>(day) + calendar::TimeFraction(second);
}

bool FromTm(date* dst, const struct tm& t, bool withTime) {
  return dst->Set(t.tm_mday, t.tm_mon + 1, t.tm_year + 1900, nullptr, withTime ? t.tm_hour : 0,
                  withTime ? t.tm_min : 0, withTime ? t.tm_sec : 0);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

int64_t TotalSeconds(const Parts& p) { return p.day * 86400 + p.second; }

// Whole calendar months from a to b (b - a), truncated toward zero.
int64_t WholeMonths(const Parts& a, const Parts& b) {
  int64_t months = (int64_t{b.y} * 12 + b.m) - (int64_t{a.y} * 12 + a.m);
  if (months > 0 && b.d < a.d) --months;
  if (months < 0 && b.d > a.d) ++months;
  return months;
}

}  // namespace

bool ZorIsDateValid(double value) { return value >= date::kMinValue && value < date::kLastDay + 1.0; }

bool date::IsValid() const { return ZorIsDateValid(_value); }

bool date::Set(int32_t d, int32_t m, int32_t y, const date* ref, int32_t h, int32_t min, int32_t s) {
  if (ref != nullptr && (d == 0 || m == 0 || y == 0)) {
    const Parts r = ReadParts(ref->_value);
    if (d == 0) d = r.d;
    if (m == 0) m = r.m;
    if (y == 0) y = r.y;
  }
  const bool noTime = (h | min | s) == 0;
  if (!calendar::PartsValid(d, m, y) || (!noTime && !calendar::TimeValid(h, min, s))) {
    _value = 0;
    return false;
  }
  const int32_t day = calendar::DayNumber(d, m, y);
  _value = noTime ? static_cast<double>(day) : Compose(day, h * 3600 + min * 60 + s);
  return true;
}

bool date::SetTime(int32_t h, int32_t min, int32_t s) {
  if (!calendar::TimeValid(h, min, s)) return false;
  _value = Compose(SplitValue(_value).day, h * 3600 + min * 60 + s);
  return true;
}

void date::SetTime(const date* other) {
  const int32_t second = other ? ReadParts(other->_value).second : 0;
  _value = Compose(SplitValue(_value).day, second);
}

void date::Get(int32_t* d, int32_t* m, int32_t* y, int32_t* dayOfYear, eZorWeekDay* wd, bool* leap) const {
  calendar::Civil c{0, 0, 0, 0};
  int64_t day = 0;
  const bool readable = calendar::Readable(_value);
  if (readable) {
    day = SplitValue(_value).day;
    c = CivilFromDay(day);
  }
  if (d) *d = c.d;
  if (m) *m = c.m;
  if (y) *y = c.y;
  if (dayOfYear) *dayOfYear = c.dayOfYear;
  if (wd) *wd = static_cast<eZorWeekDay>(readable ? calendar::SundayIndex(day) : 0);
  if (leap) *leap = readable && calendar::IsLeap(c.y);
}

void date::GetTime(int32_t* h, int32_t* min, int32_t* s) const {
  const Parts p = ReadParts(_value);
  if (h) *h = p.h;
  if (min) *min = p.min;
  if (s) *s = p.s;
}

int32_t date::Get(eZorDateGet what) const {
  if (!calendar::Readable(_value)) return 0;
  const Parts p = ReadParts(_value);
  switch (what) {
    case ZorDateGetDay: return p.d;
    case ZorDateGetMonth: return p.m;
    case ZorDateGetYear: return p.y;
    case ZorDateGetWeekDay: return calendar::SundayIndex(p.day);
    case ZorDateGetDayOfYear: return p.doy;
    case ZorDateGetWeek:
      return calendar::WeekNumber(p.doy, calendar::SundayIndex(p.day - p.doy + 1), ZorGetDocConfig().weekRule);
    case ZorDateGetQuarter: return (p.m + 2) / 3;
    case ZorDateGetHalfYear: return (p.m + 5) / 6;
    case ZorDateGetDaysInYear: return calendar::IsLeap(p.y) ? 366 : 365;
    case ZorDateGetDaysInMonth: return calendar::DaysInMonth(p.m, p.y);
    case ZorDateGetHour: return p.h;
    case ZorDateGetMinute: return p.min;
    case ZorDateGetSecond: return p.s;
    case ZorDateGetMinuteOfDay: return p.second / 60;
    case ZorDateGetSecondOfDay: return p.second;
  }
  return 0;
}

// ---------------------------------------------------------------- clocks

void date::Today(bool withTime, bool local) {
  const time_t now = time(nullptr);
  struct tm t {};
  if (local) {
    localtime_r(&now, &t);
  } else {
    gmtime_r(&now, &t);
  }
  FromTm(this, t, withTime);
}

// The application server's clock is the machine's own clock here.
void date::ServerDate(bool withTime, bool local) { Today(withTime, local); }

void date::WorkDate() {
  const double work = ZorGetDocConfig().workDate;
  if (work != 0) {
    _value = work;
  } else {
    Today(false, true);
  }
}

void date::UTCToLocalTime() {
  if (_value == 0) return;
  const time_t t = static_cast<time_t>(ToUnixTimeTS());
  struct tm local {};
  if (localtime_r(&t, &local) != nullptr) FromTm(this, local, true);
}

void date::LocalTimeToUTC() {
  if (_value == 0) return;
  const Parts p = ReadParts(_value);
  struct tm t {};
  t.tm_year = p.y - 1900;
  t.tm_mon = p.m - 1;
  t.tm_mday = p.d;
  t.tm_hour = p.h;
  t.tm_min = p.min;
  t.tm_sec = p.s;
  t.tm_isdst = -1;
  const time_t utc = mktime(&t);
  SetUnixTS(static_cast<int64_t>(utc));
}

void date::SetUnixTS(int64_t seconds) {
  const int64_t days = FloorDiv(seconds, 86400);
  _value = Compose(kUnixEpochDay + days, static_cast<int32_t>(seconds - days * 86400));
}

int64_t date::ToUnixTimeTS() const {
  if (_value == 0) return 0;
  const Parts p = ReadParts(_value);
  return (p.day - kUnixEpochDay) * 86400 + p.second;
}

void date::GetSysTime(sZorSysTime* st) const {
  ZorNotNull(st, "ZorDates");
  const Parts p = ReadParts(_value);
  st->wYear = static_cast<uint16_t>(p.y);
  st->wMonth = static_cast<uint16_t>(p.m);
  st->wDayOfWeek = static_cast<uint16_t>(p.day == 0 ? 0 : calendar::SundayIndex(p.day));
  st->wDay = static_cast<uint16_t>(p.d);
  st->wHour = static_cast<uint16_t>(p.h);
  st->wMinute = static_cast<uint16_t>(p.min);
  st->wSecond = static_cast<uint16_t>(p.s);
  st->wMilliseconds = 0;
}

int32_t date::GetTimeZone(sZorTimeZone* tz) {
  ZorNotNull(tz, "ZorDates");
  tzset();
  const time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  *tz = sZorTimeZone{};
  tz->bias = static_cast<int32_t>(timezone / 60);
  tz->daylightBias = daylight ? -60 : 0;
  for (int i = 0; i < 31 && tzname[0] && tzname[0][i]; ++i) tz->standardName[i] = tzname[0][i];
  for (int i = 0; i < 31 && tzname[1] && tzname[1][i]; ++i) tz->daylightName[i] = tzname[1][i];
  if (!daylight) return 0;
  return t.tm_isdst > 0 ? 2 : 1;
}

// ---------------------------------------------------------------- comparison

int32_t date::Compare(const date* other, uint32_t mask) const {
  const Parts a = ReadParts(_value);
  const Parts b = ReadParts(other ? other->_value : 0);
  const int32_t pairs[6][2] = {{a.y, b.y}, {a.m, b.m}, {a.d, b.d}, {a.h, b.h}, {a.min, b.min}, {a.s, b.s}};
  for (int i = 0; i < 6; ++i) {
    if ((mask & (1u << i)) && pairs[i][0] != pairs[i][1]) return pairs[i][0] > pairs[i][1] ? 1 : -1;
  }
  return 0;
}

int64_t date::Diff(const date* other, eZorDateDiff kind) const {
  const Parts a = ReadParts(_value);
  const Parts b = ReadParts(other ? other->_value : 0);
  switch (kind) {
    case ZorDateDiffDays: return a.day - b.day;
    case ZorDateDiffWeeks: return (a.day - b.day) / 7;
    case ZorDateDiffMonths: return WholeMonths(b, a);
    case ZorDateDiffYears: return WholeMonths(b, a) / 12;
    case ZorDateDiffHours: return (TotalSeconds(a) - TotalSeconds(b)) / 3600;
    case ZorDateDiffMinutes: return (TotalSeconds(a) - TotalSeconds(b)) / 60;
    case ZorDateDiffSeconds: return TotalSeconds(a) - TotalSeconds(b);
    case ZorDateDiffWorkDays: {
      if (a.day == b.day) return 0;
      // Working days in (earlier, later].
      date first, last;
      first.SetValue(static_cast<double>((a.day < b.day ? a.day : b.day) + 1));
      last.SetValue(static_cast<double>(a.day < b.day ? b.day : a.day));
      const int32_t n = GetNbDayWork(&first, &last);
      return a.day > b.day ? n : -n;
    }
  }
  return 0;
}

bool date::Range(const date* a, const date* b) const {
  if (a && a->_value != 0 && _value < a->_value) return false;
  if (b && b->_value != 0 && _value > b->_value) return false;
  return true;
}

bool date::Borne(const date* a, const date* b) {
  const double old = _value;
  if (a && a->_value != 0 && _value < a->_value) _value = a->_value;
  if (b && b->_value != 0 && _value > b->_value) _value = b->_value;
  return _value != old;
}

int64_t ZorHashDate(const date* d, eZorDateGet what) {
  if (d == nullptr || !calendar::Readable(d->GetValue())) return 0;
  const Parts p = ReadParts(d->GetValue());
  switch (what) {
    case ZorDateGetDay: return p.day;
    case ZorDateGetMonth: return int64_t{p.y} * 12 + p.m - 1;
    case ZorDateGetYear: return p.y;
    case ZorDateGetWeek: return int64_t{p.y} * 100 + d->Get(ZorDateGetWeek);
    case ZorDateGetQuarter: return int64_t{p.y} * 10 + (p.m + 2) / 3;
    case ZorDateGetHalfYear: return int64_t{p.y} * 10 + (p.m + 5) / 6;
    case ZorDateGetHour: return p.day * 24 + p.h;
    case ZorDateGetMinute: return (p.day * 24 + p.h) * 60 + p.min;
    case ZorDateGetSecond: return TotalSeconds(p);
    default: return d->Get(what);
  }
}

}  // namespace zorvane
