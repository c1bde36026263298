// The purger registry: one entry per purger, asked in registration order
// until one frees enough, nothing while a delay exists; and the counters
// that never go below zero.
#include <zorvane/purger.h>

#include <gtest/gtest.h>

using namespace zorvane;

namespace {

struct CountingPurger : iZorMemPurger {
  explicit CountingPurger(bool frees) : frees(frees) {}
  bool Purge(int32_t) override {
    ++calls;
    return frees;
  }
  bool frees;
  int calls = 0;
};

}  // namespace

TEST(Purger, RegistryOrderAndDelay) {
  CountingPurger small(false), big(true);
  ZorRegisterPurger(&small);
  ZorRegisterPurger(&small);
  ZorRegisterPurger(&big);
  ZorRegisterPurger(nullptr);
  EXPECT_TRUE(ZorIsPurgerRegistered(&small));
  EXPECT_TRUE(ZorPurgeMemory(100));
  EXPECT_EQ(small.calls, 1);  // once, and first
  EXPECT_EQ(big.calls, 1);
  {
    ZorDelayPurger outer, inner;
    EXPECT_TRUE(ZorIsPurgeDelayed());
    EXPECT_FALSE(ZorPurgeMemory(100));
    EXPECT_EQ(small.calls, 1);
  }
  EXPECT_FALSE(ZorIsPurgeDelayed());
  ZorUnregisterPurger(&big);
  EXPECT_FALSE(ZorIsPurgerRegistered(&big));
  EXPECT_FALSE(ZorPurgeMemory(100));  // nobody could free that much
  EXPECT_EQ(small.calls, 2);
  ZorUnregisterPurger(&small);

  // Raises (+) and lowers (-), then the count: a lower at 0 leaves it at 0.
  const struct { const char* moves; int count; } kSteps[] = {{"-", 0}, {"++-", 1}, {"--", 0}};
  for (const auto& step : kSteps) {
    for (const char* m = step.moves; *m; ++m) *m == '+' ? ZorSuspendDisabler::Raise() : ZorSuspendDisabler::Lower();
    EXPECT_EQ(ZorSuspendDisabler::Count(), step.count) << step.moves;
  }
}
