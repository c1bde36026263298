// `date`: the library's date-and-time value.
//
// A date is one double: the integer part is a day number of the proleptic
// Gregorian calendar (1 January 1600 = 5, 1 January 2000 = 146102,
// 31 December 9999 = 3068041) and the fraction is the time of day. The value
// 0 is the empty date. A date is a plain value: copied by value, no heap, no
// virtual operations.
//
// Text conversions read the current document configuration (ZorGetDocConfig):
// separators, the order of the day, month and year fields, the two-digit-year
// rule, the end-of-month correction, the week rule and the default pattern.
// Every operation that returns text fills a caller's `string` and returns its
// text. Parsing never raises; an unknown move code raises ZorEBasic (1, 23).
#pragma once

#include <zorvane/doc_config.h>
#include <zorvane/types.h>

namespace zorvane {

class string;

// Moves: each code turns a reference date into another (date::Set(code, ...),
// date::Add(code, n)). Weekdays of the week moves count from Monday.
enum eZorDate : int32_t {
  ZorDateStored1 = -9,          // the configuration's first stored date
  ZorDateStored2 = -8,          // the configuration's second stored date
  ZorDatePentecost = -7,        // Pentecost Sunday of the value's year
  ZorDateAscension = -6,        // Ascension Thursday of the value's year
  ZorDateEaster = -5,           // Easter Sunday of the value's year
  ZorDateMax = -4,              // the largest value, 3068038
  ZorDateMin = -3,              // the smallest value, 5 (1 January 1600)
  ZorDateWork = -2,             // the document's work date
  ZorDateToday = -1,            // today (with the time when n != 0)
  ZorDateEmpty = 0,
  ZorDateNextDay = 2,
  ZorDateNext2Days = 3,
  ZorDatePrevDay = 4,
  ZorDatePrev2Days = 5,
  ZorDateNextMonday = 6,        // 6..12: next Monday .. Sunday strictly after
  ZorDateNextTuesday = 7,
  ZorDateNextWednesday = 8,
  ZorDateNextThursday = 9,
  ZorDateNextFriday = 10,
  ZorDateNextSaturday = 11,
  ZorDateNextSunday = 12,
  ZorDatePrevMonday = 13,       // 13..19: previous Monday .. Sunday strictly before
  ZorDatePrevTuesday = 14,
  ZorDatePrevWednesday = 15,
  ZorDatePrevThursday = 16,
  ZorDatePrevFriday = 17,
  ZorDatePrevSaturday = 18,
  ZorDatePrevSunday = 19,
  ZorDateNextWeek = 20,
  ZorDatePrevWeek = 21,
  ZorDateNextMonth = 22,
  ZorDatePrevMonth = 23,
  ZorDateNextYear = 24,
  ZorDatePrevYear = 25,
  ZorDateWeekMonday = 26,
  ZorDateWeekSunday = 27,
  ZorDateWorkDayFrom = 28,      // first working day at or after the value
  ZorDateWorkDayAfter = 29,     // first working day strictly after
  ZorDateWorkDayUntil = 30,     // last working day at or before
  ZorDateWorkDayBefore = 31,    // last working day strictly before
  ZorDateDayOffFrom = 32,
  ZorDateDayOffAfter = 33,
  ZorDateDayOffUntil = 34,
  ZorDateDayOffBefore = 35,
  ZorDateFirstOfMonth = 36,
  ZorDateLastOfMonth = 37,
  ZorDateFirstOfYear = 38,
  ZorDateEndOfQ1 = 39,          // 31 March
  ZorDateStartOfQ2 = 40,        // 1 April
  ZorDateEndOfQ2 = 41,          // 30 June
  ZorDateStartOfQ3 = 42,        // 1 July
  ZorDateEndOfQ3 = 43,          // 30 September
  ZorDateStartOfQ4 = 44,        // 1 October
  ZorDateLastOfYear = 45,
  ZorDateFirstOfQuarter = 46,
  ZorDateLastOfQuarter = 47,
  ZorDateFirstOfYearQ = 48,     // 1 January (quarter series)
  ZorDateEndOfH1 = 49,          // 30 June
  ZorDateStartOfH2 = 50,        // 1 July
  ZorDateLastOfYearH = 51,      // 31 December (half-year series)
  ZorDateFirstOfHalf = 52,
  ZorDateLastOfHalf = 53,
  ZorDateFirstOfYearH = 54,     // 1 January (half-year series)
  ZorDateLastOfYearY = 55,      // 31 December
  ZorDateAddDays = 56,
  ZorDateAddMonths = 57,        // day clamped to the target month's end
  ZorDateAddYears = 58,         // 29 February becomes 1 March in a common year
  ZorDateAddWeeks = 59,
  ZorDateAddMonthsEnd = 60,     // a last day of month stays on the last day
  ZorDateAddHours = 61,
  ZorDateAddMinutes = 62,
  ZorDateAddSeconds = 63,
  ZorDateStartOfDay = 64,       // 00:00:00
  ZorDateEndOfDay = 65,         // 23:59:59
  ZorDateFirstOfDecade = 66,    // ten-day periods: 1-10, 11-20, 21-end
  ZorDateLastOfDecade = 67,
  ZorDateFirstOfHalfMonth = 68, // half-months: 1-15, 16-end
  ZorDateLastOfHalfMonth = 69,
};

// The parts that date::Get(eZorDateGet) reports.
enum eZorDateGet : int32_t {
  ZorDateGetDay = 0,
  ZorDateGetMonth = 1,
  ZorDateGetYear = 2,
  ZorDateGetWeekDay = 3,      // 0 = Sunday .. 6 = Saturday
  ZorDateGetDayOfYear = 4,    // from 1
  ZorDateGetWeek = 5,
  ZorDateGetQuarter = 6,
  ZorDateGetHalfYear = 7,
  ZorDateGetDaysInYear = 8,
  ZorDateGetDaysInMonth = 9,
  ZorDateGetHour = 10,
  ZorDateGetMinute = 11,
  ZorDateGetSecond = 12,
  ZorDateGetMinuteOfDay = 13,
  ZorDateGetSecondOfDay = 14,
};

enum eZorWeekDay : int32_t {
  ZorSunday = 0,
  ZorMonday = 1,
  ZorTuesday = 2,
  ZorWednesday = 3,
  ZorThursday = 4,
  ZorFriday = 5,
  ZorSaturday = 6,
};

// Kinds of date::Diff: the difference this - other counted in whole units.
enum eZorDateDiff : int32_t {
  ZorDateDiffDays = 0,      // calendar days (times of day ignored)
  ZorDateDiffWeeks = 1,     // whole weeks of calendar days
  ZorDateDiffMonths = 2,    // whole calendar months (a month counts once its day is reached)
  ZorDateDiffYears = 3,     // whole calendar years
  ZorDateDiffHours = 4,     // whole hours of the full values
  ZorDateDiffMinutes = 5,
  ZorDateDiffSeconds = 6,
  ZorDateDiffWorkDays = 7,  // working days in (other, this], negative when this < other
};

// The broken-down form of a date, field for field like the operating
// system's calendar time record of Windows.
struct sZorSysTime {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;  // 0 = Sunday
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

// The local time zone: UTC = local time + bias (minutes).
struct sZorTimeZone {
  int32_t bias;           // standard-time bias in minutes (Paris: -60)
  int32_t daylightBias;   // added to bias during daylight saving time (usually -60)
  char standardName[32];
  char daylightName[32];
};

class ZOR_API date {
 public:
  // Range of the values: the moves produce values in [kMinValue, kMaxValue];
  // the calendar itself runs from kMinValue to kLastDay (31 December 9999).
  static constexpr double kMinValue = 5.0;
  static constexpr double kMaxValue = 3068038.0;
  static constexpr int32_t kLastDay = 3068041;
  // Day number of 1 January 1970 (Unix time 0).
  static constexpr int32_t kUnixEpochDay = 135145;

