// ZorTable: structure upgrades. A memory table is rebuilt on the new
// description by copying every record through the fields of the same
// public name; another store is asked to convert its records
// (ZorTableStocker::Upgrade) and the table is opened again.
#include <cstring>
#include <vector>

#include "tables/cursor/table_internal.h"
#include <zorvane/string.h>
#include <zorvane/verification.h>

namespace zorvane {

using namespace tcur;

namespace {

constexpr int32_t kTxtNewerRelease = 52;

// Field n of `to` takes field map[n] of `from` (0: none).
std::vector<int32_t> MapFieldsByName(ZorTable* from, ZorTableDesc* to) {
  std::vector<int32_t> map(static_cast<size_t>(to->GetNbField()) + 1, 0);
  string name;
  for (int32_t n = 1, count = to->GetNbField(); n <= count; ++n) {
    if (to->FieldValid(n)) map[n] = from->GetFieldId(to->GetFieldName(n, &name));
  }
  return map;
}

// Same field places and types, same keys: records keep their bytes.
bool SameLayout(const ZorTableDesc* a, const ZorTableDesc* b) {
  if (a->GetNbField() != b->GetNbField() || a->GetNbIndex() != b->GetNbIndex()) return false;
  for (int32_t n = 1, count = a->GetNbField(); n <= count; ++n) {
    sZorTfi x, y;
    a->GetField(n, &x);
    b->GetField(n, &y);
    if (x.offset != y.offset || x.size != y.size || x.physType != y.physType || (x.flags == 0) != (y.flags == 0)) {
      return false;
    }
  }
  for (int32_t i = 1, count = a->GetNbIndex(); i <= count; ++i) {
    sZorKey x, y;
    a->GetIndex(i, &x);
    b->GetIndex(i, &y);
    uint8_t bx[kZorKeyStoredSize], by[kZorKeyStoredSize];
    x.StoreTo(bx);
    y.StoreTo(by);
    if (std::memcmp(bx, by, sizeof bx) != 0) return false;
  }
  return true;
}

}  // namespace

bool ZorTable::StructUpgrade(ZorTableDesc* newDesc, uint32_t flags, ZorVerif* report) {
  ZorNotNull(newDesc, kSource);
  if (!_desc) return false;
  if (newDesc->GetStructRelease() < GetStructRelease()) {
    if (report) {
      string name;
      GetName(&name);
      report->AddItemMsg(kZorVerifError, 0, ZorErr(1, kErrRdOnly), 1, kListTables, kTxtNewerRelease, name.CStr());
    }
    return false;
  }
  std::vector<int32_t> map = MapFieldsByName(this, newDesc);
  if (!dynamic_cast<ZorTSMem*>(_stocker)) {
    ZorTable to;
    to.Init(newDesc->GetHandle(), true);
    sZorUpgrade upgrade{this, &to, map.data(), flags};
    if (!_stocker->Upgrade(&upgrade)) return false;
    ZorDBase* dba = _dba;
    const int64_t tid = GetTId();
    Open(dba, tid);
    return true;
  }
  ZorTable to;
  to.Init(newDesc->GetHandle(), true);
  const int32_t index = _curIndex;
  SetCurIndex(0);
  SetModeFull();
  for (int32_t n = 1, count = GetNbN(); n <= count; ++n) {
    if (!ReadN(n, false)) continue;
    to.Raz();
    for (size_t f = 1; f < map.size(); ++f) {
      if (map[f]) to.CopyVal(static_cast<int32_t>(f), this, map[f]);
    }
    to.Add(kZorTblActInternal);
  }
  to.GetStocker()->SetRuid(&to, _stocker->GetRuid(this));
  ZorHandle saved;
  saved.Copy(to.GetDescHandle());
  to.Trash();
  Init(&saved, false);
  SetCurIndex(index);
  return true;
}

bool ZorTable::FastStructUpd(ZorTableDesc* newDesc) {
  ZorNotNull(newDesc, kSource);
  if (!_desc || !SameLayout(_desc.get(), newDesc)) return false;
  // The records stay in the store (a memory store writes them into the
  // new description when asked for it); only the description changes.
  _desc->BuildFromHdl(newDesc->GetHandle());
  if (GetFlags() & kZorTblTfRdOnly) _modeFlags |= kZorTblMfRdOnly;
  return true;
}

}  // namespace zorvane
