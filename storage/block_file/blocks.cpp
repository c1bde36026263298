// ZorBFile: the block operations and the directory they change.
//
// Entries: a used entry has flag 0x01 clear; it may lack a position (a new
// block not yet written). A free entry either owns an extent (position and
// capacity: reusable free space) or is an empty slot (no position, no
// capacity). Every change of an entry widens the changed range
// [_changedLow, _changedHigh] that the flush writes in one piece.
//
// Space for a new block is the best free extent (split when at least 64 KiB
// would remain), else an empty slot, else a new entry at the end of the
// directory; the position of a block placed in an empty slot or a new entry
// is decided when it is written (cache.cpp). With copy-on-write an
// extent that the directory on disk still references is never handed out
// before the flush: a deleted block's extent is released at the flush.
//
// Mutating operations run in a transaction of their own (nested in the
// caller's when there is one), begun before the id is checked: on a distant
// file the beginning may bring in the directory another process committed. Id errors (23) are not raised when the
// process-wide check level is 2 or more; the operation then does nothing.
#include <zorvane/block_file.h>

#include <zorvane/block_array.h>
#include <zorvane/purger.h>

#include <algorithm>
#include <cstring>

#include "foundation/errors/raise.h"
#include "platform/little_endian.h"
#include "storage/block_file/block_file_impl.h"
#include "storage/block_file/block_space.h"

