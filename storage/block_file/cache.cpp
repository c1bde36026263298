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
#include <zorvane/block_file.h>

#include <zorvane/memory.h>


#include <algorithm>
#include <cstring>
#include <limits>

#include "foundation/errors/raise.h"
#include "platform/env.h"
#include "platform/ticks.h"
#include "storage/block_file/block_file_impl.h"
#include "storage/block_file/block_space.h"

namespace zorvane {

using bfile::kSource;

namespace {

constexpr uint64_t kAssumedAddressSpace = uint64_t(2) << 30;
constexpr int32_t kDefaultCacheMax = 700;
constexpr uint32_t kEvictionWindowMs = 15000;
constexpr int32_t kLimitStep = 100;
constexpr int32_t kGrowthCountCap = 0x4000;
constexpr uint64_t kGatherBytes = 256 * 1024;  // largest write gathering adjacent blocks

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
  uint64_t limit = UINT64_MAX;
  if (platform::CurrentEnv().AddressSpaceLimit(&limit) == 0 && limit < kAssumedAddressSpace) return limit;
  return kAssumedAddressSpace;
}

int32_t bfile::DefaultCacheLimit() {
  return static_cast<int32_t>(std::min<uint64_t>(kDefaultCacheMax, AddressSpaceBytes() / (256 * 1024)));
}

// ------------------------------------------------------------ cache slots

void ZorBFile::Rep::_touch(int32_t id) { _spaceLists()->Touch(id - 1); }

// Stores h, whose one reference the cache takes over; a dirty entry gets
// its extra reference.
void ZorBFile::Rep::_setCached(int32_t id, handle_t* h) {
  _cache[static_cast<size_t>(id - 1)] = h;
  if (_entry(id).flags & ZorBfFlagDirty) ZorAddHandleRef(h);
  h->purgeable = 1;
  ++_cachedCount;
  _touch(id);
}

// Forgets the dirty state and releases the cache's memory.
void ZorBFile::Rep::_dropCached(int32_t id) {
  sZorBfBRef& e = _entry(id);
  handle_t* h = _cached(id);
  if (e.flags & ZorBfFlagDirty) {
    e.flags &= static_cast<uint8_t>(~ZorBfFlagDirty);
    --_dirtyCount;
    if (h) ZorReleaseHandle(h);
  }
  if (!h) return;
  _cache[static_cast<size_t>(id - 1)] = nullptr;
  --_cachedCount;
  ZorReleaseHandle(h);
  _sendMsg(id);
}

// The cached handle of a used block, read from the file when needed. The
// recorded extent is checked against the file before anything is allocated.
handle_t* ZorBFile::Rep::_loadBlock(int32_t id) {
  if (handle_t* h = _cached(id)) return h;
  {
    const sZorBfBRef& e = _entry(id);
    if (e.size > kZorBfMaxBlockSize || e.size > e.capacity) ZorRaise(kSource, ZorErr(1, 32), &_path);
    if (e.HasPos() && e.GetPos() + e.size > _currentFileSize()) ZorRaise(kSource, ZorErr(1, 32), &_path);
  }
  _makeRoom();
  const sZorBfBRef& e = _entry(id);
  handle_t* h = ZorAllocHandle(e.HasPos() ? e.size : 0);
  try {
    if (e.HasPos() && e.size != 0) _readAt(e.GetPos(), ZorGetHandleDatas(h), e.size);
  } catch (...) {
    ZorReleaseHandle(h);
    throw;
  }
  _setCached(id, h);
  return h;
}

// ------------------------------------------------------------ eviction

void ZorBFile::Rep::_makeRoom() {
  if (_cachedCount < _cacheLimit) return;
  CBlockSpace* space = _spaceLists();
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
      _dropCached(index + 1);
      index = -1;
      ++dropped;
    }
  }
  space->suspendRecency = true;
  try {
    _writeSorted(toWrite);
  } catch (...) {
    space->suspendRecency = false;
    throw;
  }
  space->suspendRecency = false;
  for (int32_t id : toWrite)
    if (_cached(id) && ZorGetRefCount(_cached(id)) == 1) _dropCached(id);
  space->CompactRecency([this](int32_t index) {
    return static_cast<size_t>(index) < _cache.size() && _cache[static_cast<size_t>(index)] != nullptr;
  });
  space->lastEvictionTick = now;
  space->evictedOnce = true;
}

