// Power cuts under a copy-on-write block file.
//
// A random workload of transactions (creates, rewrites that grow and shrink
// blocks, duplicates, deletes, purges and uncaching that write dirty blocks
// in the middle of a transaction, the occasional compaction or emptying) runs on the
// fault-injecting stream with a tiny cache. At a random write, size change
// or flush of a transaction the power fails: the image that survives is the
// last flushed image plus a random subset of the later writes, some of them
// torn at sector boundaries. The workload itself carries on as if nothing
// happened (the stream keeps serving it), so one workload yields many cuts.
//
// Each surviving image is opened in a fresh block file (tolerantly when a
// normal open refuses it), checked, and read back block by block. Every
// block must hold what the last committed transaction left or what the one
// in flight would have left. A block that holds neither is a failure unless
// the directory itself reached the disk torn (neither the old nor the new
// directory bytes): the format cannot protect against that, and it is only
// counted. A compaction interrupted by the cut must be refused at open (the
// crash counter) rather than read as garbage.
//
// Every other seed holds a large resident working set, so that the tiny
// cache keeps evicting (dirty blocks written in the middle of transactions)
// instead of raising its limit.
//
// Counted and printed (facts, not failures): cuts, cuts leaving a
// transaction half applied, torn directory writes, blocks damaged by them,
// images with lost space, images refused by a normal open.
#include <zorvane/block_file.h>
#include <zorvane/exception.h>
#include <zorvane/string.h>
#include <zorvane/verification.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "platform/env.h"
#include "support/fault_env.h"
#include "support/fault_stream.h"
#include "support/temp_files.h"
#include "support/working_set.h"

using namespace zorvane;

