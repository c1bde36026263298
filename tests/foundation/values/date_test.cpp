// `date`: what the datetime oracle (date_oracle.py) does not reach: parts
// taken from a reference, the name and small-text functions, the other text
// forms, errors, clocks, ranges and hashes.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <tuple>
#include <utility>

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

TEST(DateParts, ZeroPartsComeFromTheReference) {
  const date ref = Make(17, 8, 2031);
  date v;
  ASSERT_TRUE(v.Set(3, 0, 0, &ref));
  EXPECT_EQ(v.GetValue(), Make(3, 8, 2031).GetValue());
  ASSERT_TRUE(v.Set(0, 2, 0, &ref));
  EXPECT_EQ(v.GetValue(), Make(17, 2, 2031).GetValue());
  EXPECT_FALSE(v.Set(0, 2, 2031));  // no reference: a zero day is out of range
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

TEST(DateFormat, NamesComeFromTheCatalogue) {
  string name;
  EXPECT_STREQ(date::GetDayName(0, &name), "Dimanche");
  EXPECT_STREQ(date::GetDayName(0, &name, false, true), "Lun");
  EXPECT_STREQ(date::GetDayName(7, &name), "");
  EXPECT_STREQ(date::GetMonthName(2, &name), "F\xe9vrier");
  EXPECT_STREQ(date::GetMonthName(12, &name, false), "Dec");
  EXPECT_STREQ(date::GetMonthName(0, &name), "");
}

TEST(DateFormat, OtherFormsFollowTheConfigurationButTheKernelForm) {
  ZorDocConfig config;  // French defaults
  config.dateSeps[0] = '-';
  config.timeSep = 'h';
  std::strcpy(config.datePattern, "CY/M/D");
  ZorDocConfigScope scope(config);
  const date v = Make(9, 11, 1989, 8, 5, 0);
  string out;
  EXPECT_STREQ(v.ToStr(&out), "1989-11-09");
  EXPECT_STREQ(v.ToKernel(&out), "09/11/1989");
  EXPECT_STREQ(v.ToStrForm(&out, 2), "1989-11-09 08h05h00");
  EXPECT_STREQ(v.ToStrForm(&out, 4), "1989-11-09T08:05:00");
  EXPECT_STREQ(v.ToTimeStr(&out, false), "08h05");
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
  delay.SetValue(0.75 / 86400);
  EXPECT_STREQ(delay.DelayStr(&out), "0:00:01");
  const date ref = Make(10, 6, 2024, 18, 0, 0);
  const std::pair<int32_t, const char*> relative[] = {{-3, "Il y a 3 jours"}, {-2, "Avant-hier"}, {-1, "Hier"},
                                                      {0, "Aujourd'hui"},      {1, "Demain"},      {2, "Apr\xe8s-demain"},
                                                      {12, "Dans 12 jours"}};
  for (const auto& [k, text] : relative) {
    const date v(ZorDateAddDays, &ref, k);
    EXPECT_STREQ(v.GetRelativeStr(&out, &ref), text) << k;
  }
}

TEST(DateParse, TimeStampsWithoutTimeAndRefusedOnes) {
  date v;
  ASSERT_TRUE(v.SetTimeStamp("1600-01-01"));
  EXPECT_EQ(v.GetValue(), 5.0);
  for (const char* bad : {"2023-02-29T00:00:00", "2024-1-01", "2024-01-01T24:00:00", "2024-01-01T", "20240101", "x"}) {
    EXPECT_FALSE(v.SetTimeStamp(bad)) << bad;
    EXPECT_TRUE(v.IsEmpty());
  }
}

// The oracle checks which codes raise; here, what the exception carries.
TEST(DateMoves, UnknownCodesRaiseBadParamFromTheDateSource) {
  date v = Make(1, 1, 2024);
  try {
    v.Add(static_cast<eZorDate>(70));
    ADD_FAILURE() << "no exception";
  } catch (const ZorEBasic& e) {
    EXPECT_EQ(e.GetError(), ZorErr(1, 23));
    EXPECT_STREQ(e.GetFileText(), "ZorDates");
  }
}

TEST(DateMoves, FixedValuesFromTheConfigurationAndTheClock) {
  ZorDocConfig config;  // French defaults
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
  saved ? setenv("TZ", old.c_str(), 1) : unsetenv("TZ");
  tzset();
}

TEST(DateClock, SysTimeRecord) {
  sZorSysTime st;
  Make(29, 2, 2024, 13, 14, 15).GetSysTime(&st);
  EXPECT_EQ(std::make_tuple(st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour * 10000 + st.wMinute * 100 + st.wSecond),
            std::make_tuple(2024, 2, 29, 4, 131415));
}

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
  EXPECT_EQ(date::GetNbDayWork(&empty, &b, false, false), 0);  // an empty bound counts nothing
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

}  // namespace