  date() = default;
  date(const date&) = default;
  date& operator=(const date&) = default;
  date(eZorDate code, const date* ref = nullptr, int32_t n = 0) { Set(code, ref, n); }

  // ------------------------------------------------------------ value
  double GetValue() const { return _value; }
  void SetValue(double v) { _value = v; }
  void Clear() { _value = 0; }
  bool IsEmpty() const { return _value == 0; }
  bool IsValid() const;

  // ------------------------------------------------------------ parts
  // A 0 for d, m or y takes that part from ref (when given). Returns false
  // and sets the empty date when a part is out of range.
  bool Set(int32_t d, int32_t m, int32_t y, const date* ref = nullptr, int32_t h = 0,
           int32_t min = 0, int32_t s = 0);
  void Set(const date* other) { _value = other ? other->_value : 0; }
  // Sets the time of day, keeping the day; false (value unchanged) when a part
  // is out of range.
  bool SetTime(int32_t h, int32_t min, int32_t s);
  void SetTime(const date* other);
  // Any pointer may be null. The empty date gives zeros.
  void Get(int32_t* d, int32_t* m, int32_t* y, int32_t* dayOfYear = nullptr,
           eZorWeekDay* wd = nullptr, bool* leap = nullptr) const;
  void GetTime(int32_t* h, int32_t* min, int32_t* s) const;
  int32_t Get(eZorDateGet what) const;

