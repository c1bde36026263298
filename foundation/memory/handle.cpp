// Handle records and the ZorHandle value class.
//
// Invariants kept by every function of this file:
// - data is null exactly when size is 0 (a foreign record may wrap a null
//   caller pointer of size 0 too);
// - owned data comes from ZorMemAlloc/ZorMemRealloc and is freed with the
//   record; foreign data is never freed, copied or reallocated: resizing a
//   foreign record gives it an owned block of its own instead;
// - a record is destroyed only by ZorReleaseHandle or ZorUnlockHandle, when
//   both counts are 0 afterwards. While it is being destroyed its reference
//   count is all ones, and releases or unlocks reaching it then do nothing.
// - an owned block holds `capacity` bytes, at least `size`: growing past the
//   capacity reserves half as much again, so that item-by-item growth costs
//   amortised constant time; shrinking below a quarter of it gives memory back.
// Null records are accepted by the read functions (they report an empty
// handle) and ignored by the counting functions.
#include <zorvane/exception.h>
#include <zorvane/handle.h>
#include <zorvane/memory.h>

#include "foundation/errors/raise.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace zorvane {

namespace {

constexpr uint32_t kDying = 0xFFFFFFFFu;
constexpr const char* kSource = "memory\\ZorHandle";

handle_t* NewRecord(void* data, uint32_t size, uint32_t references, uint32_t foreign) {
  auto* h = static_cast<handle_t*>(ZorMemAlloc(sizeof(handle_t)));
  h->data = data;
  h->size = size;
  h->references = references;
  h->foreign = foreign;
  h->locks = 0;
  h->purgeable = 0;
  h->capacity = foreign ? 0 : size;
  return h;
}

void DestroyIfUnused(handle_t* h) {
  if (h->references != 0 || h->locks != 0) return;
  h->references = kDying;
  if (!h->foreign) ZorMemFree(h->data);
  ZorMemFree(h);
}

// An owned copy of n bytes (null for 0).
void* CopyBlock(const void* src, uint32_t n) {
  if (n == 0) return nullptr;
  void* block = ZorMemAlloc(n);
  std::memcpy(block, src, n);
  return block;
}

void* DataOrNone(const handle_t* h) {
  return (h && h->data && h->size) ? h->data : ZorNoData();
}

}  // namespace

// ------------------------------------------------------------------ records

handle_t* ZorAllocHandle(uint32_t size) {
  void* data = size ? ZorMemAlloc(size) : nullptr;
  try {
    return NewRecord(data, size, 1, 0);
  } catch (...) {
    ZorMemFree(data);
    throw;
  }
}

handle_t* ZorCreateHandleFromDataPtr(void* data, uint32_t size) {
  if (size && !data) ZorRaiseBadParam(kSource);
  return NewRecord(data, size, 0, 1);
}

void ZorAddHandleRef(handle_t* h) {
  if (h && h->references != kDying) ++h->references;
}

void ZorReleaseHandle(handle_t* h) {
  if (!h || h->references == kDying) return;
  if (h->references) --h->references;
  DestroyIfUnused(h);
}

void* ZorLockHandle(handle_t* h) {
  if (!h) return ZorNoData();
  ++h->locks;
  return DataOrNone(h);
}

void ZorUnlockHandle(handle_t* h) {
  if (!h || h->references == kDying) return;
  assert(h->locks > 0);
  if (h->locks) --h->locks;
  DestroyIfUnused(h);
}

uint32_t ZorGetHandleSize(const handle_t* h) { return h ? h->size : 0; }
uint32_t ZorGetRefCount(const handle_t* h) { return h ? h->references : 0; }
bool ZorIsHandleLocked(const handle_t* h) { return h && h->locks > 0; }
bool ZorIsHandlePurgeable(const handle_t* h) { return h && h->purgeable; }
void* ZorGetHandleDatas(const handle_t* h) { return DataOrNone(h); }

