// `date` against the standard library: building a date from its parts and
// reading every part back (peer: std::chrono's civil calendar), and the
// pattern formatter (peer: strftime on a prepared struct tm).
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <vector>

using namespace zorvane;

namespace {

struct Ymd {
  int32_t d, m, y;
};

const std::vector<Ymd>& Sample() {
  static const std::vector<Ymd> sample = [] {
    std::vector<Ymd> v;
    uint32_t x = 12345;
    for (int i = 0; i < 4096; ++i) {
      x = x * 1103515245u + 12345u;
      v.push_back({static_cast<int32_t>(x >> 8) % 28 + 1, static_cast<int32_t>(x >> 16) % 12 + 1,
                   1600 + static_cast<int32_t>(x >> 4) % 8400});
    }
    return v;
  }();
  return sample;
}

void BM_SetGetParts_Ours(benchmark::State& state) {
  const std::vector<Ymd>& sample = Sample();
  size_t i = 0;
  for (auto _ : state) {
    const Ymd& p = sample[i++ & 4095];
    date v;
    bool ok = v.Set(p.d, p.m, p.y);
    int32_t d, m, y, doy;
    eZorWeekDay wd;
    bool leap;
    v.Get(&d, &m, &y, &doy, &wd, &leap);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(d + m + y + doy + wd + leap);
  }
}

void BM_SetGetParts_Peer(benchmark::State& state) {
  using namespace std::chrono;
  const std::vector<Ymd>& sample = Sample();
  size_t i = 0;
  for (auto _ : state) {
    const Ymd& p = sample[i++ & 4095];
    const year_month_day in{year{p.y}, month{static_cast<unsigned>(p.m)}, day{static_cast<unsigned>(p.d)}};
    bool ok = in.ok();
    const sys_days days{in};
    const year_month_day out{days};
    const int doy = (days - sys_days{out.year() / January / 1}).count() + 1;
    const unsigned wd = weekday{days}.c_encoding();
    const bool leap = out.year().is_leap();
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(static_cast<int>(out.year()) + static_cast<unsigned>(out.month()) +
                             static_cast<unsigned>(out.day()) + doy + wd + leap);
  }
}

void BM_FormatStamp_Ours(benchmark::State& state) {
  const std::vector<Ymd>& sample = Sample();
  string out;
  size_t i = 0;
  for (auto _ : state) {
    const Ymd& p = sample[i++ & 4095];
    date v;
    v.Set(p.d, p.m, p.y, nullptr, 13, 45, 7);
    benchmark::DoNotOptimize(v.Format("D/M/CY H:I:S", &out));
  }
}

void BM_FormatStamp_Peer(benchmark::State& state) {
  const std::vector<Ymd>& sample = Sample();
  char out[64];
  size_t i = 0;
  for (auto _ : state) {
    const Ymd& p = sample[i++ & 4095];
    struct tm t {};
    t.tm_mday = p.d;
    t.tm_mon = p.m - 1;
    t.tm_year = p.y - 1900;
    t.tm_hour = 13;
    t.tm_min = 45;
    t.tm_sec = 7;
    benchmark::DoNotOptimize(strftime(out, sizeof(out), "%d/%m/%Y %H:%M:%S", &t));
  }
}

}  // namespace

BENCHMARK(BM_SetGetParts_Ours);
BENCHMARK(BM_SetGetParts_Peer);
BENCHMARK(BM_FormatStamp_Ours);
BENCHMARK(BM_FormatStamp_Peer);
BENCHMARK_MAIN();
