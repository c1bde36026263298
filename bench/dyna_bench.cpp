// ZorDyna against a std::map of (kind, line, column) to byte vectors doing
// the same jobs: building 10,000 four-byte cells with SetData (100 lines of
// 100 columns, in shuffled order), then 100,000 random reads of them.
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <tuple>
#include <vector>

namespace {

using zorvane::ZorDyna;
using Place = std::tuple<int32_t, int32_t, int32_t>;
using PeerMap = std::map<Place, std::vector<char>>;

constexpr int kCells = 10000;
constexpr int kReads = 100000;

std::vector<Place> Places() {
  std::vector<Place> out;
  for (int i = 0; i < kCells; ++i) out.emplace_back(1 + i % 3, 1 + i / 100, 1 + i % 100);
  std::shuffle(out.begin(), out.end(), std::mt19937(7));
  return out;
}

std::vector<Place> Reads() {
  const std::vector<Place> all = Places();
  std::mt19937 gen(11);
  std::vector<Place> out;
  for (int i = 0; i < kReads; ++i) out.push_back(all[gen() % all.size()]);
  return out;
}

void Build(ZorDyna* d, const std::vector<Place>& places) {
  d->Init();
  int32_t v = 1;
  for (const auto& [k, l, c] : places) {
    d->SetData(k, l, c, sizeof v, &v);
    ++v;
  }
}

void Build(PeerMap* m, const std::vector<Place>& places) {
  m->clear();
  int32_t v = 1;
  for (const Place& p : places) {
    std::vector<char>& cell = (*m)[p];
    cell.assign(reinterpret_cast<const char*>(&v), reinterpret_cast<const char*>(&v) + sizeof v);
    ++v;
  }
}

void BM_DynaBuild10k_Ours(benchmark::State& state) {
  const std::vector<Place> places = Places();
  for (auto _ : state) {
    ZorDyna d;
    Build(&d, places);
    benchmark::DoNotOptimize(d.GetHandle()->GetDatas());
  }
}

void BM_DynaBuild10k_Peer(benchmark::State& state) {
  const std::vector<Place> places = Places();
  for (auto _ : state) {
    PeerMap m;
    Build(&m, places);
    benchmark::DoNotOptimize(m.size());
  }
}

void BM_DynaRead100k_Ours(benchmark::State& state) {
  ZorDyna d;
  Build(&d, Places());
  const std::vector<Place> reads = Reads();
  for (auto _ : state) {
    int64_t sum = 0;
    for (const auto& [k, l, c] : reads) {
      int32_t v = 0;
      d.GetData(k, l, c, 4, &v);
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
}

void BM_DynaRead100k_Peer(benchmark::State& state) {
  PeerMap m;
  Build(&m, Places());
  const std::vector<Place> reads = Reads();
  for (auto _ : state) {
    int64_t sum = 0;
    for (const Place& p : reads) {
      const auto it = m.find(p);
      int32_t v = 0;
      if (it != m.end()) std::memcpy(&v, it->second.data(), std::min<size_t>(4, it->second.size()));
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
}

}  // namespace

BENCHMARK(BM_DynaBuild10k_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DynaBuild10k_Peer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DynaRead100k_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DynaRead100k_Peer)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
