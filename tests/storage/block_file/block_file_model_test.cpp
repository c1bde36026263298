// ZorBFile against a map model: long seeded sequences of the kit's block
// operations (every kind), nested transactions, header user data, and close
// and reopen with other open flags and tiny caches, applied both to a block
// file and to the model.
//
// After every step the touched blocks and a few random ids are compared
// (existence, size, tags, flags, bytes, capacity >= size, 23 for an unused
// id) with the counts; every few steps and after every reopen the whole
// file, enumerations (BGetID) over random ranges included. Outside
// transactions the file's raw bytes must hold the model (the kit's format
// reader: no memory-only state stored, extents tiling the data area), and
// after a reopen the checks must report nothing and the file must not look
// badly closed.
//
// Half of the seeds run with a large resident working set, so that the
// cache keeps its small limit and evicts (a quiet process would raise the
// limit instead). Half keep the file on disk, the others on the in-memory
// fault stream.
#include <zorvane/block_array.h>

#include <gtest/gtest.h>

#include <memory>

#include "support/block_file_kit.h"
#include "support/working_set.h"

using namespace zorvane;
using namespace zortest;

namespace {

class ModelRun {
 public:
  ModelRun(uint32_t seed, bool onDisk) : _work(seed), _file(0, -1, onDisk) {
    _work.holdShared = true;
    f().Close(ZorBfCloseNormal);
    _reopen();
  }

  void Step() {
    const uint32_t r = _work.rng() % 100;
    if (r < 8) return _transaction();
    if (r < 10) return Reopen();
    if (r < 12) {
      const int32_t i = static_cast<int32_t>(_work.rng() % 64), v = static_cast<int32_t>(_work.rng());
      f().SetUserData(i, v);
      _user[i] = v;
      return;
    }
    _work.Step(f(), kEveryOp);
  }

  // The touched blocks, a few random ids and the counts.
  void CheckQuick() {
    ASSERT_NO_FATAL_FAILURE(CheckCounts());
    for (int32_t id : _work.touched) ASSERT_NO_FATAL_FAILURE(CheckBlock(id));
    for (int k = 0; k < 3; ++k) ASSERT_NO_FATAL_FAILURE(CheckBlock(static_cast<int32_t>(_work.rng() % (_dirCount() + 2))));
  }

  // Outside transactions: the bytes of the file.
  void CheckDurable() {
    if (_depth == 0) ExpectImage(_file.Image(), &_work.model, false, _user);
  }

  void CheckFull() {
    ASSERT_NO_FATAL_FAILURE(CheckCounts());
    for (int32_t id = 0; id <= _dirCount() + 1; ++id) ASSERT_NO_FATAL_FAILURE(CheckBlock(id));
    for (int k = 0; k < 4; ++k) ASSERT_NO_FATAL_FAILURE(CheckEnumeration());
    // Used and reserved bytes count used entries only.
    int32_t dirBytes = -1, used = -1;
    uint32_t reserved = 0, capacities = 0;
    const uint64_t size = f().GetSize(&dirBytes, &used, &reserved);
    int64_t sum = 0;
    for (const auto& [id, b] : _work.model) {
      sum += static_cast<int64_t>(b.bytes.size());
      capacities += CapacityOf(f(), id);
    }
    ASSERT_EQ(dirBytes, _dirCount() * 24);
    ASSERT_EQ(used, sum);
    ASSERT_EQ(reserved, capacities);
    if (_depth == 0) { ASSERT_EQ(size, _file.Image().size()); }
    ASSERT_NO_FATAL_FAILURE(_work.ExpectHeld(f()));
  }

  void CheckCounts() {
    int32_t count = -1, freeSpace = -1, slots = -1;
    ASSERT_TRUE(f().BExist(0, &count));
    ASSERT_EQ(count, static_cast<int32_t>(_work.model.size()));
    const int32_t n = f().GetNbBlock(&freeSpace, &slots);
    ASSERT_GE(freeSpace, 0);
    ASSERT_GE(slots, 0);
    ASSERT_EQ(count + freeSpace + slots, n);
    ASSERT_EQ(f().CountTransaction(), _depth);
  }

  void CheckBlock(int32_t id) {
    SCOPED_TRACE("block " + std::to_string(id));
    const auto it = _work.model.find(id);
    const bool used = it != _work.model.end();
    if (id == 0) return;
    ASSERT_EQ(f().BExist(id, nullptr), used);
    int32_t owner = -9, size = -9;
    int16_t type = -9;
    uint32_t capacity = 0;
    uint8_t flags = 0xEE;
    ASSERT_EQ(f().GetBlockInfo(id, &owner, &type, &size, &capacity, &flags), used);
    if (!used) {
      ASSERT_EQ(f().BGetSize(id), 0);
      ZorHandle h;
      EXPECT_LIB_ERROR(23, f().BReadCopy(id, &h));
      return;
    }
    const Block& b = it->second;
    ASSERT_EQ(owner, b.owner);
    ASSERT_EQ(type, b.type);
    ASSERT_EQ(size, static_cast<int32_t>(b.bytes.size()));
    ASSERT_EQ(f().BGetSize(id), size);
    ASSERT_GE(capacity, static_cast<uint32_t>(size));
    ASSERT_EQ(flags & ZorBfFlagFree, 0);
    ASSERT_EQ((flags & ZorBfFlagNoCompact) == 0, b.compact);
    ASSERT_EQ(f().BIsCompact(id), b.compact);
    ASSERT_EQ(_file.Read(id), b.bytes);
  }

