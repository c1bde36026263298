// Private memory pools: the calls without a heap, block sizes and contents
// against a model under random alloc / realloc / free, freeing everything at
// once, concurrent use of a serialised pool and the allocation failure.
#include <zorvane/exception.h>
#include <zorvane/handle.h>
#include <zorvane/memory.h>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <fstream>
#include <map>
#include <string>
#include <random>
#include <thread>
#include <vector>

#include "support/alloc_probe.h"

using namespace zorvane;

#if defined(ZOR_TEST_HAS_ALLOC_PROBE)
// A request the system refuses gives null instead of aborting, so that the
// pool's error path runs.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace {
// Caps the address space at its current size plus some room for the rest of
// the test, so that a 4 GB request fails; restores the limit afterwards.
struct AddressSpaceCap {
  AddressSpaceCap() {
    getrlimit(RLIMIT_AS, &_saved);
    std::ifstream status("/proc/self/status");
    std::string key;
    uint64_t kb = 0;
    while (status >> key)
      if (key == "VmSize:" && status >> kb) break;
    rlimit cap = _saved;
    cap.rlim_cur = kb * 1024 + (512ull << 20);
    ok = kb && setrlimit(RLIMIT_AS, &cap) == 0;
  }
  ~AddressSpaceCap() { setrlimit(RLIMIT_AS, &_saved); }

  rlimit _saved{};
  bool ok = false;
};

void FillPattern(void* p, uint32_t n, uint8_t seed) {
  for (uint32_t k = 0; k < n; ++k) static_cast<uint8_t*>(p)[k] = static_cast<uint8_t>(seed + k * 7);
}
bool HasPattern(const void* p, uint32_t n, uint8_t seed) {
  for (uint32_t k = 0; k < n; ++k)
    if (static_cast<const uint8_t*>(p)[k] != static_cast<uint8_t>(seed + k * 7)) return false;
  return true;
}

// Random alloc / realloc / free against a map of the blocks' sizes and
// contents, checked for the block touched (every live one with checkAll);
// the first difference found, or "".
std::string Exercise(ZorMemPool* pool, uint32_t seed, int steps, bool checkAll) {
  std::mt19937 rng(seed);
  std::map<void*, std::pair<uint32_t, uint8_t>> live;  // block -> size, pattern seed
  for (int step = 0; step < steps; ++step) {
    const uint32_t n = rng() % 300, op = live.empty() ? 0 : rng() % 3;
    const auto fill = static_cast<uint8_t>(rng());
    auto it = live.begin();
    if (op) std::advance(it, static_cast<long>(rng() % live.size()));
    if (op && (pool->GetSize(it->first) != it->second.first || !HasPattern(it->first, it->second.first, it->second.second)))
      return "block changed at step " + std::to_string(step);
    if (op == 2) {
      pool->Free(it->first);
      live.erase(it);
      continue;
    }
    const uint32_t kept = op ? std::min(it->second.first, n) : 0;
    const uint8_t old = op ? it->second.second : 0;
    void* p = op ? pool->Realloc(it->first, n) : pool->Alloc(n);
    if (op) live.erase(it);
    if (!HasPattern(p, kept, old)) return "reallocation lost bytes at step " + std::to_string(step);
    FillPattern(p, n, fill);
    live[p] = {n, fill};
    for (const auto& [q, info] : live)
      if (checkAll && (pool->GetSize(q) != info.first || !HasPattern(q, info.first, info.second)))
        return "a block changed at step " + std::to_string(step);
  }
  return "";
}
}  // namespace

