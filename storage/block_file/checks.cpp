// The four integrity checks of a block file and their repairs.
//
// Each check walks the in-memory directory. With a verifier it opens a
// section, reports every fault as an item and, when the verifier allows
// repair and the file is write enabled, repairs it: a repaired fault is
// reported once, as a repaired item, and counts as found (the check still
// returns false). Without a verifier a check reports nothing and stops at the
// first fault. The texts are the catalogue list 239 of module 1.
//
// CheckDir without a verifier is what Open runs: one linear pass that refuses
// every entry a later read could trip on -- an extent past the end of the
// file or below data start (40-bit positions, sums in 64 bits), a stored size
// above the capacity or the block size limit (a read allocates `size` bytes,
// even for a block without an extent), a free entry
// that keeps a position without capacity, stored values reserved for the
// wildcards. It also reports a directory that a tolerant opening could not
// read whole (the header counts entries past the end of the file); its
// repair sets the count to what was read and says which entries it dropped.
//
// Extents are compared in position order: CheckCrossBlock sweeps the sorted
// extents keeping the one that reaches furthest; an extent that starts
// before that end overlaps it and is reported with it, lower id first. So
// each extent gives at most one pair, every block involved in an overlap
// appears in some pair, and the cost is the sort: a directory of identical
// entries gives count - 1 pairs, of which the first kMaxOverlapItems (in id
// order) are items and the rest one more item that counts them.
// CheckLostSpace walks the same order from data start to the end of the
// file. Space covered by any entry's extent, used or free, is accounted
// for; where extents overlap, the walk continues after the furthest end, so
// that a repair never declares free a byte that some block still holds.
//
// With a verifier the checks are long work: their read-only loops poll the
// process-wide user break and raise the cancellation error (1, 1000); a
// repair under way is still written by the transaction's end, so the file
// stays consistent.
//
// Positions and capacities appear in the texts through the catalogue's
// 32-bit placeholders: beyond 2 GiB they print wrapped.
#include <zorvane/block_file.h>
#include <zorvane/event_journal.h>
#include <zorvane/progress.h>
#include <zorvane/string.h>
#include <zorvane/ui.h>
#include <zorvane/verification.h>

#include <algorithm>
#include <unordered_set>
#include <utility>
#include <vector>

#include "foundation/services/text_source.h"
#include "storage/block_file/block_file_impl.h"
#include "storage/block_file/maintenance.h"

namespace zorvane {

using namespace bfile::texts;

namespace {

// Owner and type rules of the files of type 2 (databases).
constexpr int32_t kDatabaseFileType = 2;
constexpr int16_t kTableDescType = 100;
constexpr int32_t kMinLostRepairMode = 5;
constexpr int32_t kMinLostRepairLevel = 2;

// Lost-space repairs cut a range into entries of at most this capacity.
constexpr uint64_t kMaxEntryCapacity = 0xFFFFFFFFu;
// Overlaps reported one by one; the rest are counted in one more item.
constexpr size_t kMaxOverlapItems = 1000;
// Entries between two looks at the user break.
constexpr int32_t kBreakPollStep = 4096;

struct Extent {
  uint64_t pos;
  uint64_t end;
  int32_t id;
  bool operator<(const Extent& o) const { return pos != o.pos ? pos < o.pos : id < o.id; }
};

// Process mode: this library runs no application server, so the bad-close
// bit is always checked when the open flag asks for it.
bool IsServerMode() { return false; }

struct Checker {
  ZorBFile::Rep& f;
  ZorVerif* verif;
  bool fault = false;
  bool inTransaction = false;

  Checker(ZorBFile::Rep& file, ZorVerif* v) : f(file), verif(v) {}
  Checker(const Checker&) = delete;
  Checker& operator=(const Checker&) = delete;
  ~Checker() {
    if (!inTransaction) return;
    try {
      f.EndTransaction();
    } catch (...) {
      // Already unwinding from the error that matters.
    }
  }

  bool CanRepair() const { return verif && verif->CanRepair() && f.IsWriteEnable(); }

  // With a verifier, at step 0 and every kBreakPollStep steps after it: the
  // user may cancel.
  void Poll(size_t step) const {
    if (verif && step % kBreakPollStep == 0 && ZorIsUserBreak()) ZorProgress::S_RaiseCancel(bfile::kSource, __LINE__);
  }

  void Section(int32_t title) {
    if (!verif) return;
    string name;
    verif->AddSectionMsg(1, kGroup, title, f._path.GetPath(ZorFsaPathDisplay, &name));
  }

  // Reports a fault (or, repaired, the repair) with up to six 32-bit values.
  template <typename... Args>
  void Report(bool repaired, int32_t msg, Args... args) {
    fault = true;
    if (verif)
      verif->AddItemMsg(repaired ? kZorVerifRepaired : kZorVerifError, 0, 0, 1, kGroup, msg,
                        static_cast<int32_t>(args)...);
  }