  // ------------------------------------------------------------ clocks
  void Today(bool withTime = false, bool local = true);
  void ServerDate(bool withTime = false, bool local = true);
  void WorkDate();
  void UTCToLocalTime();
  void LocalTimeToUTC();
  // Unix time: seconds since 1970-01-01 00:00:00, the date read as UTC.
  void SetUnixTS(int64_t seconds);
  int64_t ToUnixTimeTS() const;
  // Time stamps are the ISO 8601 text "YYYY-MM-DDTHH:MM:SS".
  bool SetTimeStamp(const char* text);
  const char* ToTimeStampStr(string* dst) const;
  void GetSysTime(sZorSysTime* st) const;
  // Fills the local time zone; returns 0 when unknown, 1 in standard time,
  // 2 in daylight saving time (now).
  static int32_t GetTimeZone(sZorTimeZone* tz);

  // ------------------------------------------------------------ text
  const char* Format(const char* pattern, string* dst) const;
  const char* ToStr(string* dst) const;
  const char* ToKernel(string* dst) const;
  // form 0: default pattern, 1: second pattern, 2: default pattern and time,
  // 3: time "H:I:S", 4: time stamp.
  const char* ToStrForm(string* dst, int32_t form) const;
  // The time of day "H:I:S" (or "H:I") with the configured separator.
  const char* ToTimeStr(string* dst, bool withSeconds = true) const;
  // A count of seconds since midnight as "H:I:S" (or "H:I").
  static const char* TimeStr(int32_t seconds, string* dst, bool withSeconds = true);
  // The value read as a duration in days: "[-]H:MM:SS" with the total hours.
  const char* DelayStr(string* dst) const;
  // "Aujourd'hui", "Hier", "Dans 3 jours" ... relative to ref (null: today).
  const char* GetRelativeStr(string* dst, const date* ref = nullptr) const;
  static const char* GetDayName(int32_t weekday, string* dst, bool longName = true,
                                bool mondayFirst = false);
  static const char* GetMonthName(int32_t month, string* dst, bool longName = true);

  // Parsing: true when the text gave a date (or was empty).
  bool Set(const char* text, const date* ref = nullptr, bool strict = false);
  bool Set(const char* text, eZorDateOrder order, const date* ref = nullptr, bool strict = false);
  bool SetKernel(const char* text, const date* ref = nullptr, bool strict = false);

  // ------------------------------------------------------------ moves
  void Set(eZorDate code, const date* ref = nullptr, int32_t n = 0);
  void Add(eZorDate code, int32_t n = 0) { Set(code, this, n); }
  void Add(const date* other) { _value += other ? other->_value : 0; }
  void Sub(const date* other) { _value -= other ? other->_value : 0; }

  // ------------------------------------------------------------ comparison
  // Compares year (1), month (2), day (4), hour (8), minute (16), second (32)
  // for the parts in mask: 1 or -1 at the first difference, else 0.
  int32_t Compare(const date* other, uint32_t mask = 0x3F) const;
  int64_t Diff(const date* other, eZorDateDiff kind = ZorDateDiffDays) const;
  // True when a <= value <= b; an empty or null bound is open.
  bool Range(const date* a, const date* b) const;
  // Brings the value into [a, b] (an empty or null bound is open); true when
  // it changed.
  bool Borne(const date* a, const date* b);

  // ------------------------------------------------------------ working days
  // Sunday is always off; Saturday when saturdayOff ("jours ouvres" rather
  // than "jours ouvrables"); the French public holidays when holidaysOff.
  bool IsDayOff(bool saturdayOff = true, bool holidaysOff = true) const;
  // Working days in [from, to], both included; 0 when from > to or a bound is empty.
  static int32_t GetNbDayWork(const date* from, const date* to, bool saturdayOff = true,
                              bool holidaysOff = true);

 private:
  double _value = 0;
};

// The library's validity check of a date value: a day from 1 January 1600 to
// 31 December 9999 with a time of day; the empty date is not valid.
ZOR_API bool ZorIsDateValid(double value);
// A key equal for two dates in the same period of the given granularity:
// day, month, year, week, quarter, half-year, hour, minute, second of the
// calendar; the cyclic parts (weekday, day of year, ...) give Get(what).
ZOR_API int64_t ZorHashDate(const date* d, eZorDateGet what);

}  // namespace zorvane
