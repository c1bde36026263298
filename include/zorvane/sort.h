// ZorSort: orders items made of a key (the index key encoding of
// zorvane/table_key.h) and a data part of fixed size, and hands them back in
// key order.
//
// The caller places the values of the next item in its own buffer, where the
// key definition's part offsets point (relative to that buffer: the library
// keeps no address in a key definition), writes the data part (GetDatabuffer
// or Add's argument), and calls Add. Validate ends the input; ReadN and
// GetDataBGet read the items in key order. Keys compare with ZorCompIndex
// over the key length, so numeric parts sort numerically and descending
// parts in reverse; with a sequence part, equal keys keep their order of
// addition.
//
// Methods (Init's third argument):
//   n >= 0   n items expected: in memory when n <= 20,000 and the items take
//            at most 4 MiB, else external
//   -1, -2, -5  in memory, appended and sorted once at Validate
//   -3       external: sorted runs of whole multiples of 1,024 items are
//            written to a delete-on-close temporary file ("srt..." in the
//            temporary directory) and merged, through a memory mapping, at
//            the first read
//   -4       in memory, kept in key order at every Add
// Errors (ZorEBasic, family 1): 23 an unknown method, a data part above
// 16 MiB or a key too long for the sequence part; 5 the temporary file or
// its mapping cannot be made; 3 a run cannot be written (a full disk).
//
// A sort belongs to one thread.
#pragma once

#include <memory>

#include <zorvane/table_key.h>
#include <zorvane/types.h>

namespace zorvane {

class ZorBGet;

enum : int32_t {
  kZorSortMemory = -1,
  kZorSortMemory2 = -2,
  kZorSortExternal = -3,
  kZorSortKeptSorted = -4,
  kZorSortMemory5 = -5,
};

// State flags (GetState).
enum : uint32_t {
  kZorSortInMemory = 0x1,
  kZorSortSequence = 0x2,
  kZorSortArray = 0x4,
  kZorSortMerged = 0x8,
  kZorSortValidated = 0x10,
};

class ZOR_API ZorSort {
 public:
  ZorSort();
  ~ZorSort();
  ZorSort(const ZorSort&) = delete;
  ZorSort& operator=(const ZorSort&) = delete;

  // key: the definition (copied); its part offsets are relative to values,
  // the caller's buffer of valuesSize bytes where each item's values are
  // placed before Add (it must stay valid while items are added).
  void Init(const sZorKey* key, const void* values, uint32_t valuesSize, int32_t dataSize, int32_t method,
            bool addSequence);
  void Trash();
  bool IsInit() const;
  uint32_t GetState() const;

  // Adds one item: the key from the caller's values, the data from data
  // (null: what was written at GetDatabuffer).
  void Add(const void* data = nullptr);
  // Where the data part of the next item may be written.
  void* GetDatabuffer();
  void Validate();
  int32_t GetNbItem() const;
  // The data part of the n-th item in key order (1-based); false outside.
  bool ReadN(int32_t n, void* out);
  // Every item in key order into out: with whole, items of key + data bytes,
  // else of the data part only.
  void GetDataBGet(ZorBGet* out, bool whole);

  // The key length, sequence part included, and the data size.
  int32_t GetKeyLen() const;
  int32_t GetDataSize() const;

 private:
  struct Rep;
  std::unique_ptr<Rep> _rep;
};

}  // namespace zorvane
