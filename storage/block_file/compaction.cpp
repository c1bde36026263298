// Compaction of a block file: measuring the space it wastes and sliding every
// block towards data start so that the file ends at its last extent.
//
// Waste is the spare capacity of used entries (capacity - size; blocks marked
// not compactable count only in mode 3) plus the extents of free entries.
//
// Compact works in two phases:
//   1. a read-only scan lists every used entry that has an extent as
//      (position, id) (cancellable: nothing has changed yet but the crash
//      counter);
//   2. every other entry loses its extent, then the listed blocks are taken in
//      position order and copied down to the write point, which starts at
//      data start and advances by each block's (possibly reduced) capacity.
// The write point never passes the position of the block being placed, and
// blocks are disjoint, so a copy only overwrites space of blocks already
// placed, free space, or the old extents of its own batch, which is read
// whole before it is written. The file is then cut at the write point and the free lists are
// dropped (they are rebuilt from the directory when next needed).
//
// Copies go in batches: the old extents of consecutive blocks whose new
// places follow one another are read in one go (up to kBatchBytes of the
// file), slid down in memory in position order (a block's new offset in the
// batch is never above its old one) and written in one go; their entries
// take the new places once the write is done. The write point still never
// passes the next block's position, so no batch overwrites a block of a
// later one. A failed read or write leaves the entries of the batch in
// flight at their old places.
//
// Crash safety. Moving blocks overwrites extents that the directory on disk
// still points to -- in a copy-on-write file (ZorBfOpenCopyOnWrite) too,
// whose promise never to overwrite an extent of the last written directory
// compaction deliberately breaks. What protects the file is the crash
// counter: it is raised and on disk (written and flushed) before the first
// block moves, and lowered only by or after the transaction that writes the
// new directory. With a journal the lowered counter travels in that
// transaction's record: the moved data are flushed before it, and replaying
// it gives the new directory and the lowered counter together. Without one
// the header is written after the directory has reached the disk. The
// raising, with a journal, is a transaction of its own that opens a new
// generation after a checkpoint: no older record can then be replayed over
// moved blocks. An interrupted compaction therefore leaves
// a file that refuses to open (error 32) until it is checked and repaired
// (opened with ZorBfOpenTolerant, counter reset by GetCrashFlag(true)). When
// a write fails mid-way, the directory as rearranged so far is still written:
// every placed block is at its new place and every other block at its old
// one, which is the state of the disk.
//
// Blocks without an extent (new in the current transaction) are left to the
// flush, which appends them after the write point. Dirty blocks are not
// copied: the flush writes their cached data at their new position.
#include <zorvane/block_file.h>
#include <zorvane/format.h>
#include <zorvane/progress.h>
#include <zorvane/string.h>
#include <zorvane/ui.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "foundation/errors/raise.h"
#include "storage/block_file/block_file_impl.h"
#include "storage/block_file/maintenance.h"

namespace zorvane {

using bfile::kSource;

namespace {

constexpr int32_t kReportGroup = 104;
constexpr int32_t kMsgNoNeed = 37;
constexpr int32_t kMsgReadOnly = 85;
constexpr int32_t kMsgTitle = 306;
constexpr int32_t kScanStep = 4096;  // entries per progress step in the scan
constexpr uint64_t kBatchBytes = 1 << 20;  // of old extents read at once

// The waste an entry contributes in a mode.
uint64_t EntryWaste(const sZorBfBRef& e, eZorBfCompact mode) {
  if (!e.HasPos()) return 0;
  if (e.IsFree()) return e.capacity;
  if ((e.flags & ZorBfFlagNoCompact) && mode != ZorBfCompactAll) return 0;
  return e.capacity > e.size ? e.capacity - e.size : 0;
}

struct Compactor {
  Compactor(ZorBFile::Rep& file, eZorBfCompact m) : f(file), mode(m) {}

  ZorBFile::Rep& f;
  eZorBfCompact mode;
  ZorProgress* display = nullptr;  // null: no progress shown
  std::vector<std::pair<uint64_t, int32_t>> blocks;  // (position, id) of used entries with an extent
  std::vector<uint8_t> buffer;