void ZorSetHandleSize(handle_t* h, uint32_t n) {
  ZorNotNull(h, kSource);
  if (n == h->size && (n == 0 || h->data)) return;
  if (h->foreign) {
    // The caller's memory stays where it is: the record gets a block of its own.
    void* block = n ? ZorMemAlloc(n) : nullptr;
    if (n && h->size) std::memcpy(block, h->data, n < h->size ? n : h->size);
    h->data = block;
    h->foreign = 0;
    h->capacity = n;
  } else if (n == 0) {
    ZorMemFree(h->data);
    h->data = nullptr;
    h->capacity = 0;
  } else if (n > h->capacity || n < h->capacity / 4) {
    const uint64_t grown = static_cast<uint64_t>(h->capacity) + h->capacity / 2;
    const uint32_t capacity = n > h->capacity && grown > n ? static_cast<uint32_t>(std::min<uint64_t>(grown, 0xFFFFFFFFu)) : n;
    h->data = ZorMemRealloc(h->data, capacity);
    h->capacity = capacity;
  }
  h->size = n;
}

void* ZorSetHandleSizeLock(handle_t* h, uint32_t n) {
  ZorSetHandleSize(h, n);
  return ZorLockHandle(h);
}

void ZorCopyHandle(handle_t* dst, const handle_t* src) {
  ZorNotNull(dst, kSource);
  ZorNotNull(src, kSource);
  if (dst == src) return;
  void* data = src->foreign ? src->data : CopyBlock(src->data, src->size);
  if (!dst->foreign) ZorMemFree(dst->data);
  dst->data = data;
  dst->size = src->size;
  dst->capacity = src->foreign ? 0 : src->size;
  dst->foreign = src->foreign;
}

handle_t* ZorDupHandle(const handle_t* src) {
  if (!src) return nullptr;
  if (src->foreign) return NewRecord(src->data, src->size, 0, 1);
  void* data = CopyBlock(src->data, src->size);
  try {
    return NewRecord(data, src->size, 1, 0);
  } catch (...) {
    ZorMemFree(data);
    throw;
  }
}

void ZorRAZHandle(handle_t* h) {
  if (h && h->data && h->size) std::memset(h->data, 0, h->size);
}

// ------------------------------------------------------------------ ZorHandle

ZorHandle::ZorHandle(const ZorHandle& other) : _h(other._h) { ZorAddHandleRef(_h); }

ZorHandle& ZorHandle::operator=(const ZorHandle& other) {
  Attach(const_cast<ZorHandle*>(&other));
  return *this;
}

ZorHandle& ZorHandle::operator=(ZorHandle&& other) noexcept {
  if (this != &other) {
    Trash();
    _h = other._h;
    other._h = nullptr;
  }
  return *this;
}

void ZorHandle::Init(uint32_t size) {
  if (_h)
    ZorSetHandleSize(_h, size);
  else
    _h = ZorAllocHandle(size);
}

void ZorHandle::Init(const void* data, uint32_t size) {
  if (size) ZorNotNull(data, kSource);
  Init(size);
  if (!size) return;
  ZorLock guard;
  std::memcpy(Lock(&guard), data, size);
}

void* ZorHandle::Lock(ZorLock* guard) {
  if (!_h) return ZorNoData();
  void* data = ZorLockHandle(_h);
  if (guard) guard->Init(this);
  return data;
}

void ZorHandle::Unlock() { ZorUnlockHandle(_h); }

void ZorHandle::Attach(ZorHandle* other) {
  Attach(other ? other->_h : nullptr);
}

void ZorHandle::Attach(handle_t* h) {
  ZorAddHandleRef(h);  // first, so that attaching the own record keeps it alive
  ZorReleaseHandle(_h);
  _h = h;
}

handle_t* ZorHandle::Detach() {
  handle_t* h = _h;
  _h = nullptr;
  return h;
}

void ZorHandle::DetachCopy() {
  if (!_h || _h->references <= 1) return;
  handle_t* copy = ZorDupHandle(_h);
  if (copy->foreign) ZorAddHandleRef(copy);
  ZorReleaseHandle(_h);
  _h = copy;
}

void ZorHandle::Copy(const ZorHandle* src) {
  if (src == this || (src && src->_h == _h && _h)) return;
  if (!src || !src->_h) {
    Trash();
    return;
  }
  if (_h && _h->references > 1) Trash();  // never write into a shared record
  if (!_h) _h = ZorAllocHandle(0);
  ZorCopyHandle(_h, src->_h);
}

