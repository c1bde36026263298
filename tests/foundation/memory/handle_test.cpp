// Handles: model-based random tests of their lifetimes and of ZorHandle's
// byte edits, then what the models do not reach (the empty record, the 4 GB
// limit, the growth policy) and the release guards.
//
// The lifetime test drives a few ZorHandle owners and raw record locks with
// random sequences of alloc / wrap foreign / attach / copy / trash / lock /
// unlock / detach-copy / dup / write / resize, and after every step compares
// each live record with a model of its counts and bytes. The sanitizer's
// allocator, when present, tells whether a record was freed exactly when the
// model says both counts reached 0, and AddressSanitizer catches any use after free, double
// free or free of the caller's foreign buffers; LeakSanitizer any leak.
#include <zorvane/exception.h>
#include <zorvane/handle.h>
#include <zorvane/memory.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "support/alloc_probe.h"
#include "support/test_util.h"

using namespace zorvane;
using zortest::IsLiveBlock;
using zortest::kHasAllocProbe;

namespace {

constexpr int kSlots = 5;
constexpr int kBuffers = 3;
constexpr uint32_t kBufferSize = 24;

struct RecordModel {
  handle_t* rec = nullptr;
  uint32_t refs = 0, locks = 0;
  int buffer = -1;               // foreign buffer index, -1 when owned
  uint32_t foreignSize = 0;
  std::vector<uint8_t> owned;    // content of an owned record
  void* data = nullptr;          // the block as last seen, to check that it is freed
  bool alive = true;
};

struct Pin {
  int id;
  void* data;
};

class LifetimeModel {
 public:
  explicit LifetimeModel(uint32_t seed) : _rng(seed) {
    for (int b = 0; b < kBuffers; ++b) {
      _buffers[b] = static_cast<uint8_t*>(std::malloc(kBufferSize));
      for (uint32_t k = 0; k < kBufferSize; ++k) _buffers[b][k] = static_cast<uint8_t>(_rng());
      _shadow[b].assign(_buffers[b], _buffers[b] + kBufferSize);
    }
    _slot.fill(-1);
  }

  ~LifetimeModel() {
    for (auto& h : _handles) h.Trash();
    for (const Pin& p : _pins) ZorUnlockHandle(_records[p.id].rec);
    for (uint8_t* b : _buffers) std::free(b);
  }

  void Step() {
    const int i = Pick(kSlots), j = Pick(kSlots);
    switch (Pick(12)) {
      case 0: Alloc(i); break;
      case 1: WrapForeign(i); break;
      case 2: Share(i, j, true); break;
      case 3: Share(i, j, false); break;
      case 4: Trash(i); break;
      case 5: LockRaw(i); break;
      case 6: UnlockRaw(); break;
      case 7: DetachCopy(i); break;
      case 8: Write(i); break;
      case 9: Resize(i); break;
      case 10: Copy(i, j); break;
      case 11: Dup(i, j); break;
    }
  }

  void Check() {
    for (int s = 0; s < kSlots; ++s)
      ASSERT_EQ(_handles[s].GetRecord(), _slot[s] < 0 ? nullptr : _records[_slot[s]].rec) << "slot " << s;
    for (RecordModel& m : _records) {
      if (!m.alive) continue;
      m.data = m.rec->data;
      ASSERT_TRUE(!kHasAllocProbe || IsLiveBlock(m.rec)) << "record freed too early";
      ASSERT_EQ(m.rec->references, m.refs);
      ASSERT_EQ(m.rec->locks, m.locks);
      ASSERT_EQ(m.rec->foreign, m.buffer >= 0 ? 1u : 0u);
      const std::vector<uint8_t> want = Content(m);
      ASSERT_EQ(ZorGetHandleSize(m.rec), want.size());
      ASSERT_TRUE(m.buffer < 0 || m.rec->data == _buffers[m.buffer]) << "foreign data moved";
      ASSERT_TRUE(want.empty() || std::memcmp(m.rec->data, want.data(), want.size()) == 0) << "bytes differ";
    }
    for (const Pin& p : _pins) ASSERT_EQ(ZorGetHandleDatas(_records[p.id].rec), p.data);
  }

 private:
  int Pick(int n) { return static_cast<int>(_rng() % static_cast<uint32_t>(n)); }

  std::vector<uint8_t> Content(const RecordModel& m) const {
    if (m.buffer < 0) return m.owned;
    return std::vector<uint8_t>(_shadow[m.buffer].begin(), _shadow[m.buffer].begin() + m.foreignSize);
  }

