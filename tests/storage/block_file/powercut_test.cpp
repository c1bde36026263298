// Power cuts and failing system calls under a copy-on-write block file.
//
// Power cuts: the kit's workload runs in units (an explicit transaction of
// several operations, some nested, or one operation on its own, compaction
// included) on the fault-injecting stream with a tiny cache. At a random
// write, size change or flush of a unit the power fails: the image that
// survives is the last flushed image plus a random subset of the later
// writes, some torn at sector boundaries. The workload carries on as if
// nothing happened (the stream keeps serving it), so one run yields many
// cuts. Every write of a unit is also judged against the directory last
// made durable (DurableStream): under copy-on-write no write touches an
// extent it references, and data, directory and header are separated by
// flushes; a compaction, which moves blocks in place, is exempt.
//
// Each surviving image is opened in a fresh block file (tolerantly when a
// normal open refuses it), checked and read back. Every block must hold
// what the last committed unit left or what the unit in flight would have
// left. A block that holds neither is a failure unless the directory itself
// reached the disk torn (neither the old nor the new directory bytes): the
// format cannot protect against that, and it is only counted. A compaction
// interrupted by the cut must be refused at open (the crash counter, 32).
//
// Every other seed holds a large resident working set, so that the tiny
// cache keeps evicting (dirty blocks written in the middle of transactions)
// instead of raising its limit.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "platform/env.h"
#include "support/block_file_kit.h"
#include "support/fault_env.h"
#include "support/killed_writer.h"
#include "support/working_set.h"

using namespace zorvane;
using namespace zortest;

namespace {

// The durable stream with a cut armed at the nth write, size change or
// flush from now, or just before the nth flush from now: at that moment the
// power-cut image is taken aside and the stream goes on as if the power had
// not failed. The journal beside the file loses power with it: its writes,
// size changes and flushes count here, and a cut takes both images.
struct Cut {
  std::string file, journal;
};

// A stream whose writes, size changes and flushes are ticks of the cut.
template <class Base>
class Ticking : public Base {
 public:
  virtual void Tick(bool flush) = 0;
  void Write(const void* buf, uint32_t n) override {
    Tick(false);
    Base::Write(buf, n);
  }
  void SetSize(uint64_t size) override {
    Tick(false);
    Base::SetSize(size);
  }
  void Flush() override {
    Tick(true);
    Base::Flush();
  }
};

class CutStream : public Ticking<DurableStream> {
 public:
  void Arm(uint64_t nth, uint32_t seed, bool atFlush) {
    _cutAt = atFlush ? 0 : _ops + nth;
    _flushAt = atFlush ? _flushes + nth : 0;
    _seed = seed;
    _armed = true;
  }
  void Disarm() { _armed = false; }
  std::optional<Cut> TakeCut() { return std::exchange(_cut, std::nullopt); }
  uint64_t Ops() const { return _ops; }
  void Tick(bool flush) override {
    _flushes += flush;
    ++_ops;
    if (!_armed || (_cutAt && _ops < _cutAt) || (_flushAt && _flushes < _flushAt)) return;
    _armed = false;
    _cut = Cut{CutOf(*this, _seed), journal ? CutOf(*journal, _seed ^ 0x5bd1e995u) : std::string()};
  }

  FaultStream* journal = nullptr;

 private:
  static std::string CutOf(FaultStream& s, uint32_t seed) {
    std::string seen = s.Image();
    std::string cut = s.PowerCut(seed);
    s.SetImage(std::move(seen));
    return cut;
  }
  uint64_t _ops = 0, _cutAt = 0, _flushes = 0, _flushAt = 0;
  uint32_t _seed = 0;
  bool _armed = false;
  std::optional<Cut> _cut;
};

class JournalStream : public Ticking<FaultStream> {
 public:
  explicit JournalStream(CutStream* file) : _file(file) { file->journal = this; }
  void Tick(bool flush) override { _file->Tick(flush); }