namespace {

using Bytes = std::vector<uint8_t>;
using Rng = std::mt19937;

constexpr int32_t kFileType = 12, kSignature = 0xC07;

struct Block {
  int32_t owner;
  int16_t type;
  Bytes data;
  bool operator==(const Block&) const = default;
};
using Model = std::map<int32_t, Block>;

Bytes HandleBytes(const ZorHandle& h) {
  const auto* p = static_cast<const uint8_t*>(h.GetDatas());
  return h.GetSize() ? Bytes(p, p + h.GetSize()) : Bytes();
}

uint32_t Le32(const std::string& s, size_t at) {
  if (at + 4 > s.size()) return 0;
  const auto* p = reinterpret_cast<const uint8_t*>(s.data() + at);
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The fault stream with a cut armed at the nth write, size change or flush
// from now, or just before the nth flush from now (the cut then keeps any
// subset of what was written since the flush before it): at that moment
// the power-cut image is taken aside and the stream goes on as if the
// power had not failed.
class CutStream : public zortest::FaultStream {
 public:
  void Arm(uint64_t nth, uint32_t seed) {
    _cutAt = _ops + nth;
    _flushAt = 0;
    _seed = seed;
    _armed = true;
  }
  void ArmAtFlush(uint64_t nth, uint32_t seed) {
    _cutAt = 0;
    _flushAt = _flushes + nth;
    _seed = seed;
    _armed = true;
  }
  void Disarm() { _armed = false; }
  bool HasCut() const { return _cut.has_value(); }
  std::string TakeCut() {
    std::string image = std::move(*_cut);
    _cut.reset();
    return image;
  }
  uint64_t Ops() const { return _ops; }

  void Write(const void* buf, uint32_t n) override {
    _tick();
    FaultStream::Write(buf, n);
  }
  void SetSize(uint64_t size) override {
    _tick();
    FaultStream::SetSize(size);
  }
  void Flush() override {
    ++_flushes;
    _tick();
    FaultStream::Flush();
  }

 private:
  void _tick() {
    ++_ops;
    if (!_armed || (_cutAt && _ops < _cutAt) || (_flushAt && _flushes < _flushAt)) return;
    _armed = false;
    std::string seen = Image();
    _cut = PowerCut(_seed);
    SetImage(std::move(seen));
  }

  uint64_t _ops = 0, _cutAt = 0, _flushes = 0, _flushAt = 0;
  uint32_t _seed = 0;
  bool _armed = false;
  std::optional<std::string> _cut;
};

struct Tally {
  int cuts = 0, halfApplied = 0, tornDirectory = 0, damagedByTear = 0, lostSpace = 0, refusedOpen = 0,
      crashDetected = 0, intact = 0, committed = 0;
};

// What a recovered image holds, read through a fresh block file.
struct Recovered {
  bool opened = false;
  bool tolerant = false;
  int64_t refusal = 0;
  std::map<int32_t, std::optional<Block>> blocks;  // id -> content (nullopt: unreadable)
  int dirFaults = 0, crossFaults = 0, lostFaults = 0;
  std::string report;
  std::string finalImage;  // after a normal close
};

Recovered Recover(const std::string& image) {
  Recovered r;
  zortest::FaultStream stream(image);
  const ZorFsa fsa("/nowhere/cut.zbf");
  ZorBFile f;
  try {
    f.OpenOnStream(&stream, &fsa, ZorBfOpenCopyOnWrite, 6, kFileType, kSignature);
  } catch (const ZorException& e) {
    r.refusal = e.GetError();
    try {
      f.OpenOnStream(&stream, &fsa, ZorBfOpenCopyOnWrite | ZorBfOpenTolerant, 6, kFileType, kSignature);
      r.tolerant = true;
    } catch (const ZorException& e2) {
      r.report = "tolerant open raised " + std::to_string(e2.GetError());
      return r;
    }
  }
  r.opened = true;
  using CheckFn = bool (ZorBFile::*)(ZorVerif*);
  const std::pair<CheckFn, int*> checks[] = {{&ZorBFile::CheckDir, &r.dirFaults},
                                             {&ZorBFile::CheckCrossBlock, &r.crossFaults},
                                             {&ZorBFile::CheckLostSpace, &r.lostFaults}};
  for (const auto& [fn, faults] : checks) {
    ZorVerif v;
    v.Init(false, 0);
    (f.*fn)(&v);
    *faults = v.GetNbFault();
    if (*faults) {
      string s;
      r.report += v.GetText(&s);
      r.report += "\n";
    }
  }
  const int32_t n = f.GetNbBlock(nullptr, nullptr);
  for (int32_t id = 1; id <= n; ++id) {
    int32_t owner = 0, size = 0;
    int16_t type = 0;
    if (!f.GetBlockInfo(id, &owner, &type, &size, nullptr, nullptr)) continue;
    try {
      ZorHandle h;
      f.BReadCopy(id, &h);
      r.blocks[id] = Block{owner, type, HandleBytes(h)};
    } catch (const ZorException&) {
      r.blocks[id] = std::nullopt;
    }
  }
  if (!r.tolerant && r.dirFaults == 0 && r.crossFaults == 0) {
    f.Close(ZorBfCloseNormal);
    r.finalImage = stream.Image();
  } else {
    f.Close(ZorBfCloseAbandon);
  }
  return r;
}

std::string DirectoryRegion(const std::string& image, uint32_t count) {
  const size_t from = kZorBfHeaderSize, to = from + static_cast<size_t>(count) * kZorBfEntrySize;
  if (image.size() <= from) return std::string();
  return image.substr(from, std::min(to, image.size()) - from);
}

class PowerCutRun {
 public:
  PowerCutRun(uint32_t seed, Tally* tally, int preload) : _seed(seed), _rng(seed), _tally(tally) {
    ZorBFile::CreateOnStream(&_stream, kFileType, kSignature, "cut");
    _stream.Flush();
    _open();
    if (preload) _preload(preload);
  }
  ~PowerCutRun() {
    if (_file.IsOpen()) _file.Close(ZorBfCloseNormal);
  }

  // One unit of work: an explicit transaction of several operations, or one
  // operation on its own; a cut is armed at a random point of it.
  void Unit() {
    _working = _committed;
    // Only the header and the directory of the image before are compared;
    // room for the entries this unit may add (a growth step included).
    const std::string& image = _stream.Image();
    const std::string before =
        image.substr(0, kZorBfHeaderSize + (size_t{Le32(image, kZorBfHdrDirCount)} + 2048) * kZorBfEntrySize);
    const uint64_t opsBefore = _stream.Ops();
    const uint32_t how = _rng() % 10;
    const bool cut = how < 9;
    if (how < 6)
      _stream.ArmAtFlush(1 + _rng() % 3, _rng());
    else if (cut)
      _stream.Arm(1 + _rng() % (_lastOps + 1), _rng());
    _compacting = false;
    _log.clear();
    _note("cut armed " + std::to_string(cut) + ", cache " + std::to_string(_file.GetCacheLimit()));
    if (_rng() % 10 < 7) {
      _file.StartTransaction();
      int depth = 1;
      const int n = 1 + static_cast<int>(_rng() % 8);
      for (int k = 0; k < n; ++k) {
        if (_rng() % 6 == 0 && depth < 3) {
          _file.StartTransaction();
          ++depth;
          _note("start, depth " + std::to_string(depth));
        } else if (_rng() % 6 == 0 && depth > 1) {
          _file.EndTransaction();
          --depth;
          _note("end, depth " + std::to_string(depth));
        }
        Operation(false);
      }
      while (depth-- > 0) _file.EndTransaction();
    } else {
      Operation(true);
    }
    _stream.Disarm();
    _lastOps = std::max<uint64_t>(1, _stream.Ops() - opsBefore);
    if (_stream.HasCut()) Verify(_stream.TakeCut(), before, _stream.Image());
    if (::testing::Test::HasFatalFailure()) return;
    _committed = _working;
    if (_units % 10 == 0) CheckLive();
    ++_tally->committed;
    ++_units;
  }

 private:
  void _open() {
    const int32_t round = _rng() % 3 == 0 ? ZorBfOpenRound1K : 0;
    _file.OpenOnStream(&_stream, nullptr, ZorBfOpenCopyOnWrite | ZorBfOpenCloseNormal | round,
                       static_cast<int32_t>(3 + _rng() % 8), kFileType, kSignature);
  }

  // Many small blocks committed up front: the workload then crosses the
  // 1,000-entry step of the directory and its reserved area grows.
  void _preload(int count) {
    _file.StartTransaction();
    for (int k = 0; k < count; ++k) {
      Bytes data(1 + _rng() % 40);
      for (auto& x : data) x = static_cast<uint8_t>(_rng());
      ZorHandle h;
      h.Init(data.data(), static_cast<uint32_t>(data.size()));
      const int32_t id = _file.BCreate(&h, 9, 1, 0, true);
      _committed[id] = Block{9, 1, data};
    }
    _file.EndTransaction();
  }

  void Operation(bool alone) {
    const uint32_t op = _rng() % 100;
    if (op < 30) Create();
    else if (op < 52) Rewrite();
    else if (op < 60) Duplicate();
    else if (op < 72) Delete();
    else if (op < 76) DeleteOwner();
    else if (op < 90) {
      _file.Purge(static_cast<int32_t>(_rng() % 100000));
      _note("purge");
    } else if (op < 95) {
      _file.BMultiUncach(ZorBfAnyOwner, ZorBfAnyType);
      _note("uncache all");
    }
    else if (op < 97 && alone) Compact();
    else if (op == 97) EmptyFile();
    else Create();
  }

  Bytes Data(int32_t tag) {
    const uint32_t k = _rng() % 20;
    Bytes b(k == 0 ? 0 : k < 15 ? _rng() % 300 : k < 19 ? _rng() % 6000 : 70000 + _rng() % 10000);
    // A recognisable pattern: the unit number and the tag, then noise.
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i < 8 ? (i < 4 ? _units >> (8 * i) : tag >> (8 * (i - 4))) : _rng());
    return b;
  }

  int32_t Pick() {
    if (_working.empty()) return 0;
    auto it = _working.begin();
    std::advance(it, _rng() % _working.size());
    return it->first;
  }

  void Create() {
    const int32_t owner = 1 + static_cast<int32_t>(_rng() % 4);
    const int16_t type = static_cast<int16_t>(_rng() % 3);
    const bool withData = _rng() % 8 != 0;
    const Bytes data = withData ? Data(owner) : Bytes();
    ZorHandle h;
    h.Init(data.data(), static_cast<uint32_t>(data.size()));
    const uint32_t reserve = _rng() % 4 ? 0 : _rng() % 9000;
    const int32_t id = _file.BCreate(withData ? &h : nullptr, owner, type, reserve, _rng() % 2);
    _working[id] = Block{owner, type, data};
    _note("create " + std::to_string(id) + " size " + std::to_string(data.size()) + " reserve " + std::to_string(reserve));
  }

  void Rewrite() {
    const int32_t id = Pick();
    if (!id) return;
    Bytes data = Data(id);
    if (_rng() % 2) {
      ZorHandle h;
      h.Init(data.data(), static_cast<uint32_t>(data.size()));
      _file.BWriteCopy(id, &h, static_cast<int32_t>(_rng() % 3 ? 0 : _rng() % 4000));
    } else {
      ZorHandle h;
      _file.BRead(id, &h);
      h.SetSize(static_cast<uint32_t>(data.size()));
      if (!data.empty()) memcpy(h.GetDatas(), data.data(), data.size());
      _file.BWrite(id, 0);
    }
    _note("rewrite " + std::to_string(id) + " size " + std::to_string(data.size()));
    _working[id].data = std::move(data);
  }

  void Duplicate() {
    const int32_t src = Pick();
    if (!src) return;
    const int32_t id = _file.BDuplicate(src, ZorBfKeepOwner, ZorBfKeepType, _rng() % 2 ? 0 : 0xFFFFFFFFu);
    _working[id] = _working[src];
    _note("duplicate " + std::to_string(src) + " as " + std::to_string(id));
  }

  void Delete() {
    const int32_t id = Pick();
    if (!id) return;
    _file.BDelete(id);
    _working.erase(id);
    _note("delete " + std::to_string(id));
  }

  void DeleteOwner() {
    const int32_t owner = 1 + static_cast<int32_t>(_rng() % 4);
    const int16_t type = static_cast<int16_t>(_rng() % 3);
    _file.BMultiDelete(owner, type);
    _note("multi delete " + std::to_string(owner) + " " + std::to_string(type));
    std::erase_if(_working, [&](const auto& kv) { return kv.second.owner == owner && kv.second.type == type; });
  }

  // Alone, the header is the commit point and the file is cut after it;
  // inside a transaction, blocks created after it land past the old area.
  void EmptyFile() {
    _file.EmptyFile(false);
    _working.clear();
    _note("empty file");
  }

  void Compact() {
    _compacting = true;
    _note("compact");
    _file.Compact(_rng() % 2 ? ZorBfCompactAny : ZorBfCompactAll, false, false);
  }

  static std::string Side(const char* name, const std::optional<Block>& got, const std::optional<Block>& want) {
    std::string s = std::string(" ") + name + ": ";
    if (!want) return s + "none";
    s += "owner " + std::to_string(want->owner) + " type " + std::to_string(want->type) + " size " +
         std::to_string(want->data.size());
    if (got && got->data.size() && want->data.size()) {
      const size_t n = std::min(got->data.size(), want->data.size());
      size_t k = 0;
      while (k < n && got->data[k] == want->data[k]) ++k;
      s += " (same first " + std::to_string(k) + " bytes)";
    }
    return s;
  }

  static std::string Describe(int32_t id, const std::optional<Block>& got, const std::optional<Block>& old,
                              const std::optional<Block>& now) {
    std::string s = "\n  block " + std::to_string(id) + " read ";
    s += got ? "owner " + std::to_string(got->owner) + " type " + std::to_string(got->type) + " size " +
                   std::to_string(got->data.size())
             : std::string("nothing");
    return s + ";" + Side("committed", got, old) + ";" + Side("in flight", got, now);
  }

  void _note(const std::string& line) {
    _log.push_back(line);
    if (_log.size() > 40) _log.erase(_log.begin());
  }

  // The workload's own file holds the committed model (so the models are right).
  void CheckLive() {
    int32_t used = -1;
    _file.BExist(0, &used);
    ASSERT_EQ(used, static_cast<int32_t>(_committed.size())) << "seed " << _seed << " unit " << _units;
    for (const auto& [id, b] : _committed) {
      int32_t owner = 0;
      int16_t type = 0;
      ASSERT_TRUE(_file.GetBlockInfo(id, &owner, &type, nullptr, nullptr, nullptr)) << "block " << id;
      ZorHandle h;
      _file.BReadCopy(id, &h);
      ASSERT_TRUE(owner == b.owner && type == b.type && HandleBytes(h) == b.data) << "block " << id;
    }
  }

  // Checks one surviving image against the models of the last committed
  // transaction (before) and of the one in flight (after).
  void Verify(const std::string& cut, const std::string& before, const std::string& after) {
    ++_tally->cuts;
    SCOPED_TRACE("seed " + std::to_string(_seed) + " unit " + std::to_string(_units));
    const uint32_t crash = Le32(cut, kZorBfHdrCrash);
    const Recovered r = Recover(cut);
    ASSERT_TRUE(r.opened) << r.report;
    if (r.refusal) ++_tally->refusedOpen;
    if (crash != 0) {
      // Only a compaction raises the crash counter; the open refuses it.
      ASSERT_TRUE(_compacting) << "crash counter " << crash << " outside a compaction";
      ASSERT_EQ(r.refusal, ZorErr(1, 32));
      ++_tally->crashDetected;
      return;
    }
    const uint32_t count = std::max({Le32(cut, kZorBfHdrDirCount), Le32(before, kZorBfHdrDirCount),
                                     Le32(after, kZorBfHdrDirCount)});
    const std::string dirCut = DirectoryRegion(cut, count);
    const bool torn = dirCut != DirectoryRegion(before, count) && dirCut != DirectoryRegion(after, count);
    if (torn) ++_tally->tornDirectory;
    if (r.lostFaults) ++_tally->lostSpace;
    if (!torn) {
      EXPECT_EQ(r.dirFaults, 0) << r.report;
      EXPECT_EQ(r.crossFaults, 0) << r.report;
    }
    bool sawOld = false, sawNew = false;
    int damaged = 0;
    std::string detail;
    auto look = [](const Model& m, int32_t id) -> std::optional<Block> {
      const auto it = m.find(id);
      return it == m.end() ? std::nullopt : std::optional<Block>(it->second);
    };
    std::vector<int32_t> ids;
    for (const auto& [id, b] : r.blocks) ids.push_back(id);
    for (const auto& [id, b] : _committed) ids.push_back(id);
    for (const auto& [id, b] : _working) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (int32_t id : ids) {
      const auto it = r.blocks.find(id);
      const bool present = it != r.blocks.end();
      if (present && !it->second) {
        ++damaged;
        detail += " unreadable " + std::to_string(id);
        continue;
      }
      const std::optional<Block> got = present ? it->second : std::nullopt;
      const bool isOld = got == look(_committed, id), isNew = got == look(_working, id);
      if (isOld && !isNew) sawOld = true;
      if (isNew && !isOld) sawNew = true;
      if (!isOld && !isNew) {
        ++damaged;
        if (detail.size() < 600) detail += Describe(id, got, look(_committed, id), look(_working, id));
      }
    }
    if (sawOld && sawNew) ++_tally->halfApplied;
    if (!damaged && !sawNew) ++_tally->intact;
    if (damaged && torn) {
      _tally->damagedByTear += damaged;
      return;
    }
    std::string log;
    for (const std::string& line : _log) log += "  " + line + "\n";
    ASSERT_EQ(damaged, 0) << "the directory reached the disk whole, yet blocks hold neither state:" << detail
                          << "\n" << r.report << "operations of the unit:\n" << log;
    // Now and then the workload goes on from the recovered image.
    if (!r.finalImage.empty() && _rng() % 4 == 0) Resume(r);
  }

  void Resume(const Recovered& r) {
    _file.Close(ZorBfCloseAbandon);
    _stream.SetImage(r.finalImage);
    _open();
    Model m;
    for (const auto& [id, b] : r.blocks) m[id] = *b;
    _working = m;
  }

  uint32_t _seed;
  Rng _rng;
  Tally* _tally;
  CutStream _stream;
  ZorBFile _file;
  Model _committed, _working;
  uint64_t _lastOps = 8;
  int64_t _units = 0;
  bool _compacting = false;
  std::vector<std::string> _log;  // the operations of the current unit
};

// Runs units, turning a library error into a failure that names the seed.
void RunUnits(PowerCutRun* run, uint32_t seed, int units) {
  for (int unit = 0; unit < units; ++unit) {
    try {
      run->Unit();
    } catch (const ZorException& e) {
      string s;
      FAIL() << "seed " << seed << " unit " << unit << ": library error " << e.GetError() << " " << e.GetMsg(&s)
             << " at " << e.GetFileText() << ":" << e.GetLine();
    }
    if (::testing::Test::HasFatalFailure()) return;
  }
}

void Print(const char* what, const Tally& t, std::chrono::steady_clock::time_point start) {
  printf("[ power cut ] %s: %d cuts, %d half applied, %d torn directory writes (%d blocks damaged by them), "
         "%d with lost space, %d refused by a normal open (%d interrupted compactions), %d left the old state "
         "whole; %d transactions\n",
         what, t.cuts, t.halfApplied, t.tornDirectory, t.damagedByTear, t.lostSpace, t.refusedOpen, t.crashDetected,
         t.intact, t.committed);
  printf("[ power cut ] %s: %.1f s\n", what,
         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace

TEST(BFilePowerCut, EveryBlockHoldsTheCommittedOrTheInFlightState) {
  Tally tally;
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t seed = 1; seed <= 12 && !HasFatalFailure(); ++seed) {
    std::unique_ptr<zortest::BusyWorkingSet> pressure(seed % 2 ? new zortest::BusyWorkingSet() : nullptr);
    PowerCutRun run(seed, &tally, 0);
    RunUnits(&run, seed, 70);
  }
  Print("small files", tally, start);
  if (!HasFatalFailure()) {
    EXPECT_GE(tally.cuts, 500);
  }
}

// Crossing the 1,000-entry step: data start moves and the blocks in the
// grown reserved area move to the end of the file.
TEST(BFilePowerCut, DirectoryGrowthSurvivesACut) {
  Tally tally;
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t seed = 1001; seed <= 1008 && !HasFatalFailure(); ++seed) {
    PowerCutRun run(seed, &tally, 990);
    RunUnits(&run, seed, 10);
  }
  Print("directory growth", tally, start);
}


// ---------------------------------------------------------------- system-call faults
//
// A real file, opened through the fault-injecting environment with a tiny
// cache (dirty blocks are written in the middle of transactions too): a few
// committed transactions of creates, rewrites, deletes and reads, then a
// fault. A full disk, a read error, a failing sync and a write torn by a
// device that goes away must each raise the library error of its errno.
// The file, closed and reopened with the real environment, must open
// normally, pass the directory checks, and hold for every block what the
// last committed transaction left, what the failed one had done so far, or
// what its failing operation was writing. Writes cut short without an error
// must simply be completed. A fault that tears a write of the directory
// itself (the header and entries are rewritten in place) is the case the
// format cannot protect against, as above: the reopened file is not judged.
//
// Resumed runs clear the fault once it has struck (the device comes back,
// space is freed): the file is then used on, or closed normally, and must
// stay as consistent.
namespace {

enum class Fault { kDiskFull, kReadError, kSyncError, kTornWrite, kShortWrite };

class FaultRun {
 public:
  FaultRun(Fault fault, uint32_t seed, bool resume) : _fault(fault), _seed(seed), _resume(resume), _rng(seed) {}