  // The first repair opens the transaction that Finish closes (and flushes).
  void BeginRepair() {
    if (inTransaction) return;
    f.StartTransaction();
    inTransaction = true;
  }
  bool Finish() {
    if (inTransaction) {
      inTransaction = false;
      f.EndTransaction();
    }
    return !fault;
  }
  // Without a verifier the first fault ends the check.
  bool Stop() const { return fault && !verif; }

  // Extents of every entry that has a position and a capacity, by position.
  std::vector<Extent> SortedExtents() const {
    std::vector<Extent> out;
    for (int32_t id = 1; id <= f._dirCount(); ++id) {
      Poll(static_cast<size_t>(id - 1));
      const sZorBfBRef& e = f._entry(id);
      if (e.HasPos() && e.capacity != 0) out.push_back({e.GetPos(), e.GetPos() + e.capacity, id});
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // ----------------------------------------------------------- CheckDir
  void CheckEntry(int32_t id, uint64_t dataStart, uint64_t fileSize) {
    sZorBfBRef& e = f._entry(id);
    if (bfile::IsPlacementDamaged(e, dataStart, fileSize)) Report(false, kMsgOutside, id);
    if (!e.HasPos()) return;
    if (e.IsFree() && e.capacity == 0) {
      FreeWithData(id);
      return;
    }
    if (e.IsFree()) return;
    if (e.owner == ZorBfAnyOwner) Report(false, kMsgBadOwner, id);
    if (e.type == ZorBfAnyType || e.type == ZorBfKeepType) Report(false, kMsgBadType, id);
  }

  void FreeWithData(int32_t id) {
    const bool repair = CanRepair();
    if (repair) {
      BeginRepair();
      f._entry(id).SetPos(0);
      f._entry(id).size = 0;
      f._recordChange(id);
    }
    Report(repair, kMsgFreeWithData);
  }

  // The header counts entries that a tolerant opening could not read.
  void CheckMissingEntries() {
    if (f._missingEntries == 0) return;
    const uint32_t read = static_cast<uint32_t>(f._dirCount());
    const uint32_t recorded = read + f._missingEntries;  // the header's 32-bit count
    if (!CanRepair()) {
      Report(false, kMsgShortDirectory, recorded, read);
      return;
    }
    BeginRepair();
    f._missingEntries = 0;
    f._setHdr32(kZorBfHdrDirCount, static_cast<uint32_t>(read));
    f._setHeaderDirty();
    Report(true, kMsgEntriesDropped, read + 1, recorded);
  }

  void CheckBadClose() {
    if (!verif || !(f._openFlags & ZorBfOpenCheckBadClose) || IsServerMode()) return;
    if (!(f._hdr32(kZorBfHdrState) & kZorBfStateBadClose)) return;
    if (!CanRepair()) {
      Report(false, kMsgBadClose);
      return;
    }
    f.IsBadClose(true);
    Report(true, kMsgCloseRepaired);
    string text;
    ZorLogEvent(texts::Load(1, kGroup, kMsgCloseRepaired, &text), ZorEvtAlert);
  }

  bool PlacementDamaged() const {
    auto entryAt = [this](int32_t id) -> const sZorBfBRef& { return f._entry(id); };
    return bfile::AnyPlacementDamaged(f._dirCount(), entryAt, f._dataStart(), f._currentFileSize());
  }

  // ----------------------------------------------------------- CheckCrossBlock
  // The overlapping pairs of the sweep, (lower id, higher id), in id order.
  std::vector<std::pair<int32_t, int32_t>> Overlaps() const {
    const std::vector<Extent> extents = SortedExtents();
    std::vector<std::pair<int32_t, int32_t>> pairs;
    const Extent* furthest = nullptr;
    for (size_t i = 0; i < extents.size(); ++i) {
      Poll(i);
      const Extent& x = extents[i];
      if (furthest && x.pos < furthest->end) {
        pairs.emplace_back(std::min(furthest->id, x.id), std::max(furthest->id, x.id));
        if (!verif) break;
      }
      if (!furthest || x.end > furthest->end) furthest = &x;
    }
    std::sort(pairs.begin(), pairs.end());
    return pairs;
  }

  void ReportOverlap(int32_t a, int32_t b) {
    const sZorBfBRef& x = f._entry(a);
    const sZorBfBRef& y = f._entry(b);
    Report(false, kMsgOverlap, a, x.GetPos(), x.capacity, b, y.GetPos(), y.capacity);
  }

  // ----------------------------------------------------------- CheckLostSpace
  std::vector<std::pair<uint64_t, uint64_t>> LostRanges(uint64_t fileSize) const {
    std::vector<std::pair<uint64_t, uint64_t>> lost;
    uint64_t walk = f._dataStart();
    size_t step = 0;
    for (const Extent& x : SortedExtents()) {
      Poll(step++);
      if (x.pos > walk && walk < fileSize) lost.emplace_back(walk, std::min(x.pos, fileSize));
      walk = std::max(walk, x.end);
    }
    if (walk < fileSize) lost.emplace_back(walk, fileSize);
    return lost;
  }

  // Not while the directory is cut short: a new entry would need the count
  // that only CheckDir's repair may set.
  bool CanRepairLost() const {
    return CanRepair() && verif->GetMode() >= kMinLostRepairMode && ZorGetCheckLevel() >= kMinLostRepairLevel &&
           f._missingEntries == 0;
  }

  // Declares [from, to) free space; false when the directory is full.
  bool ReclaimLost(uint64_t from, uint64_t to) {
    const int32_t pieces = static_cast<int32_t>((to - from + kMaxEntryCapacity - 1) / kMaxEntryCapacity);
    if (f._dirCount() + pieces > static_cast<int32_t>(kZorBfMaxEntries)) return false;
    BeginRepair();
    for (uint64_t at = from; at < to; at += kMaxEntryCapacity) {
      const int32_t id = f._appendEntry();
      sZorBfBRef& e = f._entry(id);
      e = sZorBfBRef{};
      e.SetPos(at);
      e.capacity = static_cast<uint32_t>(std::min(to - at, kMaxEntryCapacity));
      e.flags = ZorBfFlagFree;
      f._recordChange(id);
      f._addFreeSpace(id);
    }
    return true;
  }

  // ----------------------------------------------------------- CheckBlockOwnerType
  // Owners that have a table description (a used block of type 100).
  std::unordered_set<int32_t> DescribedOwners() const {
    std::unordered_set<int32_t> owners;
    for (int32_t id = 1; id <= f._dirCount(); ++id) {
      const sZorBfBRef& e = f._entry(id);
      if (!e.IsFree() && e.type == kTableDescType) owners.insert(e.owner);
    }
    return owners;
  }

  static bool IsKnownKind(const sZorBfBRef& e, const std::unordered_set<int32_t>& described) {
    if (e.owner == -2 || e.owner == -3) return e.type == 0;
    if (e.owner <= 0) return false;
    const bool knownType = e.type < 18 || (e.type >= kTableDescType && e.type <= kTableDescType + 3);
    return knownType && described.contains(e.owner);
  }
};

}  // namespace

bool ZorBFile::Rep::CheckDir(ZorVerif* verif) {
  Checker c(*this, verif);
  c.Section(kTitleDir);
  const uint64_t dataStart = _dataStart();
  const uint64_t fileSize = _currentFileSize();
  for (int32_t id = 1; id <= _dirCount() && !c.Stop(); ++id) {
    c.Poll(static_cast<size_t>(id - 1));
    c.CheckEntry(id, dataStart, fileSize);
  }
  if (c.Stop()) return false;
  c.CheckMissingEntries();
  if (c.Stop()) return false;
  c.CheckBadClose();
  return c.Finish();
}

bool ZorBFile::Rep::CheckCrossBlock(ZorVerif* verif) {
  Checker c(*this, verif);
  c.Section(kTitleCross);
  const std::vector<std::pair<int32_t, int32_t>> pairs = c.Overlaps();
  for (size_t i = 0; i < pairs.size() && i < kMaxOverlapItems; ++i) c.ReportOverlap(pairs[i].first, pairs[i].second);
  if (pairs.size() > kMaxOverlapItems) c.Report(false, kMsgMoreOverlaps, pairs.size() - kMaxOverlapItems);
  return c.Finish();
}

bool ZorBFile::Rep::CheckLostSpace(ZorVerif* verif) {
  Checker c(*this, verif);
  c.Section(kTitleLost);
  const bool repair = c.CanRepairLost();
  for (const auto& [from, to] : c.LostRanges(_currentFileSize())) {
    c.Report(repair && c.ReclaimLost(from, to), kMsgLost, from, to);
    if (c.Stop()) break;
  }
  return c.Finish();
}

bool ZorBFile::Rep::CheckBlockOwnerType(ZorVerif* verif) {
  if (GetFType() != kDatabaseFileType) return true;
  Checker c(*this, verif);
  c.Section(kTitleOwnerType);
  const std::unordered_set<int32_t> described = c.DescribedOwners();
  const bool repair = c.CanRepair();
  bool deleted = false;
  for (int32_t id = 1; id <= _dirCount() && !c.Stop(); ++id) {
    c.Poll(static_cast<size_t>(id - 1));
    if (_entry(id).IsFree() || Checker::IsKnownKind(_entry(id), described)) continue;
    if (repair) {
      c.BeginRepair();
      BDelete(id);
      deleted = true;
    }
    c.Report(repair, repair ? kMsgDeleted : kMsgBadBlock, id);
  }
  const bool sound = c.Finish();
  // Compact refuses damaged placements; the check reports, never raises.
  if (deleted && !c.PlacementDamaged()) Compact(ZorBfCompactAny, false, true, nullptr);
  return sound;
}

}  // namespace zorvane