 private:
  CutStream* _file;
};

struct Tally {
  int cuts = 0, halfApplied = 0, tornDirectory = 0, damagedByTear = 0, lostSpace = 0, refusedOpen = 0,
      crashDetected = 0, units = 0;
};

// What a surviving image holds, read through a fresh block file.
struct Recovered {
  int64_t refusal = 0;  // the error of a normal open
  bool tolerant = false;
  Model blocks;
  std::vector<int32_t> unreadable;
  int faults[3] = {};  // directory, cross blocks, lost space
  int32_t crash = 0;  // the crash counter of the recovered file
  std::string report;
  Cut closed;  // after a normal close of a sound file
};

Recovered Recover(const Cut& cut, bool journaled) {
  Recovered r;
  FaultStream stream(cut.file), journal(cut.journal);
  iZorStream* withJournal = journaled ? &journal : nullptr;
  ZorBFile f;
  r.refusal = test::ErrorOf(
      [&] { f.OpenOnStream(&stream, nullptr, ZorBfOpenCopyOnWrite, 6, kKitType, kKitSignature, withJournal); });
  if (r.refusal) {
    r.tolerant = true;
    f.OpenOnStream(&stream, nullptr, ZorBfOpenCopyOnWrite | ZorBfOpenTolerant, 6, kKitType, kKitSignature,
                   withJournal);
  }
  r.crash = f.GetCrashFlag(false);
  r.report = CheckFaults(f, r.faults);
  r.blocks = ReadAll(f, &r.unreadable);
  const bool sound = !r.tolerant && r.faults[0] == 0 && r.faults[1] == 0;
  f.Close(sound ? ZorBfCloseNormal : ZorBfCloseAbandon);
  if (sound) r.closed = Cut{stream.Image(), journal.Image()};
  return r;
}

// A reader of a cut file with its journal sees what a writer's recovery
// makes of it, and changes neither.
void ExpectReaderSees(const Cut& cut, const Model& recovered) {
  FaultStream stream(cut.file), journal(cut.journal);
  stream.readOnly = journal.readOnly = true;
  ZorBFile f;
  f.OpenOnStream(&stream, nullptr, ZorBfOpenTolerant, 6, kKitType, kKitSignature, &journal);
  EXPECT_TRUE(SameBlocks(ReadAll(f), recovered));
  f.Close(ZorBfCloseAbandon);
  EXPECT_TRUE(stream.Image() == cut.file && journal.Image() == cut.journal) << "the reader wrote";
}

// Damage from outside: a journal whose header or first record is damaged,
// that belongs to another file, that the file was written after (a later
// opening raised its update counter), or that was cut at the end of its
// first record, is ignored: the file recovers as if it had none.
void ExpectDamageIgnored(Cut cut, uint32_t how) {
  const uint64_t first = cut.journal.size() > 24 ? Le32(cut.journal, 16) : 0;
  if (first == 0 || first + 200 > cut.journal.size()) return;
  if (how == 0) cut.journal[33] ^= 0x40;           // the header's CRC fails (its file identifier)
  if (how == 1) cut.journal[first + 120] ^= 0x01;  // the first record's CRC fails
  if (how == 2) PutLe32(&cut.file, kZorBfHdrGuid, Le32(cut.file, kZorBfHdrGuid) + 1);  // another file's
  if (how == 3) PutLe32(&cut.file, kZorBfHdrUpdate, Le32(cut.file, kZorBfHdrUpdate) + 1);  // written since
  if (how == 4) cut.journal.resize(std::min<uint64_t>(cut.journal.size(), first + Le64(cut.journal, first + 8)));
  const Recovered damaged = Recover(cut, true), alone = Recover({cut.file, std::string()}, true);
  EXPECT_EQ(damaged.refusal, alone.refusal) << "damage " << how;
  EXPECT_TRUE(SameBlocks(damaged.blocks, alone.blocks)) << "damage " << how;
}

std::string DirectoryRegion(const std::string& image, uint32_t count) {
  const size_t from = kZorBfHeaderSize, to = from + size_t{count} * kZorBfEntrySize;
  return image.size() <= from ? std::string() : image.substr(from, std::min(to, image.size()) - from);
}

//                           create shared copy dup del multi range retag tags flag uncache purge read compact empty
const Mix kInTransaction = {30,    11,    11,  8,  12, 4,    0,    0,    0,   0,   5,      14,   0,   0,       1};
// On its own, a unit may also compact.
const Mix kAlone =         {30,    11,    11,  8,  12, 4,    0,    0,    0,   0,   5,      14,   0,   20,      1};

class PowerCutRun {
 public:
  PowerCutRun(uint32_t seed, Tally* tally, int preload)
      : _seed(seed), _journaled(seed % 3 != 0), _work(seed), _tally(tally), _journal(&_stream) {
    ZorBFile::CreateOnStream(&_stream, kKitType, kKitSignature, "cut");
    _stream.Flush();
    _open();
    if (preload) _preload(preload);
    _committed = _work.model;
  }
  ~PowerCutRun() {
    if (_file.IsOpen()) _file.Close(ZorBfCloseNormal);
  }