namespace zorvane {

using bfile::kSource;

namespace {

constexpr uint32_t kSplitThreshold = 65536;
constexpr uint32_t kDefaultCapacity = 1024;
constexpr uint32_t kKeepFlags = ZorBfFlagNoCompact | 0xE0;  // flags a moved block keeps

// The caller's handle record, without changing its reference count.
handle_t* RecordOf(ZorHandle* handle) {
  handle_t* h = handle->Detach();
  handle->Attach(h);
  ZorReleaseHandle(h);
  return h;
}

}  // namespace

// ------------------------------------------------------------ directory

bool ZorBFile::Rep::_checkId(int32_t id, bool allowFree) const {
  if (_validId(id) && (allowFree || !_entry(id).IsFree())) return true;
  if (ZorGetCheckLevel() >= 2) return false;
  ZorRaise(kSource, ZorErr(1, 23), &_path);
}

void ZorBFile::Rep::_recordChange(int32_t id) {
  _changedLow = std::min(_changedLow, id);
  _changedHigh = std::max(_changedHigh, id);
  if (_changedMark.size() < static_cast<size_t>(id)) _changedMark.resize(std::max<size_t>(id, _changedMark.size() * 2));
  if (!_changedMark[static_cast<size_t>(id - 1)]) {
    _changedMark[static_cast<size_t>(id - 1)] = 1;
    _changedIds.push_back(id);
  }
  _sendMsg(id);
}

void ZorBFile::Rep::_resizeDirectory(int32_t count) {
  // The header still counts entries that the file does not hold: a new
  // count would drop them unreported (CheckDir repairs that first).
  if (_missingEntries != 0) ZorRaise(kSource, ZorErr(1, 32), &_path);
  auto resize = [&] {
    _dir.resize(static_cast<size_t>(count));
    _cache.resize(static_cast<size_t>(count), nullptr);
  };
  if (_openFlags & ZorBfOpenCopyOnWrite) {
    ZorDelayPurger delay;
    resize();
  } else {
    resize();
  }
  _setHdr32(kZorBfHdrDirCount, static_cast<uint32_t>(count));
  _setHeaderDirty();
}

int32_t ZorBFile::Rep::_appendEntry() {
  if (_dirCount() >= static_cast<int32_t>(kZorBfMaxEntries)) ZorRaise(kSource, ZorErr(1, 16), &_path);
  _resizeDirectory(_dirCount() + 1);
  _recordChange(_dirCount());
  return _dirCount();
}

uint32_t ZorBFile::Rep::_roundCapacity(uint64_t capacity) const {
  if (capacity == 0) capacity = kDefaultCapacity;
  if (_openFlags & ZorBfOpenRound1K) capacity = (capacity + 1023) & ~uint64_t(1023);
  if (capacity > 0xFFFFFFFFull) ZorRaise(kSource, ZorErr(1, 16), &_path);
  return static_cast<uint32_t>(capacity);
}

// The free-space lookup, refusing extents that a damaged directory places
// outside [data start, end of file): such an entry is turned into an empty
// slot instead of being written into.
int32_t ZorBFile::Rep::_findSpace(uint32_t need) {
  for (;;) {
    const int32_t found = _spaceLists()->Find(_dir, need);
    if (found <= 0) return found;
    sZorBfBRef& e = _entry(found);
    if (e.GetPos() >= _dataStart() && e.GetPos() + e.capacity <= _currentFileSize()) return found;
    e.SetPos(0);
    e.capacity = 0;
    e.size = 0;
    _recordChange(found);
    _addEmptySlot(found);
  }
}

// An entry for a block of `need` bytes: a reused extent (split when enough
// remains), an empty slot or a new entry. The entry comes back cleared with
// its position (or none) and capacity set.
int32_t ZorBFile::Rep::_findOrMakeEntry(uint32_t need, bool allowSplit) {
  const int32_t found = _findSpace(need);
  if (found > 0) {
    const uint64_t pos = _entry(found).GetPos();
    uint32_t capacity = _entry(found).capacity;
    if (allowSplit && capacity - need >= kSplitThreshold) {
      int32_t rest = _spaceLists()->TakeEmpty(_dir);
      if (rest == 0) rest = _appendEntry();
      sZorBfBRef& r = _entry(rest);
      r = sZorBfBRef{};
      r.SetPos(pos + need);
      r.capacity = capacity - need;
      r.flags = ZorBfFlagFree;
      _addFreeSpace(rest);
      _recordChange(rest);
      capacity = need;
    }
    sZorBfBRef& e = _entry(found);
    e = sZorBfBRef{};
    e.SetPos(pos);
    e.capacity = capacity;
    return found;
  }
  const int32_t id = found < 0 ? -found : _appendEntry();
  sZorBfBRef& e = _entry(id);
  e = sZorBfBRef{};
  e.capacity = need;
  return id;
}

// The deletion rule. With copy-on-write, an extent that the directory on
// disk may reference is released at the flush only.
void ZorBFile::Rep::_freeEntry(int32_t id) {
  _dropCached(id);
  sZorBfBRef& e = _entry(id);
  e.size = 0;
  const bool hasExtent = e.HasPos() && e.capacity != 0;
  const bool defer = hasExtent && (_openFlags & ZorBfOpenCopyOnWrite) && !(e.flags & ZorBfFlagPlaced);
  if (defer) {
    e.flags = ZorBfFlagFree | ZorBfFlagRelease;
  } else if (hasExtent) {
    e.flags = ZorBfFlagFree;
    _addFreeSpace(id);
  } else {
    e.flags = ZorBfFlagFree;
    e.SetPos(0);
    e.capacity = 0;
    _addEmptySlot(id);
  }
  _recordChange(id);
}

// ------------------------------------------------------------ create, read

int32_t ZorBFile::Rep::BCreate(ZorHandle* data, int32_t owner, int16_t type, uint32_t reserve, bool compact) {
  const bool withData = data && data->IsInit();
  const uint32_t size = withData ? data->GetSize() : 0;
  if (size > kZorBfMaxBlockSize) ZorRaise(kSource, ZorErr(1, 16), &_path);
  bfile::Txn txn(this);
  const uint32_t need = _roundCapacity(std::max(reserve, size));
  // Room first: an eviction that fails must not leave a new entry behind.
  if (withData) _makeRoom();
  const int32_t id = _findOrMakeEntry(need, true);
  {
    sZorBfBRef& e = _entry(id);
    e.owner = owner;
    e.type = type;
    e.size = size;
    e.flags = static_cast<uint8_t>((compact ? 0 : ZorBfFlagNoCompact) | ZorBfFlagDirty | ZorBfFlagPlaced);
    ++_dirtyCount;
  }
  if (withData) {
    handle_t* h = RecordOf(data);
    ZorAddHandleRef(h);
    _setCached(id, h);
  }
  _recordChange(id);
  return id;
}

void ZorBFile::Rep::BRead(int32_t id, ZorHandle* out) {
  _readScope scope(this);
  if (!_checkId(id, false)) return;
  handle_t* h = _loadBlock(id);
  h->purgeable = 0;
  out->Attach(h);
  h->purgeable = 1;
  _touch(id);
  _sendMsg(id);
}

void ZorBFile::Rep::BReadCopy(int32_t id, ZorHandle* out) {
  _readScope scope(this);
  if (!_checkId(id, false)) return;
  handle_t* h = _loadBlock(id);
  h->purgeable = 0;
  const uint32_t n = ZorGetHandleSize(h);
  ZorHandle copy;
  copy.Init(n);
  if (n != 0) std::memcpy(copy.GetDatas(), ZorGetHandleDatas(h), n);
  *out = std::move(copy);
  h->purgeable = 1;
  _touch(id);
  _sendMsg(id);
}

// The extent is checked against the file as a whole read checks it.
bool ZorBFile::Rep::BReadPart(int32_t id, uint32_t offset, uint32_t len, void* out) {
  _readScope scope(this);
  if (!_checkId(id, false)) return false;
  if (len == 0) return true;
  if (!out) ZorRaise(kSource, ZorErr(1, 23), &_path);
  if (handle_t* h = _cached(id)) {
    const uint32_t size = ZorGetHandleSize(h);
    if (offset > size || len > size - offset) return false;
    std::memcpy(out, static_cast<const uint8_t*>(ZorGetHandleDatas(h)) + offset, len);
    _touch(id);
    return true;
  }
  const sZorBfBRef& e = _entry(id);
  if (offset > e.size || len > e.size - offset || !e.HasPos()) return false;
  if (e.size > e.capacity || e.GetPos() + e.size > _currentFileSize()) ZorRaise(kSource, ZorErr(1, 32), &_path);
  _readAt(e.GetPos() + offset, out, len);
  return true;
}

// ------------------------------------------------------------ write

void ZorBFile::Rep::BWrite(int32_t id, int32_t reserve) {
  bfile::Txn txn(this);
  if (!_checkId(id, false)) return;
  if (!_cached(id)) {
    if (ZorGetCheckLevel() >= 2) return;
    ZorRaise(kSource, ZorErr(1, 23), &_path);
  }
  handle_t* h = _cached(id);
  const uint32_t length = ZorGetHandleSize(h);
  if (length > kZorBfMaxBlockSize) ZorRaise(kSource, ZorErr(1, 16), &_path);
  {
    const sZorBfBRef& e = _entry(id);
    if (IsDistant() && length == e.size && e.HasPos() && length != 0 &&
        !_writeRange(static_cast<int64_t>(e.GetPos()), ZorGetHandleDatas(h), length, true))
      return;
  }
  _markDirty(id);
  const uint64_t wanted = uint64_t(length) + static_cast<uint64_t>(std::max(reserve, 0));
  if (length > _entry(id).capacity) {
    if (!_entry(id).HasPos())
      _entry(id).capacity = _roundCapacity(wanted);
    else
      _moveGrownBlock(id, _roundCapacity(wanted));
  }
  _entry(id).size = length;
  _touch(id);
  _recordChange(id);
}

void ZorBFile::Rep::_markDirty(int32_t id) {
  sZorBfBRef& e = _entry(id);
  if (e.flags & ZorBfFlagDirty) return;
  if (handle_t* h = _cached(id)) ZorAddHandleRef(h);
  e.flags |= ZorBfFlagDirty;
  ++_dirtyCount;
}

// A grown block with an extent gets a new placement under the same id; the
// old extent goes to another entry, released at the flush.
void ZorBFile::Rep::_moveGrownBlock(int32_t id, uint32_t newCapacity) {
  const int32_t other = _findOrMakeEntry(newCapacity, true);
  sZorBfBRef& b = _entry(id);
  sZorBfBRef& o = _entry(other);
  const uint64_t oldPos = b.GetPos();
  const uint32_t oldCapacity = b.capacity;
  b.SetPos(o.GetPos());
  b.capacity = o.capacity;
  b.flags = static_cast<uint8_t>((b.flags & kKeepFlags) | ZorBfFlagDirty | ZorBfFlagPlaced);
  o = sZorBfBRef{};
  if (oldCapacity != 0) o.SetPos(oldPos);
  o.capacity = oldCapacity;
  o.flags = ZorBfFlagFree | ZorBfFlagRelease;
  _recordChange(other);
}

void ZorBFile::Rep::BWriteCopy(int32_t id, ZorHandle* data, int32_t reserve) {
  bfile::Txn txn(this);
  if (!_checkId(id, false)) return;
  handle_t* h = _cached(id);
  if (!h) {
    _makeRoom();
    h = ZorAllocHandle(0);
    _setCached(id, h);
  }
  if (data && data->IsInit()) {
    ZorCopyHandle(h, RecordOf(data));
  } else {
    ZorSetHandleSize(h, 0);
  }
  BWrite(id, reserve);
}

int32_t ZorBFile::Rep::BDuplicate(int32_t id, int32_t owner, int16_t type, uint32_t reserve) {
  bfile::Txn txn(this);
  if (!_checkId(id, false)) return 0;
  handle_t* h = _loadBlock(id);
  const sZorBfBRef src = _entry(id);
  const uint32_t n = ZorGetHandleSize(h);
  ZorHandle copy;
  copy.Init(n);
  if (n != 0) std::memcpy(copy.GetDatas(), ZorGetHandleDatas(h), n);
  const uint32_t room = reserve == 0 ? n : reserve == 0xFFFFFFFFu ? src.capacity : reserve;
  return BCreate(&copy, owner == ZorBfKeepOwner ? src.owner : owner, type == ZorBfKeepType ? src.type : type,
                 room, !(src.flags & ZorBfFlagNoCompact));
}

// ------------------------------------------------------------ delete

void ZorBFile::Rep::BDelete(int32_t id) {
  bfile::Txn txn(this);
  if (!_checkId(id, true) || _entry(id).IsFree()) return;
  _freeEntry(id);
}

void ZorBFile::Rep::BMultiDelete(int32_t owner, int16_t type) {
  if (owner == ZorBfKeepOwner || type == ZorBfKeepType) return;
  if (owner == ZorBfAnyOwner && type == ZorBfAnyType) {
    EmptyFile(false);
    return;
  }
  bfile::Txn txn(this);
  for (int32_t id = 1; id <= _dirCount(); ++id) {
    const sZorBfBRef& e = _entry(id);
    if (!e.IsFree() && bfile::OwnerMatches(owner, e.owner) && bfile::TypeMatches(type, e.type)) _freeEntry(id);
  }
}

void ZorBFile::Rep::BRangeDelete(int32_t ownerFrom, int32_t ownerTo, int16_t typeFrom, int16_t typeTo) {
  bfile::Txn txn(this);
  for (int32_t id = 1; id <= _dirCount(); ++id) {
    const sZorBfBRef& e = _entry(id);
    if (!e.IsFree() && bfile::OwnerInRange(ownerFrom, ownerTo, e.owner) &&
        bfile::TypeInRange(typeFrom, typeTo, e.type))
      _freeEntry(id);
  }
}

void ZorBFile::Rep::EmptyFile(bool resetCounter) {
  _requireWrite();
  for (int32_t id = 1; id <= _dirCount(); ++id) {
    handle_t* h = _cached(id);
    const uint32_t own = (_entry(id).flags & ZorBfFlagDirty) ? 2 : 1;
    if (h && ZorGetRefCount(h) != own) ZorRaise(kSource, ZorErr(1, 22), &_path);
  }
  bfile::Txn txn(this);
  _releaseAll(false);
  _dir.clear();
  _cache.clear();
  _missingEntries = 0;
  _clearChanged();
  _setHdr32(kZorBfHdrDirCount, 0);
  if (resetCounter) platform::PutLE64(_header + kZorBfHdrUpdate, 0);
  _setHdr32(kZorBfHdrDataStart, kZorBfInitialDataStart);
  _dropFreeLists();
  _spaceLists()->Recency().clear();
  if (_openFlags & ZorBfOpenCopyOnWrite) {
    _releaseDataArea();
    _emptyPending = true;
  } else {
    _setFileSize(kZorBfInitialDataStart);
  }
  _setHeaderDirty();
}

// Copy-on-write: the directory on disk references the old data area until
// this transaction is flushed, so the area is not truncated; it becomes
// entries released at the flush, so that blocks created later in the same
// transaction land after it. When the transaction ends with no block at all,
// the flush drops those entries instead and cuts the file once the empty
// header is on disk (_commitEmptyFile).
void ZorBFile::Rep::_releaseDataArea() {
  constexpr uint64_t kPiece = 0x80000000u;
  uint64_t pos = kZorBfInitialDataStart;
  const uint64_t end = _currentFileSize();
  while (pos < end) {
    const uint32_t capacity = static_cast<uint32_t>(std::min(end - pos, kPiece));
    const int32_t id = _appendEntry();
    sZorBfBRef& e = _entry(id);
    e.SetPos(pos);
    e.capacity = capacity;
    e.flags = ZorBfFlagFree | ZorBfFlagRelease;
    pos += capacity;
  }
}

// At the flush of a transaction that emptied a copy-on-write file: true when
// the file is still empty (no used entry), after which the directory is
// empty again and only the header changes on disk. The header write is the
// commit point; a crash before it leaves the old file whole.
bool ZorBFile::Rep::_commitEmptyFile() {
  if (!_emptyPending) return false;
  _emptyPending = false;
  for (const sZorBfBRef& e : _dir)
    if (!e.IsFree()) return false;
  _dir.clear();
  _cache.clear();
  _clearChanged();
  _setHdr32(kZorBfHdrDirCount, 0);
  _dropFreeLists();
  _spaceLists()->Recency().clear();
  _setHeaderDirty();
  return true;
}

// ------------------------------------------------------------ questions

int32_t ZorBFile::Rep::BUsed(int32_t id) {
  _readScope scope(this);
  auto outside = [this](int32_t i) -> int32_t {
    handle_t* h = _cached(i);
    if (!h) return 0;
    const int32_t own = (_entry(i).flags & ZorBfFlagDirty) ? 2 : 1;
    return static_cast<int32_t>(ZorGetRefCount(h)) - own;
  };
  if (id == 0) {
    int32_t n = 0;
    for (int32_t i = 1; i <= _dirCount(); ++i) n += outside(i) > 0 ? 1 : 0;
    return n;
  }
  return _isUsed(id) ? outside(id) : 0;
}

bool ZorBFile::Rep::BExist(int32_t id, int32_t* count) {
  _readScope scope(this);
  if (id != 0) return _isUsed(id);
  int32_t n = 0;
  for (const sZorBfBRef& e : _dir) n += e.IsFree() ? 0 : 1;
  if (count) *count = n;
  return true;
}

int32_t ZorBFile::Rep::BGetSize(int32_t id) {
  _readScope scope(this);
  if (!_isUsed(id)) return 0;
  if (handle_t* h = _cached(id)) return static_cast<int32_t>(ZorGetHandleSize(h));
  return static_cast<int32_t>(_entry(id).size);
}

void ZorBFile::Rep::BUncach(int32_t id) {
  if (!_isUsed(id)) return;
  _uncache(id);
}

void ZorBFile::Rep::BMultiUncach(int32_t owner, int16_t type) {
  for (int32_t id = 1; id <= _dirCount(); ++id) {
    const sZorBfBRef& e = _entry(id);
    if (!e.IsFree() && _cached(id) && bfile::OwnerMatches(owner, e.owner) && bfile::TypeMatches(type, e.type))
      _uncache(id);
  }
}

bool ZorBFile::Rep::BIsCompact(int32_t id) {
  _readScope scope(this);
  if (!_checkId(id, false)) return false;
  return !(_entry(id).flags & ZorBfFlagNoCompact);
}

bool ZorBFile::Rep::GetBlockInfo(int32_t id, int32_t* owner, int16_t* type, int32_t* size, uint32_t* capacity,
                            uint8_t* flags) {
  _readScope scope(this);
  if (!_isUsed(id)) return false;
  const sZorBfBRef& e = _entry(id);
  if (owner) *owner = e.owner;
  if (type) *type = e.type;
  if (size) *size = static_cast<int32_t>(e.size);
  if (capacity) *capacity = e.capacity;
  if (flags) *flags = e.flags;
  return true;
}

bool ZorBFile::Rep::GetEntry(int32_t id, sZorBfBRef* out) const {
  _readScope scope(this);
  if (!_validId(id)) return false;
  *out = _entry(id);
  return true;
}

int32_t ZorBFile::Rep::GetNbBlock(int32_t* freeWithSpace, int32_t* emptySlots) {
  _readScope scope(this);
  int32_t withSpace = 0, empty = 0;
  for (const sZorBfBRef& e : _dir) {
    if (!e.IsFree()) continue;
    if (e.HasPos())
      ++withSpace;
    else
      ++empty;
  }
  if (freeWithSpace) *freeWithSpace = withSpace;
  if (emptySlots) *emptySlots = empty;
  return _dirCount();
}

uint64_t ZorBFile::Rep::GetSize(int32_t* dirBytes, int32_t* usedBytes, uint32_t* reservedBytes) {
  _readScope scope(this);
  uint64_t used = 0, reserved = 0;
  for (const sZorBfBRef& e : _dir) {
    if (e.IsFree()) continue;
    used += e.size;
    reserved += e.capacity;
  }
  if (dirBytes) *dirBytes = _dirCount() * static_cast<int32_t>(kZorBfEntrySize);
  if (usedBytes) *usedBytes = static_cast<int32_t>(std::min<uint64_t>(used, 0x7FFFFFFF));
  if (reservedBytes) *reservedBytes = static_cast<uint32_t>(std::min<uint64_t>(reserved, 0xFFFFFFFF));
  return IsOpen() ? _currentFileSize() : 0;
}

int32_t ZorBFile::Rep::BGetOTBlockId(int32_t owner, int16_t type, int32_t need) {
  _readScope scope(this);
  for (int32_t id = 1; id <= _dirCount(); ++id) {
    const sZorBfBRef& e = _entry(id);
    if (e.IsFree() || !bfile::OwnerMatches(owner, e.owner) || !bfile::TypeMatches(type, e.type)) continue;
    if (int64_t(e.size) + need <= int64_t(e.capacity)) return id;
  }
  return 0;
}

void ZorBFile::Rep::BGetID(int32_t ownerFrom, int32_t ownerTo, int16_t typeFrom, int16_t typeTo, ZorBGet* out,
                      int32_t offset, bool zero) {
  _readScope scope(this);
  for (int32_t id = 1; id <= _dirCount(); ++id) {
    const sZorBfBRef& e = _entry(id);
    if (e.IsFree() || !bfile::OwnerInRange(ownerFrom, ownerTo, e.owner) ||
        !bfile::TypeInRange(typeFrom, typeTo, e.type))
      continue;
    uint8_t bytes[4];
    platform::PutLE32(bytes, static_cast<uint32_t>(id));
    out->SubIns(out->GetNbItem() + 1, bytes, static_cast<uint32_t>(offset), 4, zero);
  }
}

// ------------------------------------------------------------ tags

void ZorBFile::Rep::BSetCompact(int32_t id, bool compact, int32_t owner, int16_t type) {
  auto apply = [&](int32_t i) {
    sZorBfBRef& e = _entry(i);
    const uint8_t flags = compact ? static_cast<uint8_t>(e.flags & ~ZorBfFlagNoCompact)
                                  : static_cast<uint8_t>(e.flags | ZorBfFlagNoCompact);
    if (flags == e.flags) return;
    e.flags = flags;
    _recordChange(i);
  };
  if (id != 0) {
    bfile::Txn txn(this);
    if (_checkId(id, false)) apply(id);
    return;
  }
  bfile::Txn txn(this);
  for (int32_t i = 1; i <= _dirCount(); ++i) {
    const sZorBfBRef& e = _entry(i);
    if (!e.IsFree() && bfile::OwnerMatches(owner, e.owner) && bfile::TypeMatches(type, e.type)) apply(i);
  }
}

void ZorBFile::Rep::BSetOwner(int32_t id, int32_t owner) {
  bfile::Txn txn(this);
  if (!_checkId(id, false) || _entry(id).owner == owner) return;
  _entry(id).owner = owner;
  _recordChange(id);
}

void ZorBFile::Rep::BSetType(int32_t id, int16_t type) {
  bfile::Txn txn(this);
  if (!_checkId(id, false) || _entry(id).type == type) return;
  _entry(id).type = type;
  _recordChange(id);
}

void ZorBFile::Rep::BChangeOwner(int32_t oldOwner, int32_t newOwner, int16_t typeLow, int16_t typeHigh) {
  bfile::Txn txn(this);
  for (int32_t id = 1; id <= _dirCount(); ++id) {
    sZorBfBRef& e = _entry(id);
    if (e.IsFree() || !bfile::OwnerMatches(oldOwner, e.owner) || !bfile::TypeInRange(typeLow, typeHigh, e.type))
      continue;
    if (e.owner == newOwner) continue;
    e.owner = newOwner;
    _recordChange(id);
  }
}

void ZorBFile::Rep::BChangeType(int16_t oldType, int16_t newType, int32_t ownerLow, int32_t ownerHigh) {
  bfile::Txn txn(this);
  for (int32_t id = 1; id <= _dirCount(); ++id) {
    sZorBfBRef& e = _entry(id);
    if (e.IsFree() || !bfile::TypeMatches(oldType, e.type) || !bfile::OwnerInRange(ownerLow, ownerHigh, e.owner))
      continue;
    if (e.type == newType) continue;
    e.type = newType;
    _recordChange(id);
  }
}

}  // namespace zorvane
