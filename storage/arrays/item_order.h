// Ordering of fixed-size items on a key field: the comparison of each
// physical type, binary and linear search, and the in-place sort.
//
// Everything here is a template over a key class and, for the sort, over an
// item mover, so that each (key type, item size) pair gets its own loop with
// the comparison and the copies inlined; nothing is called through a pointer
// per comparison except a caller's own function. A key class compares two
// field pointers:
//   int Compare(const char* a, const char* b) const;   // sign of a - b
//   bool Equal(const char* a, const char* b) const;
// Fields are little-endian and unaligned, read through the platform helpers.
//
// The sort is a quicksort on the item bytes with an explicit stack of
// pending ranges: the larger part is pushed and the smaller one sorted
// first, so the stack stays within log2(n) entries. The pivot is the median
// of the first, middle and last items, swapped to the front of its range;
// both scans stop on items equal to it, so runs of equal keys split evenly
// instead of degrading to quadratic time. Every scan is bounded by the range
// itself, so an inconsistent comparison (a caller's function, NaN doubles)
// gives some order but never a read outside the array. Short ranges finish
// by insertion, and a range that keeps partitioning badly (more than twice
// log2(n) levels) is finished by heapsort. The one buffer is the swap buffer
// of one item, supplied by the caller.
#pragma once

#include <zorvane/string.h>
#include <zorvane/memory.h>
#include <zorvane/uuid.h>

#include "platform/little_endian.h"

#include <bit>
#include <cstring>

