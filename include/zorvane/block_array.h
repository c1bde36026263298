// ZorBGet: an array of fixed-size items behind a fixed-size header, all in
// one movable memory handle.
//
// The handle's bytes are the header (header size bytes), then item 1, item
// 2, ... of item size bytes each. The item count is (handle size - header
// size) / item size and is never stored. Items count from 1.
//
// The array owns one reference to its handle; Init(ZorHandle*) and
// Init(handle_t*) share the given record rather than copy it, so writes
// through the array are seen by the other owners until one of them resizes
// the record. Pointers from operator[], Lock and LockHeader stay valid until
// the next operation that changes the number of items (or the header).
// Item numbers given to Get, Set, Del, Swap and the sub-field operations are
// the caller's to keep in range (checked by assertions in debug builds).
//
// Searching and sorting read a key field at a byte offset of each item,
// compared by its physical type (zorvane/phys_type.h):
//   3 Short, 4 Long, 5 Quad   signed 16, 32 and 64-bit integers
//   6, 255 AnsiString, String NUL-terminated text, case-insensitive
//                             (ZorStrICmp)
//   8, 9, 10                  the 8 bytes read as a double
//   11 Blob                   bytes over the given length (ZorCmpMemory)
//   12 UUID                   GUID order (ZorUuid::S_CmpGuid)
// Stored fields are little-endian; a search key is given in the same form.
// Other types are not handled: Sort leaves the array alone, Find answers -1
// and Dico the first probe.
#pragma once

#include <zorvane/handle.h>
#include <zorvane/phys_type.h>
#include <zorvane/types.h>

namespace zorvane {

// A caller's comparison of two fields of `len` bytes: negative, 0 or
// positive. Which argument is the item and which the key is told by each
// operation that takes one.
using ZorCompareFn = int32_t (*)(const void* a, const void* b, int32_t len);

class ZOR_API ZorBGet : public iZorLockable {
 public:
  // Header size 0, item size 4.
  ZorBGet() : ZorBGet(0, 4) {}
  ZorBGet(uint32_t headerSize, uint32_t itemSize);
  ZorBGet(const ZorBGet&) = delete;
  ZorBGet& operator=(const ZorBGet&) = delete;
  ZorBGet(ZorBGet&& other) noexcept;
  ZorBGet& operator=(ZorBGet&& other) noexcept;
  ~ZorBGet() override { Trash(); }

  // ----------------------------------------------------------- set-up
  // An empty array: the handle holds a zeroed header and no item.
  void Init();
  // Shares the record of h (or h itself): its bytes become the array.
  void Init(ZorHandle* h);
  void Init(handle_t* h);
  // Empty array with new sizes.
  void Reset(uint32_t headerSize, uint32_t itemSize);
  void Trash();
  // Removes every item and keeps the header.
  void Clear();
  bool IsInit() const { return _h.IsInit(); }
  uint32_t GetRefCount() const { return _h.GetRefCount(); }
  ZorHandle* GetHandle() { return &_h; }
  const ZorHandle* GetHandle() const { return &_h; }
  // Hands the bytes over to out (sharing the record); the array is left
  // without a handle.
  void Detach(ZorHandle* out);
  // dst gets the sizes and a private copy of the bytes.
  void CopyTo(ZorBGet* dst) const;

  uint32_t GetHeaderSize() const { return _headerSize; }
  uint32_t GetItemSize() const { return _itemSize; }
  int32_t GetNbItem() const;
  // Resizes to n items; added items are zeroed when asked.
  void SetNbItem(int32_t n, bool zeroNew);

  // ----------------------------------------------------------- items
  void Get(int32_t i, void* out) const;
  void Set(int32_t i, const void* src);
  void* operator[](int32_t i) const { return _item(i); }
  // Inserts before item i (0, or past the end: appends). A null source
  // inserts zeros; the source may lie inside the array. Returns the new
  // item's number.
  int32_t Ins(int32_t i, const void* src);
  // n items at once from src (zeros for null); n <= 0 does nothing and
  // returns 0, else the number of the first new item.
  int32_t InsRange(int32_t i, const void* src, int32_t n);
  void ClearItem(int32_t i);
  void Del(int32_t i);
  // n items from i, clamped to the end.
  void DelRange(int32_t i, int32_t n);
  void Swap(int32_t i, int32_t j);

  // ----------------------------------------------------------- sub-fields
  void SubGet(int32_t i, void* out, uint32_t offset, uint32_t len) const;
  void SubSet(int32_t i, const void* src, uint32_t offset, uint32_t len);
  // Inserts a zeroed item before i and writes len bytes of src at offset;
  // `zero` is kept for the interface (the new item is always zeroed).
  int32_t SubIns(int32_t i, const void* src, uint32_t offset, uint32_t len, bool zero = true);
  void SubClearItem(int32_t i, uint32_t offset, uint32_t len);
  // Zeroes len bytes at offset (len < 0: the whole item) in items from..to,
  // both clamped to 1..count; returns the number of items touched.
  int32_t MultiClear(int32_t from, int32_t to, uint32_t offset, int32_t len);

  // ----------------------------------------------------------- header, pinning
  void GetHeader(void* out) const;
  void SetHeader(const void* src);
  // Pin the handle (released by the guard, or by Unlock) and return the
  // header, or item 1 (the end of the header when there is no item).
  void* LockHeader(ZorLock* guard);
  void* Lock(ZorLock* guard = nullptr) override;
  void Unlock() override;

  // ----------------------------------------------------------- search and sort
  // Binary search over items sorted ascending on the field: the item's
  // number when found, else -(the number before which the key would be
  // inserted); -1 on an empty array. len is the text or byte length for
  // the types that need one.
  int32_t Dico(eZorPhysType type, uint32_t offset, const void* key, int32_t len = 0) const;
  // The first item (the last with backwards) whose field equals the key;
  // -1 when none.
  int32_t Find(eZorPhysType type, uint32_t offset, const void* key, bool backwards = false,
               int32_t len = 0) const;
  // In place; equal keys keep no particular order.
  void Sort(eZorPhysType type, uint32_t offset, bool descending = false, int32_t len = 0);

  // Custom comparisons on whole items. DicoEx calls fn(item, key, len) and
  // reads the result as the comparison of the key against the item (0 or
  // below continues in the lower half); FindEx looks for fn(item, key, len)
  // == 0; SortEx orders a before b when fn(a, b, len) < 0.
  int32_t DicoEx(ZorCompareFn fn, const void* key, int32_t len) const;
  int32_t FindEx(ZorCompareFn fn, const void* key, bool backwards, int32_t len) const;
  void SortEx(ZorCompareFn fn, bool descending, int32_t len);

  // Index keys of len bytes at offset, in the collation of index keys
  // (ZorCompIndex: case-insensitive over the whole length, NULs included).
  int32_t DicoIndex(uint32_t offset, const void* key, int32_t len) const;
  void SortIndex(uint32_t offset, int32_t len);

 private:
  char* _bytes() const;
  char* _item(int32_t i) const;
  void _prepare();
  char* _openGap(int32_t at, int32_t n);

  ZorHandle _h;
  uint32_t _headerSize;
  uint32_t _itemSize;
};

}  // namespace zorvane