  void Run() {
    SCOPED_TRACE("fault " + std::to_string(static_cast<int>(_fault)) + " seed " + std::to_string(_seed) +
                 (_resume ? " resumed" : ""));
    zortest::TempDir dir;
    const ZorFsa path = dir.Fsa("fault.zbf");
    ZorBFile::Create(&path, kFileType, kSignature, "fault", ZorFsaCreateAlways);
    int64_t raised = 0;
    {
      zortest::FaultEnv env;
      platform::ScopedEnv scope(&env);
      ZorBFile f;
      f.Open(&path, ZorPermReadWrite, ZorShareExclusive, ZorBfOpenCopyOnWrite, static_cast<int32_t>(3 + _rng() % 4),
             kFileType, kSignature);
      for (int n = 2 + static_cast<int>(_rng() % 6); n > 0; --n) Commit(&f);
      Arm(&env);
      for (int n = 0, after = 0; n < 30 && !raised && !(env.Fired() && ++after > 2); ++n) {
        try {
          Commit(&f);
        } catch (const ZorException& e) {
          raised = e.GetError();
        }
      }
      ASSERT_TRUE(env.Fired());
      _dirTorn = _fault != Fault::kShortWrite && env.CutAt() < kZorBfInitialDataStart;
      if (_resume) env.Disarm();
      if (_resume && _rng() % 2) {
        ASSERT_NO_FATAL_FAILURE(GoOn(&f));
      }
      try {
        f.Close(_fault == Fault::kShortWrite || _resume ? ZorBfCloseNormal : ZorBfCloseAbandon);
      } catch (const ZorException&) {  // the fault strikes again
      }
    }
    const int64_t expected = _fault == Fault::kShortWrite ? 0 : ZorErr(-1, _fault == Fault::kDiskFull ? 112 : 1117);
    EXPECT_EQ(raised, expected);
    if (!_dirTorn) CheckReopened(path);
  }