// Sizes and contents under alloc / realloc / free are in the random test
// below; here the pool without a heap, the empty block, alignment and the
// text copy.
TEST(MemPool, EmptyBlocksAlignmentAndTexts) {
  ZorMemPool pool;
  EXPECT_FALSE(pool.IsInit());
  EXPECT_EQ(pool.Alloc(10), nullptr);
  EXPECT_EQ(pool.Realloc(nullptr, 10), nullptr);
  EXPECT_EQ(pool.StrDupA("x"), nullptr);
  EXPECT_EQ(pool.GetSize(&pool), 0u);
  pool.Free(&pool);  // ignored
  pool.Init(false, 4096);
  void* a = pool.Alloc(0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(pool.GetSize(a), 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pool.Realloc(nullptr, 100000)) % 16, 0u);
  char* s = pool.StrDupA("copy me");
  EXPECT_STREQ(s, "copy me");
  EXPECT_EQ(pool.GetSize(s), 8u);
  EXPECT_EQ(pool.StrDupA(nullptr), nullptr);
  pool.Free(nullptr);
  pool.Free(a);
  EXPECT_EQ(pool.Compact(), 0u);
  // The other blocks are left to the pool: a new heap frees them (LeakSanitizer checks).
  pool.Init(true, 0);
  EXPECT_TRUE(pool.IsInit());
}

TEST(MemPool, RandomAllocationsMatchTheModel) {
  for (uint32_t round = 0; round < 20; ++round) {
    ZorMemPool pool;
    pool.Init(round % 2 == 0, 0);
    EXPECT_EQ(Exercise(&pool, round, 400, true), "") << "round " << round;
  }  // the pool goes out of scope with live blocks: its destructor frees them
}

TEST(MemPool, SerialisedPoolTakesConcurrentCalls) {
  ZorMemPool pool;
  pool.Init(true, 0);
  std::vector<std::string> errors(4);
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t) threads.emplace_back([&, t] { errors[t] = Exercise(&pool, 100 + t, 3000, false); });
  for (auto& th : threads) th.join();
  for (const std::string& e : errors) EXPECT_EQ(e, "");
  pool.Trash();
}

// A failed allocation, of a pool or of the global allocator, raises the
// memory error naming the failing call's source; a failed reallocation keeps
// the block. The address-space limit is the one the memory figures report.
TEST(MemPool, FailedAllocationRaisesTheMemoryError) {
  ZorMemPool pool;
  pool.Init(false, 0);
  void* p = pool.Alloc(16);
  void* q = ZorMemAlloc(16);
  auto expectError = [](auto call, const char* file, uint32_t line) {
    try {
      call();
      ADD_FAILURE() << "no exception at " << line;
    } catch (const ZorEBasic& e) {
      EXPECT_EQ(e.GetModuleId(), 1);
      EXPECT_EQ(e.GetError(), ZorErr(1, 1));
      EXPECT_STREQ(e.GetFileText(), file);
      EXPECT_EQ(e.GetLine(), line);
    }
  };
  sZorMemInfo info;
  rlimit limit{};
  getrlimit(RLIMIT_AS, &limit);
  ASSERT_TRUE(ZorGetMemInfo(&info));
  EXPECT_EQ(info.totalVirtual, limit.rlim_cur == RLIM_INFINITY ? uint64_t{1} << 47 : limit.rlim_cur);
  {
    AddressSpaceCap cap;
    ASSERT_TRUE(cap.ok);
    getrlimit(RLIMIT_AS, &limit);
    ASSERT_TRUE(ZorGetMemInfo(&info));
    EXPECT_EQ(info.totalVirtual, limit.rlim_cur);
    expectError([&] { pool.Alloc(0xF0000000u); }, "memory\\ZorMemPool", 50);
    expectError([&] { pool.Realloc(p, 0xF0000000u); }, "memory\\ZorMemPool", 73);
    expectError([&] { ZorMemAlloc(0xF0000000u); }, "memory\\ZorMemoryManagement", 17);
    expectError([&] { ZorMemRealloc(q, 0xF0000000u); }, "memory\\ZorMemoryManagement", 24);
  }
  EXPECT_EQ(pool.GetSize(p), 16u);
  pool.Free(p);
  ZorMemFree(q);
}
