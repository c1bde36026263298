// ZorBDyn: fixed-size items with variable data in a heap (layout in
// zorvane/dynamic_blocks.h).
//
// Invariants kept by every function of this file:
// - the header's item size (offset 16) equals the item size of _items;
// - the references of length > 0 (the items' and the array's own, at
//   header offset 8) cover the heap exactly, without overlap; the heap
//   handle's size is the heap length, with no reserve;
// - a reference of length 0 is written as (0, 0) by this file, but one read
//   from outside may carry any offset: nothing reads or adjusts it.
// Serialised input is checked once, when it arrives (Init, Load); every
// later operation relies on the invariants and never on the input again.
// Data of item i is reached through the 8-byte reference at _refAt(i), i = 0
// being the header's, so that the array's own data is handled as an item's.
#include <zorvane/dynamic_blocks.h>
#include <zorvane/exception.h>

#include "foundation/errors/raise.h"
#include "platform/little_endian.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

namespace zorvane {

namespace {

constexpr const char* kSource = "ZorBDyn";
constexpr uint32_t kVersionAt = 0;
constexpr uint32_t kCountAt = 4;
constexpr uint32_t kOwnRefAt = 8;
constexpr uint32_t kItemSizeAt = 16;

// Item numbers run from 1 to the count; the data operations also take 0, the
// array's own data. Anything else, or an array not initialised, is refused.
void CheckItem(const ZorBDyn& a, int32_t i, bool ownData, uint32_t line = __builtin_LINE()) {
  if (!a.IsInit() || i < (ownData ? 0 : 1) || i > a.GetNbItem()) ZorRaiseBadParam(kSource, line);
}

bool PointsInto(const ZorHandle& h, const void* p) {
  const auto* base = static_cast<const char*>(h.GetDatas());
  const auto* q = static_cast<const char*>(p);
  return h.GetSize() && q >= base && q < base + h.GetSize();
}

// Checks the references of a header and n items against a heap of heapLen
// bytes: in range, disjoint, and covering the heap with no gap.
void CheckHeap(const char* items, uint32_t itemSize, uint32_t n, uint32_t heapLen) {
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  auto take = [&](const char* ref) {
    const uint32_t offset = platform::GetLE32(ref), len = platform::GetLE32(ref + 4);
    if (len == 0) return;
    if (static_cast<uint64_t>(offset) + len > heapLen) ZorRaise(kSource, ZorErr(1, 19));
    ranges.emplace_back(offset, len);
  };
  take(items + kOwnRefAt);
  for (uint32_t k = 0; k < n; ++k) take(items + ZorBDyn::kHeaderSize + static_cast<size_t>(k) * itemSize);
  std::sort(ranges.begin(), ranges.end());
  uint64_t expected = 0;
  for (const auto& [offset, len] : ranges) {
    if (offset != expected) ZorRaise(kSource, ZorErr(1, 19));
    expected += len;
  }
  if (expected != heapLen) ZorRaise(kSource, ZorErr(1, 19));
}

// The item size of a header, checked to hold the reference.
uint32_t CheckedItemSize(const char* header) {
  const uint32_t itemSize = platform::GetLE32(header + kItemSizeAt);
  if (itemSize < ZorBDyn::kRefSize) ZorRaise(kSource, ZorErr(1, 19));
  return itemSize;
}

}  // namespace

ZorBDyn::ZorBDyn() : _items(kHeaderSize, kRefSize) {}

// ------------------------------------------------------------------ set-up

void ZorBDyn::Init(int32_t fixedSize) {
  const uint32_t itemSize = kRefSize + static_cast<uint32_t>(fixedSize < 0 ? 0 : fixedSize);
  _items.Reset(kHeaderSize, itemSize);
  char header[kHeaderSize] = {};
  platform::PutLE32(header + kVersionAt, 1);
  platform::PutLE32(header + kItemSizeAt, itemSize);
  _items.SetHeader(header);
  _heap.Trash();
  _heap.Init(0u);
}

void ZorBDyn::Init(const ZorHandle* serialised, bool share) {
  const uint32_t size = serialised ? serialised->GetSize() : 0;
  if (size < kHeaderSize) ZorRaise(kSource, ZorErr(1, 19));
  auto* base = static_cast<char*>(serialised->GetDatas());
  const uint32_t itemSize = CheckedItemSize(base);
  const uint32_t n = platform::GetLE32(base + kCountAt);
  const uint64_t itemsEnd = kHeaderSize + static_cast<uint64_t>(n) * itemSize;
  if (itemsEnd > size) ZorRaise(kSource, ZorErr(1, 19));
  const auto heapLen = static_cast<uint32_t>(size - itemsEnd);
  CheckHeap(base, itemSize, n, heapLen);

  ZorBGet items(kHeaderSize, itemSize);
  ZorHandle heap;
  if (share) {
    items.Init(ZorCreateHandleFromDataPtr(base, static_cast<uint32_t>(itemsEnd)));
    heap.Attach(ZorCreateHandleFromDataPtr(heapLen ? base + itemsEnd : nullptr, heapLen));
  } else {
    ZorHandle copy;
    copy.Init(base, static_cast<uint32_t>(itemsEnd));
    items.Init(&copy);
    heap.Init(base + itemsEnd, heapLen);
  }
  _adopt(&items, &heap);
}

void ZorBDyn::_adopt(ZorBGet* items, ZorHandle* heap) {
  _items = std::move(*items);
  _heap = std::move(*heap);
}

void ZorBDyn::Clear(bool keepOwnData) {
  if (!IsInit()) return;
  ZorHandle own;
  if (keepOwnData) GetData(0, &own);
  _items.SetNbItem(0, false);
  _SetRef(0, Ref{0, 0});
  _heap.Trash();
  _heap.Init(0u);
  SetVersion(1);
  if (own.GetSize()) SetData(0, own.GetDatas(), own.GetSize());
}

void ZorBDyn::Trash() {
  _items.Trash();
  _heap.Trash();
}

void ZorBDyn::GetHandle(ZorHandle* out, bool detach) {
  ZorNotNull(out, kSource);
  if (!IsInit()) {
    out->Trash();
    return;
  }
  const ZorHandle* items = _items.GetHandle();
  const uint32_t itemsSize = items->GetSize(), heapLen = _heap.GetSize();
  ZorHandle form;
  form.Init(itemsSize + heapLen);
  char* p = static_cast<char*>(form.GetDatas());
  std::memcpy(p, items->GetDatas(), itemsSize);
  if (heapLen) std::memcpy(p + itemsSize, _heap.GetDatas(), heapLen);
  platform::PutLE32(p + kCountAt, static_cast<uint32_t>(GetNbItem()));
  out->Attach(&form);
  if (detach) {
    const int32_t version = GetVersion();
    Clear(false);
    SetVersion(version);
  }
}

void ZorBDyn::Save(ZorHandle* heap, ZorHandle* items) const {
  ZorNotNull(heap, kSource);
  ZorNotNull(items, kSource);
  items->Trash();
  heap->Trash();
  if (!IsInit()) return;
  const ZorHandle* own = _items.GetHandle();
  items->Init(own->GetDatas(), own->GetSize());
  platform::PutLE32(static_cast<char*>(items->GetDatas()) + kCountAt, static_cast<uint32_t>(GetNbItem()));
  heap->Init(_heap.GetDatas(), _heap.GetSize());
}

void ZorBDyn::Load(const ZorHandle* heap, const ZorHandle* items) {
  const uint32_t size = items ? items->GetSize() : 0;
  if (size < kHeaderSize) ZorRaise(kSource, ZorErr(1, 19));
  const auto* base = static_cast<const char*>(items->GetDatas());
  const uint32_t itemSize = CheckedItemSize(base);
  if ((size - kHeaderSize) % itemSize) ZorRaise(kSource, ZorErr(1, 19));
  const uint32_t heapLen = heap ? heap->GetSize() : 0;
  CheckHeap(base, itemSize, (size - kHeaderSize) / itemSize, heapLen);

  ZorBGet newItems(kHeaderSize, itemSize);
  ZorHandle copy, newHeap;
  copy.Init(base, size);
  newItems.Init(&copy);
  newHeap.Init(heapLen ? heap->GetDatas() : nullptr, heapLen);
  _adopt(&newItems, &newHeap);
}

bool ZorBDyn::Copy(const ZorBDyn* src) {
  if (src == this) return IsInit();
  if (!src || !src->IsInit()) {
    Trash();
    return false;
  }
  ZorBGet items;
  src->_items.CopyTo(&items);
  ZorHandle heap;
  heap.Init(src->_heap.GetDatas(), src->_heap.GetSize());
  _adopt(&items, &heap);
  return true;
}

// ------------------------------------------------------------------ items

uint32_t ZorBDyn::GetItemSize() const { return _items.GetItemSize(); }

void ZorBDyn::Get(int32_t i, void* fixedOut) const {
  CheckItem(*this, i, false);
  if (GetFixedSize()) ZorNotNull(fixedOut, kSource);
  _items.SubGet(i, fixedOut, kRefSize, GetFixedSize());
}

void ZorBDyn::Set(int32_t i, const void* fixed) {
  CheckItem(*this, i, false);
  if (GetFixedSize()) ZorNotNull(fixed, kSource);
  _items.SubSet(i, fixed, kRefSize, GetFixedSize());
}

int32_t ZorBDyn::Ins(int32_t i, const void* fixed) {
  return _items.SubIns(i, fixed, kRefSize, fixed ? GetFixedSize() : 0);
}

void ZorBDyn::Del(int32_t i) {
  CheckItem(*this, i, false);
  DelData(i);
  _items.Del(i);
}

void ZorBDyn::Swap(int32_t i, int32_t j) {
  CheckItem(*this, i, false);
  CheckItem(*this, j, false);
  _items.Swap(i, j);
}

// ------------------------------------------------------------------ variable data

char* ZorBDyn::_refAt(int32_t i) const {
  return i == 0 ? static_cast<char*>(_items.GetHandle()->GetDatas()) + kOwnRefAt : static_cast<char*>(_items[i]);
}

ZorBDyn::Ref ZorBDyn::_GetRef(int32_t i) const {
  const char* ref = _refAt(i);
  return Ref{platform::GetLE32(ref), platform::GetLE32(ref + 4)};
}

void ZorBDyn::_SetRef(int32_t i, Ref ref) {
  char* at = _refAt(i);
  platform::PutLE32(at, ref.offset);
  platform::PutLE32(at + 4, ref.len);
}

uint32_t ZorBDyn::_append(const void* data, uint32_t len) {
  const uint32_t offset = _heap.GetSize();
  _heap.AppendData(len, data);
  return offset;
}

// Closes the gap of a range and lowers the references above it.
void ZorBDyn::_deleteRange(Ref range) {
  const int32_t len = static_cast<int32_t>(range.len);
  _heap.ReplaceData(static_cast<int32_t>(range.offset), static_cast<int32_t>(range.offset) + len, nullptr, 0);
  const int32_t n = GetNbItem();
  for (int32_t i = 0; i <= n; ++i) {
    Ref ref = _GetRef(i);
    if (ref.len && ref.offset > range.offset) {
      ref.offset -= range.len;
      _SetRef(i, ref);
    }
  }
}

bool ZorBDyn::GetData(int32_t i, ZorHandle* out) const {
  ZorNotNull(out, kSource);
  void* data;
  int32_t len;
  GetDataEx(i, &data, &len);
  out->Trash();
  out->Init(data, static_cast<uint32_t>(len));
  return len > 0;
}

bool ZorBDyn::HasData(int32_t i) const {
  CheckItem(*this, i, true);
  return _GetRef(i).len > 0;
}

void ZorBDyn::SetData(int32_t i, const void* data, uint32_t len) {
  CheckItem(*this, i, true);
  if (len) ZorNotNull(data, kSource);
  const Ref old = _GetRef(i);
  if (len && len == old.len) {
    std::memmove(static_cast<char*>(_heap.GetDatas()) + old.offset, data, len);
    return;
  }
  ZorHandle aside;  // data inside the heap moves when the old range goes
  if (len && PointsInto(_heap, data)) {
    aside.Init(data, len);
    data = aside.GetDatas();
  }
  if (old.len) _deleteRange(old);
  _SetRef(i, len ? Ref{_append(data, len), len} : Ref{0, 0});
}

void ZorBDyn::SetData(int32_t i, const ZorHandle* data) {
  const uint32_t len = data ? data->GetSize() : 0;
  SetData(i, len ? data->GetDatas() : nullptr, len);
}

void ZorBDyn::DelData(int32_t i) { SetData(i, nullptr, 0); }

void* ZorBDyn::GetDataEx(int32_t i, void** ptr, int32_t* len) const {
  CheckItem(*this, i, true);
  const Ref ref = _GetRef(i);
  if (ptr) *ptr = ref.len ? static_cast<char*>(_heap.GetDatas()) + ref.offset : nullptr;
  if (len) *len = static_cast<int32_t>(ref.len);
  return i == 0 ? nullptr : _refAt(i) + kRefSize;
}

// ------------------------------------------------------------------ search, version, pinning

int32_t ZorBDyn::Dico(uint32_t offset, const void* key, uint32_t len) const {
  if (len) ZorNotNull(key, kSource);
  return _items.Dico(kZorPhysTypeBlob, kRefSize + offset, key, static_cast<int32_t>(len));
}

int32_t ZorBDyn::Find(uint32_t offset, const void* key, uint32_t len) const {
  if (len) ZorNotNull(key, kSource);
  return _items.Find(kZorPhysTypeBlob, kRefSize + offset, key, false, static_cast<int32_t>(len));
}

int32_t ZorBDyn::GetVersion() const {
  if (!IsInit()) return 0;
  return static_cast<int32_t>(platform::GetLE32(static_cast<char*>(_items.GetHandle()->GetDatas()) + kVersionAt));
}

void ZorBDyn::SetVersion(int32_t version) {
  if (!IsInit()) ZorRaiseBadParam(kSource);
  platform::PutLE32(static_cast<char*>(_items.GetHandle()->GetDatas()) + kVersionAt, static_cast<uint32_t>(version));
}

void* ZorBDyn::Lock(ZorLock* guard) {
  void* first = _items.Lock(nullptr);
  _heap.Lock(nullptr);
  if (guard) guard->Init(this);
  return first;
}

void ZorBDyn::Unlock() {
  _heap.Unlock();
  _items.Unlock();
}

}  // namespace zorvane