 private:
  void Arm(zortest::FaultEnv* env) {
    const int nth = 1 + static_cast<int>(_rng() % 6);
    switch (_fault) {
      case Fault::kDiskFull: return env->FillDiskAfter(_rng() % 60000);
      case Fault::kReadError: return env->FailReadAt(nth);
      case Fault::kSyncError: return env->FailSyncAt(nth % 4 + 1);
      case Fault::kTornWrite: return env->ShortWriteAt(nth, true);
      case Fault::kShortWrite: return env->ShortWriteAt(nth, false);
    }
  }

  // One transaction; a library error leaves it open, as a caller's would be.
  void Commit(ZorBFile* f) {
    _working = _committed;
    f->BMultiUncach(ZorBfAnyOwner, ZorBfAnyType);  // reads go to the disk
    f->StartTransaction();
    for (int n = 1 + static_cast<int>(_rng() % 6); n > 0; --n) Operation(f);
    f->EndTransaction();
    _committed = _working;
  }

  // After a fault: the failed transaction ends as it stands, then a new
  // block is committed beside it.
  void GoOn(ZorBFile* f) {
    if (f->CountTransaction() > 0) f->EndTransaction();
    const Block b{4, 1, Data()};
    ZorHandle h;
    h.Init(b.data.data(), static_cast<uint32_t>(b.data.size()));
    f->StartTransaction();
    const int32_t id = f->BCreate(&h, b.owner, b.type, 0, true);
    f->EndTransaction();
    _committed = _working;
    _committed[id] = _working[id] = b;
  }