  // One unit of work with a cut armed at a random point of it.
  void Unit() {
    Rng& rng = _work.rng;
    // Only the header and the directory of the image before are compared;
    // room for the entries this unit may add (a growth step included).
    const std::string before =
        _stream.Image().substr(0, kZorBfHeaderSize + (size_t{DirCount(_stream.Image())} + 2048) * kZorBfEntrySize);
    const uint64_t opsBefore = _stream.Ops();
    // Writes are judged against the data start the unit began with: a
    // dirty block written into free space that a growth step of the
    // directory then takes over (and moves away) is data, not directory.
    const uint32_t dataStartBefore = _file.GetDataStart();
    const bool alone = rng() % 10 < 3;
    const Op op = alone ? _work.Draw(kAlone) : Op::kCount;
    _compacting = op == Op::kCompact;
    const uint32_t how = rng() % 10;
    // A compaction makes about two operations per block.
    const uint64_t span = _compacting ? 4 * _work.model.size() + 8 : _lastOps + 1;
    const bool atFlush = how < (_compacting ? 3u : 6u);
    // A journaled transaction flushes once, or twice when its data went
    // to the file directly.
    if (how < 9) _stream.Arm(1 + rng() % (atFlush ? (_journaled ? 2 : 3) : span), rng(), atFlush);
    _stream.Start();
    if (alone) {
      _work.Apply(_file, op);
    } else {
      _file.StartTransaction();
      int depth = 1;
      for (int n = 1 + static_cast<int>(rng() % 8); n > 0; --n) {
        if (rng() % 6 == 0 && depth < 3) {
          _file.StartTransaction();
          ++depth;
        } else if (rng() % 6 == 0 && depth > 1) {
          _file.EndTransaction();
          --depth;
        }
        _work.Step(_file, kInTransaction);
      }
      while (depth-- > 0) _file.EndTransaction();
    }
    _stream.Disarm();
    _lastOps = std::max<uint64_t>(1, _stream.Ops() - opsBefore);
    // With a journal the directory and header are written after the commit
    // without a flush of the file: the order is the journal's to keep.
    if (!_compacting && !_journaled) { ASSERT_EQ(_stream.Violation(dataStartBefore), "") << _work.Log(); }
    if (auto cut = _stream.TakeCut()) Verify(*cut, before, _stream.Image());
    if (::testing::Test::HasFatalFailure()) return;
    _committed = _work.model;
    ++_tally->units;
    if (++_units % 10 == 0) { ASSERT_TRUE(SameBlocks(ReadAll(_file), _committed)) << "unit " << _units; }
  }

 private:
  void _open() {
    const int32_t round = _work.rng() % 3 == 0 ? ZorBfOpenRound1K : 0;
    _file.OpenOnStream(&_stream, nullptr, ZorBfOpenCopyOnWrite | ZorBfOpenCloseNormal | round,
                       static_cast<int32_t>(3 + _work.rng() % 8), kKitType, kKitSignature,
                       _journaled ? &_journal : nullptr);
  }

  // Many small blocks committed up front: the workload then crosses the
  // 1,000-entry step of the directory and its reserved area grows.
  void _preload(int count) {
    _file.StartTransaction();
    for (int k = 0; k < count; ++k) {
      const std::string data = Pattern(1 + _work.rng() % 40, _work.rng());
      ZorHandle h = test::HandleOf(data);
      _work.model[_file.BCreate(&h, 9, 1, 0, true)] = Block{9, 1, data, true};
    }
    _file.EndTransaction();
  }