// ------------------------------------------------------------ purge

bool ZorBFile::Rep::Purge(int32_t bytes) {
  if (!IsOpen() || _flushing || _cachedCount == 0) return false;
  struct Busy {
    bool& flag;
    explicit Busy(bool& f) : flag(f) { flag = true; }
    ~Busy() { flag = false; }
  } busy(_flushing);
  int64_t remaining = bytes;
  std::vector<int32_t> dirty;
  for (int32_t id = 1; id <= _dirCount() && _cachedCount > 0 && remaining > 0; ++id) {
    handle_t* h = _cached(id);
    if (!h || !ZorIsHandlePurgeable(h)) continue;
    const bool isDirty = (_entry(id).flags & ZorBfFlagDirty) != 0;
    const uint32_t refs = ZorGetRefCount(h);
    if (isDirty && refs == 2) {
      dirty.push_back(id);
    } else if (!isDirty && refs == 1) {
      remaining -= ZorGetHandleSize(h);
      _dropCached(id);
    }
  }
  _writeSorted(dirty);
  for (int32_t id : dirty) {
    handle_t* h = _cached(id);
    if (!h || ZorGetRefCount(h) != 1) continue;
    remaining -= ZorGetHandleSize(h);
    _dropCached(id);
  }
  return remaining <= 0;
}

// ------------------------------------------------------------ uncaching

void ZorBFile::Rep::_uncache(int32_t id) {
  handle_t* h = _cached(id);
  if (!h) return;
  if (_entry(id).flags & ZorBfFlagDirty) {
    if (ZorGetRefCount(h) != 2) return;
    _writeBlock(id);
  }
  if (ZorGetRefCount(h) == 1) _dropCached(id);
}

// ------------------------------------------------------------ writing

// Writes dirty blocks in ascending position. On a local file the data of
// blocks whose extents follow each other (padding included) go out as one
// write of at most kGatherBytes; a block is marked clean only once its
// bytes were handed to the stream.
void ZorBFile::Rep::_writeSorted(std::vector<int32_t>& ids) {
  std::stable_sort(ids.begin(), ids.end(),
                   [this](int32_t a, int32_t b) { return WriteOrder(_entry(a)) < WriteOrder(_entry(b)); });
  if (IsDistant()) {
    for (int32_t id : ids)
      if (_entry(id).flags & ZorBfFlagDirty) _writeBlock(id);
    return;
  }
  std::vector<uint8_t> gather;
  std::vector<int32_t> pending;
  uint64_t start = 0;
  auto emit = [&] {
    if (!gather.empty()) {
      _writeAt(start, gather.data(), static_cast<uint32_t>(gather.size()));
      _noteData(start, gather.data(), static_cast<uint32_t>(gather.size()));
    }
    gather.clear();
    for (int32_t id : pending) _finishWrite(id);
    pending.clear();
  };
  for (int32_t id : ids) {
    if (!(_entry(id).flags & ZorBfFlagDirty)) continue;
    const BlockOut out = _prepareWrite(id);
    const uint64_t total = uint64_t(out.size) + out.pad;
    if (total > kGatherBytes) {
      emit();
      _writeOut(out);
      _finishWrite(id);
      continue;
    }
    if (!gather.empty() && (start + gather.size() != out.pos || gather.size() + total > kGatherBytes)) emit();
    if (gather.empty()) {
      gather.reserve(kGatherBytes);
      start = out.pos;
    }
    gather.insert(gather.end(), out.data, out.data + out.size);
    gather.resize(gather.size() + out.pad, 0);
    pending.push_back(id);
  }
  emit();
}