  int NewModel(handle_t* rec, uint32_t refs) {
    const auto* p = static_cast<const uint8_t*>(rec->data);
    RecordModel m{.rec = rec, .refs = refs, .locks = 0, .buffer = rec->foreign ? BufferOf(p) : -1,
                  .foreignSize = rec->foreign ? rec->size : 0, .owned = {}, .data = rec->data, .alive = true};
    if (!rec->foreign && rec->size) m.owned.assign(p, p + rec->size);
    _records.push_back(m);
    return static_cast<int>(_records.size()) - 1;
  }

  int BufferOf(const void* p) const {
    for (int b = 0; b < kBuffers; ++b)
      if (p == _buffers[b]) return b;
    ADD_FAILURE() << "foreign data moved";
    return 0;
  }

  // The model's side of a release or unlock: dies when both counts are 0.
  void AfterDrop(int id) {
    RecordModel& m = _records[id];
    if (m.refs || m.locks) return;
    m.alive = false;
    if (!kHasAllocProbe) return;
    EXPECT_FALSE(IsLiveBlock(m.rec)) << "record not freed";
    EXPECT_FALSE(m.buffer < 0 && m.data && IsLiveBlock(m.data)) << "block not freed";
  }

  // Slot s drops its share of its record and takes record `next` (none: -1).
  void ReleaseSlot(int s, int next = -1) {
    const int id = std::exchange(_slot[s], next);
    if (id < 0) return;
    if (_records[id].refs) --_records[id].refs;
    AfterDrop(id);
  }

  void Alloc(int s) {
    const uint32_t n = static_cast<uint32_t>(Pick(20));
    Trash(s);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(_rng());
    _handles[s].Init(bytes.data(), n);
    _slot[s] = NewModel(_handles[s].GetRecord(), 1);
  }

  void WrapForeign(int s) {
    const int b = Pick(kBuffers);
    const uint32_t n = 1 + static_cast<uint32_t>(Pick(kBufferSize));
    handle_t* rec = ZorCreateHandleFromDataPtr(_buffers[b], n);
    const int id = NewModel(rec, 1);
    _handles[s].Attach(rec);
    ReleaseSlot(s, id);
  }

  void Share(int to, int from, bool attach) {
    if (attach)
      _handles[to].Attach(&_handles[from]);
    else
      _handles[to] = _handles[from];
    const int id = _slot[from];
    if (id >= 0) ++_records[id].refs;
    ReleaseSlot(to, id);
  }

  void Trash(int s) {
    _handles[s].Trash();
    ReleaseSlot(s);
  }

  void LockRaw(int s) {
    if (_slot[s] < 0) return;
    void* data = ZorLockHandle(_handles[s].GetRecord());
    ++_records[_slot[s]].locks;
    _pins.push_back({_slot[s], data});
  }

  void UnlockRaw() {
    if (_pins.empty()) return;
    const size_t k = static_cast<size_t>(Pick(static_cast<int>(_pins.size())));
    const int id = _pins[k].id;
    _pins.erase(_pins.begin() + static_cast<std::ptrdiff_t>(k));
    ZorUnlockHandle(_records[id].rec);
    --_records[id].locks;
    AfterDrop(id);
  }

  bool Pinned(int id) const {
    return std::any_of(_pins.begin(), _pins.end(), [id](const Pin& p) { return p.id == id; });
  }

  void DetachCopy(int s) {
    const int id = _slot[s];
    _handles[s].DetachCopy();
    if (id < 0 || _records[id].refs <= 1) return;
    const RecordModel old = _records[id];
    const int copy = NewModel(_handles[s].GetRecord(), 1);
    ASSERT_EQ(_records[copy].buffer, old.buffer);  // foreign data shared, not copied
    ASSERT_FALSE(old.buffer < 0 && old.data && _records[copy].rec->data == old.rec->data) << "not copied";
    ReleaseSlot(s, copy);
  }

  void Write(int s) {
    DetachCopy(s);
    const int id = _slot[s];
    if (id < 0) return;
    RecordModel& m = _records[id];
    const uint32_t size = ZorGetHandleSize(m.rec);
    if (size == 0) return;
    const uint32_t at = static_cast<uint32_t>(Pick(static_cast<int>(size)));
    const auto value = static_cast<uint8_t>(_rng());
    static_cast<uint8_t*>(_handles[s].GetDatas())[at] = value;
    (m.buffer >= 0 ? _shadow[m.buffer] : m.owned)[at] = value;
  }

  void Resize(int s) {
    const int id = _slot[s];
    if (id < 0 || _records[id].refs != 1 || Pinned(id)) return;
    const uint32_t n = static_cast<uint32_t>(Pick(30));
    _handles[s].SetSizeZ(n);
    RecordModel& m = _records[id];
    if (n == ZorGetHandleSize(m.rec) && m.buffer >= 0 && n == m.foreignSize) return;  // unchanged
    m.owned = Content(m);
    m.owned.resize(n, 0);
    m.buffer = -1, m.foreignSize = 0;  // foreign data is left where it is, the record owns a copy
  }

