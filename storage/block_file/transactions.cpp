// ZorBFile: transactions and the flush that ends the outermost one.
//
// Transactions nest; only the end of the outermost one writes. A
// copy-on-write file with a journal commits through it (journaling.cpp);
// without one, the flush writes, in this order:
//   1. the dirty blocks, by ascending file position (blocks without a
//      position last, appended at the end of the file);
//   2. with copy-on-write, a barrier (OS flush) so that the data are durable
//      before any directory entry points to them;
//   3. the changed directory entries lowest..highest in ONE write;
//   4. the header, when dirty -- with copy-on-write after another barrier,
//      so that a new directory count never reaches the disk before the
//      entries it makes visible; and when such a transaction also changed
//      entries the header already counted, those leave together with the
//      header in one write (a killed process leaves one state or the other);
//   5. the OS flush, unless ZorBfOpenNoFlush;
//   6. after EmptyFile under copy-on-write, when the transaction left the
//      file empty: the cut of the old data area, now that the empty header
//      is durable (a crash before leaves the old file, after it the empty
//      one, at worst with its old bytes as lost space).
// Between 1 and 3, extents given up in the transaction (flag 0x10) become
// free, and the area reserved for the directory grows when the directory no
// longer fits its step of 1,000 entries: blocks starting inside the new area
// move to the end of the file. With copy-on-write the entries that lie in
// the old area are written (and made durable) before the entries that land
// on the moved blocks' old extents, so that no extent that the directory on
// disk still references is overwritten.
//
// A transaction that wrote nothing does not flush the OS buffers.
#include <zorvane/block_file.h>

#include <zorvane/exception.h>
#include <zorvane/purger.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/errors/raise.h"
#include "platform/little_endian.h"
#include "storage/block_file/block_file_impl.h"
#include "storage/block_file/block_space.h"

