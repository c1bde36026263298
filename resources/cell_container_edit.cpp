// ZorDyna: operations on many cells (structure, copies, sorting, compaction).
//
// Every structural change is one pass of Rewrite over the readable prefix:
// a rule looks at each cell and either drops it or gives its new place;
// kept cells slide down over dropped ones, keep their order, and have their
// header rewritten where the place changed. The unreadable tail, if any,
// slides down with them untouched. The rules are bijections on the places
// they keep (shifts of a suffix, swaps, transposition, order-keeping
// renumbering), so a pass never creates two cells at one place; the one
// rule that could (ChangeKind onto a used kind) drops the cells it would
// collide with.
#include <zorvane/block_array.h>
#include <zorvane/cell_container.h>
#include <zorvane/string.h>

#include "resources/cell_layout.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace zorvane {

using dyna::Cell;
using dyna::InRange;
using dyna::kHeaderSize;
using dyna::KindIs;
using dyna::Run;
using dyna::Walker;

namespace {

struct Place {
  int32_t kind;
  int32_t line;
  int32_t col;
};

int32_t Add(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }

// One pass: rule(cell, &place) answers whether the cell stays and may change
// its place. Answers whether anything changed.
template <class Rule>
bool Rewrite(ZorHandle* h, Rule rule) {
  if (!h->IsInit()) return false;
  bool changed = false;
  uint32_t write = 0, end = 0, size = 0;
  {
    Run run(h);
    uint8_t* base = run.Base();
    size = run.Size();
    Cell c;
    Walker w(base, size);
    while (w.Next(&c)) {
      Place p{c.kind, c.line, c.col};
      if (!rule(c, &p)) {
        changed = true;
        continue;
      }
      const uint32_t len = kHeaderSize + c.size;
      if (write != c.at) std::memmove(base + write, base + c.at, len);
      if (p.kind != c.kind || p.line != c.line || p.col != c.col) {
        platform::PutLE32(base + write, static_cast<uint32_t>(p.kind));
        platform::PutLE32(base + write + 4, static_cast<uint32_t>(p.line));
        platform::PutLE32(base + write + 8, static_cast<uint32_t>(p.col));
        changed = true;
      }
      write += len;
    }
    end = w.End();
    if (write != end) std::memmove(base + write, base + end, size - end);
  }
  if (write != end) h->SetSize(write + (size - end));
  return changed;
}

// Lines (or columns) at or above `at` move up by count, for the cells that
// `select` admits.
template <class Select>
bool InsertAlong(ZorHandle* h, bool lines, int32_t at, int32_t count, Select select) {
  if (count < 1) return false;
  return Rewrite(h, [&](const Cell& c, Place* p) {
    int32_t& v = lines ? p->line : p->col;
    if (select(c) && v >= at) v = Add(v, count);
    return true;
  });
}

template <class Select>
bool DeleteAlong(ZorHandle* h, bool lines, int32_t at, int32_t count, Select select) {
  if (count < 1) return false;
  const int64_t last = static_cast<int64_t>(at) + count - 1;
  return Rewrite(h, [&](const Cell& c, Place* p) {
    int32_t& v = lines ? p->line : p->col;
    if (!select(c) || v < at) return true;
    if (v <= last) return false;
    v = Add(v, -count);
    return true;
  });
}

template <class Select>
bool SwapAlong(ZorHandle* h, bool lines, int32_t a, int32_t b, Select select) {
  if (a == b) return false;
  return Rewrite(h, [&](const Cell& c, Place* p) {
    int32_t& v = lines ? p->line : p->col;
    if (select(c)) v = v == a ? b : v == b ? a : v;
    return true;
  });
}

auto OfKind(int32_t kind) {
  return [kind](const Cell& c) { return KindIs(kind, c.kind); };
}

// Cells whose kind is in [kindFrom, kindTo] and whose other coordinate (the
// column when working on lines) is in [from, to].
auto InBox(bool lines, int32_t kindFrom, int32_t kindTo, int32_t from, int32_t to) {
  return [=](const Cell& c) { return InRange(c.kind, kindFrom, kindTo) && InRange(lines ? c.col : c.line, from, to); };
}

}  // namespace

// ------------------------------------------------------------------ lines and columns

bool ZorDyna::InsLine(int32_t kind, int32_t line, int32_t count) {
  return InsertAlong(&_h, true, line, count, OfKind(kind));
}

bool ZorDyna::InsLineRange(int32_t kindFrom, int32_t kindTo, int32_t line, int32_t count, int32_t colFrom,
                           int32_t colTo) {
  return InsertAlong(&_h, true, line, count, InBox(true, kindFrom, kindTo, colFrom, colTo));
}

