// ZorDyna: set-up, reading and writing of single cells, queries.
//
// The run format and the rules every operation keeps are described in
// zorvane/cell_container.h; cell_layout.h has the walker. Every look-up is a linear
// scan from the first cell (the run has no index: its bytes are the stored
// form, shared with other owners who may change them). A changed value of a
// new size is removed and appended, so a cell's place in the run is not
// stable across writes; nothing but FindIn... and duplicate shadowing
// depends on that order.
//
// Writes that append a cell put it right after the readable prefix,
// dropping an unreadable tail that would otherwise hide the new cell.
#include <zorvane/block_array.h>
#include <zorvane/cell_container.h>
#include <zorvane/string.h>

#include "resources/cell_layout.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace zorvane {

using dyna::Cell;
using dyna::Key;
using dyna::kHeaderSize;
using dyna::kNotFound;
using dyna::Run;
using dyna::Walker;

namespace dyna {

// Runs usually hold many cells of one length. Stepping by the length read
// from each header makes every step wait for the previous load; stepping by
// the last length seen, behind a branch that checks it, lets the processor
// run ahead on its prediction. The empty asm hides from the compiler that
// both branches add the same value, which it would otherwise merge back.
uint32_t FindCell(const uint8_t* base, uint32_t n, const Key& key, uint32_t* end) {
  uint32_t at = 0, stride = 0;
  while (n - at >= kHeaderSize) {
    const uint8_t* p = base + at;
    const uint32_t size = platform::GetLE32(p + 12);
    if (size > n - at - kHeaderSize) break;
    if (key.At(p)) return at;
    const uint32_t len = kHeaderSize + size;
    if (len == stride) [[likely]] {
      uint32_t step = stride;
      asm("" : "+r"(step));
      at += step;
    } else {
      stride = len;
      at += len;
    }
  }
  if (end) *end = at;
  return kNotFound;
}

}  // namespace dyna

namespace {

bool Inside(const Run& run, const void* p) {
  const auto q = reinterpret_cast<uintptr_t>(p);
  const auto b = reinterpret_cast<uintptr_t>(run.Base());
  return run.Base() && q >= b && q < b + run.Size();
}

// Writes a cell at offset `at` of h, which becomes the end of the run.
// data must not lie inside h.
void PutCellAt(ZorHandle* h, uint32_t at, int32_t kind, int32_t line, int32_t col, uint32_t size, const void* data) {
  h->SetSize(at + kHeaderSize + size);
  auto* p = static_cast<uint8_t*>(h->GetDatas()) + at;
  platform::PutLE32(p, static_cast<uint32_t>(kind));
  platform::PutLE32(p + 4, static_cast<uint32_t>(line));
  platform::PutLE32(p + 8, static_cast<uint32_t>(col));
  platform::PutLE32(p + 12, size);
  std::memcpy(p + kHeaderSize, data, size);
}

uint32_t ReadableEnd(const Run& run, uint32_t from) {
  uint32_t at = from;
  while (dyna::CellFits(run.Base(), run.Size(), at)) at += kHeaderSize + platform::GetLE32(run.Base() + at + 12);
  return at;
}

uint32_t TextSize(const char* text) { return text && *text ? static_cast<uint32_t>(std::strlen(text)) + 1 : 0; }

// The cell of a place, or null.
const Cell* Lookup(const Run& run, int32_t kind, int32_t line, int32_t col, Cell* out) {
  const uint32_t at = dyna::FindCell(run.Base(), run.Size(), Key(kind, line, col));
  if (at == kNotFound) return nullptr;
  dyna::ReadCell(run.Base(), at, out);
  return out;
}

template <class T, class Encode>
bool SetFixed(ZorDyna* d, int32_t kind, int32_t line, int32_t col, bool stored, T value, Encode encode) {
  uint8_t bytes[sizeof(T)];
  encode(bytes, value);
  return d->SetData(kind, line, col, stored ? sizeof(T) : 0, bytes);
}

template <class T, class Encode>
bool InsFixed(ZorDyna* d, int32_t kind, int32_t line, int32_t col, bool stored, T value, Encode encode) {
  uint8_t bytes[sizeof(T)];
  encode(bytes, value);
  return d->InsData(kind, line, col, stored ? sizeof(T) : 0, bytes);
}

void Put32(uint8_t* p, int32_t v) { platform::PutLE32(p, static_cast<uint32_t>(v)); }
void Put64(uint8_t* p, int64_t v) { platform::PutLE64(p, static_cast<uint64_t>(v)); }
void PutDbl(uint8_t* p, double v) { platform::PutLE64(p, std::bit_cast<uint64_t>(v)); }
double GetDbl(const uint8_t* p) { return std::bit_cast<double>(platform::GetLE64(p)); }

}  // namespace

