// ZorBGet against the standard library on the array's hot paths: sorting
// 1M 16-byte items keyed on a signed 32-bit field (std::sort over a vector
// of the same structs), and 1M binary searches in the sorted array
// (std::lower_bound). Both sides sort the same random keys, copied into a
// fresh array outside the timed region of each iteration.
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int32_t kItems = 1'000'000;
constexpr int kSearches = 1'000'000;

struct Item {
  int32_t key;
  uint32_t rest[3];
};
static_assert(sizeof(Item) == 16);

uint32_t Word(std::mt19937& rng) { return static_cast<uint32_t>(rng()); }

const std::vector<Item>& RandomItems() {
  static const std::vector<Item> items = [] {
    std::mt19937 rng(42);
    std::vector<Item> v(kItems);
    for (int32_t i = 0; i < kItems; ++i) v[i] = Item{static_cast<int32_t>(rng()), {Word(rng), Word(rng), Word(rng)}};
    return v;
  }();
  return items;
}

const std::vector<int32_t>& SearchKeys() {
  static const std::vector<int32_t> keys = [] {
    std::mt19937 rng(7);
    std::vector<int32_t> k(kSearches);
    const auto& items = RandomItems();
    // Half present, half random (mostly absent).
    for (int i = 0; i < kSearches; ++i) k[i] = i % 2 ? items[rng() % kItems].key : static_cast<int32_t>(rng());
    return k;
  }();
  return keys;
}

void FillArray(zorvane::ZorBGet* a) {
  a->Reset(0, sizeof(Item));
  a->InsRange(0, RandomItems().data(), kItems);
}

void BM_Sort1M_Ours(benchmark::State& state) {
  zorvane::ZorBGet a;
  for (auto _ : state) {
    state.PauseTiming();
    FillArray(&a);
    state.ResumeTiming();
    a.Sort(zorvane::kZorPhysTypeLong, 0, false);
    benchmark::DoNotOptimize(a[1]);
  }
}
BENCHMARK(BM_Sort1M_Ours)->Unit(benchmark::kMillisecond);

void BM_Sort1M_Peer(benchmark::State& state) {
  std::vector<Item> v;
  for (auto _ : state) {
    state.PauseTiming();
    v = RandomItems();
    state.ResumeTiming();
    std::sort(v.begin(), v.end(), [](const Item& x, const Item& y) { return x.key < y.key; });
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_Sort1M_Peer)->Unit(benchmark::kMillisecond);

void BM_Search1M_Ours(benchmark::State& state) {
  zorvane::ZorBGet a;
  FillArray(&a);
  a.Sort(zorvane::kZorPhysTypeLong, 0, false);
  const auto& keys = SearchKeys();
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t key : keys) sum += a.Dico(zorvane::kZorPhysTypeLong, 0, &key);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_Search1M_Ours)->Unit(benchmark::kMillisecond);

void BM_Search1M_Peer(benchmark::State& state) {
  std::vector<Item> v = RandomItems();
  std::sort(v.begin(), v.end(), [](const Item& x, const Item& y) { return x.key < y.key; });
  const auto& keys = SearchKeys();
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t key : keys) {
      const auto it = std::lower_bound(v.begin(), v.end(), key, [](const Item& x, int32_t k) { return x.key < k; });
      const int64_t at = it - v.begin();
      sum += (it != v.end() && it->key == key) ? at + 1 : -(at + 1);
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_Search1M_Peer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
