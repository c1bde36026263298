// ZorTable: views (full, ranges, selections) and ZorTSel.
//
// A range is an offset and a count within the current order; a selection
// is a ZorBGet of 32-bit UDs, possibly shared with a ZorTSel. A range built
// with `intersect` keeps only the records of the previous view, as a
// selection in the new range's order.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <unordered_set>
#include <vector>

#include "tables/cursor/table_internal.h"
#include <zorvane/sort.h>
#include <zorvane/block_array.h>
#include <zorvane/string.h>

namespace zorvane {

using namespace tcur;

namespace {

// The UDs of every position of a table's view.
void CollectView(ZorTable* table, std::vector<uint32_t>* out) {
  const int32_t count = table->GetNbN();
  out->clear();
  out->reserve(static_cast<size_t>(std::max(count, 0)));
  for (int32_t n = 1; n <= count; ++n) out->push_back(table->GetUDFromN(n));
}

void FillSel(ZorBGet* sel, const std::vector<uint32_t>& uds) {
  sel->Init();
  sel->InsRange(0, uds.data(), static_cast<int32_t>(uds.size()));
}

}  // namespace

void ZorTable::SetModeFlags(uint32_t flags, bool on) {
  if (on) {
    _modeFlags |= flags;
  } else {
    _modeFlags &= ~flags;
  }
}

void ZorTable::SetModeFull() {
  _sel.reset();
  _mode = kZorTblModeFull;
  _rangeOffset = _rangeCount = 0;
  _curN = 0;
}

int32_t ZorTable::SetModeRangeOffset(int32_t offset, int32_t count) {
  if (!_desc) return 0;
  SetModeFull();
  _mode = kZorTblModeRange;
  _rangeOffset = std::max(offset, 0);
  _rangeCount = std::max(count, 0);
  return _rangeCount;
}

int32_t ZorTable::SetModeRangeN(int32_t first, int32_t last) {
  if (first < 1 || last < first) return SetModeRangeOffset(0, 0);
  return SetModeRangeOffset(first - 1, last - first + 1);
}

void ZorTable::_setSelection(ZorBGet* uds) {
  _sel = std::make_unique<ZorBGet>(0, 4);
  _sel->Init(uds->GetHandle());
  _mode = kZorTblModeSel;
  _rangeOffset = _rangeCount = 0;
  _curN = 0;
}

// A private copy of the UDs becomes the view.
int32_t ZorTable::_selectUDs(const uint32_t* uds, size_t count) {
  ZorBGet sel(0, 4);
  sel.Init();
  sel.InsRange(0, uds, static_cast<int32_t>(count));
  _setSelection(&sel);
  return static_cast<int32_t>(count);
}

// The range [first, last] of the current order, or its intersection with
// the previous view's records.
int32_t ZorTable::_setRangeResult(int32_t first, int32_t last, bool intersect, ZorBGet* previous) {
  const int32_t count = (first > 0 && last >= first) ? last - first + 1 : 0;
  SetModeRangeOffset(count ? first - 1 : 0, count);
  if (!intersect) return count;
  std::unordered_set<uint32_t> kept;
  for (int32_t i = 1, n = previous->GetNbItem(); i <= n; ++i) kept.insert(*static_cast<uint32_t*>((*previous)[i]));
  std::vector<uint32_t> uds;
  CollectView(this, &uds);
  uds.erase(std::remove_if(uds.begin(), uds.end(), [&](uint32_t ud) { return !kept.count(ud); }), uds.end());
  return _selectUDs(uds.data(), uds.size());
}

// Both ends of a range on `field`: set(true) puts the lower bound into the
// buffer, set(false) the upper one; without set, the buffer's value is the
// bound on both sides and the field itself is compared.
int32_t ZorTable::_rangeOn(int32_t field, const std::function<void(bool)>& set, bool intersect) {
  if (!_desc) return 0;
  ZorBGet previous(0, 4);
  if (intersect) {
    std::vector<uint32_t> uds;
    CollectView(this, &uds);
    FillSel(&previous, uds);
  }
  SetModeFull();
  if (_curIndex == 0) return _setRangeResult(0, 0, intersect, &previous);
  int32_t first = 0, last = 0;
  if (set) {
    set(true);
    first = ReadPartial(field, false, true);
    set(false);
    last = ReadPartial(field, false, false);
  } else {
    std::vector<uint8_t> saved(_rec, _rec + _recSize);
    first = ReadPartial(field, true, true);
    if (_recSize) std::memcpy(_rec, saved.data(), _recSize);
    last = ReadPartial(field, true, false);
  }
  Clear();
  return _setRangeResult(first, last, intersect, &previous);
}

int32_t ZorTable::SetModeRange(int32_t field, const void* from, const void* to, bool intersect) {
  if (!from) return _rangeOn(field, nullptr, intersect);
  return _rangeOn(field, [&](bool low) { SetVal(field, kZorTblFormNative, low || !to ? from : to); }, intersect);
}

int32_t ZorTable::SetModeRangeStr(int32_t field, const char* from, const char* to, bool intersect) {
  if (!from) return _rangeOn(field, nullptr, intersect);
  return _rangeOn(field, [&](bool low) { SetValStr(field, low || !to ? from : to); }, intersect);
}

int32_t ZorTable::SetModeRangeLong(int32_t field, int32_t from, int32_t to, bool intersect) {
  return _rangeOn(field, [&](bool low) { SetValLong(field, low ? from : to); }, intersect);
}

int32_t ZorTable::SetModeRangeDate(int32_t field, const date& from, const date& to, bool intersect) {
  return _rangeOn(field, [&](bool low) { SetValDate(field, low ? from : to); }, intersect);
}

// Wildcards over cp1252 text, ignoring case: '*' any run, '?' one character.
static bool WildMatch(const char* text, const char* pattern) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*text) {
    if (*pattern == '*') {
      star = pattern++;
      resume = text;
    } else if (*pattern == '?' || (*pattern && ZorStrIEqN(pattern, text, 1))) {
      ++pattern;
      ++text;
    } else if (star) {
      pattern = star + 1;
      text = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

int32_t ZorTable::SetModeRangeWild(int32_t field, const char* pattern, bool intersect) {
  if (!_desc) return 0;
  std::vector<uint32_t> uds, kept;
  CollectView(this, &uds);
  string value;
  for (uint32_t ud : uds) {
    if (ReadUD(ud) && WildMatch(GetValStr(field, &value), pattern ? pattern : "")) kept.push_back(ud);
  }
  Clear();
  (void)intersect;  // the view the pattern filters is already the previous one
  return _selectUDs(kept.data(), kept.size());
}

// The view's records as a selection, stably ordered by the key the
// definition builds of each (kept in view order without one).
// The view's records sorted by a key (a record that cannot be read sorts
// as an empty one); descending turns every part of the key around, and the
// sequence part keeps equal keys in the view's order.
int32_t ZorTable::_selectViewSorted(const sZorKey* key, bool descending) {
  std::vector<uint32_t> uds;
  CollectView(this, &uds);
  if (key) {
    sZorKey order = *key;
    for (int32_t i = 0; descending && i < order.nbPart; ++i) {
      const int32_t type = order.partType[i];
      order.partType[i] = static_cast<uint8_t>(type > kZorKeyDescending ? type - kZorKeyDescending
                                                                       : type + kZorKeyDescending);
    }
    ZorSort sort;
    sort.Init(&order, _rec, _recSize, sizeof(uint32_t), static_cast<int32_t>(uds.size()), true);
    for (uint32_t ud : uds) {
      if (!ReadUD(ud)) Raz();
      sort.Add(&ud);
    }
    sort.Validate();
    for (int32_t n = 1; n <= sort.GetNbItem(); ++n) sort.ReadN(n, &uds[static_cast<size_t>(n - 1)]);
  }
  Clear();
  return _selectUDs(uds.data(), uds.size());
}

int32_t ZorTable::SetModeRangeSortIndex(int32_t index, bool descending) {
  if (!_desc) return 0;
  index = _resolveIndex(index);
  return _selectViewSorted(index ? &_keys[index - 1] : nullptr, descending);
}

// A field's order is the order of a one-part key on it.
int32_t ZorTable::SetModeRangeSort(int32_t field, bool descending) {
  if (!_desc) return 0;
  sZorTfi tfi;
  if (!GetField(field, &tfi) || !_desc->IsIndexable(field)) return 0;
  sZorKey key;
  key.nbPart = key.nbPart2 = 1;
  key.partType[0] = static_cast<uint8_t>(ZorSolvePhysType(static_cast<eZorPhysType>(tfi.physType)));
  const int32_t len = ZorGetIndexDefSize(key.partType[0], tfi.len);
  if (len <= 0) return 0;
  key.keyLen = key.partLen[0] = static_cast<uint8_t>(len);
  key.partOffset[0] = tfi.offset;
  key.partField[0] = static_cast<int16_t>(field);
  return _selectViewSorted(&key, descending);
}

int32_t ZorTable::SetModeFromTSel(ZorTSel* sel, bool share) {
  ZorNotNull(sel, kSource);
  return SetModeFromTSel(sel->GetHandle(), share);
}

int32_t ZorTable::SetModeFromTSel(ZorHandle* sel, bool share) {
  if (!_desc) return 0;
  ZorNotNull(sel, kSource);
  ZorBGet uds(0, 4);
  if (share) {
    uds.Init(sel);
  } else {
    ZorHandle copy;
    copy.Copy(sel);
    uds.Init(&copy);
  }
  _setSelection(&uds);
  return _sel->GetNbItem();
}

int32_t ZorTable::SetModeNoDel(bool on) {
  if (!_desc) return 0;
  if (!on) {
    SetModeFull();
    return GetNbN();
  }
  std::vector<uint32_t> uds, kept;
  CollectView(this, &uds);
  for (uint32_t ud : uds) {
    if (_stocker->PrimReadUD(this, ud, false) == ud && !_stocker->PrimIsDel(this)) kept.push_back(ud);
  }
  Clear();
  return _selectUDs(kept.data(), kept.size());
}

const ZorBGet* ZorTable::GetSel() const { return _mode == kZorTblModeSel ? _sel.get() : nullptr; }

// ------------------------------------------------------------------ ZorTSel

ZorTSel::ZorTSel() : _uds(std::make_unique<ZorBGet>(0, 4)) { _uds->Init(); }
ZorTSel::~ZorTSel() = default;

void ZorTSel::Init() { _uds->Init(); }

void ZorTSel::Init(ZorTable* table) {
  ZorNotNull(table, kSource);
  if (const ZorBGet* sel = table->GetSel()) {
    sel->CopyTo(_uds.get());
    return;
  }
  std::vector<uint32_t> uds;
  CollectView(table, &uds);
  FillSel(_uds.get(), uds);
}

void ZorTSel::Init(const ZorHandle* h, bool share) {
  ZorNotNull(h, kSource);
  if (share) {
    _uds->Init(const_cast<ZorHandle*>(h));
  } else {
    ZorHandle copy;
    copy.Copy(h);
    _uds->Init(&copy);
  }
}

void ZorTSel::InitFromParam(const char* text) {
  Init();
  if (!text) return;
  const char* p = text;
  while (*p) {
    while (*p == ',' || *p == ' ' || *p == '\t' || *p == ';') ++p;
    if (!*p) break;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(p, &end, 10);
    if (end == p) {
      ++p;  // not a number: skipped
      continue;
    }
    if (v > 0 && v <= 0xFFFFFFFFull) AddSel(static_cast<uint32_t>(v));
    p = end;
  }
}

ZorHandle* ZorTSel::GetHandle() { return _uds->GetHandle(); }
int32_t ZorTSel::GetNbSel() const { return _uds->GetNbItem(); }
uint32_t ZorTSel::GetFirstUD() const { return (*this)[1]; }

uint32_t ZorTSel::operator[](int32_t i) const {
  if (i < 1 || i > _uds->GetNbItem()) return 0;
  uint32_t ud = 0;
  _uds->Get(i, &ud);
  return ud;
}

bool ZorTSel::ReadFirst(ZorTable* table) {
  int32_t position = 0;
  return ReadNext(table, &position, false);
}

bool ZorTSel::ReadNext(ZorTable* table, int32_t* position, bool backward) {
  ZorNotNull(table, kSource);
  ZorNotNull(position, kSource);
  const int32_t count = GetNbSel();
  if (backward) {
    if (*position == 1) return false;
    if (*position == 0) *position = count + 1;
    --*position;
  } else {
    ++*position;
  }
  if (*position < 1 || *position > count) return false;
  return table->ReadUD((*this)[*position]);
}

void ZorTSel::AddSel(uint32_t ud) { _uds->Ins(0, &ud); }

void ZorTSel::AddSel(const ZorTSel* other) {
  ZorNotNull(other, kSource);
  const int32_t n = other->GetNbSel();
  if (n > 0) _uds->InsRange(0, (*other->_uds)[1], n);
}

void ZorTSel::SetNbSel(int32_t n) { _uds->SetNbItem(std::max(n, 0), true); }

bool ZorTSel::SetSel(int32_t i, uint32_t ud) {
  if (i < 1 || i > GetNbSel()) return false;
  _uds->Set(i, &ud);
  return true;
}

int32_t ZorTSel::FindUD(uint32_t ud) const {
  for (int32_t i = 1, n = GetNbSel(); i <= n; ++i) {
    if ((*this)[i] == ud) return i;
  }
  return 0;
}

bool ZorTSel::RemoveSel(uint32_t ud, int32_t position) {
  if (position < 1 || position > GetNbSel()) position = FindUD(ud);
  if (position < 1) return false;
  _uds->Del(position);
  return true;
}

void ZorTSel::SortSel() {
  const int32_t n = GetNbSel();
  if (n < 2) return;
  auto* first = static_cast<uint32_t*>((*_uds)[1]);
  std::sort(first, first + n);
}

}  // namespace zorvane