namespace zorvane::item_order {

template <class T>
int Sign(T a, T b) {
  return (a > b) - (a < b);
}

// ------------------------------------------------------------------ keys

struct ShortKey {
  static int16_t Read(const char* p) { return static_cast<int16_t>(platform::GetLE16(p)); }
  int Compare(const char* a, const char* b) const { return Sign(Read(a), Read(b)); }
  bool Equal(const char* a, const char* b) const { return Read(a) == Read(b); }
};

struct LongKey {
  static int32_t Read(const char* p) { return static_cast<int32_t>(platform::GetLE32(p)); }
  int Compare(const char* a, const char* b) const { return Sign(Read(a), Read(b)); }
  bool Equal(const char* a, const char* b) const { return Read(a) == Read(b); }
};

struct QuadKey {
  static int64_t Read(const char* p) { return static_cast<int64_t>(platform::GetLE64(p)); }
  int Compare(const char* a, const char* b) const { return Sign(Read(a), Read(b)); }
  bool Equal(const char* a, const char* b) const { return Read(a) == Read(b); }
};

// Doubles, decimals and dates: equality is that of the values (0 equals -0,
// a NaN equals nothing).
struct DoubleKey {
  static double Read(const char* p) { return std::bit_cast<double>(platform::GetLE64(p)); }
  int Compare(const char* a, const char* b) const { return Sign(Read(a), Read(b)); }
  bool Equal(const char* a, const char* b) const { return Read(a) == Read(b); }
};

struct TextKey {
  int Compare(const char* a, const char* b) const { return ZorStrICmp(a, b); }
  bool Equal(const char* a, const char* b) const { return ZorStrIEq(a, b); }
};

struct BlobKey {
  uint32_t len;
  int Compare(const char* a, const char* b) const { return ZorCmpMemory(a, b, len); }
  bool Equal(const char* a, const char* b) const { return std::memcmp(a, b, len) == 0; }
};

struct UuidKey {
  int Compare(const char* a, const char* b) const { return ZorUuid::S_CmpGuid(a, b); }
  bool Equal(const char* a, const char* b) const { return ZorUuid::S_IsGuidEqual(a, b); }
};

// Index keys: case-insensitive over the whole length, NULs included.
struct IndexKey {
  uint32_t len;
  int Compare(const char* a, const char* b) const { return ZorCompIndex(a, b, static_cast<int32_t>(len)); }
  bool Equal(const char* a, const char* b) const { return Compare(a, b) == 0; }
};

struct CustomKey {
  int32_t (*fn)(const void*, const void*, int32_t);
  int32_t len;
  int Compare(const char* a, const char* b) const { return fn(a, b, len); }
  bool Equal(const char* a, const char* b) const { return fn(a, b, len) == 0; }
};

// ------------------------------------------------------------------ search

// Binary search of n items (first = the key field of item 1). keyVsField(f)
// gives the sign of the searched key against the field f. Returns the item
// number, or -(insertion point); -1 for n = 0.
template <class KeyVsField>
int32_t BinarySearch(const char* first, uint32_t itemSize, int32_t n, KeyVsField keyVsField) {
  if (n <= 0) return -1;
  auto field = [=](int32_t i) { return first + static_cast<ptrdiff_t>(i - 1) * itemSize; };
  int32_t lo = 1, hi = n, probe = (n - 1) / 2 + 1;
  for (;;) {
    // Both possible next probes are fetched while this one is compared: on
    // a large array each step otherwise waits for memory. (A prefetch never
    // faults, so the one item past either end that these may name is fine.)
    __builtin_prefetch(field(lo + ((probe - 1 - lo) >> 1)));
    __builtin_prefetch(field(probe + 1 + ((hi - probe - 1) >> 1)));
    const int c = keyVsField(field(probe));
    if (c == 0) return probe;
    if (c < 0)
      hi = probe - 1;
    else
      lo = probe + 1;
    if (lo > hi) return c < 0 ? -probe : -(probe + 1);
    probe = lo + ((hi - lo) >> 1);
  }
}

// The first item (from the end with backwards) whose field matches; -1 when none.
template <class Matches>
int32_t LinearFind(const char* first, uint32_t itemSize, int32_t n, bool backwards, Matches matches) {
  for (int32_t k = 0; k < n; ++k) {
    const int32_t i = backwards ? n - k : k + 1;
    if (matches(first + static_cast<size_t>(i - 1) * itemSize)) return i;
  }
  return -1;
}

// ------------------------------------------------------------------ sort

// Copies of one item: of a size known at compile time, or of any size.
template <uint32_t N>
struct FixedMover {
  explicit FixedMover(uint32_t) {}
  static constexpr uint32_t Size() { return N; }
  static void Copy(char* dst, const char* src) { std::memcpy(dst, src, N); }
};

struct AnyMover {
  uint32_t size;
  uint32_t Size() const { return size; }
  void Copy(char* dst, const char* src) const { std::memcpy(dst, src, size); }
};

// "a sorts before b" on items, from a key at an offset.
template <class Key, bool kDescending>
struct ItemLess {
  Key key;
  uint32_t offset;
  bool operator()(const char* a, const char* b) const {
    const int c = key.Compare(a + offset, b + offset);
    return kDescending ? c > 0 : c < 0;
  }
};

template <class LessFn, class Mover>
class Sorter {
 public:
  Sorter(char* first, LessFn less, Mover mover, char* tmp) : _first(first), _less(less), _mover(mover), _tmp(tmp) {}

  void Run(size_t count) {
    if (count < 2) return;
    struct Range {
      size_t begin, end;
      int depth;
    };
    Range stack[64];
    int top = 0;
    Range r{0, count, 2 * static_cast<int>(std::bit_width(count))};
    for (;;) {
      SortRange(&r, stack, &top);
      if (top == 0) return;
      r = stack[--top];
    }
  }

 private:
  static constexpr size_t kInsertionMax = 16;

  char* At(size_t i) const { return _first + i * _mover.Size(); }
  bool Before(size_t i, size_t j) const { return _less(At(i), At(j)); }
  void SwapItems(size_t i, size_t j) {
    if (i == j) return;
    _mover.Copy(_tmp, At(i));
    _mover.Copy(At(i), At(j));
    _mover.Copy(At(j), _tmp);
  }

