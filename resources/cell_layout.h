// The cell run of ZorDyna, for the files of the container (dyna*.cpp).
//
// A run is the bytes of the container's handle. Cells are read through a
// walker that stops at the first cell whose 16-byte header or data would run
// past the end: everything before that point is the readable prefix, the
// rest an unreachable tail. Nothing here allocates; functions that change
// the run live in the .cpp files and work on the ZorHandle.
#pragma once

#include <zorvane/cell_container.h>
#include <zorvane/handle.h>

#include "platform/little_endian.h"

#include <cstdint>

namespace zorvane::dyna {

constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kNotFound = 0xFFFFFFFFu;

struct Cell {
  uint32_t at;  // offset of the header in the run
  int32_t kind;
  int32_t line;
  int32_t col;
  uint32_t size;
  const uint8_t* data;
  uint32_t End() const { return at + kHeaderSize + size; }
};

inline void ReadCell(const uint8_t* base, uint32_t at, Cell* c) {
  const uint8_t* p = base + at;
  c->at = at;
  c->kind = static_cast<int32_t>(platform::GetLE32(p));
  c->line = static_cast<int32_t>(platform::GetLE32(p + 4));
  c->col = static_cast<int32_t>(platform::GetLE32(p + 8));
  c->size = platform::GetLE32(p + 12);
  c->data = p + kHeaderSize;
}

// True when a whole cell (header and data) starts at `at` inside n bytes.
inline bool CellFits(const uint8_t* base, uint32_t n, uint32_t at) {
  if (n - at < kHeaderSize) return false;
  return platform::GetLE32(base + at + 12) <= n - at - kHeaderSize;
}

// Walks the readable prefix in storage order:
//   for (Walker w(b, n); w.Next(&c);) ...
// After Next answered false, End() is the end of the readable prefix.
class Walker {
 public:
  Walker(const uint8_t* base, uint32_t size) : _base(base), _size(size) {}
  bool Next(Cell* c) {
    if (!CellFits(_base, _size, _at)) return false;
    ReadCell(_base, _at, c);
    _at = c->End();
    return true;
  }
  uint32_t End() const { return _at; }

 private:
  const uint8_t* _base;
  uint32_t _size;
  uint32_t _at = 0;
};

// The place of a cell as its 12 stored bytes, for fast comparison.
struct Key {
  uint64_t kindLine;
  uint32_t col;
  Key(int32_t kind, int32_t line, int32_t col)
      : kindLine(static_cast<uint32_t>(kind) | (static_cast<uint64_t>(static_cast<uint32_t>(line)) << 32)),
        col(static_cast<uint32_t>(col)) {}
  bool At(const uint8_t* p) const { return platform::GetLE64(p) == kindLine && platform::GetLE32(p + 8) == col; }
};

// Offset of the first cell at the key's place, or kNotFound; *end (when
// given) receives the end of the readable prefix when the cell is absent.
uint32_t FindCell(const uint8_t* base, uint32_t n, const Key& key, uint32_t* end = nullptr);

// Whether a cell's kind passes a kind argument (kZorDynaAnyKind: all).
inline bool KindIs(int32_t want, int32_t kind) { return want == kZorDynaAnyKind || want == kind; }
inline bool InRange(int32_t v, int32_t from, int32_t to) { return v >= from && v <= to; }

// A locked view of the container's run for the time of one operation.
class Run {
 public:
  explicit Run(const ZorHandle* h) : _h(const_cast<ZorHandle*>(h)) {
    if (_h->IsInit()) {
      _size = _h->GetSize();
      void* p = _h->Lock(&_guard);
      _base = _size ? static_cast<uint8_t*>(p) : nullptr;
    }
  }
  uint8_t* Base() const { return _base; }
  uint32_t Size() const { return _size; }

 private:
  ZorHandle* _h;
  ZorLock _guard;
  uint8_t* _base = nullptr;
  uint32_t _size = 0;
};

}  // namespace zorvane::dyna