// ------------------------------------------------------------------ set-up

void ZorDyna::Init() {
  _h.Trash();
  _h.Init(0u);
}

void ZorDyna::Init(ZorHandle* h) {
  if (h && h->IsInit())
    _h.Attach(h);
  else
    Init();
}

void ZorDyna::Detach(ZorHandle* out) {
  out->Attach(&_h);
  _h.Trash();
}

void ZorDyna::Clear() {
  if (IsInit())
    _h.SetSize(0);
  else
    Init();
}

void* ZorDyna::Lock(ZorLock* guard) { return _h.Lock(guard); }

void ZorDyna::Unlock() { _h.Unlock(); }

bool ZorDyna::GetConstDataHandle(int32_t kind, int32_t line, int32_t col, ZorHandle* out) const {
  Run run(&_h);
  Cell c;
  if (!Lookup(run, kind, line, col, &c)) {
    out->Trash();
    return false;
  }
  out->Attach(ZorCreateHandleFromDataPtr(const_cast<uint8_t*>(c.data), c.size));
  return true;
}

// ------------------------------------------------------------------ raw data

bool ZorDyna::GetData(int32_t kind, int32_t line, int32_t col, uint32_t max, void* out, uint32_t* got) const {
  Run run(&_h);
  Cell c;
  const bool found = Lookup(run, kind, line, col, &c) != nullptr;
  const uint32_t size = found ? c.size : 0;
  const uint32_t n = std::min(size, max);
  if (n) std::memcpy(out, c.data, n);
  if (max > n) std::memset(static_cast<uint8_t*>(out) + n, 0, max - n);
  if (got) *got = size;
  return found;
}

bool ZorDyna::InsData(int32_t kind, int32_t line, int32_t col, uint32_t size, const void* data) {
  if (size == 0) return false;
  if (!IsInit()) Init();
  std::vector<uint8_t> copy;
  uint32_t end;
  {
    Run run(&_h);
    end = ReadableEnd(run, 0);
    if (Inside(run, data)) {
      copy.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
      data = copy.data();
    }
  }
  PutCellAt(&_h, end, kind, line, col, size, data);
  return true;
}

bool ZorDyna::SetData(int32_t kind, int32_t line, int32_t col, uint32_t size, const void* data) {
  if (!IsInit()) Init();
  std::vector<uint8_t> copy;
  uint32_t at, end = 0, old = 0;
  {
    Run run(&_h);
    at = dyna::FindCell(run.Base(), run.Size(), Key(kind, line, col), &end);
    if (at == kNotFound && size == 0) return false;
    if (at != kNotFound) {
      uint8_t* cell = run.Base() + at;
      old = platform::GetLE32(cell + 12);
      if (old == size && size) {
        if (std::memcmp(cell + kHeaderSize, data, size) == 0) return false;
        std::memmove(cell + kHeaderSize, data, size);
        return true;
      }
      end = ReadableEnd(run, at);
    }
    if (size && Inside(run, data)) {
      copy.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
      data = copy.data();
    }
  }
  if (at != kNotFound) {
    _h.ReplaceData(static_cast<int32_t>(at), static_cast<int32_t>(at + kHeaderSize + old), nullptr, 0);
    end -= kHeaderSize + old;
  }
  if (size) PutCellAt(&_h, end, kind, line, col, size, data);
  return true;
}

// ------------------------------------------------------------------ texts and handles

bool ZorDyna::GetData(int32_t kind, int32_t line, int32_t col, string* out) const {
  Run run(&_h);
  Cell c;
  if (!Lookup(run, kind, line, col, &c)) {
    *out = "";
    return false;
  }
  *out = string(reinterpret_cast<const char*>(c.data), static_cast<int32_t>(std::min<uint32_t>(c.size, 0x7FFFFFFF)));
  return true;
}

bool ZorDyna::InsData(int32_t kind, int32_t line, int32_t col, const char* text) {
  return InsData(kind, line, col, TextSize(text), text);
}

bool ZorDyna::SetData(int32_t kind, int32_t line, int32_t col, const char* text) {
  return SetData(kind, line, col, TextSize(text), text);
}

