// What the random lifetime and byte-edit models (handle_model_test.cpp) do
// not reach: the empty record, the 4 GB limit, the release guard and the
// growth policy.
#include <zorvane/exception.h>
#include <zorvane/handle.h>
#include <zorvane/stream.h>
#include <zorvane/memory.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/temp_files.h"
#include "support/test_util.h"

using namespace zorvane;


TEST(Handle, EmptyHandleHasNoDataButCountsLocks) {
  handle_t* h = ZorAllocHandle(0);
  EXPECT_EQ(h->data, nullptr);
  EXPECT_EQ(ZorGetHandleDatas(h), ZorNoData());
  EXPECT_EQ(ZorLockHandle(h), ZorNoData());
  EXPECT_EQ(ZorSetHandleSizeLock(h, 0), ZorNoData());
  EXPECT_EQ(h->locks, 2u);
  ZorUnlockHandle(h);
  ZorUnlockHandle(h);
  EXPECT_FALSE(ZorIsHandleLocked(h));
  ZorReleaseHandle(h);
}

TEST(Handle, GrowthPastFourGigabytesIsAMemoryError) {
  ZorHandle h;
  h.Init("ab", 2);
  uint32_t used = 0xFFFFFFF0u;
  char bytes[32] = {};
  EXPECT_LIB_ERROR(1, h.AppendData(32, bytes, &used, 0));
  EXPECT_EQ(used, 0xFFFFFFF0u);
  EXPECT_EQ(h.GetSize(), 2u);
}

// ---------------------------------------------------------------- guards

namespace {
struct RecordingLockable : iZorLockable {
  int locks = 0, unlocks = 0, refUnlocks = 0;
  int32_t lastRef = 0;
  void* Lock(ZorLock* guard) override {
    ++locks;
    if (guard) guard->Init(this);
    return this;
  }
  void Unlock() override { ++unlocks; }
  void UnlockRef(ZorLock* guard) override {
    ++refUnlocks;
    lastRef = guard->_GetRef();
  }
};

struct Listener {
  std::vector<int32_t> calls;
  void OnRelease(int32_t arg) { calls.push_back(arg); }
};
}  // namespace

TEST(Lock, GuardUnlocksOnceAtScopeEndOrTrash) {
  ZorHandle h = test::HandleOf("x");
  {
    ZorLock guard;
    h.Lock(&guard);
    EXPECT_TRUE(guard.IsInit());
    EXPECT_EQ(guard.GetFlags(), uint32_t{ZorLock::kLockable});
    EXPECT_TRUE(ZorIsHandleLocked(h.GetRecord()));
  }
  EXPECT_FALSE(ZorIsHandleLocked(h.GetRecord()));

  ZorLock guard;
  h.Lock(&guard);
  guard.Trash();
  guard.Trash();
  EXPECT_FALSE(ZorIsHandleLocked(h.GetRecord()));

  h.Lock(&guard);
  guard.Detach();  // forgets without unlocking
  EXPECT_TRUE(ZorIsHandleLocked(h.GetRecord()));
  h.Unlock();
}

TEST(Lock, ReInitReleasesThePreviousTargetAndMoveHandsOver) {
  RecordingLockable a, b;
  ZorLock guard;
  a.Lock(&guard);
  b.Lock(&guard);
  EXPECT_EQ(a.unlocks, 1);
  ZorLock moved(std::move(guard));
  EXPECT_FALSE(guard.IsInit());
  moved.Trash();
  EXPECT_EQ(b.unlocks, 1);
}

TEST(Lock, CopiesShareOneReleaseByTheLastCopy) {
  RecordingLockable a;
  {
    ZorLock first(&a);
    ZorLock second(first);
    ZorLock third;
    third = second;
    third = third;
    ZorLock moved(std::move(second));  // takes second's share
    EXPECT_FALSE(second.IsInit());
    first.Trash();
    third.Init(&a);  // drops its share first
    third.Detach();
    EXPECT_EQ(a.unlocks, 0);
  }
  EXPECT_EQ(a.unlocks, 1);  // by `moved`, the last copy
  {
    ZorLock first(&a);
    ZorLock second(first);
    first.Detach();
    second.Detach();  // the last copy detached: nothing is released
  }
  EXPECT_EQ(a.unlocks, 1);

  // The guard of a stream that ZorOpenStream created deletes the stream.
  zortest::TempDir dir;
  dir.Make("f.txt", "abc");
  const ZorFsa path = dir.Fsa("f.txt");
  ZorLock guard;
  iZorStream* stream = ZorOpenStream(&path, ZorPermRead, &guard, 0);
  {
    const ZorLock copy(guard);
    guard.Trash();
    EXPECT_EQ(stream->GetSize(), 3u);
  }
}

TEST(Lock, ReferenceValueReleasesThroughUnlockRef) {
  RecordingLockable a;
  {
    ZorLock guard;
    a.Lock(&guard);
    guard._SetRef(42);
    EXPECT_EQ(guard.GetFlags(), uint32_t{ZorLock::kLockable | ZorLock::kRef});
  }
  EXPECT_EQ(a.unlocks, 0);
  EXPECT_EQ(a.refUnlocks, 1);
  EXPECT_EQ(a.lastRef, 42);
}

TEST(Lock, DelegateIsCalledWithItsArgument) {
  Listener listener;
  ZorDelegate member = ZorDelegate::Member<&Listener::OnRelease>(&listener);
  int total = 0;
  auto add = [&total](int32_t v) { total += v; };
  ZorDelegate callable = ZorDelegate::Callable(&add);
  {
    ZorLock guard;
    guard.Init(&member, -7);
    EXPECT_EQ(guard.GetFlags(), uint32_t{ZorLock::kDelegate});
    ZorLock other;
    other.Init(&callable, 5);
    other.Init(&callable, 6);  // releases the first call
  }
  EXPECT_EQ(listener.calls, std::vector<int32_t>{-7});
  EXPECT_EQ(total, 11);
  EXPECT_FALSE(ZorDelegate().IsInit());
}

// Growing one byte at a time must not reallocate at every step: a block
// built item by item (arrays, text lists) would take quadratic time.
TEST(HandleGrowth, ByteByByteGrowthReallocatesRarely) {
  ZorHandle h;
  h.Init(static_cast<uint32_t>(0));
  int moves = 0;
  void* last = nullptr;
  for (uint32_t n = 1; n <= 1000000; ++n) {
    h.SetSize(n);
    static_cast<unsigned char*>(h.GetDatas())[n - 1] = static_cast<unsigned char>(n);
    if (h.GetDatas() != last) ++moves, last = h.GetDatas();
  }
  EXPECT_LT(moves, 60);
  const auto* bytes = static_cast<const unsigned char*>(h.GetDatas());
  for (uint32_t n = 1; n <= 1000000; n += 9973) ASSERT_EQ(bytes[n - 1], static_cast<unsigned char>(n));
  h.SetSize(10);  // far below a quarter of the capacity: memory goes back
  EXPECT_EQ(h.GetSize(), 10u);
  EXPECT_EQ(h.GetRecord()->capacity, 10u);
}
