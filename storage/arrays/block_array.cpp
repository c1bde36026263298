// ZorBGet: fixed-size items behind a header in one handle.
//
// Invariants kept by every function of this file:
// - the item count is derived, (size - header) / item size, 0 when the
//   handle is shorter than the header or the item size is 0; bytes past the
//   last whole item (an adopted handle of odd size) are carried along and
//   never read as an item;
// - every operation that adds items first makes sure the handle exists and
//   holds at least the header (zeroed when it had to grow);
// - a source given to an insertion may lie inside the array itself: it is
//   copied aside before the bytes move.
// Item numbers are the caller's to keep in range; assertions check them in
// debug builds. The search and sort machinery lives in item_order.h.
#include <zorvane/block_array.h>
#include <zorvane/exception.h>
#include <zorvane/memory.h>

#include "foundation/errors/raise.h"
#include "storage/arrays/item_order.h"

#include <cassert>
#include <cstring>
#include <memory>

namespace zorvane {

namespace {

constexpr const char* kSource = "ZorBGet";

// Byte counts of the array are 32-bit; a larger one cannot be allocated.
uint32_t CheckedBytes(uint64_t n) {
  if (n > 0x7FFFFFFFull) ZorRaise(kSource, ZorErr(1, 1));
  return static_cast<uint32_t>(n);
}

bool PointsInto(const char* base, uint32_t size, const void* p) {
  const auto* q = static_cast<const char*>(p);
  return size && q >= base && q < base + size;
}

// The swap buffer of a sort: on the stack for ordinary items.
class SwapBuffer {
 public:
  explicit SwapBuffer(uint32_t size) : _heap(size > sizeof _local ? ZorMemAlloc(size) : nullptr) {}
  ~SwapBuffer() { ZorMemFree(_heap); }
  SwapBuffer(const SwapBuffer&) = delete;
  SwapBuffer& operator=(const SwapBuffer&) = delete;
  char* Get() { return _heap ? static_cast<char*>(_heap) : _local; }

