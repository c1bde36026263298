// The formatter against snprintf on the same message: a text, a signed
// number and a hexadecimal value, each into a reused destination.
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

const char* const kNames[] = {"alpha", "customer_id", "x", "total amount due"};

void BM_FormatMessage_Ours(benchmark::State& state) {
  zorvane::string out;
  int32_t n = 0;
  for (auto _ : state) {
    ++n;
    zorvane::ZorFormString(&out, "^0s=^1i (^2x)", kNames[n & 3], n * 7919 - 500000, static_cast<uint32_t>(n) * 2654435761u);
    benchmark::DoNotOptimize(out.CStr());
  }
}
BENCHMARK(BM_FormatMessage_Ours);

void BM_FormatMessage_Peer(benchmark::State& state) {
  char out[128];
  int32_t n = 0;
  for (auto _ : state) {
    ++n;
    snprintf(out, sizeof out, "%s=%d (0x%08X)", kNames[n & 3], n * 7919 - 500000, static_cast<uint32_t>(n) * 2654435761u);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_FormatMessage_Peer);

}  // namespace

BENCHMARK_MAIN();