bool ZorDyna::GetData(int32_t kind, int32_t line, int32_t col, ZorHandle* out) const {
  Run run(&_h);
  Cell c;
  if (!Lookup(run, kind, line, col, &c)) {
    out->Init(0u);
    return false;
  }
  out->Init(c.data, c.size);
  return true;
}

bool ZorDyna::InsData(int32_t kind, int32_t line, int32_t col, const ZorHandle* h) {
  if (!h || h->GetSize() == 0) return false;
  return InsData(kind, line, col, h->GetSize(), h->GetDatas());
}

bool ZorDyna::SetData(int32_t kind, int32_t line, int32_t col, const ZorHandle* h) {
  const uint32_t size = h ? h->GetSize() : 0;
  return SetData(kind, line, col, size, size ? h->GetDatas() : nullptr);
}

// ------------------------------------------------------------------ numbers

bool ZorDyna::GetData(int32_t kind, int32_t line, int32_t col, int32_t* out, int32_t def) const {
  uint8_t b[4];
  const bool found = GetData(kind, line, col, 4, b);
  *out = found ? static_cast<int32_t>(platform::GetLE32(b)) : def;
  return found;
}

bool ZorDyna::InsData(int32_t kind, int32_t line, int32_t col, int32_t value) {
  return InsFixed(this, kind, line, col, value != 0, value, Put32);
}

bool ZorDyna::SetData(int32_t kind, int32_t line, int32_t col, int32_t value) {
  return SetFixed(this, kind, line, col, value != 0, value, Put32);
}

bool ZorDyna::GetDataQuad(int32_t kind, int32_t line, int32_t col, int64_t* out, int64_t def) const {
  uint8_t b[8];
  const bool found = GetData(kind, line, col, 8, b);
  *out = found ? static_cast<int64_t>(platform::GetLE64(b)) : def;
  return found;
}

bool ZorDyna::InsDataQuad(int32_t kind, int32_t line, int32_t col, int64_t value) {
  return InsFixed(this, kind, line, col, value != 0, value, Put64);
}

bool ZorDyna::SetDataQuad(int32_t kind, int32_t line, int32_t col, int64_t value) {
  return SetFixed(this, kind, line, col, value != 0, value, Put64);
}

bool ZorDyna::GetData(int32_t kind, int32_t line, int32_t col, double* out, double def) const {
  uint8_t b[8];
  const bool found = GetData(kind, line, col, 8, b);
  *out = found ? GetDbl(b) : def;
  return found;
}

bool ZorDyna::InsDataDbl(int32_t kind, int32_t line, int32_t col, double value) {
  return InsFixed(this, kind, line, col, value != 0.0, value, PutDbl);
}

bool ZorDyna::SetDataDbl(int32_t kind, int32_t line, int32_t col, double value) {
  return SetFixed(this, kind, line, col, value != 0.0, value, PutDbl);
}

bool ZorDyna::GetData(int32_t kind, int32_t line, int32_t col, decimal* out, const decimal& def) const {
  uint8_t b[8];
  if (!GetData(kind, line, col, 8, b)) {
    *out = def;
    return false;
  }
  out->_setDouble(GetDbl(b));
  out->FixPrec(kZorLogTypeFloat, kZorRoundNearest);
  return true;
}

bool ZorDyna::InsData(int32_t kind, int32_t line, int32_t col, const decimal& value) {
  return InsFixed(this, kind, line, col, !value.IsNull(), value._getDouble(), PutDbl);
}

bool ZorDyna::SetData(int32_t kind, int32_t line, int32_t col, const decimal& value) {
  return SetFixed(this, kind, line, col, !value.IsNull(), value._getDouble(), PutDbl);
}

bool ZorDyna::GetData(int32_t kind, int32_t line, int32_t col, date* out, const date& def) const {
  uint8_t b[8];
  if (!GetData(kind, line, col, 8, b)) {
    *out = def;
    return false;
  }
  out->SetValue(GetDbl(b));
  return true;
}

bool ZorDyna::InsData(int32_t kind, int32_t line, int32_t col, const date& value) {
  return InsFixed(this, kind, line, col, value.GetValue() != 0.0, value.GetValue(), PutDbl);
}

bool ZorDyna::SetData(int32_t kind, int32_t line, int32_t col, const date& value) {
  return SetFixed(this, kind, line, col, value.GetValue() != 0.0, value.GetValue(), PutDbl);
}

bool ZorDyna::GetDataUuid(int32_t kind, int32_t line, int32_t col, ZorUuid* out) const {
  uint8_t b[ZorUuid::kSize];
  const bool found = GetData(kind, line, col, ZorUuid::kSize, b);
  out->SetBytes(b);
  return found;
}