namespace zorvane {

using bfile::kSource;

namespace {

constexpr uint32_t kGrowthStep = 1000;  // entries per step of the reserved area

// The reserved area for `count` entries: whole steps of 24,000 bytes after
// the header, rounded down to a multiple of 1,024 (25,600 for up to 1,000
// entries, 49,152 for up to 2,000).
uint32_t ReservedFor(uint32_t count) {
  const uint64_t steps = (uint64_t(count) + kGrowthStep - 1) / kGrowthStep;
  const uint64_t bytes = steps * kGrowthStep * kZorBfEntrySize + 2003;
  return static_cast<uint32_t>(bytes & ~uint64_t(1023));
}

}  // namespace

// ------------------------------------------------------------ transactions

void ZorBFile::Rep::StartTransaction() {
  if (_depth == kNoTransaction) return;
  _requireWrite();
  if (_depth == 0) {
    if (IsDistant()) _stream->BeginExclusive();
    try {
      // A record whose commit failed is cleared, and a committed record
      // that did not reach the block file whole is put there, before
      // anything is written; what a process committed without putting it
      // into a shared file (it died) is put there before anything is read.
      if (_journaled()) {
        _journal->Scrub();
        if (_applyFailed) _checkpoint();
      }
      bool everything = false;
      if (IsDistant()) _catchUpJournal(&everything);
      if (everything) _onStreamChanged(true);
      if (IsDistant()) _trimDeadWritersTail();
    } catch (...) {
      if (IsDistant()) _stream->EndExclusive();
      throw;
    }
  }
  ++_depth;
  ZorSuspendDisabler::Raise();
}

void ZorBFile::Rep::EndTransaction() {
  if (_depth == kNoTransaction) return;
  if (_depth < 1) ZorRaise(kSource, ZorErr(1, 15), &_path);
  ZorSuspendDisabler::Lower();
  if (_depth > 1) {
    --_depth;
    return;
  }
  try {
    FlushTransaction();
  } catch (...) {
    _depth = 0;
    if (IsDistant() && _stream) _stream->EndExclusive();
    throw;
  }
  _depth = 0;
  if (IsDistant()) _stream->EndExclusive();
}

// Called by a guard's release, most often from its destructor, where an
// exception would end the program (twice so while another one unwinds). A
// failing flush is therefore reported on the debug channel, not raised: the
// transaction is closed and rolled back to the last commit. Callers that
// must see the failure end the transaction themselves (EndTransaction
// raises).
void ZorBFile::Rep::Unlock() {
  try {
    EndTransaction();
  } catch (const ZorEBasic& e) {
    ZorDebugPrintExc(&e);
  } catch (const std::exception& e) {
    ZorDebugPrint("ZorBFile: ^0s\n", e.what());
  }
}

// ------------------------------------------------------------ the flush

// A flush that fails before its commit point leaves the file, in memory, as
// the last commit left it (journaling.cpp).
void ZorBFile::Rep::FlushTransaction() {
  if (!IsOpen()) return;
  struct Flushing {
    bool& flag;
    explicit Flushing(bool& f) : flag(f) { flag = true; }
    ~Flushing() { flag = false; }
  } flushing(_flushing);
  try {
    if (_journaled())
      _commitJournaled();
    else
      _flushInPlace();
  } catch (const std::bad_alloc&) {
    _rollback();
    ZorRaise(kSource, ZorErr(1, 1), &_path);
  } catch (...) {
    _rollback();
    throw;
  }
}

// Without a journal: data, directory, header, each written where it lives.
void ZorBFile::Rep::_flushInPlace() {
  const bool emptied = _commitEmptyFile();
  _flushDirtyBlocks();
  _releaseAtFlush();
  const uint32_t oldDataStart = _dataStart();
  _growReservedArea();
  _coverFileSize();
  // Blocks written earlier in the transaction (eviction, purge, uncaching)
  // need the barrier as much as those written just now.
  _barrier();
  _writeDirectoryRange(oldDataStart);
  if (_state & kHeaderDirty) _barrier();
  _writeHeader();
  if (!(_openFlags & ZorBfOpenNoFlush) && _unsynced) _osFlush();
  _noteCommitted();
  if (emptied) {
    // The empty header is durable: the old data area may go.
    _setFileSize(kZorBfInitialDataStart);
    if (!(_openFlags & ZorBfOpenNoFlush)) _osFlush();
    _committedSize = _fileSize;
  }
}

void ZorBFile::Rep::_barrier() {
  if ((_openFlags & ZorBfOpenCopyOnWrite) && !(_openFlags & ZorBfOpenNoFlush) && _unsynced) _osFlush();
}

bool ZorBFile::Rep::_flushDirtyBlocks() {
  if (_dirtyCount == 0) return false;
  std::vector<int32_t> ids;
  ids.reserve(static_cast<size_t>(_dirtyCount));
  // A block becomes dirty only with a recorded change, so the changed
  // entries hold them all; the whole directory is the fallback.
  for (const int32_t id : _changedIds)
    if (id <= _dirCount() && (_entry(id).flags & ZorBfFlagDirty)) ids.push_back(id);
  if (static_cast<int32_t>(ids.size()) < _dirtyCount) {
    ids.clear();
    for (int32_t id = 1; id <= _dirCount(); ++id)
      if (_entry(id).flags & ZorBfFlagDirty) ids.push_back(id);
  }
  _writeSorted(ids);
  return !ids.empty();
}

// Extents given up in this transaction become reusable now that nothing
// will be written before the directory that forgets them. Flags 0x08 and
// 0x10 are only ever set with a recorded change: the changed entries hold
// every entry that carries them.
void ZorBFile::Rep::_releaseAtFlush() {
  const std::vector<int32_t> ids = _changedIds;
  for (const int32_t id : ids) {
    if (id > _dirCount()) continue;
    sZorBfBRef& e = _entry(id);
    if (!(e.flags & ZorBfFlagRelease)) {
      e.flags &= static_cast<uint8_t>(~ZorBfFlagPlaced);
      continue;
    }
    e.flags = ZorBfFlagFree;
    e.size = 0;
    if (e.HasPos() && e.capacity != 0) {
      _addFreeSpace(id);
    } else {
      e.SetPos(0);
      e.capacity = 0;
      _addEmptySlot(id);
    }
    _recordChange(id);
  }
}

// Grows the reserved area while the directory does not fit its step. Blocks
// starting inside the new area move to the end of the file; free extents
// there are given up; what an extent had beyond the new data start stays
// free space (an empty slot, or a new entry when that does not make the
// directory outgrow the new area), so that nothing becomes lost space.
bool ZorBFile::Rep::_growReservedArea() {
  bool moved = false;
  for (uint32_t want = ReservedFor(static_cast<uint32_t>(_dirCount())); want > _dataStart();
       want = ReservedFor(static_cast<uint32_t>(_dirCount()))) {
    if (_currentFileSize() < want) _setFileSize(want);
    std::vector<std::pair<uint64_t, uint32_t>> tails;
    for (int32_t id = 1; id <= _dirCount(); ++id) {
      sZorBfBRef& e = _entry(id);
      if (!e.HasPos() || e.hiPos != 0 || e.pos > want) continue;
      const uint64_t end = uint64_t(e.pos) + e.capacity;
      if (end > want) tails.emplace_back(want, static_cast<uint32_t>(end - want));
      if (!e.IsFree()) {
        _moveBlockToEnd(id);
        moved = true;
      } else {
        e.SetPos(0);
        e.capacity = 0;
        e.size = 0;
        _recordChange(id);
      }
    }
    _dropFreeLists();
    _setHdr32(kZorBfHdrDataStart, want);
    _setHeaderDirty();
    for (const auto& [pos, capacity] : tails) {
      int32_t id = _spaceLists()->TakeEmpty(_dir);
      // A tail never costs another step of the reserved area: then it is
      // given up like the rest of the old extent.
      if (id == 0 && ReservedFor(static_cast<uint32_t>(_dirCount()) + 1) > want) continue;
      if (id == 0) id = _appendEntry();
      sZorBfBRef& e = _entry(id);
      e = sZorBfBRef{};
      e.SetPos(pos);
      e.capacity = capacity;
      e.flags = ZorBfFlagFree;
      _recordChange(id);
    }
    _dropFreeLists();
  }
  return moved;
}

// Copies a clean block to the end of the file, padded to its capacity.
void ZorBFile::Rep::_moveBlockToEnd(int32_t id) {
  sZorBfBRef& e = _entry(id);
  const uint64_t newPos = _appendPoint();
  if (!bfile::ExtentFits(newPos, e.capacity)) ZorRaise(kSource, ZorErr(1, 16), &_path);
  if (e.size > e.capacity || e.size > kZorBfMaxBlockSize || e.GetPos() + e.capacity > newPos)
    ZorRaise(kSource, ZorErr(1, 32), &_path);
  std::vector<uint8_t> data;
  const uint8_t* bytes = nullptr;
  if (handle_t* h = _cached(id); h && ZorGetHandleSize(h) == e.size) {
    bytes = static_cast<const uint8_t*>(ZorGetHandleDatas(h));
  } else if (e.size != 0) {
    data.resize(e.size);
    _readAt(e.GetPos(), data.data(), e.size);
    bytes = data.data();
  }
  if (e.size != 0) {
    if (IsDistant())
      _writeRange(static_cast<int64_t>(newPos), bytes, e.size, false);
    else
      _writeAt(newPos, bytes, e.size);
    _noteData(newPos, bytes, e.size);
  }
  _writeZeros(newPos + e.size, e.capacity - e.size);
  _fileSize = newPos + e.capacity;
  e.SetPos(newPos);
  _recordChange(id);
}

// An appended block's padding is written with its data: when that write
// failed and the block was written again at its place, the file may end
// before the extent. It is extended before any directory points there.
void ZorBFile::Rep::_coverFileSize() {
  if (IsDistant()) return;
  if (_streamSize == kUnknownSize) _streamSize = _stream->GetSize();
  if (_fileSize > _streamSize) _setFileSize(_fileSize);
}

void ZorBFile::Rep::_writeEntries(int32_t low, int32_t high) {
  if (low > high) return;
  std::vector<uint8_t> bytes(static_cast<size_t>(high - low + 1) * kZorBfEntrySize);
  for (int32_t id = low; id <= high; ++id)
    _entry(id).Store(bytes.data() + static_cast<size_t>(id - low) * kZorBfEntrySize);
  const uint64_t at = kZorBfHeaderSize + uint64_t(low - 1) * kZorBfEntrySize;
  if (IsDistant())
    _writeRange(static_cast<int64_t>(at), bytes.data(), static_cast<uint32_t>(bytes.size()), false);
  else
    _writeAt(at, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void ZorBFile::Rep::_writeDirectoryRange(uint32_t oldDataStart) {
  if (_changedLow == 0x7FFFFFFF && _changedHigh == 0) return;
  if (_changedLow < 1 || _changedLow > _changedHigh || _changedHigh > _dirCount()) _raiseInternal(2);
  const bool copyOnWrite = (_openFlags & ZorBfOpenCopyOnWrite) != 0;
  const int32_t written = static_cast<int32_t>(_writtenCount);
  if (copyOnWrite && _dataStart() == oldDataStart && (_state & kHeaderDirty) && _changedLow <= written) {
    // The entries past the count on disk are invisible until the header
    // counts them: they go first. Then the header and the changed entries
    // it already counted leave in one write, so that a process killed
    // during the flush leaves the old state or the new one, not a mix.
    const int32_t existing = std::min(_changedHigh, written);
    if (_changedHigh > existing) {
      _writeEntries(existing + 1, _changedHigh);
      _barrier();
    }
    _writeHeaderWithEntries(existing);
    _changedLow = 0x7FFFFFFF;
    _changedHigh = 0;
    return;
  }
  int32_t split = _changedHigh;
  if ((_openFlags & ZorBfOpenCopyOnWrite) && _dataStart() > oldDataStart) {
    const int32_t oldRoom = static_cast<int32_t>((oldDataStart - kZorBfHeaderSize) / kZorBfEntrySize);
    if (_changedLow <= oldRoom && _changedHigh > oldRoom) split = oldRoom;
  }
  _writeEntries(_changedLow, split);
  if (split < _changedHigh) {
    _barrier();
    _writeEntries(split + 1, _changedHigh);
  }
  _changedLow = 0x7FFFFFFF;
  _changedHigh = 0;
}

void ZorBFile::Rep::_prepareHeaderWrite() {
  if (_state & kBumpCounter) {
    _state &= ~kBumpCounter;
    platform::PutLE64(_header + kZorBfHdrUpdate, platform::GetLE64(_header + kZorBfHdrUpdate) + 1);
  }
  if (std::memcmp(_header, "ZorBFile", 8) != 0) _raiseInternal(1);
}

void ZorBFile::Rep::_writeHeader() {
  if (!(_state & kHeaderDirty)) return;
  _prepareHeaderWrite();
  _writeAt(0, _header, kZorBfHeaderSize);
  _state &= ~kHeaderDirty;
  _writtenCount = _hdr32(kZorBfHdrDirCount);
  _sendMsg(0);
}

void ZorBFile::Rep::_writeHeaderWithEntries(int32_t high) {
  _prepareHeaderWrite();
  std::vector<uint8_t> bytes(kZorBfHeaderSize + static_cast<size_t>(high) * kZorBfEntrySize);
  std::memcpy(bytes.data(), _header, kZorBfHeaderSize);
  for (int32_t id = 1; id <= high; ++id)
    _entry(id).Store(bytes.data() + kZorBfHeaderSize + static_cast<size_t>(id - 1) * kZorBfEntrySize);
  if (IsDistant())
    _writeRange(0, bytes.data(), static_cast<uint32_t>(bytes.size()), false);
  else
    _writeAt(0, bytes.data(), static_cast<uint32_t>(bytes.size()));
  _state &= ~kHeaderDirty;
  _writtenCount = _hdr32(kZorBfHdrDirCount);
  _sendMsg(0);
}

}  // namespace zorvane