  void Alert(int32_t id) const {
    string name, text;
    f._path.GetPath(ZorFsaPathDisplay, &name);
    ZorMessageBox(ZorFormString(&text, 1, kReportGroup, id, name.CStr()), nullptr, ZorMbAlert);
  }

  const char* Title(string* dst) const {
    string name;
    return ZorFormString(dst, 1, kReportGroup, kMsgTitle, f._path.GetPath(ZorFsaPathDisplay, &name));
  }

  bool PlacementDamaged() {
    auto entryAt = [this](int32_t id) -> const sZorBfBRef& { return f._entry(id); };
    return bfile::AnyPlacementDamaged(f._dirCount(), entryAt, f._dataStart(), f._currentFileSize());
  }

  // The crash counter goes up and reaches the disk before anything moves.
  // Outside a transaction SetSecuFlag writes and flushes the header itself;
  // inside a caller's transaction it only marks it dirty.
  void RaiseCrashCounter() {
    const bool inside = f._depth != 0;
    // Nothing the journal holds may be replayed over moved blocks: after a
    // checkpoint the raising transaction opens a new generation. Inside a
    // caller's transaction the header is written outside a commit.
    if (inside)
      f._settleJournal();
    else
      f._checkpoint();
    f.SetSecuFlag();
    if (!inside) return;
    f._writeHeader();
    f._osFlush();
  }

  // Phase 1: read-only. Returns false when the user cancelled.
  bool Scan() {
    string title;
    if (display) display->Begin(Title(&title), f._dirCount());
    for (int32_t id = 1; id <= f._dirCount(); ++id) {
      const sZorBfBRef& e = f._entry(id);
      if (!e.IsFree() && e.HasPos() && e.capacity != 0) {
        blocks.emplace_back(e.GetPos(), id);
      }
      if (display && id % kScanStep == 0 && display->Step(kScanStep)) return false;
    }
    if (display && display->Step(f._dirCount() % kScanStep)) return false;
    if (display) display->End();
    std::sort(blocks.begin(), blocks.end());
    return true;
  }

  // Every entry that has an extent and is not listed loses it.
  void ClearUnlisted() {
    for (int32_t id = 1; id <= f._dirCount(); ++id) {
      sZorBfBRef& e = f._entry(id);
      if (!e.HasPos() || (!e.IsFree() && e.capacity != 0)) continue;
      e.SetPos(0);
      e.capacity = 0;
      e.size = e.IsFree() ? 0 : e.size;
      f._recordChange(id);
    }
  }

  // A block on its way down: its bytes from `from` go to `to`, and its entry
  // takes `to` and `capacity` once they are written.
  struct Slide {
    int32_t id;
    uint64_t from, to;
    uint32_t n, capacity;
  };
  std::vector<Slide> batch;

  void Settle(const Slide& m) {
    sZorBfBRef& e = f._entry(m.id);
    e.SetPos(m.capacity == 0 ? 0 : m.to);
    e.capacity = m.capacity;
    f._recordChange(m.id);
  }

  void Flush() {
    if (batch.empty()) return;
    const uint64_t from = batch.front().from, to = batch.front().to;
    const uint64_t span = batch.back().from + batch.back().n - from;
    buffer.resize(static_cast<size_t>(span));
    f._readAt(from, buffer.data(), static_cast<uint32_t>(span));
    uint64_t out = 0;
    for (const Slide& m : batch) {
      std::memmove(buffer.data() + out, buffer.data() + (m.from - from), m.n);
      out += m.n;
    }
    f._writeAt(to, buffer.data(), static_cast<uint32_t>(out));
    f._noteData(to, buffer.data(), static_cast<uint32_t>(out));
    for (const Slide& m : batch) Settle(m);
    batch.clear();
  }

  void Add(const Slide& m) {
    if (!batch.empty()) {
      const Slide& last = batch.back();
      if (m.to != last.to + last.n || m.from + m.n - batch.front().from > kBatchBytes) Flush();
    }
    batch.push_back(m);
  }