  Bytes Data() {
    Bytes b(_rng() % 10 ? _rng() % 6000 : 66000 + _rng() % 6000);
    for (auto& x : b) x = static_cast<uint8_t>(_rng());
    return b;
  }

  // Each operation records what it is about to do (_pending) until it returns.
  void Operation(ZorBFile* f) {
    const uint32_t op = _rng() % 100;
    int32_t id = 0;
    if (!_working.empty()) id = std::next(_working.begin(), static_cast<ptrdiff_t>(_rng() % _working.size()))->first;
    ZorHandle h;
    if (op < 40 || !id) {
      const Block b{1 + static_cast<int32_t>(_rng() % 3), 1, Data()};
      h.Init(b.data.data(), static_cast<uint32_t>(b.data.size()));
      _pending = {0, b};
      _working[f->BCreate(&h, b.owner, b.type, 0, true)] = b;
    } else if (op < 75) {
      Block b = _working[id];
      b.data = Data();
      h.Init(b.data.data(), static_cast<uint32_t>(b.data.size()));
      _pending = {id, b};
      f->BWriteCopy(id, &h, 0);
      _working[id] = b;
    } else if (op < 88) {
      _pending = {id, std::nullopt};
      f->BDelete(id);
      _working.erase(id);
    } else {
      _pending = {id, _working[id]};
      f->BReadCopy(id, &h);
      ASSERT_EQ(HandleBytes(h), _working[id].data) << "block " << id;
    }
    _pending = {-1, std::nullopt};
  }