  // BGetID over random ranges (wildcard lower bounds included) lists exactly
  // the used blocks inside them, in id order.
  void CheckEnumeration() {
    Rng& rng = _work.rng;
    Selection s = _work.Ranges();
    if (rng() % 4 == 0) s.oLo = ZorBfAnyOwner;
    if (rng() % 4 == 0) s.tLo = ZorBfAnyType;
    std::vector<int32_t> expected, got;
    for (const auto& [id, b] : _work.model)
      if (s.Holds(b)) expected.push_back(id);
    // Each id at the offset asked inside items of the list's size.
    const uint32_t at = rng() % 2 ? 4 : 0;
    ZorBGet out(0, 8);
    out.Init();
    f().BGetID(s.oLo, s.oHi, s.tLo, s.tHi, &out, static_cast<int32_t>(at), true);
    for (int32_t i = 1; i <= out.GetNbItem(); ++i) {
      int32_t v;
      out.SubGet(i, &v, at, 4);
      got.push_back(v);
    }
    ASSERT_EQ(got, expected) << "owners " << s.oLo << ".." << s.oHi << " types " << s.tLo << ".." << s.tHi;
  }

  // Close and reopen: the image holds the model and the checks find nothing.
  void Reopen() {
    _work.DropHeld();
    f().Close(ZorBfCloseNormal);
    _depth = 0;
    ++_reopens;
    ExpectImage(_file.Image(), &_work.model, true, _user);
    _reopen();
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_FALSE(f().IsBadClose(false));
    ASSERT_EQ(f().BadOpenCount(false), 0);
    EXPECT_EQ(CheckFaults(f()), "");
    for (auto check : {&ZorBFile::CheckDir, &ZorBFile::CheckCrossBlock, &ZorBFile::CheckLostSpace})
      ASSERT_TRUE((f().*check)(nullptr));
    for (int32_t i = 0; i < 64; ++i) ASSERT_EQ(f().GetUserData(i), _user[i]) << "user data " << i;
    ASSERT_NO_FATAL_FAILURE(CheckFull());
  }

  bool CacheKeptItsLimit() { return _cache < 0 || f().GetCacheLimit() == _cache; }
  std::string Summary() const {
    return std::to_string(_reopens) + " reopens, " + std::to_string(_work.compactions) + " compactions";
  }
  std::string Log() const { return _work.Log(); }

 private:
  ZorBFile& f() { return _file.file; }
  int32_t _dirCount() { return f().GetNbBlock(nullptr, nullptr); }

  void _transaction() {
    if (_depth > 0 && (_work.rng() % 2 || _depth >= 4)) {
      f().EndTransaction();
      --_depth;
    } else {
      f().StartTransaction();
      ++_depth;
    }
  }

  void _reopen() {
    Rng& rng = _work.rng;
    int32_t flags = ZorBfOpenCloseNormal;
    if (rng() % 2) flags |= ZorBfOpenCopyOnWrite;
    if (rng() % 3 == 0) flags |= ZorBfOpenRound1K;
    if (_file.disk) flags |= ZorBfOpenNoFlush;
    _cache = rng() % 5 == 0 ? -1 : static_cast<int32_t>(3 + rng() % 8);
    _file.Open(flags, _cache);
  }

  Workload _work;
  TestFile<> _file;
  int32_t _cache = -1;
  int32_t _depth = 0;
  int32_t _user[64] = {};
  int _reopens = 0;
};

void RunSeed(uint32_t seed, bool onDisk, int steps) {
  SCOPED_TRACE("seed " + std::to_string(seed) + (onDisk ? " on disk" : " on the fault stream"));
  const bool busy = seed % 2;
  std::unique_ptr<BusyWorkingSet> pressure(busy ? new BusyWorkingSet() : nullptr);
  ModelRun run(seed, onDisk);
  for (int step = 0; step < steps; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    try {
      run.Step();
      if (!::testing::Test::HasFatalFailure()) run.CheckQuick();
      if (!::testing::Test::HasFatalFailure() && (!onDisk || step % 10 == 0)) run.CheckDurable();
      if (!::testing::Test::HasFatalFailure() && step % 25 == 24) run.CheckFull();
    } catch (const ZorException& e) {
      ADD_FAILURE() << Describe(e);
    }
    if (::testing::Test::HasFailure()) {
      printf("last operations of seed %u:\n%s", seed, run.Log().c_str());
      FAIL();
    }
  }
  if (busy) { EXPECT_TRUE(run.CacheKeptItsLimit()) << "the cache limit grew in a busy process"; }
  ASSERT_NO_FATAL_FAILURE(run.Reopen());
  printf("[ model ] seed %u%s: %d steps, %s\n", seed, onDisk ? " on disk" : "", steps, run.Summary().c_str());
}

}  // namespace

TEST(BFileModel, RandomSequencesOnDiskMatchTheMapModel) {
  for (uint32_t seed = 1; seed <= 4 && !HasFatalFailure(); ++seed) RunSeed(seed, true, 1500);
}

TEST(BFileModel, RandomSequencesOnTheFaultStreamMatchTheMapModel) {
  for (uint32_t seed = 101; seed <= 104 && !HasFatalFailure(); ++seed) RunSeed(seed, false, 1500);
}