  // One surviving image against the committed and the in-flight models.
  void Verify(const Cut& cut, const std::string& before, const std::string& after) {
    ++_tally->cuts;
    SCOPED_TRACE("seed " + std::to_string(_seed) + " unit " + std::to_string(_units));
    const Recovered r = Recover(cut, _journaled);
    if (r.refusal) ++_tally->refusedOpen;
    if (r.crash) {
      // Only a compaction raises the crash counter; the open refuses it.
      ASSERT_TRUE(_compacting) << "crash counter " << r.crash << " outside a compaction";
      ASSERT_EQ(r.refusal, ZorErr(1, 32));
      ++_tally->crashDetected;
      return;
    }
    // With a journal every cut opens and holds one whole state; without
    // one a directory write torn by the cut is the format's known limit.
    if (_journaled) {
      ASSERT_EQ(r.refusal, 0) << r.report;
      if (_work.rng() % 4 == 0) ExpectReaderSees(cut, r.blocks);
      if (_work.rng() % 4 == 0) ExpectDamageIgnored(cut, _work.rng() % 5);
    }
    const uint32_t count = std::max({DirCount(cut.file), DirCount(before), DirCount(after)});
    const std::string dirCut = DirectoryRegion(cut.file, count);
    const bool torn = !_journaled && dirCut != DirectoryRegion(before, count) && dirCut != DirectoryRegion(after, count);
    _tally->tornDirectory += torn;
    _tally->lostSpace += r.faults[2] > 0;
    // What the cut transaction appended is cut off by the next opening.
    if (_journaled) { EXPECT_EQ(r.faults[2], 0) << r.report; }
    if (!torn) { EXPECT_EQ(r.faults[0] + r.faults[1], 0) << r.report; }
    bool sawOld = false, sawNew = false;
    int damaged = static_cast<int>(r.unreadable.size());
    std::string detail;
    for (int32_t id : IdsOf({&r.blocks, &_committed, &_work.model})) {
      if (std::count(r.unreadable.begin(), r.unreadable.end(), id)) continue;
      const std::optional<Block> got = Look(r.blocks, id), old = Look(_committed, id), now = Look(_work.model, id);
      const bool isOld = got == old, isNew = got == now;
      sawOld |= isOld && !isNew;
      sawNew |= isNew && !isOld;
      if (isOld || isNew) continue;
      ++damaged;
      if (detail.size() < 600)
        detail += "\n  block " + std::to_string(id) + " read " + Describe(got) + "; committed " + Describe(old) +
                  "; in flight " + Describe(now);
    }
    _tally->halfApplied += sawOld && sawNew;
    if (_journaled) { ASSERT_FALSE(sawOld && sawNew) << "half applied:\n" << _work.Log(); }
    if (damaged && torn) {
      _tally->damagedByTear += damaged;
      return;
    }
    ASSERT_EQ(damaged, 0) << "the directory reached the disk whole, yet blocks hold neither state:" << detail << "\n"
                          << r.report << "last operations:\n" << _work.Log();
    // Now and then the workload goes on from the recovered image.
    if (!r.closed.file.empty() && _work.rng() % 4 == 0) {
      _file.Close(ZorBfCloseAbandon);
      _stream.SetImage(r.closed.file);
      _journal.SetImage(r.closed.journal);
      _open();
      _work.model = r.blocks;
    }
  }

  uint32_t _seed;
  bool _journaled;
  Workload _work;
  Tally* _tally;
  CutStream _stream;
  JournalStream _journal;
  ZorBFile _file;
  Model _committed;
  uint64_t _lastOps = 8;
  int64_t _units = 0;
  bool _compacting = false;
};

// Seeds divisible by 3 run without a journal: tally[0]; the others with
// one: tally[1].
void RunUnits(uint32_t seed, Tally* tally, int preload, int units) {
  tally += seed % 3 != 0;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::unique_ptr<BusyWorkingSet> pressure(seed % 2 ? new BusyWorkingSet() : nullptr);
  PowerCutRun run(seed, tally, preload);
  for (int unit = 0; unit < units && !::testing::Test::HasFatalFailure(); ++unit) {
    try {
      run.Unit();
    } catch (const ZorException& e) {
      FAIL() << "seed " << seed << " unit " << unit << ": " << Describe(e);
    }
  }
}

void Print(const char* what, const Tally& t) {
  printf("[ power cut ] %s: %d cuts, %d half applied, %d torn directory writes (%d blocks damaged by them), "
         "%d with lost space, %d refused by a normal open (%d interrupted compactions); %d units\n",
         what, t.cuts, t.halfApplied, t.tornDirectory, t.damagedByTear, t.lostSpace, t.refusedOpen, t.crashDetected,
         t.units);
}

}  // namespace

TEST(BFilePowerCut, EveryBlockHoldsTheCommittedOrTheInFlightState) {
  Tally tally[2];
  for (uint32_t seed = 1; seed <= 12u * CrashScale() && !HasFatalFailure(); ++seed) RunUnits(seed, tally, 0, 70);
  Print("small files, no journal", tally[0]);
  Print("small files, journal", tally[1]);
  if (!HasFatalFailure()) {
    EXPECT_GE(tally[0].cuts + tally[1].cuts, 450);
    EXPECT_GE(tally[0].crashDetected + tally[1].crashDetected, 5);
  }
}