 private:
  alignas(16) char _local[256];
  void* _heap;
};

}  // namespace

// ------------------------------------------------------------------ set-up

ZorBGet::ZorBGet(uint32_t headerSize, uint32_t itemSize) : _headerSize(headerSize), _itemSize(itemSize) {}

ZorBGet::ZorBGet(ZorBGet&& other) noexcept
    : _h(std::move(other._h)), _headerSize(other._headerSize), _itemSize(other._itemSize) {}

ZorBGet& ZorBGet::operator=(ZorBGet&& other) noexcept {
  if (this != &other) {
    _h = std::move(other._h);
    _headerSize = other._headerSize;
    _itemSize = other._itemSize;
  }
  return *this;
}

void ZorBGet::Init() {
  _h.Trash();
  _h.Init(_headerSize);
  _h.Raz();
}

void ZorBGet::Init(ZorHandle* h) {
  if (!h || !h->IsInit())
    Init();
  else
    _h.Attach(h);
}

void ZorBGet::Init(handle_t* h) {
  if (!h)
    Init();
  else
    _h.Attach(h);
}

void ZorBGet::Reset(uint32_t headerSize, uint32_t itemSize) {
  _headerSize = headerSize;
  _itemSize = itemSize;
  Init();
}

void ZorBGet::Trash() { _h.Trash(); }

void ZorBGet::Clear() {
  if (IsInit()) _h.SetSizeZ(_headerSize);
}

void ZorBGet::Detach(ZorHandle* out) {
  if (out != &_h) {
    out->Attach(&_h);
    _h.Trash();
  }
}

void ZorBGet::CopyTo(ZorBGet* dst) const {
  if (dst == this) return;
  dst->_headerSize = _headerSize;
  dst->_itemSize = _itemSize;
  dst->_h.Trash();
  if (IsInit()) dst->_h.Init(_bytes(), _h.GetSize());
}

int32_t ZorBGet::GetNbItem() const {
  const uint32_t size = _h.GetSize();
  if (size <= _headerSize || _itemSize == 0) return 0;
  const uint32_t n = (size - _headerSize) / _itemSize;
  return n > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(n);
}

void ZorBGet::SetNbItem(int32_t n, bool zeroNew) {
  _prepare();
  const uint32_t size = CheckedBytes(_headerSize + static_cast<uint64_t>(n < 0 ? 0 : n) * _itemSize);
  if (zeroNew)
    _h.SetSizeZ(size);
  else
    _h.SetSize(size);
}

char* ZorBGet::_bytes() const { return static_cast<char*>(_h.GetDatas()); }

char* ZorBGet::_item(int32_t i) const {
  assert(i >= 1 && i <= GetNbItem());
  return _bytes() + _headerSize + static_cast<size_t>(i - 1) * _itemSize;
}

void ZorBGet::_prepare() {
  if (!IsInit())
    Init();
  else if (_h.GetSize() < _headerSize)
    _h.SetSizeZ(_headerSize);
}

// Makes room for n items before item `before` (1..count + 1) and returns
// the first of them; their bytes are left as they were.
char* ZorBGet::_openGap(int32_t before, int32_t n) {
  const uint32_t at = _headerSize + static_cast<uint32_t>(before - 1) * _itemSize;
  const uint32_t size = _h.GetSize();
  const uint32_t bytes = CheckedBytes(static_cast<uint64_t>(n) * _itemSize);
  _h.SetSize(CheckedBytes(static_cast<uint64_t>(size) + bytes));
  char* base = _bytes();
  std::memmove(base + at + bytes, base + at, size - at);
  return base + at;
}

// ------------------------------------------------------------------ items

void ZorBGet::Get(int32_t i, void* out) const { std::memcpy(out, _item(i), _itemSize); }

void ZorBGet::Set(int32_t i, const void* src) { std::memmove(_item(i), src, _itemSize); }

int32_t ZorBGet::Ins(int32_t i, const void* src) { return InsRange(i, src, 1); }

int32_t ZorBGet::InsRange(int32_t i, const void* src, int32_t n) {
  if (n <= 0) return 0;
  _prepare();
  const int32_t count = GetNbItem();
  const int32_t before = (i <= 0 || i > count) ? count + 1 : i;
  const uint32_t bytes = CheckedBytes(static_cast<uint64_t>(n) * _itemSize);
  ZorHandle aside;  // a source inside the array moves with the bytes
  if (src && PointsInto(_bytes(), _h.GetSize(), src)) {
    aside.Init(src, bytes);
    src = aside.GetDatas();
  }
  char* gap = _openGap(before, n);
  if (src)
    std::memcpy(gap, src, bytes);
  else
    std::memset(gap, 0, bytes);
  return before;
}

void ZorBGet::ClearItem(int32_t i) { std::memset(_item(i), 0, _itemSize); }

void ZorBGet::Del(int32_t i) { DelRange(i, 1); }

void ZorBGet::DelRange(int32_t i, int32_t n) {
  const int32_t count = GetNbItem();
  if (i < 1 || i > count || n <= 0) return;
  if (n > count - i + 1) n = count - i + 1;
  char* at = _item(i);
  const uint32_t bytes = static_cast<uint32_t>(n) * _itemSize;
  const uint32_t size = _h.GetSize();
  const uint32_t tail = size - static_cast<uint32_t>(at - _bytes()) - bytes;
  std::memmove(at, at + bytes, tail);
  _h.SetSize(size - bytes);
}

void ZorBGet::Swap(int32_t i, int32_t j) {
  if (i != j) ZorSwapMemory(_item(i), _item(j), _itemSize);
}

// ------------------------------------------------------------------ sub-fields

void ZorBGet::SubGet(int32_t i, void* out, uint32_t offset, uint32_t len) const {
  assert(offset + len <= _itemSize);
  if (len) std::memcpy(out, _item(i) + offset, len);
}

void ZorBGet::SubSet(int32_t i, const void* src, uint32_t offset, uint32_t len) {
  assert(offset + len <= _itemSize);
  if (len) std::memmove(_item(i) + offset, src, len);
}

int32_t ZorBGet::SubIns(int32_t i, const void* src, uint32_t offset, uint32_t len, bool /*zero*/) {
  assert(offset + len <= _itemSize);
  ZorHandle aside;
  if (src && PointsInto(_bytes(), _h.GetSize(), src)) {
    aside.Init(src, len);
    src = aside.GetDatas();
  }
  const int32_t at = InsRange(i, nullptr, 1);
  if (src && len) std::memcpy(_item(at) + offset, src, len);
  return at;
}

void ZorBGet::SubClearItem(int32_t i, uint32_t offset, uint32_t len) {
  assert(offset + len <= _itemSize);
  std::memset(_item(i) + offset, 0, len);
}

int32_t ZorBGet::MultiClear(int32_t from, int32_t to, uint32_t offset, int32_t len) {
  const int32_t count = GetNbItem();
  if (from < 1) from = 1;
  if (to > count) to = count;
  if (from > to) return 0;
  const uint32_t n = len < 0 ? _itemSize : static_cast<uint32_t>(len);
  assert(offset + n <= _itemSize);
  for (int32_t i = from; i <= to; ++i) std::memset(_item(i) + offset, 0, n);
  return to - from + 1;
}

// ------------------------------------------------------------------ header, pinning

void ZorBGet::GetHeader(void* out) const {
  assert(_h.GetSize() >= _headerSize);
  if (_headerSize) std::memcpy(out, _bytes(), _headerSize);
}

void ZorBGet::SetHeader(const void* src) {
  _prepare();
  if (_headerSize) std::memmove(_bytes(), src, _headerSize);
}

void* ZorBGet::LockHeader(ZorLock* guard) {
  void* p = _h.Lock(nullptr);
  if (guard) guard->Init(this);
  return p;
}

void* ZorBGet::Lock(ZorLock* guard) {
  char* p = static_cast<char*>(LockHeader(guard));
  return p == ZorNoData() ? p : p + _headerSize;
}

void ZorBGet::Unlock() { _h.Unlock(); }

// ------------------------------------------------------------------ search and sort

namespace {

using namespace item_order;

// Binary search of the key on fields compared by Key.
template <class Key>
int32_t DicoOn(const Key& k, const char* first, uint32_t itemSize, int32_t n, const void* key) {
  const auto* searched = static_cast<const char*>(key);
  return BinarySearch(first, itemSize, n, [&](const char* field) { return k.Compare(searched, field); });
}

template <class Key>
int32_t FindOn(const Key& k, const char* first, uint32_t itemSize, int32_t n, bool backwards, const void* key) {
  const auto* searched = static_cast<const char*>(key);
  return LinearFind(first, itemSize, n, backwards, [&](const char* field) { return k.Equal(field, searched); });
}

// Calls job(key) with the key class of a physical type; false for a type
// that searching and sorting do not handle.
template <class Job>
bool WithKey(eZorPhysType type, int32_t len, Job job) {
  switch (type) {
    case kZorPhysTypeShort: job(ShortKey{}); return true;
    case kZorPhysTypeLong: job(LongKey{}); return true;
    case kZorPhysTypeQuad: job(QuadKey{}); return true;
    case kZorPhysTypeAnsiString:
    case kZorPhysTypeString: job(TextKey{}); return true;
    case kZorPhysTypeDouble:
    case kZorPhysTypeDecimal:
    case kZorPhysTypeDate: job(DoubleKey{}); return true;
    case kZorPhysTypeBlob: job(BlobKey{len < 0 ? 0u : static_cast<uint32_t>(len)}); return true;
    case kZorPhysTypeUuid: job(UuidKey{}); return true;
    default: return false;
  }
}

}  // namespace

int32_t ZorBGet::Dico(eZorPhysType type, uint32_t offset, const void* key, int32_t len) const {
  const int32_t n = GetNbItem();
  if (n == 0) return -1;
  const char* first = _item(1) + offset;
  int32_t result = (n - 1) / 2 + 1;
  WithKey(type, len, [&](const auto& k) { result = DicoOn(k, first, _itemSize, n, key); });
  return result;
}

int32_t ZorBGet::Find(eZorPhysType type, uint32_t offset, const void* key, bool backwards, int32_t len) const {
  const int32_t n = GetNbItem();
  if (n == 0) return -1;
  const char* first = _item(1) + offset;
  int32_t result = -1;
  WithKey(type, len, [&](const auto& k) { result = FindOn(k, first, _itemSize, n, backwards, key); });
  return result;
}

void ZorBGet::Sort(eZorPhysType type, uint32_t offset, bool descending, int32_t len) {
  const int32_t n = GetNbItem();
  if (n < 2) return;
  SwapBuffer tmp(_itemSize);
  WithKey(type, len, [&](const auto& k) { SortOnKey(_item(1), _itemSize, n, k, offset, descending, tmp.Get()); });
}

int32_t ZorBGet::DicoEx(ZorCompareFn fn, const void* key, int32_t len) const {
  const int32_t n = GetNbItem();
  if (n == 0) return -1;
  return BinarySearch(_item(1), _itemSize, n, [&](const char* item) { return fn(item, key, len); });
}

int32_t ZorBGet::FindEx(ZorCompareFn fn, const void* key, bool backwards, int32_t len) const {
  const int32_t n = GetNbItem();
  if (n == 0) return -1;
  return FindOn(CustomKey{fn, len}, _item(1), _itemSize, n, backwards, key);
}

void ZorBGet::SortEx(ZorCompareFn fn, bool descending, int32_t len) {
  const int32_t n = GetNbItem();
  if (n < 2) return;
  SwapBuffer tmp(_itemSize);
  SortOnKey(_item(1), _itemSize, n, CustomKey{fn, len}, 0, descending, tmp.Get());
}

int32_t ZorBGet::DicoIndex(uint32_t offset, const void* key, int32_t len) const {
  const int32_t n = GetNbItem();
  if (n == 0) return -1;
  const IndexKey k{len < 0 ? 0u : static_cast<uint32_t>(len)};
  return DicoOn(k, _item(1) + offset, _itemSize, n, key);
}

void ZorBGet::SortIndex(uint32_t offset, int32_t len) {
  const int32_t n = GetNbItem();
  if (n < 2) return;
  SwapBuffer tmp(_itemSize);
  const IndexKey k{len < 0 ? 0u : static_cast<uint32_t>(len)};
  SortOnKey(_item(1), _itemSize, n, k, offset, false, tmp.Get());
}

}  // namespace zorvane
