// `date`: the behaviours that the datetime oracle (date_oracle.py) does not
// reach: catalogue names, configuration-dependent forms, errors, clocks and
// the small texts.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

using namespace zorvane;

namespace {

date Make(int32_t d, int32_t m, int32_t y, int32_t h = 0, int32_t mi = 0, int32_t s = 0) {
  date v;
  EXPECT_TRUE(v.Set(d, m, y, nullptr, h, mi, s)) << d << "/" << m << "/" << y;
  return v;
}

std::string Fmt(const date& v, const char* pattern) {
  string out;
  return v.Format(pattern, &out);
}

ZorDocConfig French() { return ZorDocConfig{}; }

TEST(DateParts, LeapDaysAndInvalidPartsGiveTheEmptyDate) {
  date v;
  v.SetValue(123.0);
  EXPECT_FALSE(v.Set(29, 2, 2023));
  EXPECT_TRUE(v.IsEmpty());
  EXPECT_TRUE(v.Set(29, 2, 2024));
  EXPECT_FALSE(v.Set(29, 2, 1900));
  EXPECT_TRUE(v.Set(29, 2, 2000));
  EXPECT_FALSE(v.Set(1, 1, 2024, nullptr, 24, 0, 0));
  EXPECT_FALSE(v.Set(1, 1, 2024, nullptr, 0, 60, 0));
  EXPECT_FALSE(v.Set(1, 1, 2024, nullptr, 0, 0, 60));
  EXPECT_FALSE(v.IsValid());
}

// Set builds day numbers by the closed formula, Get reads them back by
// cycles of centuries and years: every day of the calendar must survive the
// round trip, with a day of the year that counts from 1 January.
TEST(DateParts, EveryDayOfTheCalendarRoundTrips) {
  int32_t failures = 0;
  for (int32_t n = 5; n <= date::kLastDay && failures < 5; ++n) {
    date v;
    v.SetValue(n);
    int32_t d, m, y, doy;
    v.Get(&d, &m, &y, &doy);
    date back, jan1;
    back.Set(d, m, y);
    jan1.Set(1, 1, y);
    if (back.GetValue() != n || jan1.GetValue() + doy - 1 != n) {
      ADD_FAILURE() << "day " << n << " read as " << d << "/" << m << "/" << y << " (" << doy << ")";
      ++failures;
    }
  }
}

TEST(DateParts, ZeroPartsComeFromTheReference) {
  const date ref = Make(17, 8, 2031);
  date v;
  ASSERT_TRUE(v.Set(3, 0, 0, &ref));
  EXPECT_EQ(v.GetValue(), Make(3, 8, 2031).GetValue());
  ASSERT_TRUE(v.Set(0, 2, 0, &ref));
  EXPECT_EQ(v.GetValue(), Make(17, 2, 2031).GetValue());
  EXPECT_FALSE(v.Set(0, 2, 2031));  // no reference: a zero day is out of range
}

TEST(DateParts, EmptyDateReadsAsZeros) {
  const date v;
  int32_t d = -1, m = -1, y = -1, doy = -1;
  eZorWeekDay wd = ZorSaturday;
  bool leap = true;
  v.Get(&d, &m, &y, &doy, &wd, &leap);
  EXPECT_EQ(d + m + y + doy, 0);
  EXPECT_EQ(wd, ZorSunday);
  EXPECT_FALSE(leap);
  for (int32_t what = ZorDateGetDay; what <= ZorDateGetSecondOfDay; ++what) {
    EXPECT_EQ(v.Get(static_cast<eZorDateGet>(what)), 0) << what;
  }
  EXPECT_EQ(Fmt(v, "D/M/CY"), "");
}

TEST(DateParts, ValuesAHairBeforeMidnightReadAsTheNextDay) {
  // 24 hours by the hour move are a little less than one day.
  date v = Make(31, 12, 2023, 0, 0, 0);
  v.Add(ZorDateAddHours, 24);
  EXPECT_LT(v.GetValue(), Make(1, 1, 2024).GetValue());
  EXPECT_EQ(Fmt(v, "D/M/CY H:I:S"), "01/01/2024 00:00:00");
  EXPECT_EQ(v.Get(ZorDateGetYear), 2024);
  v.Add(ZorDateFirstOfMonth);
  EXPECT_EQ(Fmt(v, "D/M/CY H:I:S"), "01/01/2024 00:00:00");
}

TEST(DateParts, WeekNumbersAroundNewYear) {
  EXPECT_EQ(Make(1, 1, 2021).Get(ZorDateGetWeek), 0);  // a Friday
  EXPECT_EQ(Make(4, 1, 2021).Get(ZorDateGetWeek), 1);  // the Monday after
  // 2026 starts on a Thursday: the week rule decides whether that week counts.
  ZorDocConfig config = French();
  config.weekRule = false;
  ZorDocConfigScope scope(config);
  EXPECT_EQ(Make(1, 1, 2026).Get(ZorDateGetWeek), 0);
  config.weekRule = true;
  ZorDocConfigScope rule(config);
  EXPECT_EQ(Make(1, 1, 2026).Get(ZorDateGetWeek), 1);
}

TEST(DateTime, SetTimeKeepsTheDayAndRejectsBadParts) {
  date v = Make(5, 3, 2024, 10, 0, 0);
  ASSERT_TRUE(v.SetTime(23, 59, 59));
  EXPECT_EQ(Fmt(v, "D/M/CY H:I:S"), "05/03/2024 23:59:59");
  const double before = v.GetValue();
  EXPECT_FALSE(v.SetTime(12, 60, 0));
  EXPECT_EQ(v.GetValue(), before);
  date other = Make(1, 1, 2000, 7, 8, 9);
  v.SetTime(&other);
  EXPECT_EQ(Fmt(v, "D/M/CY H:I:S"), "05/03/2024 07:08:09");
}

// ---------------------------------------------------------------- formatting

TEST(DateFormat, PartEdgeCases) {
  ZorDocConfigScope scope(French());
  const date v = Make(5, 3, 2024, 14, 7, 9);
  EXPECT_EQ(Fmt(v, "D/M/CY"), "05/03/2024");
  EXPECT_EQ(Fmt(v, "d/m/Y"), "5/3/24");
  EXPECT_EQ(Fmt(v, "D'/'M'/'CY H':'I':'S"), "05/03/2024 14:07:09");
  EXPECT_EQ(Fmt(v, "'l''an' CY ''"), "l'an 2024 '");
  EXPECT_EQ(Fmt(v, "D-M.CY"), "05032024");  // characters without a piece write nothing
  EXPECT_EQ(Fmt(v, "'open"), "open");
}

TEST(DateFormat, NamesComeFromTheCatalogue) {
  const date v = Make(5, 8, 2024, 12, 0, 0);  // a Monday
  EXPECT_EQ(Fmt(v, "J j O o"), "Lundi Lun Ao\xfbt Aou");
  EXPECT_EQ(Fmt(v, "Z z"), "AM am");  // noon takes the first of the pair
  EXPECT_EQ(Fmt(Make(31, 12, 2023, 13, 0, 0), "J O V Z z"), "Dimanche D\xe9" "cembre 01 PM pm");
  string name;
  EXPECT_STREQ(date::GetDayName(0, &name), "Dimanche");
  EXPECT_STREQ(date::GetDayName(0, &name, false, true), "Lun");
  EXPECT_STREQ(date::GetDayName(7, &name), "");
  EXPECT_STREQ(date::GetMonthName(2, &name), "F\xe9vrier");
  EXPECT_STREQ(date::GetMonthName(12, &name, false), "Dec");
  EXPECT_STREQ(date::GetMonthName(0, &name), "");
}

TEST(DateFormat, ConfiguredSeparatorsAndKernelForm) {
  ZorDocConfig config = French();
  config.dateSeps[0] = '-';
  config.timeSep = 'h';
  std::strcpy(config.datePattern, "CY/M/D");
  ZorDocConfigScope scope(config);
  const date v = Make(9, 11, 1989, 8, 5, 0);
  string out;
  EXPECT_STREQ(v.Format("D/M/CY H:I", &out), "09-11-1989 08h05");
  EXPECT_STREQ(v.ToStr(&out), "1989-11-09");
  EXPECT_STREQ(v.ToKernel(&out), "09/11/1989");
  EXPECT_STREQ(v.ToStrForm(&out, 2), "1989-11-09 08h05h00");
  EXPECT_STREQ(v.ToStrForm(&out, 4), "1989-11-09T08:05:00");
  EXPECT_STREQ(v.ToTimeStr(&out, false), "08h05");
  EXPECT_EQ(Fmt(v, "cY"), "89");
  EXPECT_EQ(Fmt(Make(1, 1, 1950), "cY"), "1950");  // pivot 50: (1950, 2050] has no century
  EXPECT_EQ(Fmt(Make(1, 1, 2051), "cY"), "2051");
}

TEST(DateFormat, PatternMayLiveInTheDestination) {
  const date v = Make(5, 3, 2024);
  string s("D/M/CY J O D/M/CY J O D/M/CY");
  v.Format(s.CStr(), &s);
  EXPECT_STREQ(s.CStr(), "05/03/2024 Mardi Mars 05/03/2024 Mardi Mars 05/03/2024");
}

TEST(DateFormat, SmallTexts) {
  string out;
  EXPECT_STREQ(date::TimeStr(3723, &out), "01:02:03");
  EXPECT_STREQ(date::TimeStr(-1, &out, false), "23:59");
  date delay;
  delay.SetValue(-(26 * 3600 + 3 * 60 + 4) / 86400.0);
  EXPECT_STREQ(delay.DelayStr(&out), "-26:03:04");
  const date ref = Make(10, 6, 2024, 18, 0, 0);
  const char* expected[] = {"Avant-hier", "Hier", "Aujourd'hui", "Demain", "Apr\xe8s-demain"};
  for (int k = -2; k <= 2; ++k) {
    date v(ZorDateAddDays, &ref, k);
    EXPECT_STREQ(v.GetRelativeStr(&out, &ref), expected[k + 2]) << k;
  }
  date later(ZorDateAddDays, &ref, 12);
  EXPECT_STREQ(later.GetRelativeStr(&out, &ref), "Dans 12 jours");
  date earlier(ZorDateAddDays, &ref, -3);
  EXPECT_STREQ(earlier.GetRelativeStr(&out, &ref), "Il y a 3 jours");
}

// ---------------------------------------------------------------- parsing

struct ParseCase {
  const char* text;
  int32_t d, m, y;  // 0: failure
};

TEST(DateParse, TwoDigitYearsAndFieldWidths) {
  ZorDocConfig config = French();
  config.dateOrder = ZorDateOrderDMY;
  config.yearPivot = 50;
  ZorDocConfigScope scope(config);
  const ParseCase cases[] = {{"5/3/24", 5, 3, 2024}, {"5/3/75", 5, 3, 1975},  {"050324", 5, 3, 2024},
                             {"05/03/24", 5, 3, 2024}, {"5/3/00", 5, 3, 2000}, {"05032024", 5, 3, 2024},
                             {"5//3", 0, 0, 0},        {"5/3/", 0, 0, 0},       {"/5/3", 0, 0, 0},
                             {"5/3/24/1", 0, 0, 0},    {"5 3 24", 0, 0, 0},     {"0/3/24", 0, 0, 0},
                             {"5/0/24", 0, 0, 0},      {"32/1/24", 0, 0, 0},    {"5/13/24", 0, 0, 0}};
  for (const ParseCase& c : cases) {
    date v;
    const bool ok = v.Set(c.text);
    EXPECT_EQ(ok, c.d != 0) << c.text;
    EXPECT_EQ(v.GetValue(), c.d ? Make(c.d, c.m, c.y).GetValue() : 0.0) << c.text;
  }
}

TEST(DateParse, MissingPartsComeFromTheReferenceOrTheWorkDate) {
  ZorDocConfig config = French();
  config.workDate = Make(15, 6, 2023).GetValue();
  ZorDocConfigScope scope(config);
  const date ref = Make(1, 2, 1999);
  date v;
  ASSERT_TRUE(v.Set("7", &ref));
  EXPECT_EQ(v.GetValue(), Make(7, 2, 1999).GetValue());
  ASSERT_TRUE(v.Set("7/9"));
  EXPECT_EQ(v.GetValue(), Make(7, 9, 2023).GetValue());
  ASSERT_TRUE(v.Set(""));
  EXPECT_TRUE(v.IsEmpty());
}

TEST(DateParse, EndOfMonthCorrection) {
  ZorDocConfig config = French();
  date v;
  {
    ZorDocConfigScope scope(config);
    EXPECT_FALSE(v.Set("31/4/2024"));
    EXPECT_TRUE(v.IsEmpty());
  }
  config.endOfMonthCorrection = true;
  ZorDocConfigScope scope(config);
  ASSERT_TRUE(v.Set("31/4/2024"));
  EXPECT_EQ(v.GetValue(), Make(30, 4, 2024).GetValue());
  ASSERT_TRUE(v.Set("31/2/2023"));
  EXPECT_EQ(v.GetValue(), Make(28, 2, 2023).GetValue());
}

TEST(DateParse, KernelFormIgnoresTheConfiguredOrderAndSeparators) {
  ZorDocConfig config = French();
  config.dateOrder = ZorDateOrderYMD;
  std::strcpy(config.dateSeps, "-");
  ZorDocConfigScope scope(config);
  date v;
  ASSERT_TRUE(v.SetKernel("05/03/2024"));
  EXPECT_EQ(v.GetValue(), Make(5, 3, 2024).GetValue());
  EXPECT_FALSE(v.SetKernel("05-03-2024"));
  ASSERT_TRUE(v.Set("2024-03-05"));
  EXPECT_EQ(v.GetValue(), Make(5, 3, 2024).GetValue());
  EXPECT_EQ(ZorGetDocConfig().dateOrder, ZorDateOrderYMD);
}

TEST(DateParse, TimeStampsRoundTrip) {
  date v;
  ASSERT_TRUE(v.SetTimeStamp("2024-02-29T23:59:59"));
  string out;
  EXPECT_STREQ(v.ToTimeStampStr(&out), "2024-02-29T23:59:59");
  ASSERT_TRUE(v.SetTimeStamp("1600-01-01"));
  EXPECT_EQ(v.GetValue(), 5.0);
  for (const char* bad : {"2023-02-29T00:00:00", "2024-1-01", "2024-01-01T24:00:00", "2024-01-01T", "x"}) {
    EXPECT_FALSE(v.SetTimeStamp(bad)) << bad;
    EXPECT_TRUE(v.IsEmpty());
  }
}

// ---------------------------------------------------------------- moves

TEST(DateMoves, EdgeCases) {
  const date jan31 = Make(31, 1, 2024);
  EXPECT_EQ(date(ZorDateAddMonths, &jan31, 1).GetValue(), Make(29, 2, 2024).GetValue());
  const date feb29 = Make(29, 2, 2024);
  EXPECT_EQ(date(ZorDateAddYears, &feb29, 1).GetValue(), Make(1, 3, 2025).GetValue());
  const date y2024 = Make(1, 1, 2024), y1850 = Make(1, 1, 1850);
  EXPECT_EQ(date(ZorDateEaster, &y2024).GetValue(), Make(31, 3, 2024).GetValue());
  EXPECT_EQ(date(ZorDateEaster, &y1850).GetValue(), Make(15, 4, 1850).GetValue());
  EXPECT_EQ(date(ZorDateMin).GetValue(), 5.0);
  EXPECT_EQ(date(ZorDateMax).GetValue(), 3068038.0);
  const date empty;
  EXPECT_TRUE(date(ZorDateNextDay, &empty).IsEmpty());
}

TEST(DateMoves, UnknownCodesRaiseBadParam) {
  date v = Make(1, 1, 2024);
  for (int32_t code : {-10, 1, 70}) {
    try {
      v.Add(static_cast<eZorDate>(code));
      ADD_FAILURE() << code;
    } catch (const ZorEBasic& e) {
      EXPECT_EQ(e.GetError(), ZorErr(1, 23));
      EXPECT_STREQ(e.GetFileText(), "ZorDates");
    }
  }
}

TEST(DateMoves, FixedValuesFromTheConfigurationAndTheClock) {
  ZorDocConfig config = French();
  config.storedDate1 = Make(1, 2, 2003).GetValue();
  config.storedDate2 = Make(4, 5, 2006).GetValue();
  config.workDate = Make(7, 8, 2009).GetValue();
  ZorDocConfigScope scope(config);
  EXPECT_EQ(date(ZorDateStored1).GetValue(), config.storedDate1);
  EXPECT_EQ(date(ZorDateStored2).GetValue(), config.storedDate2);
  EXPECT_EQ(date(ZorDateWork).GetValue(), config.workDate);
  const date today(ZorDateToday);
  EXPECT_EQ(today.GetValue(), static_cast<double>(static_cast<int64_t>(today.GetValue())));
  const date now(ZorDateToday, nullptr, 1);
  EXPECT_LE(now.GetValue() - today.GetValue(), 1.0);
  EXPECT_GE(now.GetValue(), today.GetValue());
}

// ---------------------------------------------------------------- clocks

TEST(DateClock, TodayFollowsTheSystemClock) {
  date utc;
  utc.Today(true, false);
  const int64_t now = static_cast<int64_t>(time(nullptr));
  EXPECT_LE(std::llabs(utc.ToUnixTimeTS() - now), 2);
}

TEST(DateClock, LocalAndUtcConversionsInAFixedZone) {
  const char* saved = std::getenv("TZ");
  const std::string old = saved ? saved : "";
  setenv("TZ", "Europe/Paris", 1);
  tzset();
  date v = Make(1, 7, 2024, 12, 0, 0);  // summer: UTC+2
  v.UTCToLocalTime();
  EXPECT_EQ(Fmt(v, "D/M/CY H:I:S"), "01/07/2024 14:00:00");
  v.LocalTimeToUTC();
  EXPECT_EQ(Fmt(v, "D/M/CY H:I:S"), "01/07/2024 12:00:00");
  date w = Make(1, 1, 2024, 0, 30, 0);  // winter: UTC+1, crossing the day
  w.LocalTimeToUTC();
  EXPECT_EQ(Fmt(w, "D/M/CY H:I:S"), "31/12/2023 23:30:00");
  sZorTimeZone tz;
  EXPECT_NE(date::GetTimeZone(&tz), 0);
  EXPECT_EQ(tz.bias, -60);
  if (saved) {
    setenv("TZ", old.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(DateClock, SysTimeRecord) {
  sZorSysTime st;
  Make(29, 2, 2024, 13, 14, 15).GetSysTime(&st);
  EXPECT_EQ(st.wYear, 2024);
  EXPECT_EQ(st.wMonth, 2);
  EXPECT_EQ(st.wDay, 29);
  EXPECT_EQ(st.wDayOfWeek, 4);
  EXPECT_EQ(st.wHour * 10000 + st.wMinute * 100 + st.wSecond, 131415);
}

// ---------------------------------------------------------------- ranges, hashes, working days

TEST(DateRange, EmptyBoundsAreOpen) {
  const date a = Make(1, 1, 2024), b = Make(31, 12, 2024), empty;
  date v = Make(15, 6, 2025);
  EXPECT_FALSE(v.Range(&a, &b));
  EXPECT_TRUE(v.Range(&a, &empty));
  EXPECT_TRUE(v.Range(nullptr, nullptr));
  EXPECT_TRUE(v.Borne(&a, &b));
  EXPECT_EQ(v.GetValue(), b.GetValue());
  EXPECT_FALSE(v.Borne(&a, &b));
  date w = Make(1, 1, 1999);
  EXPECT_TRUE(w.Borne(&a, &empty));
  EXPECT_EQ(w.GetValue(), a.GetValue());
}

TEST(DateHash, SamePeriodSameKey) {
  const date a = Make(1, 4, 2024, 9, 0, 0), b = Make(30, 6, 2024, 23, 0, 0), c = Make(1, 7, 2024);
  EXPECT_EQ(ZorHashDate(&a, ZorDateGetQuarter), ZorHashDate(&b, ZorDateGetQuarter));
  EXPECT_NE(ZorHashDate(&b, ZorDateGetQuarter), ZorHashDate(&c, ZorDateGetQuarter));
  EXPECT_NE(ZorHashDate(&a, ZorDateGetMonth), ZorHashDate(&b, ZorDateGetMonth));
  const date jan2025 = Make(1, 1, 2025), dec2024 = Make(31, 12, 2024);
  EXPECT_EQ(ZorHashDate(&jan2025, ZorDateGetMonth) - ZorHashDate(&dec2024, ZorDateGetMonth), 1);
  EXPECT_EQ(ZorHashDate(&a, ZorDateGetWeekDay), a.Get(ZorDateGetWeekDay));
}

TEST(DateWorkDays, FrenchCalendarOf2024) {
  const date from = Make(1, 1, 2024), to = Make(31, 12, 2024);
  // 262 weekdays; of the 11 holidays only 14 July falls on a Sunday.
  EXPECT_EQ(date::GetNbDayWork(&from, &to), 252);
  EXPECT_EQ(date::GetNbDayWork(&to, &from), 0);
  // (from, to]: 1 January is a holiday, so leaving it out changes nothing.
  EXPECT_EQ(to.Diff(&from, ZorDateDiffWorkDays), 252);
  EXPECT_EQ(from.Diff(&to, ZorDateDiffWorkDays), -252);
  EXPECT_TRUE(Make(8, 5, 2024).IsDayOff());
  EXPECT_TRUE(Make(6, 1, 2024).IsDayOff());
  EXPECT_FALSE(Make(6, 1, 2024).IsDayOff(false));
  EXPECT_FALSE(Make(8, 5, 2024).IsDayOff(true, false));
}

}  // namespace