// Crossing the 1,000-entry step: data start moves and the blocks in the
// grown reserved area move to the end of the file.
TEST(BFilePowerCut, DirectoryGrowthSurvivesACut) {
  Tally tally[2];
  for (uint32_t seed = 1001; seed <= 1000 + 8u * CrashScale() && !HasFatalFailure(); ++seed) RunUnits(seed, tally, 990, 10);
  Print("directory growth, no journal", tally[0]);
  Print("directory growth, journal", tally[1]);
}

// ---------------------------------------------------------------- system-call faults
//
// A real file, opened through the fault-injecting environment with a tiny
// cache: a few committed transactions of the kit's single-block operations,
// then a fault. A full disk, a read error, a failing sync and a write torn
// by a device that goes away must each raise the library error of its
// errno. The file, closed and reopened with the real environment, must open
// normally, pass the directory checks, and hold for every block what the
// last committed transaction left, what the failed one had done so far, or
// what its failing operation was writing. Writes cut short without an error
// must simply be completed. The file commits through its journal, so a
// fault that tears a write of the directory is judged like any other.
//
// Resumed runs clear the fault once it has struck (the device comes back):
// the file is then used on, or closed normally, and must stay consistent.
// A flush that fails rolls its transaction back; an operation that fails
// leaves its transaction open, to be ended as it stands.
namespace {

enum class Fault { kDiskFull, kReadError, kSyncError, kTornWrite, kShortWrite };

class FaultRun {
 public:
  FaultRun(Fault fault, uint32_t seed, bool resume) : _fault(fault), _resume(resume), _work(seed) {}

  void Run() {
    TempDir dir;
    const ZorFsa path = dir.Fsa("fault.zbf");
    ZorBFile::Create(&path, kKitType, kKitSignature, "fault", ZorFsaCreateAlways);
    int64_t raised = 0;
    {
      FaultEnv env;
      platform::ScopedEnv scope(&env);
      ZorBFile f;
      f.Open(&path, ZorPermReadWrite, ZorShareExclusive, ZorBfOpenCopyOnWrite,
             static_cast<int32_t>(3 + _work.rng() % 4), kKitType, kKitSignature);
      for (int n = 2 + static_cast<int>(_work.rng() % 6); n > 0; --n) Commit(&f);
      Arm(&env);
      for (int n = 0, after = 0; n < 30 && !raised && !(env.Fired() && ++after > 2); ++n)
        raised = test::ErrorOf([&] { Commit(&f); });
      ASSERT_TRUE(env.Fired());
      if (_resume) env.Disarm();
      // A flush that fails rolls its transaction back; whether its record
      // reached the disk anyway is known only once the device is back.
      if (_resume && raised && f.CountTransaction() == 0) _work.model = _committed;
      if (_resume && _work.rng() % 2) {
        // The failed transaction ends as it stands, then one more commits.
        if (f.CountTransaction() > 0) f.EndTransaction();
        _committed = _work.model;
        Commit(&f);
      }
      test::ErrorOf([&] { f.Close(_fault == Fault::kShortWrite || _resume ? ZorBfCloseNormal : ZorBfCloseAbandon); });
    }
    EXPECT_EQ(raised, _fault == Fault::kShortWrite ? 0 : ZorErr(-1, _fault == Fault::kDiskFull ? 112 : 1117));
    CheckReopened(path);
  }

 private:
  void Arm(FaultEnv* env) {
    const int nth = 1 + static_cast<int>(_work.rng() % 6);
    switch (_fault) {
      case Fault::kDiskFull: return env->FillDiskAfter(_work.rng() % 60000);
      case Fault::kReadError: return env->FailReadAt(nth);
      case Fault::kSyncError: return env->FailSyncAt(nth % 4 + 1);
      case Fault::kTornWrite: return env->ShortWriteAt(nth, true);
      case Fault::kShortWrite: return env->ShortWriteAt(nth, false);
    }
  }

  // One transaction; a library error leaves it open, as a caller's would be.
  void Commit(ZorBFile* f) {
    f->BMultiUncach(ZorBfAnyOwner, ZorBfAnyType);  // reads go to the disk
    f->StartTransaction();
    for (int n = 1 + static_cast<int>(_work.rng() % 6); n > 0; --n) _work.Step(*f, kSingleBlockOps);
    f->EndTransaction();
    _committed = _work.model;
  }

