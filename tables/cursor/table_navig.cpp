// ZorTable: positions, navigation and reads by key.
//
// Every read goes through _afterRead (success: current UD and position set,
// cached dynamic part and blob contents dropped) or _failRead (buffer
// zeroed, no current record). Navigation never raises for a missing record.
#include <algorithm>
#include <cstring>
#include <vector>

#include "tables/cursor/table_internal.h"
#include <zorvane/block_array.h>
#include <zorvane/cell_container.h>
#include <zorvane/string.h>

namespace zorvane {

using namespace tcur;

void ZorTable::_afterRead(uint32_t ud, int32_t n) {
  _curUD = ud;
  _curN = n;
  _dynaState = 0;
  _dynaChanged = false;
  _blobsFromRecord();
}

void ZorTable::_failRead() {
  std::memset(_rec - 4, 0, _recSize + 4);
  _curUD = 0;
  _curN = 0;
  _dynaState = 0;
  _dynaChanged = false;
  _blobsFromRecord();
}

void ZorTable::Clear() {
  if (_desc) _failRead();
}

ZorDyna* ZorTable::GetDyna() {
  if (!_desc) return nullptr;
  if (_dynaState == 0) {
    _dyna->Clear();
    if (_curUD) _stocker->PrimRdDyna(this, _curUD, _dyna.get());
    _dynaState = 1;
  }
  return _dyna.get();
}

int32_t ZorTable::_viewCount() {
  switch (_mode) {
    case kZorTblModeRange:
      return _rangeCount;
    case kZorTblModeSel:
      return _sel ? _sel->GetNbItem() : 0;
    default:
      return _stocker->PrimGetTNbr(this, false);
  }
}

int32_t ZorTable::GetNbN() { return _desc ? _viewCount() : 0; }

uint32_t ZorTable::GetUDFromN(int32_t n) {
  if (!_desc || n < 1) return 0;
  switch (_mode) {
    case kZorTblModeRange: {
      const int64_t at = int64_t{_rangeOffset} + n;
      return n <= _rangeCount && at <= INT32_MAX ? _stocker->PrimTNToUD(this, static_cast<int32_t>(at)) : 0;
    }
    case kZorTblModeSel: {
      if (!_sel || n > _sel->GetNbItem()) return 0;
      uint32_t ud = 0;
      _sel->Get(n, &ud);
      return ud;
    }
    default:
      return _stocker->PrimTNToUD(this, n);
  }
}

int32_t ZorTable::GetNFromUD(uint32_t ud) {
  if (!_desc || ud == 0) return 0;
  if (_mode == kZorTblModeSel) {
    const int32_t count = _sel ? _sel->GetNbItem() : 0;
    for (int32_t i = 1; i <= count; ++i) {
      if (*static_cast<const uint32_t*>((*_sel)[i]) == ud) return i;
    }
    return 0;
  }
  const int32_t n = _stocker->PrimUDToTN(this, ud);
  if (n < 0) {
    for (int32_t i = 1, count = _viewCount(); i <= count; ++i) {
      if (GetUDFromN(i) == ud) return i;
    }
    return 0;
  }
  if (_mode == kZorTblModeRange) {
    return (n > _rangeOffset && n <= int64_t{_rangeOffset} + _rangeCount) ? n - _rangeOffset : 0;
  }
  return n;
}

bool ZorTable::_readAt(int32_t n, bool skipDeleted) {
  const uint32_t ud = GetUDFromN(n);
  if (ud && _stocker->PrimReadUD(this, ud, true) == ud) {
    if (!(skipDeleted && (_modeFlags & kZorTblMfKeepDel) && _stocker->PrimIsDel(this))) {
      _afterRead(ud, n);
      return true;
    }
  }
  _failRead();
  return false;
}

bool ZorTable::ReadN(int32_t n, bool skipDeleted) { return _desc && _readAt(n, skipDeleted); }

bool ZorTable::ReadUD(uint32_t ud) {
  if (!_desc) return false;
  if (ud == 0 || _stocker->PrimReadUD(this, ud, true) != ud) {
    _failRead();
    return false;
  }
  _afterRead(ud, 0);
  return true;
}

// Creation order in a store that keeps deleted records: step through the
// positions until a live one.
bool ZorTable::_stepSkippingDeleted(int32_t from, int32_t step) {
  const int32_t count = _viewCount();
  for (int32_t n = from; n >= 1 && n <= count; n += step) {
    const uint32_t ud = GetUDFromN(n);
    if (ud && _stocker->PrimReadUD(this, ud, true) == ud && !_stocker->PrimIsDel(this)) {
      _afterRead(ud, n);
      return true;
    }
  }
  _failRead();
  return false;
}

static bool SkipsDeleted(int32_t index, uint32_t flags) { return index == 0 && (flags & kZorTblMfKeepDel); }

bool ZorTable::First() {
  if (!_desc) return false;
  if (SkipsDeleted(_curIndex, _modeFlags)) return _stepSkippingDeleted(1, 1);
  return _readAt(1, false);
}

bool ZorTable::Last() {
  if (!_desc) return false;
  const int32_t count = _viewCount();
  if (SkipsDeleted(_curIndex, _modeFlags)) return _stepSkippingDeleted(count, -1);
  return _readAt(count, false);
}

bool ZorTable::Next() {
  if (!_desc) return false;
  if (_curN == 0 && _curUD) _curN = GetNFromUD(_curUD);
  if (_curN == 0) {
    _failRead();
    return false;
  }
  if (SkipsDeleted(_curIndex, _modeFlags)) return _stepSkippingDeleted(_curN + 1, 1);
  return _readAt(_curN + 1, false);
}

bool ZorTable::Prev() {
  if (!_desc) return false;
  if (_curN == 0 && _curUD) _curN = GetNFromUD(_curUD);
  if (_curN <= 1) {
    _failRead();
    return false;
  }
  if (SkipsDeleted(_curIndex, _modeFlags)) return _stepSkippingDeleted(_curN - 1, -1);
  return _readAt(_curN - 1, false);
}

bool ZorTable::IsDeleted() { return _desc && _curUD && _stocker->PrimIsDel(this); }

int32_t ZorTable::GetNbRecord() { return _desc ? _stocker->PrimGetTNbr(this, true) : 0; }
int32_t ZorTable::GetNbDelRec() { return _desc ? _stocker->GetNbDelRec(this) : 0; }

bool ZorTable::SetCurIndex(int32_t index) {
  if (!_desc) return false;
  if (index == kZorTblIndexDef) index = GetDefIndex();
  if (index == kZorTblIndexCur) index = _curIndex;
  if (index < 0 || index > GetNbIndex()) return false;
  if (index != _curIndex) {
    _curIndex = index;
    _curN = 0;
  }
  return true;
}

int32_t ZorTable::_resolveIndex(int32_t index) const {
  if (index == kZorTblIndexCur) index = _curIndex;
  if (index == kZorTblIndexDef) index = GetDefIndex();
  if (index < 1 || index > GetNbIndex() || _keys[index - 1].nbPart == 0) return 0;
  return index;
}

bool ZorTable::Read(eZorTblFind mode, int32_t index) {
  if (!_desc) return false;
  index = _resolveIndex(index);
  int32_t n = 0;
  const uint32_t ud = index ? _stocker->PrimFindIx(this, index, mode, &n) : 0;
  if (ud == 0 || _stocker->PrimReadUD(this, ud, true) != ud) {
    _failRead();
    return false;
  }
  // A position found in another order than the view's means nothing there.
  if (index != _curIndex || _mode != kZorTblModeFull) n = 0;
  _afterRead(ud, n);
  return true;
}

int32_t ZorTable::ReadPartial(int32_t field, bool includeField, bool forward) {
  if (!_desc || _mode != kZorTblModeFull || _curIndex == 0) return 0;
  const sZorKey& key = _keys[_curIndex - 1];
  const int32_t parts = std::min<int32_t>(key.nbPart, kZorKeyMaxParts);
  int32_t compared = 0;
  bool past = false;
  for (int32_t p = 0; p < parts; ++p) {
    const int32_t f = key.partField[p];
    if (past) {
      // The lowest key forward, the highest backward: for a descending
      // part that is the highest and the lowest value.
      const bool descending = key.partType[p] >= kZorKeyDescending;
      SetValMinMax(f, descending == forward);
      continue;
    }
    if (f == field) {
      past = true;
      if (includeField) compared += key.partLen[p];
    } else {
      compared += key.partLen[p];
    }
    ChangeVal(f, forward ? kZorTblChgLower : kZorTblChgUpper);
  }
  compared = std::min<int32_t>(compared, key.keyLen);
  std::vector<uint8_t> wanted(key.keyLen), found(key.keyLen);
  BuildKey(_curIndex, nullptr, wanted.data());
  if (!Read(forward ? kZorTblFindGreater : kZorTblFindLess, _curIndex)) return 0;
  BuildKey(_curIndex, nullptr, found.data());
  if (ZorCompIndex(wanted.data(), found.data(), compared) != 0) return 0;
  if (_curN == 0) _curN = GetNFromUD(_curUD);
  return _curN;
}

bool ZorTable::ReadPk(const char* text, int32_t index) {
  if (!_desc) return false;
  if (index == 0) {
    for (int32_t i = 1, n = GetNbIndex(); i <= n; ++i) {
      if (ReadPk(text, i)) return true;
    }
    _failRead();
    return false;
  }
  // An index that is not made of one part finds nothing, like any failed read.
  index = _resolveIndex(index);
  if (index == 0 || _keys[index - 1].nbPart != 1) {
    _failRead();
    return false;
  }
  Raz();
  if (!SetValStr(_keys[index - 1].partField[0], text ? text : "")) {
    _failRead();
    return false;
  }
  return Read(kZorTblFindEqual, index);
}

uint32_t ZorTable::Exist(int32_t index) {
  if (!_desc) return 0;
  if (index == kZorTblIndexAll) return _stocker->PrimExist(this, 1, GetNbIndex());
  index = _resolveIndex(index);
  return index ? _stocker->PrimExist(this, index, index) : 0;
}

bool ZorTable::DoNavig(int32_t how) {
  if (!_desc) return false;
  if (_handler) {
    const int32_t done = _handler->DoNavig(this, how);
    if (done != 0) return done > 0;
    const int32_t index = _handler->GetNavigIndex(this);
    if (index >= 0) SetCurIndex(index);
  }
  switch (how) {
    case 1:
      return First();
    case 2:
      return Prev();
    case 3:
      return Next();
    case 4:
      return Last();
    default:
      return false;
  }
}

// ------------------------------------------------------------------ references

bool ZorTable::GetRecRef(string* out) {
  ZorNotNull(out, kSource);
  out->Clear();
  if (!_desc) return false;
  if (_handler) {
    const int32_t done = _handler->HGetRecRef(this, out);
    if (done != 0) return done > 0;
  }
  const int32_t field = _desc->GetHilFid();
  if (field < 1 || !_curUD) return false;
  GetValStr(field, out);
  return true;
}

bool ZorTable::ReadRecRef(const char* ref) {
  if (!_desc) return false;
  if (_handler) {
    const int32_t done = _handler->HReadRecRef(this, ref);
    if (done != 0) return done > 0;
  }
  const int32_t field = _desc->GetHilFid();
  const int32_t index = field > 0 ? GetFidIndex(field, kZorTblFidIndexOnly) : 0;
  if (index == 0) return false;
  Raz();
  if (!SetValStr(field, ref ? ref : "")) {
    _failRead();
    return false;
  }
  return Read(kZorTblFindEqual, index);
}

}  // namespace zorvane
