// ZorBFile: the cache of blocks, eviction, purging, uncaching, and writing
// one block out (with its placement).
//
// The cache shares handles with its callers. For every entry, `_cache[i]`
// is the cached handle or null. The cache owns one reference on it, plus one
// more while the block is dirty (flag 0x04). So a handle referenced by
// nobody else has reference count 1 when clean and 2 when dirty; anything
// above that is held outside the cache (BUsed), and such a block is never
// dropped by eviction, purging or uncaching. `_cachedCount` is the number of
// non-null slots and `_dirtyCount` the number of entries with flag 0x04
// (a new empty block is dirty without being cached).
//
// Address space: the heuristics were designed for a 32-bit process. They
// assume an address space of 2 GiB, or the process's RLIMIT_AS when that is
// lower: the default cache limit is min(700, address space / 256 KiB), and
// the limit grows by 100 when evictions come less than 15 s apart while the
// working set is below a tenth of the address space.
//
// Placement when a block is written: with copy-on-write, a block not yet
// placed in this transaction trades its extent for a free one (or for none,
// then it is appended), and its old extent is released only at the flush,
// after the directory that forgets it is written. A block without a
// position is appended at the end of the file.
#include <zorvane/bfile.h>

#include <zorvane/memory.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/ticks.h"
#include "storage/bfile_internal.h"
#include "storage/bfile_space.h"

namespace zorvane {

namespace {

constexpr uint64_t kAssumedAddressSpace = uint64_t(2) << 30;
constexpr int32_t kDefaultCacheMax = 700;
constexpr uint32_t kEvictionWindowMs = 15000;
constexpr int32_t kLimitStep = 100;
constexpr int32_t kGrowthCountCap = 0x4000;

bool WorkingSetIsLow() {
  sZorMemInfo info;
  if (!ZorGetMemInfo(&info)) return false;
  return info.workingSet < bfile::AddressSpaceBytes() / 10;
}

// Sort key of a block to write: its position, blocks without one last.
uint64_t WriteOrder(const sZorBfBRef& e) {
  return e.HasPos() ? e.GetPos() : std::numeric_limits<uint64_t>::max();
}

}  // namespace

uint64_t bfile::AddressSpaceBytes() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<uint64_t>(limit.rlim_cur) < kAssumedAddressSpace)
    return static_cast<uint64_t>(limit.rlim_cur);
  return kAssumedAddressSpace;
}

int32_t bfile::DefaultCacheLimit() {
  return static_cast<int32_t>(std::min<uint64_t>(kDefaultCacheMax, AddressSpaceBytes() / (256 * 1024)));
}

// ------------------------------------------------------------ cache slots

void ZorBFile::_Touch(int32_t id) { _Space()->Touch(id - 1); }

// Stores h, whose one reference the cache takes over; a dirty entry gets
// its extra reference.
void ZorBFile::_SetCached(int32_t id, handle_t* h) {
  _cache[static_cast<size_t>(id - 1)] = h;
  if (_Entry(id).flags & ZorBfFlagDirty) ZorAddHandleRef(h);
  h->purgeable = 1;
  ++_cachedCount;
  _Touch(id);
}

// Forgets the dirty state and releases the cache's memory.
void ZorBFile::_DropCached(int32_t id) {
  sZorBfBRef& e = _Entry(id);
  handle_t* h = _Cached(id);
  if (e.flags & ZorBfFlagDirty) {
    e.flags &= static_cast<uint8_t>(~ZorBfFlagDirty);
    --_dirtyCount;
    if (h) ZorReleaseHandle(h);
  }
  if (!h) return;
  _cache[static_cast<size_t>(id - 1)] = nullptr;
  --_cachedCount;
  ZorReleaseHandle(h);
  _SendMsg(id);
}

