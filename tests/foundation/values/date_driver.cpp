// Bulk driver of `date` for date_oracle.py: reads one command per line from
// stdin (fields separated by TAB) and writes one result line per command.
//
//   cfg   order twoDigit pivot eom weekRule seps workDate dateSep timeSep
//   day   N                  -> d m y doy wd week quarter half daysInYear daysInMonth leap
//   set   d m y              -> ok value
//   sec   N s                -> value h min s minuteOfDay secondOfDay (s < 0: the time is
//                                 not set, the value is read as it is)
//   move  code value n       -> value, or "E" when the move raises
//   parse order text ref     -> ok value (order 0: the configured order; ref 0: none)
//   kparse text              -> ok value (kernel form)
//   fmt   value pattern      -> text
//   ts    value              -> text, then the value read back from it
//   unix  seconds            -> value, then the seconds read back
//   cmp   a b mask           -> Compare
//   diff  a b kind           -> Diff
//   off   value              -> IsDayOff(true, true) IsDayOff(false, true) IsDayOff(true, false)
//   work  a b                -> GetNbDayWork(a, b)
// Values are written with 17 significant digits so that Python reads the
// same double back.
#include <zorvane/zorvane.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return out;
    start = tab + 1;
  }
}

int32_t I(const std::string& s) { return static_cast<int32_t>(std::strtol(s.c_str(), nullptr, 10)); }
double F(const std::string& s) { return std::strtod(s.c_str(), nullptr); }
date D(const std::string& s) {
  date d;
  d.SetValue(F(s));
  return d;
}

void Configure(const std::vector<std::string>& f) {
  ZorDocConfig config = ZorGetDocConfig();
  config.dateOrder = static_cast<eZorDateOrder>(I(f[1]));
  config.twoDigitYearRule = I(f[2]) != 0;
  config.yearPivot = I(f[3]);
  config.endOfMonthCorrection = I(f[4]) != 0;
  config.weekRule = I(f[5]) != 0;
  std::memset(config.dateSeps, 0, sizeof(config.dateSeps));
  std::strncpy(config.dateSeps, f[6].c_str(), sizeof(config.dateSeps) - 1);
  config.workDate = F(f[7]);
  if (!f[8].empty()) config.dateSeps[0] = f[8][0];
  config.timeSep = f[9].empty() ? ':' : f[9][0];
  ZorSetDocConfig(config);
}

void Day(const std::vector<std::string>& f) {
  const date d = D(f[1]);
  int32_t day, month, year, doy;
  eZorWeekDay wd;
  bool leap;
  d.Get(&day, &month, &year, &doy, &wd, &leap);
  std::printf("%d %d %d %d %d %d %d %d %d %d %d\n", day, month, year, doy, d.Get(ZorDateGetWeekDay),
              d.Get(ZorDateGetWeek), d.Get(ZorDateGetQuarter), d.Get(ZorDateGetHalfYear),
              d.Get(ZorDateGetDaysInYear), d.Get(ZorDateGetDaysInMonth), leap ? 1 : 0);
  (void)wd;
}

void Second(const std::vector<std::string>& f) {
  date d = D(f[1]);
  const int32_t s = I(f[2]);
  if (s >= 0) d.SetTime(s / 3600, s / 60 % 60, s % 60);
  int32_t h, mi, se;
  d.GetTime(&h, &mi, &se);
  std::printf("%.17g %d %d %d %d %d\n", d.GetValue(), h, mi, se, d.Get(ZorDateGetMinuteOfDay),
              d.Get(ZorDateGetSecondOfDay));
}

void Move(const std::vector<std::string>& f) {
  const date ref = D(f[2]);
  try {
    const date d(static_cast<eZorDate>(I(f[1])), &ref, I(f[3]));
    std::printf("%.17g\n", d.GetValue());
  } catch (const ZorEBasic& e) {
    std::printf("E %d %d\n", ZorErrFamily(e.GetError()), ZorErrNumber(e.GetError()));
  }
}

void Parse(const std::vector<std::string>& f, bool kernel) {
  date d;
  d.SetValue(-1);  // parsing must overwrite it
  bool ok;
  if (kernel) {
    ok = d.SetKernel(f[1].c_str());
  } else {
    const date ref = D(f[3]);
    const date* r = ref.IsEmpty() ? nullptr : &ref;
    const int32_t order = I(f[1]);
    ok = order == 0 ? d.Set(f[2].c_str(), r) : d.Set(f[2].c_str(), static_cast<eZorDateOrder>(order), r);
  }
  std::printf("%d %.17g\n", ok ? 1 : 0, d.GetValue());
}

void Fmt(const std::vector<std::string>& f) {
  string out("stale text");
  D(f[1]).Format(f[2].c_str(), &out);
  std::printf("%s\n", out.CStr());
}

void TimeStamp(const std::vector<std::string>& f) {
  string out;
  D(f[1]).ToTimeStampStr(&out);
  date back;
  const bool ok = back.SetTimeStamp(out.CStr());
  std::printf("%s %d %.17g\n", out.CStr(), ok ? 1 : 0, back.GetValue());
}

void Unix(const std::vector<std::string>& f) {
  date d;
  d.SetUnixTS(std::strtoll(f[1].c_str(), nullptr, 10));
  std::printf("%.17g %lld\n", d.GetValue(), static_cast<long long>(d.ToUnixTimeTS()));
}

void Run(const std::vector<std::string>& f) {
  const std::string& c = f[0];
  if (c == "cfg") return Configure(f);
  if (c == "day") return Day(f);
  if (c == "set") {
    date d;
    const bool ok = d.Set(I(f[1]), I(f[2]), I(f[3]));
    std::printf("%d %.17g\n", ok ? 1 : 0, d.GetValue());
    return;
  }
  if (c == "sec") return Second(f);
  if (c == "move") return Move(f);
  if (c == "parse") return Parse(f, false);
  if (c == "kparse") return Parse(f, true);
  if (c == "fmt") return Fmt(f);
  if (c == "ts") return TimeStamp(f);
  if (c == "unix") return Unix(f);
  const date a = D(f[1]);
  if (c == "off") {
    std::printf("%d %d %d\n", a.IsDayOff(true, true), a.IsDayOff(false, true), a.IsDayOff(true, false));
    return;
  }
  const date b = D(f[2]);
  if (c == "cmp") {
    std::printf("%d\n", a.Compare(&b, static_cast<uint32_t>(I(f[3]))));
  } else if (c == "diff") {
    std::printf("%lld\n", static_cast<long long>(a.Diff(&b, static_cast<eZorDateDiff>(I(f[3])))));
  } else if (c == "work") {
    std::printf("%d\n", date::GetNbDayWork(&a, &b));
  } else {
    std::printf("? %s\n", c.c_str());
  }
}

}  // namespace

int main() {
  std::ios::sync_with_stdio(false);
  std::string line;
  while (std::getline(std::cin, line)) Run(SplitTabs(line));
  return 0;
}