  // What a block of the reopened file may hold (see the top of this part).
  bool Acceptable(int32_t id, const std::optional<Block>& got) const {
    auto in = [&](const Model& m) { return m.count(id) ? got == m.at(id) : !got; };
    const bool pendingHere = _pending.first == id || (_pending.first == 0 && !_working.count(id));
    return in(_committed) || in(_working) || (pendingHere && got == _pending.second);
  }

  void CheckReopened(const ZorFsa& path) {
    ZorBFile g;
    ASSERT_NO_THROW(
        g.Open(&path, ZorPermReadWrite, ZorShareExclusive, ZorBfOpenCopyOnWrite, -1, kFileType, kSignature));
    ZorVerif v;
    v.Init(false, 0);
    g.CheckDir(&v);
    g.CheckCrossBlock(&v);
    string report;
    EXPECT_EQ(v.GetNbFault(), 0) << v.GetText(&report);
    auto last = [](const Model& m) { return m.empty() ? 0 : m.rbegin()->first; };
    const int32_t n = std::max({g.GetNbBlock(nullptr, nullptr), last(_working), last(_committed)});
    for (int32_t id = 1; id <= n; ++id) {
      std::optional<Block> got;
      Block b{};
      if (g.GetBlockInfo(id, &b.owner, &b.type, nullptr, nullptr, nullptr)) {
        ZorHandle h;
        g.BReadCopy(id, &h);
        b.data = HandleBytes(h);
        got = b;
      }
      EXPECT_TRUE(Acceptable(id, got)) << "block " << id << (got ? " holds neither state" : " is missing");
      if (_fault == Fault::kShortWrite) {
        EXPECT_TRUE(got == (_committed.count(id) ? std::optional<Block>(_committed.at(id)) : std::nullopt)) << id;
      }
    }
    g.Close(ZorBfCloseNormal);
  }

