// Driver of date_oracle.py (protocol: tests/support/driver.h). Values are
// written with 17 significant digits, so that Python reads the same double;
// "sec" with a negative second reads the value's time as it is.
#include <cstring>

#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

date D(const std::string& s) {
  date d;
  d.SetValue(Real(s));
  return d;
}

void Configure(const Fields& f) {
  ZorDocConfig config = ZorGetDocConfig();
  config.dateOrder = static_cast<eZorDateOrder>(Int(f[1]));
  config.twoDigitYearRule = Int(f[2]) != 0;
  config.yearPivot = Int(f[3]);
  config.endOfMonthCorrection = Int(f[4]) != 0;
  config.weekRule = Int(f[5]) != 0;
  std::memset(config.dateSeps, 0, sizeof(config.dateSeps));
  std::strncpy(config.dateSeps, f[6].c_str(), sizeof(config.dateSeps) - 1);
  config.workDate = Real(f[7]);
  if (!f[8].empty()) config.dateSeps[0] = f[8][0];
  config.timeSep = f[9].empty() ? ':' : f[9][0];
  ZorSetDocConfig(config);
}

std::string Day(const Fields& f) {
  const date d = D(f[1]);
  int32_t day, month, year, doy;
  eZorWeekDay wd;
  bool leap;
  d.Get(&day, &month, &year, &doy, &wd, &leap);
  return Line("%d %d %d %d %d %d %d %d %d %d %d", day, month, year, doy, d.Get(ZorDateGetWeekDay),
              d.Get(ZorDateGetWeek), d.Get(ZorDateGetQuarter), d.Get(ZorDateGetHalfYear), d.Get(ZorDateGetDaysInYear),
              d.Get(ZorDateGetDaysInMonth), leap);
}

std::string Second(const Fields& f) {
  date d = D(f[1]);
  const int32_t s = Int(f[2]);
  if (s >= 0) d.SetTime(s / 3600, s / 60 % 60, s % 60);
  int32_t h, mi, se;
  d.GetTime(&h, &mi, &se);
  return Line("%.17g %d %d %d %d %d", d.GetValue(), h, mi, se, d.Get(ZorDateGetMinuteOfDay),
              d.Get(ZorDateGetSecondOfDay));
}

std::string Parse(const Fields& f, bool kernel) {
  date d;
  d.SetValue(-1);  // parsing must overwrite it
  bool ok;
  if (kernel) {
    ok = d.SetKernel(f[1].c_str());
  } else {
    const date ref = D(f[3]);
    const date* r = ref.IsEmpty() ? nullptr : &ref;
    const int32_t order = Int(f[1]);
    ok = order == 0 ? d.Set(f[2].c_str(), r) : d.Set(f[2].c_str(), static_cast<eZorDateOrder>(order), r);
  }
  return Line("%d %.17g", ok, d.GetValue());
}

std::string TimeStamp(const Fields& f) {
  string out;
  D(f[1]).ToTimeStampStr(&out);
  date back;
  const bool ok = back.SetTimeStamp(out.CStr());
  return Line("%s %d %.17g", out.CStr(), ok, back.GetValue());
}

}  // namespace

int main() {
  return Serve({
      {"cfg", Configure},
      {"day", Day},
      {"set",
       [](const Fields& f) {
         date d;
         const bool ok = d.Set(Int(f[1]), Int(f[2]), Int(f[3]));
         return Line("%d %.17g", ok, d.GetValue());
       }},
      {"sec", Second},
      {"move",
       [](const Fields& f) {
         const date ref = D(f[2]);
         return Line("%.17g", date(static_cast<eZorDate>(Int(f[1])), &ref, Int(f[3])).GetValue());
       }},
      {"parse", [](const Fields& f) { return Parse(f, false); }},
      {"kparse", [](const Fields& f) { return Parse(f, true); }},
      {"fmt",
       [](const Fields& f) {
         string out("stale text");
         D(f[1]).Format(f[2].c_str(), &out);
         return std::string(out.CStr());
       }},
      {"ts", TimeStamp},
      {"unix",
       [](const Fields& f) {
         date d;
         d.SetUnixTS(std::strtoll(f[1].c_str(), nullptr, 10));
         return Line("%.17g %lld", d.GetValue(), static_cast<long long>(d.ToUnixTimeTS()));
       }},
      {"pair",
       [](const Fields& f) {
         const date a = D(f[1]), b = D(f[2]);
         return Line("%d %lld", a.Compare(&b, static_cast<uint32_t>(Int(f[3]))),
                     static_cast<long long>(a.Diff(&b, static_cast<eZorDateDiff>(Int(f[4])))));
       }},
      {"off",
       [](const Fields& f) {
         const date a = D(f[1]);
         return Line("%d %d %d", a.IsDayOff(true, true), a.IsDayOff(false, true), a.IsDayOff(true, false));
       }},
      {"work",
       [](const Fields& f) {
         const date a = D(f[1]), b = D(f[2]);
         return Line("%d", date::GetNbDayWork(&a, &b));
       }},
  });
}