bool ZorDyna::InsCol(int32_t kind, int32_t col, int32_t count) {
  return InsertAlong(&_h, false, col, count, OfKind(kind));
}

bool ZorDyna::InsColRange(int32_t kindFrom, int32_t kindTo, int32_t col, int32_t count, int32_t lineFrom,
                          int32_t lineTo) {
  return InsertAlong(&_h, false, col, count, InBox(false, kindFrom, kindTo, lineFrom, lineTo));
}

bool ZorDyna::DelLine(int32_t kind, int32_t line, int32_t count) {
  return DeleteAlong(&_h, true, line, count, OfKind(kind));
}

bool ZorDyna::DelLineRange(int32_t kindFrom, int32_t kindTo, int32_t line, int32_t count, int32_t colFrom,
                           int32_t colTo) {
  return DeleteAlong(&_h, true, line, count, InBox(true, kindFrom, kindTo, colFrom, colTo));
}

bool ZorDyna::DelCol(int32_t kind, int32_t col, int32_t count) {
  return DeleteAlong(&_h, false, col, count, OfKind(kind));
}

bool ZorDyna::DelColRange(int32_t kindFrom, int32_t kindTo, int32_t col, int32_t count, int32_t lineFrom,
                          int32_t lineTo) {
  return DeleteAlong(&_h, false, col, count, InBox(false, kindFrom, kindTo, lineFrom, lineTo));
}

bool ZorDyna::SwapLine(int32_t kind, int32_t a, int32_t b) { return SwapAlong(&_h, true, a, b, OfKind(kind)); }

bool ZorDyna::SwapLineRange(int32_t kindFrom, int32_t kindTo, int32_t a, int32_t b, int32_t colFrom, int32_t colTo) {
  return SwapAlong(&_h, true, a, b, InBox(true, kindFrom, kindTo, colFrom, colTo));
}

bool ZorDyna::SwapCol(int32_t kind, int32_t a, int32_t b) { return SwapAlong(&_h, false, a, b, OfKind(kind)); }

bool ZorDyna::SwapColRange(int32_t kindFrom, int32_t kindTo, int32_t a, int32_t b, int32_t lineFrom, int32_t lineTo) {
  return SwapAlong(&_h, false, a, b, InBox(false, kindFrom, kindTo, lineFrom, lineTo));
}

bool ZorDyna::InvertLineCol(int32_t kind) {
  return Rewrite(&_h, [kind](const Cell& c, Place* p) {
    if (KindIs(kind, c.kind)) std::swap(p->line, p->col);
    return true;
  });
}

// ------------------------------------------------------------------ kinds and boxes

bool ZorDyna::DelKind(int32_t kind, bool shift) {
  if (kind == kZorDynaAnyKind) return DelKindRange(INT32_MIN, INT32_MAX, false);
  return DelKindRange(kind, kind, shift);
}

bool ZorDyna::DelKindRange(int32_t kindFrom, int32_t kindTo, bool shift) {
  if (kindFrom > kindTo) return false;
  const int32_t width = static_cast<int32_t>(static_cast<int64_t>(kindTo) - kindFrom + 1);
  return Rewrite(&_h, [&](const Cell& c, Place* p) {
    if (InRange(c.kind, kindFrom, kindTo)) return false;
    if (shift && c.kind > kindTo) p->kind = Add(c.kind, -width);
    return true;
  });
}

bool ZorDyna::Clear(int32_t kindFrom, int32_t kindTo, int32_t lineFrom, int32_t lineTo, int32_t colFrom,
                    int32_t colTo) {
  return Rewrite(&_h, [&](const Cell& c, Place*) {
    return !(InRange(c.kind, kindFrom, kindTo) && InRange(c.line, lineFrom, lineTo) && InRange(c.col, colFrom, colTo));
  });
}

bool ZorDyna::ChangeKind(int32_t from, int32_t to) {
  if (from == to || from == kZorDynaAnyKind || to == kZorDynaAnyKind) return false;
  std::set<std::pair<int32_t, int32_t>> moved;
  {
    Run run(&_h);
    Cell c;
    for (Walker w(run.Base(), run.Size()); w.Next(&c);)
      if (c.kind == from) moved.emplace(c.line, c.col);
  }
  if (moved.empty()) return false;
  return Rewrite(&_h, [&](const Cell& c, Place* p) {
    if (c.kind == to) return moved.count({c.line, c.col}) == 0;
    if (c.kind == from) p->kind = to;
    return true;
  });
}

