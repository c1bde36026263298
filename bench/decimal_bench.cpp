// decimal against the plain C library doing the same job: writing an amount
// with two decimals (snprintf "%.2f"), reading one (strtod), and one typed
// addition or multiplication (the double operation followed by one rounding).
// Each iteration works on the next of 1024 prepared amounts.
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

constexpr size_t kCount = 1024;

const std::vector<double>& Amounts() {
  static const std::vector<double> amounts = [] {
    std::mt19937_64 rng(42);
    std::vector<double> v(kCount);
    for (double& x : v) x = std::nearbyint(static_cast<double>(rng() % 100000000) - 20000000.0) / 100;
    return v;
  }();
  return amounts;
}

const std::vector<std::string>& AmountTexts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> v;
    char buf[64];
    for (double x : Amounts()) {
      std::snprintf(buf, sizeof(buf), "%.2f", x);
      v.emplace_back(buf);
    }
    return v;
  }();
  return texts;
}

void BM_ToKernel_Ours(benchmark::State& state) {
  const auto& amounts = Amounts();
  string out;
  size_t i = 0;
  for (auto _ : state) {
    decimal d;
    d._setDouble(amounts[i++ % kCount]);
    benchmark::DoNotOptimize(d.ToKernel(&out, kZorLogTypeDec2));
  }
}

void BM_ToKernel_Peer(benchmark::State& state) {
  const auto& amounts = Amounts();
  char buf[64];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buf, sizeof(buf), "%.2f", amounts[i++ % kCount]));
    benchmark::ClobberMemory();
  }
}

void BM_SetKernel_Ours(benchmark::State& state) {
  const auto& texts = AmountTexts();
  size_t i = 0;
  decimal d;
  for (auto _ : state) {
    benchmark::DoNotOptimize(d.SetKernel(texts[i++ % kCount].c_str(), kZorLogTypeDec2));
    benchmark::DoNotOptimize(d);
  }
}

void BM_SetKernel_Peer(benchmark::State& state) {
  const auto& texts = AmountTexts();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(std::strtod(texts[i++ % kCount].c_str(), nullptr));
}

void BM_Add_Ours(benchmark::State& state) {
  const auto& amounts = Amounts();
  decimal sum;
  size_t i = 0;
  for (auto _ : state) {
    decimal d;
    d._setDouble(amounts[i++ % kCount]);
    sum.Add(&d, kZorLogTypeDec2);
    benchmark::DoNotOptimize(sum);
  }
}

void BM_Add_Peer(benchmark::State& state) {
  const auto& amounts = Amounts();
  double sum = 0;
  size_t i = 0;
  for (auto _ : state) {
    sum = std::nearbyint((sum + amounts[i++ % kCount]) * 100) / 100;
    benchmark::DoNotOptimize(sum);
  }
}

void BM_Mul_Ours(benchmark::State& state) {
  const auto& amounts = Amounts();
  const decimal rate = decimal(1.196, kZorLogTypeDec4);
  size_t i = 0;
  for (auto _ : state) {
    decimal d;
    d._setDouble(amounts[i++ % kCount]);
    d.Mul(&rate, kZorLogTypeDec2);
    benchmark::DoNotOptimize(d);
  }
}

void BM_Mul_Peer(benchmark::State& state) {
  const auto& amounts = Amounts();
  const double rate = 1.196;
  size_t i = 0;
  for (auto _ : state) {
    double v = std::nearbyint(amounts[i++ % kCount] * rate * 100) / 100;
    benchmark::DoNotOptimize(v);
  }
}

}  // namespace

BENCHMARK(BM_ToKernel_Ours);
BENCHMARK(BM_ToKernel_Peer);
BENCHMARK(BM_SetKernel_Ours);
BENCHMARK(BM_SetKernel_Peer);
BENCHMARK(BM_Add_Ours);
BENCHMARK(BM_Add_Peer);
BENCHMARK(BM_Mul_Ours);
BENCHMARK(BM_Mul_Peer);

BENCHMARK_MAIN();