// Copy-on-write: trades the block's extent, which the directory on disk
// references, for a free one (or none: it will be appended).
void ZorBFile::Rep::_placeCopyOnWrite(int32_t id) {
  if (!_entry(id).HasPos() || _entry(id).capacity == 0) {
    _entry(id).flags |= ZorBfFlagPlaced;
    return;
  }
  const int32_t found = _findSpace(_entry(id).capacity);
  const int32_t other = found > 0 ? found : found < 0 ? -found : _appendEntry();
  sZorBfBRef& b = _entry(id);
  sZorBfBRef& o = _entry(other);
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
  _recordChange(id);
  _recordChange(other);
}

// Where appended data go: the end of the file, never below data start (a
// truncated file is first extended to it).
uint64_t ZorBFile::Rep::_appendPoint() {
  if (_currentFileSize() < _dataStart()) _setFileSize(_dataStart());
  return _currentFileSize();
}

// A block without a position goes to the end of the file. Returns the
// padding the caller writes after the data (the cached file size already
// counts it), or 0 when the file was extended to the new end at once.
uint64_t ZorBFile::Rep::_placeAppend(int32_t id) {
  sZorBfBRef& e = _entry(id);
  const uint64_t pos = _appendPoint();
  if (!bfile::ExtentFits(pos, e.capacity)) ZorRaise(kSource, ZorErr(1, 16), &_path);
  e.SetPos(pos);
  _recordChange(id);
  if (IsDistant() || !_cached(id) || e.size == 0) {
    _setFileSize(pos + e.capacity);
    return 0;
  }
  _fileSize = pos + e.capacity;
  return e.capacity - e.size;
}

// Places one dirty block (copy-on-write, append) and tells what to write.
ZorBFile::Rep::BlockOut ZorBFile::Rep::_prepareWrite(int32_t id) {
  if ((_openFlags & ZorBfOpenCopyOnWrite) && !(_entry(id).flags & ZorBfFlagPlaced)) _placeCopyOnWrite(id);
  handle_t* h = _cached(id);
  if (h && ZorGetHandleSize(h) < _entry(id).size) {
    _entry(id).size = ZorGetHandleSize(h);
    _recordChange(id);
  }
  // A block without capacity (size 0 after a compaction) owns no extent.
  const uint64_t pad = _entry(id).HasPos() || _entry(id).capacity == 0 ? 0 : _placeAppend(id);
  const sZorBfBRef& e = _entry(id);
  BlockOut out;
  out.pos = e.GetPos();
  out.size = h ? e.size : 0;
  out.data = out.size ? static_cast<const uint8_t*>(ZorGetHandleDatas(h)) : nullptr;
  out.pad = out.size ? pad : 0;
  return out;
}

void ZorBFile::Rep::_writeOut(const BlockOut& out) {
  if (out.size != 0) {
    if (IsDistant())
      _writeRange(static_cast<int64_t>(out.pos), out.data, out.size, false);
    else
      _writeAt(out.pos, out.data, out.size);
    _noteData(out.pos, out.data, out.size);
  }
  if (out.pad != 0) _writeZeros(out.pos + out.size, out.pad);
}

// The block's data are out: it is clean.
void ZorBFile::Rep::_finishWrite(int32_t id) {
  sZorBfBRef& e = _entry(id);
  if (e.flags & ZorBfFlagDirty) {
    e.flags &= static_cast<uint8_t>(~ZorBfFlagDirty);
    --_dirtyCount;
    if (handle_t* h = _cached(id)) ZorReleaseHandle(h);
  }
  _sendMsg(id);
}

void ZorBFile::Rep::_writeBlock(int32_t id) {
  _writeOut(_prepareWrite(id));
  _finishWrite(id);
}

}  // namespace zorvane