  Fault _fault;
  uint32_t _seed;
  bool _resume;
  bool _dirTorn = false;
  Rng _rng;
  Model _committed, _working;
  std::pair<int32_t, std::optional<Block>> _pending{-1, std::nullopt};  // id (0: a new one) and content
};

constexpr Fault kFaults[] = {Fault::kDiskFull, Fault::kReadError, Fault::kSyncError, Fault::kTornWrite,
                             Fault::kShortWrite};

}  // namespace

TEST(BFileSystemFaults, AFaultRaisesAndLeavesTheCommittedState) {
  for (Fault fault : kFaults)
    for (uint32_t seed = 1; seed <= 10 && !HasFatalFailure(); ++seed) FaultRun(fault, seed, false).Run();
}

// Fails today, to be enabled once the block file recovers from these: a
// BCreate whose cache eviction failed leaves its entry behind, and the next
// flush stores it as a block of zeros; a normal close after a failed flush
// writes the failed transaction's header, whose count takes in entries that
// were never written (read back as empty blocks) or a free extent over a
// live block; a failed flush leaves the cached file size past the file's
// end, so that a later flush writes an extent that the next open finds
// outside the file (32).
TEST(BFileSystemFaults, DISABLED_TheFileStaysConsistentAfterAFault) {
  for (Fault fault : kFaults)
    for (uint32_t seed = 1; seed <= 40; ++seed) FaultRun(fault, seed, true).Run();
}
