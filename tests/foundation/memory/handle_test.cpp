// Handle records, ZorHandle and the release guard: lifetimes, foreign data,
// resizing and the byte-range edits.
#include <zorvane/exception.h>
#include <zorvane/handle.h>
#include <zorvane/stream.h>
#include <zorvane/memory.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/alloc_probe.h"
#include "support/temp_files.h"

using namespace zorvane;
using zortest::IsLiveBlock;

namespace {

std::vector<uint8_t> Bytes(const ZorHandle& h) {
  const auto* p = static_cast<const uint8_t*>(h.GetDatas());
  return h.GetSize() ? std::vector<uint8_t>(p, p + h.GetSize()) : std::vector<uint8_t>();
}

ZorHandle Filled(std::vector<uint8_t> bytes) {
  ZorHandle h;
  h.Init(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return h;
}

}  // namespace

// ---------------------------------------------------------------- records

TEST(HandleRecord, EmptyHandleHasNoDataButCountsLocks) {
  handle_t* h = ZorAllocHandle(0);
  EXPECT_EQ(h->data, nullptr);
  EXPECT_EQ(ZorGetRefCount(h), 1u);
  EXPECT_EQ(ZorGetHandleDatas(h), ZorNoData());
  EXPECT_EQ(ZorLockHandle(h), ZorNoData());
  EXPECT_TRUE(ZorIsHandleLocked(h));
  EXPECT_EQ(h->locks, 1u);
  EXPECT_EQ(ZorSetHandleSizeLock(h, 0), ZorNoData());
  EXPECT_EQ(h->locks, 2u);
  ZorUnlockHandle(h);
  ZorUnlockHandle(h);
  EXPECT_FALSE(ZorIsHandleLocked(h));
  ZorReleaseHandle(h);
}

TEST(HandleRecord, LockedHandleOutlivesItsLastOwner) {
  ZOR_REQUIRE_ALLOC_PROBE();
  handle_t* h = ZorAllocHandle(8);
  void* data = ZorLockHandle(h);
  ZorAddHandleRef(h);
  ZorReleaseHandle(h);
  ZorReleaseHandle(h);
  ASSERT_TRUE(IsLiveBlock(h));
  EXPECT_EQ(ZorGetRefCount(h), 0u);
  std::memset(data, 7, 8);  // still writable
  ZorLockHandle(h);
  ZorUnlockHandle(h);
  ASSERT_TRUE(IsLiveBlock(h));
  ZorUnlockHandle(h);
  EXPECT_FALSE(IsLiveBlock(h));
  EXPECT_FALSE(IsLiveBlock(data));
}

TEST(HandleRecord, ForeignDataIsWrappedNeverFreed) {
  ZOR_REQUIRE_ALLOC_PROBE();
  auto* buffer = static_cast<char*>(ZorMemAlloc(5));
  std::memcpy(buffer, "abcde", 5);
  handle_t* h = ZorCreateHandleFromDataPtr(buffer, 5);
  EXPECT_EQ(ZorGetRefCount(h), 0u);
  EXPECT_EQ(h->foreign, 1u);
  EXPECT_EQ(ZorLockHandle(h), buffer);
  // Both counts back at 0: the unlock destroys the record, not the data.
  ZorUnlockHandle(h);
  EXPECT_FALSE(IsLiveBlock(h));
  EXPECT_TRUE(IsLiveBlock(buffer));

  // A foreign record without owners dies on a release too.
  h = ZorCreateHandleFromDataPtr(buffer, 5);
  ZorReleaseHandle(h);
  EXPECT_FALSE(IsLiveBlock(h));
  EXPECT_TRUE(IsLiveBlock(buffer));
  ZorMemFree(buffer);
}

TEST(HandleRecord, SetSizeKeepsContentAndZeroFreesTheBlock) {
  ZOR_REQUIRE_ALLOC_PROBE();
  handle_t* h = ZorAllocHandle(4);
  std::memcpy(h->data, "wxyz", 4);
  ZorSetHandleSize(h, 100);
  EXPECT_EQ(std::memcmp(h->data, "wxyz", 4), 0);
  ZorSetHandleSize(h, 2);
  EXPECT_EQ(std::memcmp(h->data, "wx", 2), 0);
  void* block = h->data;
  ZorSetHandleSize(h, 0);
  EXPECT_EQ(h->data, nullptr);
  EXPECT_EQ(ZorGetHandleSize(h), 0u);
  EXPECT_FALSE(IsLiveBlock(block));
  ZorReleaseHandle(h);
}

TEST(HandleRecord, ResizingForeignDataGivesTheRecordItsOwnBlock) {
  char buffer[6] = "hello";
  handle_t* h = ZorCreateHandleFromDataPtr(buffer, 5);
  ZorSetHandleSize(h, 3);
  EXPECT_NE(h->data, buffer);
  EXPECT_EQ(h->foreign, 0u);
  EXPECT_EQ(std::memcmp(h->data, "hel", 3), 0);
  EXPECT_STREQ(buffer, "hello");
  ZorReleaseHandle(h);  // frees the new block (refs 0 -> destroyed)
}

TEST(HandleRecord, CopyAndDupCopyOwnedDataAndShareForeignData) {
  ZOR_REQUIRE_ALLOC_PROBE();
  char foreign[4] = {'f', 'o', 'r', 'n'};
  handle_t* owned = ZorAllocHandle(3);
  std::memcpy(owned->data, "own", 3);
  handle_t* wrap = ZorCreateHandleFromDataPtr(foreign, 4);
  ZorAddHandleRef(wrap);

  handle_t* dupOwned = ZorDupHandle(owned);
  EXPECT_EQ(ZorGetRefCount(dupOwned), 1u);
  EXPECT_NE(dupOwned->data, owned->data);
  EXPECT_EQ(std::memcmp(dupOwned->data, "own", 3), 0);
  EXPECT_EQ(dupOwned->foreign, 0u);

  handle_t* dupForeign = ZorDupHandle(wrap);
  EXPECT_EQ(ZorGetRefCount(dupForeign), 0u);
  EXPECT_EQ(dupForeign->data, foreign);
  EXPECT_EQ(dupForeign->foreign, 1u);

  // Copying foreign data over an owned block frees the block and shares.
  void* oldBlock = dupOwned->data;
  ZorCopyHandle(dupOwned, wrap);
  EXPECT_FALSE(IsLiveBlock(oldBlock));
  EXPECT_EQ(dupOwned->data, foreign);
  EXPECT_EQ(dupOwned->foreign, 1u);
  EXPECT_EQ(ZorGetHandleSize(dupOwned), 4u);

  // Copying owned data over a foreign record leaves the caller's memory alone.
  ZorCopyHandle(dupForeign, owned);
  EXPECT_EQ(dupForeign->foreign, 0u);
  EXPECT_NE(dupForeign->data, owned->data);
  EXPECT_EQ(ZorGetHandleSize(dupForeign), 3u);
  EXPECT_EQ(std::memcmp(foreign, "forn", 4), 0);

  ZorCopyHandle(owned, owned);  // self copy changes nothing
  EXPECT_EQ(std::memcmp(owned->data, "own", 3), 0);

  for (handle_t* h : {owned, wrap, dupOwned}) ZorReleaseHandle(h);
  ZorLockHandle(dupForeign);
  ZorUnlockHandle(dupForeign);  // refs 0, locks 0: destroyed
}

// ---------------------------------------------------------------- ZorHandle

TEST(Handle, SharingCopiesAndDetachCopy) {
  ZorHandle a = Filled({1, 2, 3});
  ZorHandle b;
  b.Attach(&a);
  ZorHandle c = b;  // copies share as well
  EXPECT_EQ(a.GetRecord(), c.GetRecord());
  EXPECT_EQ(a.GetRefCount(), 3u);

  b.DetachCopy();
  EXPECT_NE(b.GetRecord(), a.GetRecord());
  EXPECT_EQ(a.GetRefCount(), 2u);
  EXPECT_EQ(b.GetRefCount(), 1u);
  static_cast<uint8_t*>(b.GetDatas())[0] = 9;
  EXPECT_EQ(Bytes(a), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(Bytes(b), (std::vector<uint8_t>{9, 2, 3}));

  handle_t* rec = b.GetRecord();
  b.DetachCopy();  // unshared: nothing to do
  EXPECT_EQ(b.GetRecord(), rec);

  a.Attach(&a);  // attaching the own record keeps it
  EXPECT_EQ(a.GetRefCount(), 2u);
  EXPECT_EQ(Bytes(a), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(Handle, DetachCopyOfSharedForeignDataSharesTheData) {
  char foreign[3] = {'x', 'y', 'z'};
  ZorHandle a;
  a.Attach(ZorCreateHandleFromDataPtr(foreign, 3));
  ZorHandle b = a;
  b.DetachCopy();
  EXPECT_NE(b.GetRecord(), a.GetRecord());
  EXPECT_EQ(b.GetDatas(), foreign);
  EXPECT_EQ(a.GetRefCount(), 1u);
  EXPECT_EQ(b.GetRefCount(), 1u);
}

TEST(Handle, GrowClampsAtZeroAndSetSizeZZeroFills) {
  ZorHandle h = Filled({1, 2, 3, 4});
  h.Grow(-10);
  EXPECT_EQ(h.GetSize(), 0u);
  EXPECT_EQ(h.GetDatas(), ZorNoData());
  h.SetSizeZ(3);
  EXPECT_EQ(Bytes(h), (std::vector<uint8_t>{0, 0, 0}));
  auto* p = static_cast<uint8_t*>(h.GrowLock(2));
  p[3] = 6;
  p[4] = 8;
  h.Unlock();
  h.SetSize(4);
  h.SetSizeZ(7);  // the byte dropped and regained is zero again
  EXPECT_EQ(Bytes(h), (std::vector<uint8_t>{0, 0, 0, 6, 0, 0, 0}));
  h.Raz();
  EXPECT_EQ(Bytes(h), std::vector<uint8_t>(7, 0));
}

TEST(Handle, ReplaceDataMovesTheTail) {
  ZorHandle h = Filled({'a', 'b', 'c', 'd', 'e', 'f'});
  EXPECT_EQ(h.ReplaceData(2, 4, "XYZ", 3), 7);
  EXPECT_EQ(Bytes(h), (std::vector<uint8_t>{'a', 'b', 'X', 'Y', 'Z', 'e', 'f'}));
  // A source inside the block itself survives the reallocation.
  const char* own = static_cast<const char*>(h.GetDatas());
  EXPECT_EQ(h.ReplaceData(7, 7, own, 7), 14);
  EXPECT_EQ(std::string(static_cast<const char*>(h.GetDatas()), 14), "abXYZefabXYZef");
}

TEST(Handle, AppendDataWithAndWithoutUsedCounter) {
  ZorHandle h;
  h.Init(0u);
  h.AppendData(3, "abc");
  EXPECT_EQ(h.GetSize(), 3u);
  uint32_t used = 3;
  h.AppendData(2, "de", &used, 10);
  EXPECT_EQ(used, 5u);
  EXPECT_EQ(h.GetSize(), 15u);
  void* before = h.GetDatas();
  h.AppendData(10, "0123456789", &used, 10);  // fits exactly: no growth
  EXPECT_EQ(h.GetSize(), 15u);
  EXPECT_EQ(h.GetDatas(), before);
  h.AppendData(0, nullptr, &used, 10);
  EXPECT_EQ(used, 15u);
  EXPECT_EQ(std::string(static_cast<const char*>(h.GetDatas()), 15), "abcde0123456789");
}

TEST(Handle, GrowthPastFourGigabytesIsAMemoryError) {
  ZorHandle h;
  h.Init("ab", 2);
  uint32_t used = 0xFFFFFFF0u;
  char bytes[32] = {};
  try {
    h.AppendData(32, bytes, &used, 0);
    ADD_FAILURE() << "no exception";
  } catch (const ZorEBasic& e) {
    EXPECT_EQ(e.GetError(), ZorErr(1, 1));
  }
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
  ZorHandle h = Filled({1});
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

// ---------------------------------------------------------------- raw memory

TEST(RawMemory, CopyReturnsTheEndOfTheDestination) {
  char src[5] = {'1', '2', '3', '4', '5'}, dst[5] = {};
  EXPECT_EQ(ZorCopyMemory(dst, src, 5), dst + 5);
  EXPECT_EQ(std::memcmp(dst, src, 5), 0);
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