void ZorHandle::Trash() {
  handle_t* h = _h;
  _h = nullptr;
  ZorReleaseHandle(h);
}

void ZorHandle::_resize(uint32_t n) {
  if (_h)
    ZorSetHandleSize(_h, n);
  else
    _h = ZorAllocHandle(n);
}

void ZorHandle::SetSize(uint32_t n) { _resize(n); }

void* ZorHandle::SetSizeLock(uint32_t n) {
  _resize(n);
  return ZorLockHandle(_h);
}

void ZorHandle::SetSizeZ(uint32_t n) {
  const uint32_t old = GetSize();
  _resize(n);
  if (n > old) std::memset(static_cast<char*>(_h->data) + old, 0, n - old);
}

namespace {
// A block past 4 GB cannot exist: the growth fails as a failed reallocation
// of the global allocator would.
uint32_t CheckedSize(uint64_t n) {
  if (n > 0xFFFFFFFFull) ZorRaise({"memory\\ZorMemoryManagement", 24}, ZorErr(1, 1));
  return static_cast<uint32_t>(n);
}

uint32_t GrownSize(uint32_t size, int32_t delta) {
  const int64_t n = static_cast<int64_t>(size) + delta;
  return n < 0 ? 0 : CheckedSize(static_cast<uint64_t>(n));
}
}  // namespace

void ZorHandle::Grow(int32_t delta) { _resize(GrownSize(GetSize(), delta)); }

void* ZorHandle::GrowLock(int32_t delta) { return SetSizeLock(GrownSize(GetSize(), delta)); }

void ZorHandle::Raz() { ZorRAZHandle(_h); }

namespace {
// Offset of p inside h's block, or -1 when p points elsewhere; a source
// inside the block must be found again after a reallocation.
int64_t OffsetInside(const handle_t* h, const void* p) {
  if (!h || !h->data || !p) return -1;
  const auto* base = static_cast<const char*>(h->data);
  const auto* q = static_cast<const char*>(p);
  if (q < base || q >= base + h->size) return -1;
  return q - base;
}
}  // namespace

int32_t ZorHandle::ReplaceData(int32_t from, int32_t to, const void* src, int32_t n) {
  if (!_h) Init(0u);
  const int64_t size = _h->size;
  const int64_t f = from < 0 ? 0 : (from > size ? size : from);
  const int64_t t = to < f ? f : (to > size ? size : to);
  const uint32_t count = n > 0 ? static_cast<uint32_t>(n) : 0;
  if (count) ZorNotNull(src, kSource);
  const int64_t newSize = CheckedSize(static_cast<uint64_t>(size - (t - f) + count));
  const int64_t tail = size - t;

  // A source inside the block may move or be overwritten: copy it first.
  ZorHandle saved;
  if (count && OffsetInside(_h, src) >= 0) {
    saved.Init(src, count);
    src = saved.GetDatas();
  }
  if (newSize > size) _resize(static_cast<uint32_t>(newSize));
  char* base = static_cast<char*>(_h->data);
  if (tail && newSize != size) std::memmove(base + f + count, base + t, static_cast<size_t>(tail));
  if (count) std::memcpy(base + f, src, count);
  if (newSize < size) _resize(static_cast<uint32_t>(newSize));
  return static_cast<int32_t>(newSize);
}

void ZorHandle::AppendData(uint32_t n, const void* src, uint32_t* used, uint32_t reserve) {
  if (n == 0) return;
  ZorNotNull(src, kSource);
  const uint32_t at = used ? *used : GetSize();
  const int64_t inside = OffsetInside(_h, src);
  const uint64_t end = static_cast<uint64_t>(at) + n;
  if (end > GetSize()) {
    const uint64_t want = used ? end + reserve : end;
    _resize(CheckedSize(want));
  }
  char* base = static_cast<char*>(_h->data);
  std::memmove(base + at, inside >= 0 ? base + inside : src, n);
  if (used) *used += n;
}

}  // namespace zorvane
