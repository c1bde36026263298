// ZorBDyn: an array of fixed-size items, each of which (and the array as a
// whole) may own one byte string of any length, kept in a second handle, the
// heap.
//
// The items live in a ZorBGet with a 20-byte header (little-endian):
//   0  version (1 after Init)
//   4  item count, only meaningful in the serialised form
//   8  heap offset of the array's own data     12  its length (0: none)
//   16 item size, the 8-byte reference below included
// and each item is
//   0  heap offset of the item's data          4  its length (0: none)
//   8  the fixed part, the caller's record (item size - 8 bytes)
// The serialised form is one handle: the header with the item count filled
// in, the items, then the heap bytes, with no padding.
//
// Heap invariant: the referenced ranges (those of length > 0) are disjoint
// and together cover the heap exactly; offsets of empty references mean
// nothing. New data is appended to the heap; deleting data closes the gap
// and lowers every offset that lay above it. Serialised input is checked
// against this layout and rejected as a whole with ZorEBasic (1, 19) when it
// does not hold.
//
// Item numbers run from 1 to the count; the data operations also accept
// item 0, the array's own data. Any other number, a null where data or a
// result is expected, or an array that is not initialised is refused with
// ZorEBasic (1, 23). Pointers from GetDataEx and Lock stay valid until the
// next change of the array.
#pragma once

#include <zorvane/block_array.h>
#include <zorvane/handle.h>
#include <zorvane/types.h>

namespace zorvane {

class ZOR_API ZorBDyn : public iZorLockable {
 public:
  static constexpr uint32_t kHeaderSize = 20;
  static constexpr uint32_t kRefSize = 8;

  ZorBDyn();
  ZorBDyn(const ZorBDyn&) = delete;
  ZorBDyn& operator=(const ZorBDyn&) = delete;
  ~ZorBDyn() override { Trash(); }

  // ----------------------------------------------------------- set-up
  // Empty array of items whose fixed part is fixedSize bytes.
  void Init(int32_t fixedSize);
  // Rebuilds from the serialised form. With share, both handles wrap the
  // given bytes in place (edits go to them until a resize gives a handle a
  // block of its own), so the bytes must outlive the array and be left to
  // it; else they are copied. Raises ZorEBasic (1, 19) on a malformed form.
  void Init(const ZorHandle* serialised, bool share);
  // Removes every item and all heap bytes, keeps the item size, sets the
  // version back to 1 and keeps the array's own data when asked.
  void Clear(bool keepOwnData = false);
  void Trash();
  bool IsInit() const { return _items.IsInit(); }

  // The serialised form into out (a new record). With detach the array is
  // left empty, its version and item size kept.
  void GetHandle(ZorHandle* out, bool detach = false);
  // The two parts as separate handles (private copies); Load checks them as
  // Init does (ZorEBasic (1, 19)) and copies them.
  void Save(ZorHandle* heap, ZorHandle* items) const;
  void Load(const ZorHandle* heap, const ZorHandle* items);
  // Becomes a copy of src; false (and left without data) when src is not
  // initialised.
  bool Copy(const ZorBDyn* src);

  // ----------------------------------------------------------- items
  int32_t GetNbItem() const { return _items.GetNbItem(); }
  uint32_t GetItemSize() const;
  uint32_t GetFixedSize() const { return GetItemSize() - kRefSize; }
  void Get(int32_t i, void* fixedOut) const;
  void Set(int32_t i, const void* fixed);
  // Inserts before i (0 or past the end: appends) an item without data; a
  // null source leaves the fixed part zero. Returns the new item's number.
  int32_t Ins(int32_t i, const void* fixed);
  // Removes the item and its data.
  void Del(int32_t i);
  void Swap(int32_t i, int32_t j);

  // ----------------------------------------------------------- variable data
  // A copy of the data into out; false and an empty out when there is none.
  bool GetData(int32_t i, ZorHandle* out) const;
  bool HasData(int32_t i) const;
  // Replaces the data (len 0: removes it). The source may lie in the heap.
  void SetData(int32_t i, const void* data, uint32_t len);
  void SetData(int32_t i, const ZorHandle* data);
  void DelData(int32_t i);
  // *ptr and *len receive the data (null and 0 when none); returns the
  // fixed part of item i, or null for i = 0 (the array's own data).
  void* GetDataEx(int32_t i, void** ptr, int32_t* len) const;

  // The array's own data (item 0 of the data operations).
  bool GetDynData(ZorHandle* out) const { return GetData(0, out); }
  void SetDynData(const void* data, uint32_t len) { SetData(0, data, len); }
  void SetDynData(const ZorHandle* data) { SetData(0, data); }

  // Byte comparison of len bytes at offset within the fixed part.
  int32_t Dico(uint32_t offset, const void* key, uint32_t len) const;
  int32_t Find(uint32_t offset, const void* key, uint32_t len) const;

  int32_t GetVersion() const;
  void SetVersion(int32_t version);

  // Pins both handles; returns item 1 (its reference). Unlock unpins both.
  void* Lock(ZorLock* guard = nullptr) override;
  void Unlock() override;

 private:
  struct Ref {
    uint32_t offset;
    uint32_t len;
  };
  char* _refAt(int32_t i) const;
  Ref _GetRef(int32_t i) const;
  void _SetRef(int32_t i, Ref ref);
  uint32_t _append(const void* data, uint32_t len);
  void _deleteRange(Ref range);
  void _adopt(ZorBGet* items, ZorHandle* heap);

  ZorBGet _items;
  ZorHandle _heap;
};

}  // namespace zorvane