bool ZorDyna::InsDataUuid(int32_t kind, int32_t line, int32_t col, const ZorUuid& value) {
  return InsData(kind, line, col, ZorUuid::kSize, value.GetBytes());
}

bool ZorDyna::SetDataUuid(int32_t kind, int32_t line, int32_t col, const ZorUuid& value) {
  return SetData(kind, line, col, ZorUuid::kSize, value.GetBytes());
}

// ------------------------------------------------------------------ queries

int32_t ZorDyna::GetDim(int32_t kind, int32_t* maxLine, int32_t* maxCol) const {
  Run run(&_h);
  int32_t lines = 0, cols = 0;
  Cell c;
  for (Walker w(run.Base(), run.Size()); w.Next(&c);) {
    if (!dyna::KindIs(kind, c.kind)) continue;
    lines = std::max(lines, c.line);
    cols = std::max(cols, c.col);
  }
  if (maxLine) *maxLine = lines;
  if (maxCol) *maxCol = cols;
  return lines;
}

int32_t ZorDyna::GetNbKind() const {
  Run run(&_h);
  std::vector<int32_t> kinds;
  Cell c;
  for (Walker w(run.Base(), run.Size()); w.Next(&c);) kinds.push_back(c.kind);
  std::sort(kinds.begin(), kinds.end());
  return static_cast<int32_t>(std::unique(kinds.begin(), kinds.end()) - kinds.begin());
}

int32_t ZorDyna::GetKindMax() const {
  Run run(&_h);
  bool any = false;
  int32_t top = 0;
  Cell c;
  for (Walker w(run.Base(), run.Size()); w.Next(&c);) {
    top = any ? std::max(top, c.kind) : c.kind;
    any = true;
  }
  return top;
}

int32_t ZorDyna::GetNbItem(int32_t kind) const {
  Run run(&_h);
  int32_t n = 0;
  Cell c;
  for (Walker w(run.Base(), run.Size()); w.Next(&c);) n += dyna::KindIs(kind, c.kind);
  return n;
}

uint32_t ZorDyna::GetSize(int32_t kind, int32_t line, int32_t col) const {
  Run run(&_h);
  Cell c;
  return Lookup(run, kind, line, col, &c) ? c.size : 0;
}

bool ZorDyna::IsItemExist(int32_t kind, int32_t line, int32_t col) const { return GetSize(kind, line, col) != 0; }

namespace {

// A text cell holds its terminator as last byte.
bool TextEquals(const Cell& c, const char* text) {
  if (c.size == 0 || c.data[c.size - 1] != 0) return false;
  return ZorStrIEq(reinterpret_cast<const char*>(c.data), text ? text : "");
}

bool LongEquals(const Cell& c, int32_t value) {
  return c.size == 4 && static_cast<int32_t>(platform::GetLE32(c.data)) == value;
}

// Scans for the first cell of the kind whose `fixed` coordinate (line or
// column) is given, whose other coordinate is at least start, and that
// matches; answers that other coordinate, or start - 1.
template <class Match>
int32_t FindIn(const ZorHandle* h, int32_t kind, bool byCol, int32_t fixed, int32_t start, Match match) {
  Run run(h);
  Cell c;
  for (Walker w(run.Base(), run.Size()); w.Next(&c);) {
    if (!dyna::KindIs(kind, c.kind)) continue;
    const int32_t along = byCol ? c.line : c.col;
    if ((byCol ? c.col : c.line) == fixed && along >= start && match(c)) return along;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(start) - 1);
}

}  // namespace

int32_t ZorDyna::FindInCol(int32_t kind, int32_t col, const char* text, int32_t startLine) const {
  return FindIn(&_h, kind, true, col, startLine, [text](const Cell& c) { return TextEquals(c, text); });
}

int32_t ZorDyna::FindInCol(int32_t kind, int32_t col, int32_t value, int32_t startLine) const {
  return FindIn(&_h, kind, true, col, startLine, [value](const Cell& c) { return LongEquals(c, value); });
}

int32_t ZorDyna::FindInLine(int32_t kind, int32_t line, const char* text, int32_t startCol) const {
  return FindIn(&_h, kind, false, line, startCol, [text](const Cell& c) { return TextEquals(c, text); });
}

int32_t ZorDyna::FindInLine(int32_t kind, int32_t line, int32_t value, int32_t startCol) const {
  return FindIn(&_h, kind, false, line, startCol, [value](const Cell& c) { return LongEquals(c, value); });
}

}  // namespace zorvane