  // Partitions until *r is short, pushing the larger parts; then finishes it.
  template <class Range>
  void SortRange(Range* r, Range* stack, int* top) {
    while (r->end - r->begin > kInsertionMax) {
      if (r->depth-- == 0) {
        HeapSort(r->begin, r->end);
        return;
      }
      const size_t p = Partition(r->begin, r->end);
      Range left{r->begin, p, r->depth}, right{p + 1, r->end, r->depth};
      const bool leftSmaller = p - r->begin < r->end - (p + 1);
      stack[(*top)++] = leftSmaller ? right : left;
      *r = leftSmaller ? left : right;
    }
    InsertionSort(r->begin, r->end);
  }

  size_t MedianOfThree(size_t a, size_t b, size_t c) const {
    if (Before(a, b)) return Before(b, c) ? b : (Before(a, c) ? c : a);
    return Before(a, c) ? a : (Before(b, c) ? c : b);
  }

  // [begin, end) with at least 3 items; returns the pivot's final place.
  size_t Partition(size_t begin, size_t end) {
    SwapItems(begin, MedianOfThree(begin, begin + (end - begin) / 2, end - 1));
    const char* pivot = At(begin);
    size_t i = begin + 1, j = end - 1;
    for (;;) {
      while (i <= j && _less(At(i), pivot)) ++i;
      while (i <= j && _less(pivot, At(j))) --j;
      if (i >= j) break;
      SwapItems(i, j);
      ++i;
      --j;
    }
    SwapItems(begin, j);
    return j;
  }

  void InsertionSort(size_t begin, size_t end) {
    const uint32_t size = _mover.Size();
    for (size_t k = begin + 1; k < end; ++k) {
      if (!Before(k, k - 1)) continue;
      _mover.Copy(_tmp, At(k));
      size_t j = k - 1;
      while (j > begin && _less(_tmp, At(j - 1))) --j;
      std::memmove(At(j + 1), At(j), (k - j) * size);
      _mover.Copy(At(j), _tmp);
    }
  }

  void SiftDown(size_t base, size_t root, size_t n) {
    for (;;) {
      size_t child = 2 * root + 1;
      if (child >= n) return;
      if (child + 1 < n && Before(base + child, base + child + 1)) ++child;
      if (!Before(base + root, base + child)) return;
      SwapItems(base + root, base + child);
      root = child;
    }
  }

  void HeapSort(size_t begin, size_t end) {
    const size_t n = end - begin;
    for (size_t i = n / 2; i-- > 0;) SiftDown(begin, i, n);
    for (size_t last = n - 1; last > 0; --last) {
      SwapItems(begin, begin + last);
      SiftDown(begin, 0, last);
    }
  }

  char* _first;
  LessFn _less;
  Mover _mover;
  char* _tmp;
};

template <class Less>
void SortItems(char* first, uint32_t itemSize, size_t count, Less less, char* tmp) {
  switch (itemSize) {
    case 4: Sorter(first, less, FixedMover<4>(4), tmp).Run(count); break;
    case 8: Sorter(first, less, FixedMover<8>(8), tmp).Run(count); break;
    case 16: Sorter(first, less, FixedMover<16>(16), tmp).Run(count); break;
    case 24: Sorter(first, less, FixedMover<24>(24), tmp).Run(count); break;
    case 32: Sorter(first, less, FixedMover<32>(32), tmp).Run(count); break;
    default: Sorter(first, less, AnyMover{itemSize}, tmp).Run(count); break;
  }
}

// Sorts count items of itemSize bytes on the key at offset.
template <class Key>
void SortOnKey(char* first, uint32_t itemSize, size_t count, const Key& key, uint32_t offset, bool descending,
               char* tmp) {
  if (descending)
    SortItems(first, itemSize, count, ItemLess<Key, true>{key, offset}, tmp);
  else
    SortItems(first, itemSize, count, ItemLess<Key, false>{key, offset}, tmp);
}

}  // namespace zorvane::item_order