// The cached handle of a used block, read from the file when needed. The
// recorded extent is checked against the file before anything is allocated.
handle_t* ZorBFile::_LoadBlock(int32_t id) {
  if (handle_t* h = _Cached(id)) return h;
  {
    const sZorBfBRef& e = _Entry(id);
    if (e.size > kZorBfMaxBlockSize || e.size > e.capacity) _Raise(32);
    if (e.HasPos() && e.GetPos() + e.size > _FileSize()) _Raise(32);
  }
  _MakeRoom();
  const sZorBfBRef& e = _Entry(id);
  handle_t* h = ZorAllocHandle(e.HasPos() ? e.size : 0);
  try {
    if (e.HasPos() && e.size != 0) _ReadAt(e.GetPos(), ZorGetHandleDatas(h), e.size);
  } catch (...) {
    ZorReleaseHandle(h);
    throw;
  }
  _SetCached(id, h);
  return h;
}

// ------------------------------------------------------------ eviction

void ZorBFile::_MakeRoom() {
  if (_cachedCount < _cacheLimit) return;
  CBlockSpace* space = _Space();
  const uint32_t now = platform::TickCount();
  if (space->evictedOnce && now - space->lastEvictionTick < kEvictionWindowMs && _cacheLimit > 3 &&
      _cachedCount < kGrowthCountCap && WorkingSetIsLow()) {
    _cacheLimit += kLimitStep;
    return;
  }
  if (_cacheLimit < 4) return;
  const int32_t count = _cachedCount;
  const int32_t third = count / 3;
  const int32_t dirtyToWrite = std::max(0, _dirtyCount - third);
  const int32_t keep = (count - third) - (count - third) / 5;
  const int32_t cleanToDrop = std::max(0, (count - _dirtyCount) - keep);

  std::vector<int32_t>& recency = space->Recency();
  std::vector<int32_t> toWrite;
  for (int32_t& index : recency) {
    if (static_cast<int32_t>(toWrite.size()) >= dirtyToWrite) break;
    if (index < 0) continue;
    handle_t* h = _cache[static_cast<size_t>(index)];
    if (h && (_dir[static_cast<size_t>(index)].flags & ZorBfFlagDirty) && ZorGetRefCount(h) == 2) {
      toWrite.push_back(index + 1);
      index = -1;
    }
  }
  int32_t dropped = 0;
  for (int32_t& index : recency) {
    if (dropped >= cleanToDrop) break;
    if (index < 0) continue;
    handle_t* h = _cache[static_cast<size_t>(index)];
    if (h && !(_dir[static_cast<size_t>(index)].flags & ZorBfFlagDirty) && ZorGetRefCount(h) == 1) {
      _DropCached(index + 1);
      index = -1;
      ++dropped;
    }
  }
  space->suspendRecency = true;
  try {
    _WriteSorted(toWrite);
  } catch (...) {
    space->suspendRecency = false;
    throw;
  }
  space->suspendRecency = false;
  for (int32_t id : toWrite)
    if (_Cached(id) && ZorGetRefCount(_Cached(id)) == 1) _DropCached(id);
  space->CompactRecency([this](int32_t index) {
    return static_cast<size_t>(index) < _cache.size() && _cache[static_cast<size_t>(index)] != nullptr;
  });
  space->lastEvictionTick = now;
  space->evictedOnce = true;
}

// ------------------------------------------------------------ purge

bool ZorBFile::Purge(int32_t bytes) {
  if (!IsOpen() || _flushing || _cachedCount == 0) return false;
  struct Busy {
    bool& flag;
    explicit Busy(bool& f) : flag(f) { flag = true; }
    ~Busy() { flag = false; }
  } busy(_flushing);
  int64_t remaining = bytes;
  std::vector<int32_t> dirty;
  for (int32_t id = 1; id <= _DirCount() && _cachedCount > 0 && remaining > 0; ++id) {
    handle_t* h = _Cached(id);
    if (!h || !ZorIsHandlePurgeable(h)) continue;
    const bool isDirty = (_Entry(id).flags & ZorBfFlagDirty) != 0;
    const uint32_t refs = ZorGetRefCount(h);
    if (isDirty && refs == 2) {
      dirty.push_back(id);
    } else if (!isDirty && refs == 1) {
      remaining -= ZorGetHandleSize(h);
      _DropCached(id);
    }
  }
  _WriteSorted(dirty);
  for (int32_t id : dirty) {
    handle_t* h = _Cached(id);
    if (!h || ZorGetRefCount(h) != 1) continue;
    remaining -= ZorGetHandleSize(h);
    _DropCached(id);
  }
  return remaining <= 0;
}

