// ZorSort against its peers on items of a 16-byte key (one 64-bit integer
// part in the index key encoding) and 16 bytes of data.
//   Memory1M    1M items in memory: ours adds them (building each key),
//               validates and reads them all back; the peer builds the same
//               32-byte items and runs std::stable_sort with the same
//               comparison (ZorCompIndex over the key).
//   External20M 20M items (ZOR_SORT_BENCH_N sets another count) through the
//               external method: ours adds, merges and reads them all; the
//               peer is GNU sort (LC_ALL=C, -S 256M) on the same keys and data
//               written as text lines, timed from its start to its end (the
//               writing of its input is not timed). Counters: peak resident
//               memory of ours (this process) and of the sort process.
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

constexpr int32_t kKeyLen = 16, kDataLen = 16;
using Item = std::array<uint8_t, kKeyLen + kDataLen>;

sZorKey QuadKey() {
  sZorKey key;
  key.nbPart = key.nbPart2 = 1;
  key.partType[0] = kZorPhysTypeQuad;
  key.partLen[0] = key.keyLen = kKeyLen;
  return key;
}

std::vector<int64_t> Values(size_t n) {
  std::mt19937_64 rng(42);
  std::vector<int64_t> v(n);
  for (auto& x : v) x = static_cast<int64_t>(rng());
  return v;
}

size_t ExternalCount() {
  const char* n = std::getenv("ZOR_SORT_BENCH_N");
  return n ? std::strtoull(n, nullptr, 10) : 20000000;
}

// Adds every value (the data part repeats the value), then reads all items.
void SortOurs(const std::vector<int64_t>& values, int32_t method, benchmark::State& state) {
  const sZorKey key = QuadKey();
  int64_t value = 0;
  ZorSort sort;
  sort.Init(&key, &value, sizeof value, kDataLen, method, false);
  uint8_t data[kDataLen] = {};
  for (const int64_t v : values) {
    value = v;
    std::memcpy(data, &v, sizeof v);
    sort.Add(data);
  }
  sort.Validate();
  int64_t sum = 0;
  for (int32_t n = 1; n <= sort.GetNbItem(); ++n) {
    sort.ReadN(n, data);
    int64_t got;
    std::memcpy(&got, data, sizeof got);
    sum += got;
  }
  benchmark::DoNotOptimize(sum);
  state.counters["items"] = static_cast<double>(sort.GetNbItem());
}

double PeakMiB(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_Memory1M_Ours(benchmark::State& state) {
  const auto values = Values(1000000);
  for (auto _ : state) SortOurs(values, kZorSortMemory, state);
}

void BM_Memory1M_Peer(benchmark::State& state) {
  const auto values = Values(1000000);
  const sZorKey key = QuadKey();
  for (auto _ : state) {
    std::vector<Item> items(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      ZorBuildIndex(&key, &values[i], sizeof values[i], items[i].data());
      std::memcpy(items[i].data() + kKeyLen, &values[i], sizeof values[i]);
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const Item& a, const Item& b) { return ZorCompIndex(a.data(), b.data(), kKeyLen) < 0; });
    benchmark::DoNotOptimize(items.data());
  }
}

void BM_External20M_Ours(benchmark::State& state) {
  const auto values = Values(ExternalCount());
  for (auto _ : state) SortOurs(values, kZorSortExternal, state);
  state.counters["peak_MiB"] = PeakMiB(RUSAGE_SELF);
}

void BM_External20M_Peer(benchmark::State& state) {
  const auto values = Values(ExternalCount());
  const sZorKey key = QuadKey();
  const std::string in = "/tmp/zor_sort_bench_in.txt", out = "/tmp/zor_sort_bench_out.txt";
  {
    std::ofstream file(in, std::ios::binary);
    std::string line(kKeyLen + 1 + kDataLen + 1, '\n');
    for (const int64_t v : values) {
      ZorBuildIndex(&key, &v, sizeof v, line.data());
      line[kKeyLen] = '\t';
      std::snprintf(line.data() + kKeyLen + 1, kDataLen + 1, "%016llx", static_cast<unsigned long long>(v));
      line[kKeyLen + 1 + kDataLen] = '\n';
      file << line;
    }
  }
  double childPeak = 0;
  for (auto _ : state) {
    const pid_t child = fork();
    if (child == 0) {
      setenv("LC_ALL", "C", 1);
      execlp("sort", "sort", "-S", "256M", "-T", "/tmp", "-o", out.c_str(), in.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("sort failed");
    childPeak = static_cast<double>(usage.ru_maxrss) / 1024.0;
  }
  state.counters["peak_MiB"] = childPeak;
  std::remove(in.c_str());
  std::remove(out.c_str());
}

}  // namespace

BENCHMARK(BM_Memory1M_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory1M_Peer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_External20M_Ours)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_External20M_Peer)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