  // Places one block at the write point; returns the new write point.
  uint64_t Place(uint64_t pos, int32_t id, uint64_t writePoint) {
    sZorBfBRef& e = f._entry(id);
    if (pos < writePoint) {
      // Only in a damaged directory (overlapping extents, or an extent below
      // data start): the block stays, and nothing is placed over it.
      return std::max(writePoint, pos + e.capacity);
    }
    const bool shrink = !(e.flags & ZorBfFlagNoCompact) || mode == ZorBfCompactAll;
    const Slide m{id, pos, writePoint, std::min(e.size, e.capacity), shrink ? e.size : e.capacity};
    // Dirty blocks are not copied: the flush writes their cached data.
    if (pos > writePoint && m.n != 0 && !(e.flags & ZorBfFlagDirty))
      Add(m);
    else
      Settle(m);
    return writePoint + m.capacity;
  }

  // Phase 2: not cancellable, the disk changes from here on.
  void Move() {
    string title;
    if (display) display->Begin(Title(&title), static_cast<int64_t>(blocks.size()), false);
    ClearUnlisted();
    uint64_t writePoint = f._dataStart();
    for (const auto& [pos, id] : blocks) {
      writePoint = Place(pos, id, writePoint);
      if (display) display->Step();
    }
    Flush();
    std::vector<uint8_t>().swap(buffer);
    f._setFileSize(writePoint);
    // Moved data reach the disk before the directory that points to them.
    if (!(f._openFlags & ZorBfOpenNoFlush)) f._osFlush();
    f._dropFreeLists();
    if (display) display->End();
  }

  // Runs both phases inside one transaction; the new directory is written by
  // its flush, and only then is the crash counter lowered. On an error the
  // transaction still ends (quietly), so the directory as rearranged so far
  // is written, and the counter stays raised.
  void Run() {
    RaiseCrashCounter();
    const bool lowerInCommit = f._journaled();
    bool cancelled = false;
    {
      bfile::Txn txn(&f);
      EndDisplay end{display};
      cancelled = !Scan();
      if (!cancelled) Move();
      if (lowerInCommit) f.ClrSecuFlag();
    }
    if (!lowerInCommit) f.ClrSecuFlag();
    if (cancelled) ZorProgress::S_RaiseCancel(kSource, __LINE__);
  }

  // Ends the display however the phases end (a second End does nothing).
  struct EndDisplay {
    ZorProgress* display;
    ~EndDisplay() {
      if (display) display->End();
    }
  };
};

}  // namespace

bool ZorBFile::Rep::NeedCompact(eZorBfCompact mode) {
  if (mode != ZorBfCompact10Percent && mode != ZorBfCompactAny && mode != ZorBfCompactAll) return false;
  uint64_t waste = 0;
  for (int32_t id = 1; id <= _dirCount(); ++id) waste += EntryWaste(_entry(id), mode);
  if (mode != ZorBfCompact10Percent) return waste != 0;
  // In whole hundredths of the file, as the stored format's tools count it:
  // 3,000 bytes of 30,050 are 10 of its 300-byte hundredths.
  const uint64_t hundredth = _currentFileSize() / 100;
  if (hundredth == 0) return waste != 0;
  return waste / hundredth >= 10;
}

bool ZorBFile::Rep::Compact(eZorBfCompact mode, bool showMsg, bool showProgress, ZorProgress* display) {
  Compactor c(*this, mode);
  if (!NeedCompact(mode)) {
    if (showMsg) c.Alert(kMsgNoNeed);
    return false;
  }
  if (!IsWriteEnable()) {
    if (showMsg) c.Alert(kMsgReadOnly);
    return false;
  }
  // Moving blocks trusts their extents and sizes: damaged ones are refused
  // before anything changes (check and repair the file first).
  if (c.PlacementDamaged()) ZorRaise(kSource, ZorErr(1, 32), &_path);
  ZorProgress headless;
  if (showProgress) c.display = display ? display : &headless;
  c.Run();
  return true;
}

}  // namespace zorvane