// ------------------------------------------------------------------ copies

namespace {

// The cells a copy takes, each the first at its place, with their bytes
// copied out (the destination may share this run).
struct Picked {
  std::vector<Place> places;
  std::vector<uint32_t> sizes;
  std::vector<uint8_t> bytes;
};

template <class Select>
Picked Pick(const ZorHandle* h, Select select) {
  Picked out;
  std::set<std::tuple<int32_t, int32_t, int32_t>> seen;
  Run run(h);
  Cell c;
  for (Walker w(run.Base(), run.Size()); w.Next(&c);) {
    if (!select(c) || !seen.emplace(c.kind, c.line, c.col).second) continue;
    out.places.push_back({c.kind, c.line, c.col});
    out.sizes.push_back(c.size);
    out.bytes.insert(out.bytes.end(), c.data, c.data + c.size);
  }
  return out;
}

bool SetAll(ZorDyna* dst, const Picked& cells, int32_t kindOverride) {
  bool changed = false;
  size_t at = 0;
  for (size_t i = 0; i < cells.places.size(); ++i) {
    const Place& p = cells.places[i];
    const int32_t kind = kindOverride == kZorDynaAnyKind ? p.kind : kindOverride;
    changed |= dst->SetData(kind, p.line, p.col, cells.sizes[i], cells.bytes.data() + at);
    at += cells.sizes[i];
  }
  return changed;
}

}  // namespace

bool ZorDyna::CopyTo(int32_t kind, ZorDyna* dst, int32_t dstKind, bool replace) const {
  const Picked cells = Pick(&_h, OfKind(kind));
  if (!dst->IsInit()) dst->Init();
  bool changed = false;
  if (replace) {
    if (kind != kZorDynaAnyKind) {
      changed = dst->DelKind(dstKind, false);
    } else {
      for (const Place& p : cells.places) changed |= dst->DelKind(p.kind, false);
    }
  }
  return SetAll(dst, cells, kind == kZorDynaAnyKind ? kZorDynaAnyKind : dstKind) || changed;
}

bool ZorDyna::CopyToRange(ZorDyna* dst, int32_t kindFrom, int32_t kindTo, int32_t lineFrom, int32_t lineTo,
                          int32_t colFrom, int32_t colTo, bool replace) const {
  const Picked cells = Pick(&_h, [&](const Cell& c) {
    return InRange(c.kind, kindFrom, kindTo) && InRange(c.line, lineFrom, lineTo) && InRange(c.col, colFrom, colTo);
  });
  if (!dst->IsInit()) dst->Init();
  const bool cleared = replace && dst->Clear(kindFrom, kindTo, lineFrom, lineTo, colFrom, colTo);
  return SetAll(dst, cells, kZorDynaAnyKind) || cleared;
}

namespace {

// h gets the cell's bytes: shared as foreign data, or copied.
bool CellHandle(const ZorDyna* d, int32_t kind, int32_t line, int32_t col, bool view, ZorHandle* h) {
  if (view) return d->GetConstDataHandle(kind, line, col, h);
  return d->GetData(kind, line, col, h);
}

}  // namespace

bool ZorDyna::SubDyna(ZorDyna* out, int32_t kind, int32_t line, int32_t col, bool view) const {
  ZorHandle h;
  const bool found = CellHandle(this, kind, line, col, view, &h);
  if (found)
    out->Init(&h);
  else
    out->Init();
  return found;
}

bool ZorDyna::SubBGet(ZorBGet* out, int32_t kind, int32_t line, int32_t col, bool view) const {
  ZorHandle h;
  const bool found = CellHandle(this, kind, line, col, view, &h);
  if (found)
    out->Init(&h);
  else
    out->Init();
  return found;
}

// ------------------------------------------------------------------ sorting and compaction

