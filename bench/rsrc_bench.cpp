// ZorLoadString on cached string lists against a std::unordered_map from
// (module, group, number) to std::string: 100,000 look-ups of random
// messages that exist in the library's own catalogue, each copied into a
// string. Items per second are look-ups per second.
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using zorvane::string;

struct Ref {
  int32_t group;
  int32_t id;
};

constexpr int kLookups = 100000;

// Every message of module 1, found through the library's listings.
std::vector<Ref> AllMessages() {
  std::vector<int32_t> groups;
  zorvane::ZorForEachRsrc(1, zorvane::ZorRsrcStrList, [](void* g, int32_t id) {
    static_cast<std::vector<int32_t>*>(g)->push_back(id);
    return true;
  }, &groups);
  std::vector<Ref> out;
  for (int32_t group : groups) {
    std::pair<std::vector<Ref>*, int32_t> ctx{&out, group};
    zorvane::ZorForEachString(1, group, [](void* c, int32_t id, const char*, const char*) {
      auto* p = static_cast<std::pair<std::vector<Ref>*, int32_t>*>(c);
      p->first->push_back({p->second, id});
      return true;
    }, &ctx);
  }
  return out;
}

std::vector<Ref> Lookups(const std::vector<Ref>& all) {
  std::mt19937 gen(17);
  std::vector<Ref> out;
  for (int i = 0; i < kLookups; ++i) out.push_back(all[gen() % all.size()]);
  return out;
}

uint64_t KeyOf(int32_t group, int32_t id) { return static_cast<uint64_t>(1) << 48 | static_cast<uint64_t>(group) << 24 | id; }

void BM_LoadString_Ours(benchmark::State& state) {
  const std::vector<Ref> reads = Lookups(AllMessages());
  string out;
  for (const Ref& r : reads) zorvane::ZorLoadString(1, r.group, r.id, &out);  // every group cached
  for (auto _ : state) {
    size_t total = 0;
    for (const Ref& r : reads) total += zorvane::ZorLoadString(1, r.group, r.id, &out)[0];
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void BM_LoadString_Peer(benchmark::State& state) {
  const std::vector<Ref> all = AllMessages();
  std::unordered_map<uint64_t, std::string> map;
  string text;
  for (const Ref& r : all) map.emplace(KeyOf(r.group, r.id), zorvane::ZorLoadString(1, r.group, r.id, &text));
  const std::vector<Ref> reads = Lookups(all);
  std::string out;
  for (auto _ : state) {
    size_t total = 0;
    for (const Ref& r : reads) {
      const auto it = map.find(KeyOf(r.group, r.id));
      out = it == map.end() ? std::string() : it->second;
      total += out[0];
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kLookups);
}

}  // namespace

BENCHMARK(BM_LoadString_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadString_Peer)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
