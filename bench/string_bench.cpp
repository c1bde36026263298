// `string` against std::string and the C library on the hot paths:
// single-character appends, copies of 40-character texts, and the
// case-insensitive comparison of word pairs.
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>
#include <strings.h>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kAppends = 10'000'000;
constexpr int kCopies = 1'000'000;
constexpr int kPairs = 1'000'000;

void BM_Append10M_Ours(benchmark::State& state) {
  for (auto _ : state) {
    zorvane::string s;
    for (int i = 0; i < kAppends; ++i) s += static_cast<char>('a' + (i & 15));
    benchmark::DoNotOptimize(s.CStr());
  }
}
BENCHMARK(BM_Append10M_Ours)->Unit(benchmark::kMillisecond);

void BM_Append10M_Peer(benchmark::State& state) {
  for (auto _ : state) {
    std::string s;
    for (int i = 0; i < kAppends; ++i) s += static_cast<char>('a' + (i & 15));
    benchmark::DoNotOptimize(s.c_str());
  }
}
BENCHMARK(BM_Append10M_Peer)->Unit(benchmark::kMillisecond);

// A 40-character text does not fit either inline buffer, so both copies
// allocate.
const char kForty[] = "0123456789abcdefghijklmnopqrstuvwxyzABCD";

void BM_Copy40x1M_Ours(benchmark::State& state) {
  const zorvane::string src(kForty);
  for (auto _ : state) {
    for (int i = 0; i < kCopies; ++i) {
      zorvane::string copy(src);
      benchmark::DoNotOptimize(copy.CStr());
    }
  }
}
BENCHMARK(BM_Copy40x1M_Ours)->Unit(benchmark::kMillisecond);

void BM_Copy40x1M_Peer(benchmark::State& state) {
  const std::string src(kForty);
  for (auto _ : state) {
    for (int i = 0; i < kCopies; ++i) {
      std::string copy(src);
      benchmark::DoNotOptimize(copy.c_str());
    }
  }
}
BENCHMARK(BM_Copy40x1M_Peer)->Unit(benchmark::kMillisecond);

// Word pairs: half are the same word in another case (compared to the end),
// the rest differ somewhere. ASCII only, so that both sides agree on case.
const std::vector<std::pair<std::string, std::string>>& WordPairs() {
  static const auto pairs = [] {
    std::mt19937 rng(5);
    std::vector<std::pair<std::string, std::string>> out;
    for (int i = 0; i < 4096; ++i) {
      std::string a(4 + rng() % 10, ' ');
      for (char& c : a) c = static_cast<char>('a' + rng() % 26);
      std::string b = a;
      for (char& c : b)
        if (rng() % 2) c = static_cast<char>(c - 32);
      if (rng() % 2) b[rng() % b.size()] = static_cast<char>('a' + rng() % 26);
      out.emplace_back(a, b);
    }
    return out;
  }();
  return pairs;
}

template <typename Compare>
void ComparePairs(benchmark::State& state, Compare cmp) {
  const auto& pairs = WordPairs();
  for (auto _ : state) {
    int sum = 0;
    for (int i = 0; i < kPairs; ++i) {
      const auto& p = pairs[i & 4095];
      sum += cmp(p.first.c_str(), p.second.c_str()) < 0;
    }
    benchmark::DoNotOptimize(sum);
  }
}

void BM_ICmp1M_Ours(benchmark::State& state) { ComparePairs(state, zorvane::ZorStrICmp); }
BENCHMARK(BM_ICmp1M_Ours)->Unit(benchmark::kMillisecond);

void BM_ICmp1M_Peer(benchmark::State& state) { ComparePairs(state, strcasecmp); }
BENCHMARK(BM_ICmp1M_Peer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