namespace {

// The sort key of one line: its cell in the sort column (absent: no bytes).
struct LineKey {
  int32_t line;
  const uint8_t* data;
  uint32_t size;
};

// The key's leading bytes, zero-padded when the cell is shorter or absent.
void Leading(const LineKey& k, uint8_t* out, uint32_t width) {
  std::memset(out, 0, width);
  if (k.size) std::memcpy(out, k.data, std::min(k.size, width));
}

// The leading bytes as a little-endian signed number of `width` bytes.
int64_t ReadInt(const LineKey& k, uint32_t width) {
  uint8_t b[8];
  Leading(k, b, 8);
  const uint64_t v = platform::GetLE64(b);
  const uint32_t shift = 64 - 8 * width;
  return static_cast<int64_t>(v << shift) >> shift;
}

double ReadDouble(const LineKey& k) {
  uint8_t b[8];
  Leading(k, b, 8);
  return std::bit_cast<double>(platform::GetLE64(b));
}

template <class T>
int Sign(T a, T b) {
  return (a > b) - (a < b);
}

int CompareBytes(const LineKey& a, const LineKey& b) {
  const uint32_t n = std::min(a.size, b.size);
  const int c = n ? std::memcmp(a.data, b.data, n) : 0;
  return c ? (c < 0 ? -1 : 1) : Sign(a.size, b.size);
}

// Texts are read up to their terminator or the end of the cell.
std::string TextOf(const LineKey& k) {
  if (!k.size) return {};
  const auto* p = reinterpret_cast<const char*>(k.data);
  return std::string(p, strnlen(p, k.size));
}

int CompareText(const LineKey& a, const LineKey& b) {
  return ZorStrICmp(TextOf(a).c_str(), TextOf(b).c_str());
}

int CompareUuid(const LineKey& a, const LineKey& b) {
  uint8_t x[16], y[16];
  Leading(a, x, 16);
  Leading(b, y, 16);
  return ZorUuid::S_CmpGuid(x, y);
}

int CompareKeys(eZorPhysType type, const LineKey& a, const LineKey& b) {
  switch (type) {
    case kZorPhysTypeShort: return Sign(ReadInt(a, 2), ReadInt(b, 2));
    case kZorPhysTypeLong: return Sign(ReadInt(a, 4), ReadInt(b, 4));
    case kZorPhysTypeQuad: return Sign(ReadInt(a, 8), ReadInt(b, 8));
    case kZorPhysTypeDouble:
    case kZorPhysTypeDecimal:
    case kZorPhysTypeDate: return Sign(ReadDouble(a), ReadDouble(b));
    case kZorPhysTypeAnsiString:
    case kZorPhysTypeString: return CompareText(a, b);
    case kZorPhysTypeUuid: return CompareUuid(a, b);
    default: return CompareBytes(a, b);
  }
}

// The lines of the selected cells inside [from, to], each with its key cell
// (the first in storage order), ascending by line number.
template <class Select>
std::vector<LineKey> CollectLines(const Run& run, Select select, int32_t col, int32_t from, int32_t to) {
  std::map<int32_t, LineKey> lines;
  Cell c;
  for (Walker w(run.Base(), run.Size()); w.Next(&c);) {
    if (!select(c) || !InRange(c.line, from, to)) continue;
    LineKey& k = lines.try_emplace(c.line, LineKey{c.line, nullptr, 0}).first->second;
    if (c.col == col && !k.data) k = LineKey{c.line, c.data, c.size};
  }
  std::vector<LineKey> out;
  for (auto& [line, key] : lines) out.push_back(key);
  return out;
}

}  // namespace

bool ZorDyna::Sort(int32_t kind, eZorPhysType type, int32_t col, int32_t lineFrom, int32_t lineTo, uint32_t flags) {
  std::map<int32_t, int32_t> renumber;
  {
    Run run(&_h);
    std::vector<LineKey> keys = CollectLines(run, OfKind(kind), col, lineFrom, lineTo);
    std::vector<int32_t> numbers;
    for (const LineKey& k : keys) numbers.push_back(k.line);
    const bool down = flags & kZorDynaSortDescending;
    std::stable_sort(keys.begin(), keys.end(), [&](const LineKey& a, const LineKey& b) {
      const int c = CompareKeys(type, a, b);
      return down ? c > 0 : c < 0;
    });
    for (size_t i = 0; i < keys.size(); ++i)
      if (keys[i].line != numbers[i]) renumber[keys[i].line] = numbers[i];
  }
  if (renumber.empty()) return false;
  return Rewrite(&_h, [&](const Cell& c, Place* p) {
    if (!KindIs(kind, c.kind)) return true;
    const auto it = renumber.find(c.line);
    if (it != renumber.end()) p->line = it->second;
    return true;
  });
}

bool ZorDyna::Compact(bool lines) {
  std::vector<int32_t> values;
  {
    Run run(&_h);
    Cell c;
    for (Walker w(run.Base(), run.Size()); w.Next(&c);) values.push_back(lines ? c.line : c.col);
  }
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  return Rewrite(&_h, [&](const Cell&, Place* p) {
    int32_t& v = lines ? p->line : p->col;
    v = static_cast<int32_t>(std::lower_bound(values.begin(), values.end(), v) - values.begin()) + 1;
    return true;
  });
}

}  // namespace zorvane