  void CheckReopened(const ZorFsa& path) {
    ZorBFile g;
    ASSERT_NO_THROW(g.Open(&path, ZorPermReadWrite, ZorShareExclusive, ZorBfOpenCopyOnWrite, -1, kKitType, kKitSignature));
    int faults[3];
    const std::string report = CheckFaults(g, faults);
    EXPECT_EQ(faults[0] + faults[1], 0) << report;
    const Model got = ReadAll(g);
    const auto& [pendingId, pendingBlock] = _work.pending;
    for (int32_t id : IdsOf({&got, &_committed, &_work.model})) {
      const std::optional<Block> block = Look(got, id);
      const bool pendingHere = pendingId == id || (pendingId == 0 && !_work.model.count(id));
      const bool acceptable = block == Look(_committed, id) || block == Look(_work.model, id) ||
                              (pendingHere && block == pendingBlock);
      EXPECT_TRUE(acceptable) << "block " << id << (block ? " holds neither state" : " is missing");
      if (_fault == Fault::kShortWrite) { EXPECT_TRUE(block == Look(_committed, id)) << id; }
    }
    g.Close(ZorBfCloseNormal);
  }

  Fault _fault;
  bool _resume;
  Workload _work;
  Model _committed;
};

constexpr Fault kFaults[] = {Fault::kDiskFull, Fault::kReadError, Fault::kSyncError, Fault::kTornWrite,
                             Fault::kShortWrite};

}  // namespace

TEST(BFileSystemFaults, AFaultRaisesAndLeavesTheCommittedState) {
  for (Fault fault : kFaults)
    for (uint32_t seed = 1; seed <= 10 && !HasFatalFailure(); ++seed) {
      SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " seed " + std::to_string(seed));
      FaultRun(fault, seed, false).Run();
    }
}

// Catches a BCreate whose cache eviction failed leaving its entry behind (a
// block of zeros at the next flush); a normal close after a failed flush
// writing the failed transaction's header (entries never written, or a free
// extent over a live block); a failed write leaving the file shorter than
// an appended block's extent, which the next open refuses (32).
TEST(BFileSystemFaults, TheFileStaysConsistentAfterAFault) {
  for (Fault fault : kFaults)
    for (uint32_t seed = 1; seed <= 40 && !HasFailure(); ++seed) {
      SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " seed " + std::to_string(seed));
      FaultRun(fault, seed, true).Run();
    }
}

// The journal's account at open: the records it holds, the prefix of a
// next record that an interrupted commit left (a torn tail, ignored), and a
// journal that ends exactly after a record (cut from outside, ignored).
TEST(BFileJournal, InfoCountsTheRecordsAndSeesATornTailOrACut) {
  FaultStream file, journal;
  ZorBFile::CreateOnStream(&file, kKitType, kKitSignature, "journal");
  ZorBFile f;
  f.OpenOnStream(&file, nullptr, ZorBfOpenCopyOnWrite, -1, kKitType, kKitSignature, &journal);
  ZorHandle h = test::HandleOf("one small transaction");
  f.BCreate(&h, 1, 1, 0, true);
  f.Close(ZorBfCloseAbandon);
  const std::string committed = journal.Image();
  const uint64_t first = Le64(committed, 16), end = first + Le64(committed, first + 8);
  std::string torn = committed.substr(0, end) + "ZBJr" + std::string(44, '\0');
  PutLe32(&torn, end + 8, 1032);
  PutLe32(&torn, end + 16, Le32(committed, 8));  // the generation's salt
  PutLe32(&torn, end + 20, Le32(committed, 12));
  PutLe32(&torn, end + 24, 2);  // the next sequence
  const std::string cutShort = committed.substr(0, end);
  for (const std::string* image : std::initializer_list<const std::string*>{&committed, &torn, &cutShort}) {
    FaultStream fileCopy(file.Image()), journalCopy(*image);
    fileCopy.readOnly = journalCopy.readOnly = true;
    ZorBFile reader;
    reader.OpenOnStream(&fileCopy, nullptr, 0, -1, kKitType, kKitSignature, &journalCopy);
    sZorBfJournalInfo info;
    reader.GetJournalInfo(&info);
    const bool cut = image == &cutShort;
    EXPECT_TRUE(info.exists && !info.foreign);
    EXPECT_EQ(cut, info.cut);
    EXPECT_EQ(cut ? 0 : 1, info.records);
    EXPECT_EQ(image == &torn, info.tornTail);
    reader.Close(ZorBfCloseAbandon);
  }
}