// ------------------------------------------------------------ uncaching

void ZorBFile::_Uncache(int32_t id) {
  handle_t* h = _Cached(id);
  if (!h) return;
  if (_Entry(id).flags & ZorBfFlagDirty) {
    if (ZorGetRefCount(h) != 2) return;
    _WriteBlock(id);
  }
  if (ZorGetRefCount(h) == 1) _DropCached(id);
}

// ------------------------------------------------------------ writing

void ZorBFile::_WriteSorted(std::vector<int32_t>& ids) {
  std::stable_sort(ids.begin(), ids.end(),
                   [this](int32_t a, int32_t b) { return WriteOrder(_Entry(a)) < WriteOrder(_Entry(b)); });
  for (int32_t id : ids)
    if (_Entry(id).flags & ZorBfFlagDirty) _WriteBlock(id);
}

// Copy-on-write: trades the block's extent, which the directory on disk
// references, for a free one (or none: it will be appended).
void ZorBFile::_PlaceCopyOnWrite(int32_t id) {
  if (!_Entry(id).HasPos()) {
    _Entry(id).flags |= ZorBfFlagPlaced;
    return;
  }
  const int32_t found = _FindSpace(_Entry(id).capacity);
  const int32_t other = found > 0 ? found : found < 0 ? -found : _AppendEntry();
  sZorBfBRef& b = _Entry(id);
  sZorBfBRef& o = _Entry(other);
  const uint64_t oldPos = b.GetPos();
  const uint32_t oldCapacity = b.capacity;
  if (o.HasPos()) {
    b.SetPos(o.GetPos());
    b.capacity = o.capacity;
  } else {
    b.SetPos(0);
  }
  o = sZorBfBRef{};
  o.SetPos(oldPos);
  o.capacity = oldCapacity;
  o.flags = ZorBfFlagFree | ZorBfFlagRelease;
  b.flags |= ZorBfFlagPlaced;
  _RecordChange(id);
  _RecordChange(other);
}

// Where appended data go: the end of the file, never below data start (a
// truncated file is first extended to it).
uint64_t ZorBFile::_AppendPoint() {
  if (_FileSize() < _DataStart()) _SetFileSize(_DataStart());
  return _FileSize();
}

// A block without a position goes to the end of the file. Returns true when
// the caller must pad the extent after writing the data; otherwise the file
// was extended to the new end at once.
bool ZorBFile::_PlaceAppend(int32_t id) {
  sZorBfBRef& e = _Entry(id);
  const uint64_t pos = _AppendPoint();
  if (!bfile::ExtentFits(pos, e.capacity)) _Raise(16);
  e.SetPos(pos);
  _RecordChange(id);
  if (IsDistant() || !_Cached(id) || e.size == 0) {
    _SetFileSize(pos + e.capacity);
    return false;
  }
  return true;
}

void ZorBFile::_WriteBlock(int32_t id) {
  if ((_openFlags & ZorBfOpenCopyOnWrite) && !(_Entry(id).flags & ZorBfFlagPlaced)) _PlaceCopyOnWrite(id);
  const bool pad = !_Entry(id).HasPos() && _PlaceAppend(id);
  sZorBfBRef& e = _Entry(id);
  handle_t* h = _Cached(id);
  if (h && ZorGetHandleSize(h) < e.size) {
    e.size = ZorGetHandleSize(h);
    _RecordChange(id);
  }
  if (h && e.size != 0) {
    const void* data = ZorGetHandleDatas(h);
    if (IsDistant())
      _WriteRange(static_cast<int64_t>(e.GetPos()), data, e.size, false);
    else
      _WriteAt(e.GetPos(), data, e.size);
    if (pad) {
      _WriteZeros(e.GetPos() + e.size, e.capacity - e.size);
      _fileSize = e.GetPos() + e.capacity;
    }
  }
  if (e.flags & ZorBfFlagDirty) {
    e.flags &= static_cast<uint8_t>(~ZorBfFlagDirty);
    --_dirtyCount;
    if (h) ZorReleaseHandle(h);
  }
  _SendMsg(id);
}

}  // namespace zorvane
