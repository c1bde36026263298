// Interning 100,000 five-level paths into the path tree and releasing them,
// against a std::unordered_map from the same texts to numbers (the plain
// interning of whole texts, without components, case folding or a lock).
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kPaths = 100'000;

const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> v;
    v.reserve(kPaths);
    for (int i = 0; i < kPaths; ++i)
      v.push_back("/srv/Compta" + std::to_string(i % 10) + "/exercice" + std::to_string(i % 100) + "/journal" +
                  std::to_string(i % 1000) + "/piece" + std::to_string(i) + ".pdf");
    return v;
  }();
  return texts;
}

void BM_Intern100kPaths_Ours(benchmark::State& state) {
  const auto& texts = Texts();
  for (auto _ : state) {
    std::vector<zorvane::ZorFsa> paths(kPaths);
    for (int i = 0; i < kPaths; ++i) paths[static_cast<size_t>(i)].InitFromPath(texts[static_cast<size_t>(i)].c_str());
    benchmark::DoNotOptimize(paths.data());
  }  // every path released here
}
BENCHMARK(BM_Intern100kPaths_Ours)->Unit(benchmark::kMillisecond);

void BM_Intern100kPaths_Peer(benchmark::State& state) {
  const auto& texts = Texts();
  for (auto _ : state) {
    std::unordered_map<std::string, int> ids;
    for (int i = 0; i < kPaths; ++i) ids.emplace(texts[static_cast<size_t>(i)], i);
    benchmark::DoNotOptimize(ids.size());
  }
}
BENCHMARK(BM_Intern100kPaths_Peer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