  void Copy(int to, int from) {
    const int dst = _slot[to], src = _slot[from];
    if (dst >= 0 && Pinned(dst)) return;  // a copy replaces the block under a pin
    _handles[to].Copy(&_handles[from]);
    if (src < 0) return ReleaseSlot(to);
    if (dst == src) return;
    if (dst >= 0 && _records[dst].refs == 1) {  // copied into the record itself
      RecordModel& m = _records[dst];
      const RecordModel& f = _records[src];
      m.buffer = f.buffer, m.foreignSize = f.foreignSize, m.owned = f.owned;
    } else {
      ReleaseSlot(to, NewModel(_handles[to].GetRecord(), 1));
    }
    const RecordModel& f = _records[src];
    ASSERT_FALSE(f.buffer < 0 && !f.owned.empty() && _records[_slot[to]].rec->data == f.rec->data) << "not copied";
  }

  void Dup(int to, int from) {
    const int src = _slot[from];
    if (src < 0) return;
    handle_t* dup = ZorDupHandle(_records[src].rec);
    const bool foreign = _records[src].buffer >= 0;
    ASSERT_EQ(ZorGetRefCount(dup), foreign ? 0u : 1u);
    const int id = NewModel(dup, 1);  // its count once attached (an owned dup is released below)
    _handles[to].Attach(dup);
    ReleaseSlot(to, id);
    if (!foreign) ZorReleaseHandle(dup);
  }

  std::mt19937 _rng;
  std::array<uint8_t*, kBuffers> _buffers{};
  std::array<std::vector<uint8_t>, kBuffers> _shadow;
  std::array<ZorHandle, kSlots> _handles;
  std::array<int, kSlots> _slot{};
  std::vector<RecordModel> _records;
  std::vector<Pin> _pins;
};

struct RecordingLockable : iZorLockable {
  int unlocks = 0, refUnlocks = 0;
  int32_t lastRef = 0;
  void* Lock(ZorLock* guard) override {
    if (guard) guard->Init(this);
    return this;
  }
  void Unlock() override { ++unlocks; }
  void UnlockRef(ZorLock* guard) override { ++refUnlocks, lastRef = guard->_GetRef(); }
};

}  // namespace

// Without the sanitizer's allocator the counts and bytes are still checked,
// only not the moment of each free.
TEST(HandleModel, RandomLifetimesMatchTheModel) {
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    LifetimeModel model(seed);
    for (int step = 0; step < 250; ++step) {
      SCOPED_TRACE(testing::Message() << "step " << step);
      model.Step();
      model.Check();
      if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
  }
}

// ReplaceData, AppendData, Grow and SetSizeZ against a byte vector, with
// sources inside the block itself and out-of-range positions.
TEST(HandleModel, RandomByteEditsMatchAVector) {
  std::mt19937 rng(7);
  auto pick = [&rng](int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<uint32_t>(hi - lo + 1)); };
  for (int round = 0; round < 200; ++round) {
    ZorHandle h;
    h.Init(0u);
    std::vector<uint8_t> model;
    for (int step = 0; step < 60; ++step) {
      SCOPED_TRACE(testing::Message() << "round " << round << " step " << step);
      std::vector<uint8_t> src(static_cast<size_t>(pick(0, 12)));
      for (auto& b : src) b = static_cast<uint8_t>(rng());
      const int size = static_cast<int>(model.size());
      switch (pick(0, 4)) {
        case 0: {  // ReplaceData with clamping
          int from = pick(-3, size + 3), to = pick(-3, size + 3);
          const int n = static_cast<int>(src.size());
          const int f = std::clamp(from, 0, size), t = std::clamp(to, f, size);
          ASSERT_EQ(h.ReplaceData(from, to, src.data(), n), size - (t - f) + n);
          model.erase(model.begin() + f, model.begin() + t);
          model.insert(model.begin() + f, src.begin(), src.end());
          break;
        }
        case 1: {  // ReplaceData from the block itself
          if (size == 0) break;
          const int at = pick(0, size - 1), n = pick(1, size - at);
          const int from = pick(0, size), to = pick(from, size);
          const std::vector<uint8_t> piece(model.begin() + at, model.begin() + at + n);
          h.ReplaceData(from, to, static_cast<uint8_t*>(h.GetDatas()) + at, n);
          model.erase(model.begin() + from, model.begin() + to);
          model.insert(model.begin() + from, piece.begin(), piece.end());
          break;
        }
        case 2: {  // two appends at the used counter: the second may fit in the reserve
          uint32_t used = static_cast<uint32_t>(size);
          const uint32_t reserve = static_cast<uint32_t>(pick(0, 10));
          const uint32_t n1 = static_cast<uint32_t>(src.size());
          h.AppendData(n1, src.data(), &used, reserve);
          ASSERT_EQ(h.GetSize(), n1 ? used + reserve : used);
          const uint32_t n2 = static_cast<uint32_t>(pick(0, 12));
          const uint32_t capacity = h.GetSize();
          const void* block = h.GetDatas();
          std::vector<uint8_t> more(n2, static_cast<uint8_t>(rng()));
          h.AppendData(n2, more.data(), &used, reserve);
          ASSERT_EQ(h.GetSize(), used <= capacity ? capacity : used + reserve);
          ASSERT_TRUE(used > capacity || h.GetDatas() == block) << "moved although it fitted";
          model.insert(model.end(), src.begin(), src.end());
          model.insert(model.end(), more.begin(), more.end());
          ASSERT_EQ(used, model.size());
          h.SetSize(used);  // back to the content for the comparison below
          break;
        }
        case 3: {  // Grow, negative or positive, then zero the new bytes
          const int delta = pick(-8, 8);
          const int n = std::max(0, size + delta);
          h.Grow(delta);
          if (n > size) std::memset(static_cast<uint8_t*>(h.GetDatas()) + size, 0, static_cast<size_t>(n - size));
          model.resize(static_cast<size_t>(n), 0);
          break;
        }
        case 4: {
          const uint32_t n = static_cast<uint32_t>(pick(0, 20));
          h.SetSizeZ(n);
          model.resize(n, 0);
          break;
        }
      }
      ASSERT_EQ(h.GetSize(), model.size());
      ASSERT_TRUE(model.empty() || std::memcmp(h.GetDatas(), model.data(), model.size()) == 0);
    }
  }
}

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
  ZorRAZHandle(nullptr);
  EXPECT_EQ(ZorGetHandleSize(nullptr), 0u);
}

