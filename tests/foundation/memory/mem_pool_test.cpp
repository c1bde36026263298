// Private memory pools: the calls without a heap, block sizes and contents
// against a model under random alloc / realloc / free, freeing everything at
// once, concurrent use of a serialised pool and the allocation failure.
#include <zorvane/exception.h>
#include <zorvane/handle.h>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstring>
#include <fstream>
#include <map>
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
class AddressSpaceCap {
 public:
  AddressSpaceCap() {
    getrlimit(RLIMIT_AS, &_saved);
    std::ifstream status("/proc/self/status");
    std::string key;
    uint64_t kb = 0;
    while (status >> key)
      if (key == "VmSize:" && status >> kb) break;
    rlimit cap = _saved;
    cap.rlim_cur = kb * 1024 + (512ull << 20);
    _ok = kb && setrlimit(RLIMIT_AS, &cap) == 0;
  }
  ~AddressSpaceCap() { setrlimit(RLIMIT_AS, &_saved); }
  bool Ok() const { return _ok; }

 private:
  rlimit _saved{};
  bool _ok = false;
};

void FillPattern(void* p, uint32_t n, uint8_t seed) {
  for (uint32_t k = 0; k < n; ++k) static_cast<uint8_t*>(p)[k] = static_cast<uint8_t>(seed + k * 7);
}
bool HasPattern(const void* p, uint32_t n, uint8_t seed) {
  for (uint32_t k = 0; k < n; ++k)
    if (static_cast<const uint8_t*>(p)[k] != static_cast<uint8_t>(seed + k * 7)) return false;
  return true;
}
}  // namespace

TEST(MemPool, WithoutAHeapNothingIsAllocated) {
  ZorMemPool pool;
  EXPECT_FALSE(pool.IsInit());
  EXPECT_EQ(pool.Alloc(10), nullptr);
  EXPECT_EQ(pool.Realloc(nullptr, 10), nullptr);
  EXPECT_EQ(pool.StrDupA("x"), nullptr);
  EXPECT_EQ(pool.GetSize(&pool), 0u);
  pool.Free(&pool);  // ignored
  pool.Trash();
}

// Sizes and contents under alloc / realloc / free are in the random test
// below; here the empty block, alignment and the text copy.
TEST(MemPool, EmptyBlocksAlignmentAndTexts) {
  ZorMemPool pool;
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
  std::mt19937 rng(5);
  for (int round = 0; round < 20; ++round) {
    ZorMemPool pool;
    pool.Init(round % 2 == 0, 0);
    std::map<void*, std::pair<uint32_t, uint8_t>> live;  // block -> size, pattern seed
    for (int step = 0; step < 400; ++step) {
      const uint32_t n = rng() % 300;
      const auto seed = static_cast<uint8_t>(rng());
      const uint32_t op = live.empty() ? 0 : rng() % 3;
      auto it = live.begin();
      if (op) std::advance(it, static_cast<long>(rng() % live.size()));
      if (op == 0) {
        void* p = pool.Alloc(n);
        FillPattern(p, n, seed);
        live[p] = {n, seed};
      } else if (op == 1) {
        const auto [size, oldSeed] = it->second;
        void* p = pool.Realloc(it->first, n);
        live.erase(it);
        ASSERT_TRUE(HasPattern(p, std::min(size, n), oldSeed));
        FillPattern(p, n, seed);
        live[p] = {n, seed};
      } else {
        pool.Free(it->first);
        live.erase(it);
      }
      for (const auto& [p, info] : live) {
        ASSERT_EQ(pool.GetSize(p), info.first);
        ASSERT_TRUE(HasPattern(p, info.first, info.second));
      }
    }
    // The pool goes out of scope with live blocks: its destructor frees them.
  }
}

TEST(MemPool, SerialisedPoolTakesConcurrentCalls) {
  ZorMemPool pool;
  pool.Init(true, 0);
  auto worker = [&pool](uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::pair<void*, uint32_t>> mine;
    for (int k = 0; k < 3000; ++k) {
      if (mine.empty() || rng() % 3) {
        const uint32_t n = 1 + rng() % 64;
        void* p = pool.Alloc(n);
        FillPattern(p, n, static_cast<uint8_t>(seed));
        mine.emplace_back(p, n);
      } else {
        const size_t at = rng() % mine.size();
        auto [p, n] = mine[at];
        if (!HasPattern(p, n, static_cast<uint8_t>(seed)) || pool.GetSize(p) != n) throw std::runtime_error("corrupt");
        if (rng() % 2) {
          pool.Free(p);
          mine.erase(mine.begin() + static_cast<std::ptrdiff_t>(at));
        } else {
          mine[at].first = pool.Realloc(p, n + 8);
          mine[at].second = n + 8;
          FillPattern(mine[at].first, n + 8, static_cast<uint8_t>(seed));
        }
      }
    }
  };
  std::vector<std::thread> threads;
  std::vector<std::exception_ptr> errors(4);
  for (uint32_t t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      try {
        worker(t + 1);
      } catch (...) {
        errors[t] = std::current_exception();
      }
    });
  for (auto& th : threads) th.join();
  for (auto& e : errors) EXPECT_EQ(e, nullptr);
  pool.Trash();
}

TEST(MemPool, FailedAllocationRaisesTheMemoryError) {
  ZOR_REQUIRE_ALLOC_PROBE();
  ZorMemPool pool;
  pool.Init(false, 0);
  void* p = pool.Alloc(16);
  auto expectError = [](auto call, uint32_t line) {
    try {
      call();
      ADD_FAILURE() << "no exception";
    } catch (const ZorEBasic& e) {
      EXPECT_EQ(e.GetModuleId(), 1);
      EXPECT_EQ(e.GetError(), ZorErr(1, 1));
      EXPECT_STREQ(e.GetFileText(), "memory\\ZorMemPool");
      EXPECT_EQ(e.GetLine(), line);
    }
  };
  {
    AddressSpaceCap cap;
    ASSERT_TRUE(cap.Ok());
    expectError([&] { pool.Alloc(0xF0000000u); }, 50);
    expectError([&] { pool.Realloc(p, 0xF0000000u); }, 73);
  }
  EXPECT_EQ(pool.GetSize(p), 16u);  // a failed reallocation keeps the block
  pool.Free(p);
}