TEST(Handle, GrowthPastFourGigabytesIsAMemoryError) {
  ZorHandle h;
  h.Init("ab", 2);
  uint32_t used = 0xFFFFFFF0u;
  char bytes[32] = {};
  try {
    h.AppendData(32, bytes, &used, 0);
    ADD_FAILURE() << "accepted";
  } catch (const ZorEBasic& e) {
    EXPECT_EQ(e.GetError(), ZorErr(1, 1));
    EXPECT_EQ(e.GetLine(), 24u);  // as a failed reallocation of the global allocator
  }
  EXPECT_EQ(used, 0xFFFFFFF0u);
  EXPECT_EQ(h.GetSize(), 2u);
}

// ---------------------------------------------------------------- guards

// A guard unlocks once (scope end, Trash, re-Init), never after Detach; its
// copies share one release, made by the last copy still holding it.
TEST(Lock, GuardsReleaseOnceByTheLastCopy) {
  ZorHandle h = test::HandleOf("x");
  {
    ZorLock guard;
    h.Lock(&guard);
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
  guard.Detach();
  EXPECT_TRUE(ZorIsHandleLocked(h.GetRecord()));
  h.Unlock();

  RecordingLockable a, b;
  a.Lock(&guard);
  b.Lock(&guard);
  EXPECT_EQ(a.unlocks, 1);
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
    EXPECT_EQ(a.unlocks, 1);
  }
  EXPECT_EQ(a.unlocks, 2);  // by `moved`, the last copy
  {
    ZorLock first(&a);
    ZorLock second(first);
    first.Detach();
    second.Detach();  // the last copy detached: nothing is released
  }
  EXPECT_EQ(a.unlocks, 2);
  ZorLock moved(std::move(guard));
  EXPECT_FALSE(guard.IsInit());
  moved._SetRef(42);  // a reference value releases through UnlockRef
  EXPECT_EQ(moved.GetFlags(), uint32_t{ZorLock::kLockable | ZorLock::kRef});
  moved.Trash();
  EXPECT_EQ(b.unlocks, 0);
  EXPECT_EQ(b.refUnlocks, 1);
  EXPECT_EQ(b.lastRef, 42);
}

TEST(Lock, DelegateIsCalledWithItsArgument) {
  int total = 0;
  auto add = [&total](int32_t v) { total = total * 100 + v; };
  ZorDelegate callable = ZorDelegate::Callable(&add);
  {
    ZorLock guard;
    guard.Init(&callable, -7);
    EXPECT_EQ(guard.GetFlags(), uint32_t{ZorLock::kDelegate});
    guard.Init(&callable, 6);  // releases the first call
  }
  EXPECT_EQ(total, -700 + 6);
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
  h.SetSize(11);  // past the capacity: half as much again
  EXPECT_EQ(h.GetRecord()->capacity, 15u);
}
