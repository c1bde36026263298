// ZorTableDesc: the field array and the per-field containers.
//
// Fields are the 48-byte elements of _fields, numbered from 1; a slot whose
// flags are 0 is free. The per-field container of field n sits at column n
// of line 3 of the description, so every operation that moves fields moves
// those columns with them.
#include <algorithm>
#include <cstring>

#include "tables/desc/desc_internal.h"
#include <zorvane/messages.h>
#include <zorvane/string.h>

namespace zorvane {

using namespace tdesc;
using platform::GetLE16;
using platform::GetLE32;
using platform::PutLE16;
using platform::PutLE32;

// ------------------------------------------------------------------ sZorTfi

void sZorTfi::LoadFrom(const void* bytes) {
  const auto* b = static_cast<const uint8_t*>(bytes);
  std::memcpy(name, b, kZorTfiNameSize);
  name[kZorTfiNameSize - 1] = 0;
  physType = b[26];
  logType = b[27];
  nature = b[28];
  reserved = b[29];
  flags = GetLE32(b + 30);
  len = GetLE16(b + 34);
  d1 = GetLE32(b + 36);
  d2 = GetLE32(b + 40);
  offset = GetLE16(b + 44);
  size = GetLE16(b + 46);
}

void sZorTfi::StoreTo(void* bytes) const {
  auto* b = static_cast<uint8_t*>(bytes);
  std::memcpy(b, name, kZorTfiNameSize);
  b[26] = physType;
  b[27] = logType;
  b[28] = nature;
  b[29] = reserved;
  PutLE32(b + 30, flags);
  PutLE16(b + 34, len);
  PutLE32(b + 36, d1);
  PutLE32(b + 40, d2);
  PutLE16(b + 44, offset);
  PutLE16(b + 46, size);
}
static_assert(kZorTfiNameSize + 4 + 4 + 2 + 4 + 4 + 2 + 2 == kZorTfiSize);

namespace {

void SetTfiName(sZorTfi* tfi, const char* text) { PutText(reinterpret_cast<uint8_t*>(tfi->name), kZorTfiNameSize, text); }

// A free slot: "Long"/"Entier", flags 0, named after entry 1 of list 110.
void FreeSlot(sZorTfi* tfi) {
  *tfi = sZorTfi();
  tfi->physType = kZorPhysTypeLong;
  tfi->logType = kZorLogTypeInt;
  string text;
  SetTfiName(tfi, ZorLoadString(kKernel, kListTables, kTxtDeleted, &text));
}

}  // namespace

// ------------------------------------------------------------------ access

int32_t ZorTableDesc::GetNbField() const { return _fields.IsInit() ? _fields.GetNbItem() : 0; }

bool ZorTableDesc::GetField(int32_t field, sZorTfi* out) const {
  if (field < 1 || field > GetNbField()) {
    *out = sZorTfi();
    return false;
  }
  uint8_t bytes[kZorTfiSize];
  {
    ZorLock pin;  // the array stays put for the copy; pinning changes no byte
    const_cast<ZorBGet&>(_fields).Lock(&pin);
    _fields.Get(field, bytes);
  }
  out->LoadFrom(bytes);
  return true;
}

bool ZorTableDesc::SetField(int32_t field, const sZorTfi* tfi) {
  if (field < 1 || field > GetNbField()) return false;
  uint8_t bytes[kZorTfiSize];
  tfi->StoreTo(bytes);
  ZorLock pin;
  _fields.Lock(&pin);
  _fields.Set(field, bytes);
  return true;
}

bool ZorTableDesc::FieldValid(int32_t field) const {
  sZorTfi tfi;
  return GetField(field, &tfi) && tfi.flags != 0;
}

int64_t ZorTableDesc::GetFid(int32_t field) const {
  return static_cast<int64_t>(static_cast<uint64_t>(GetTId()) & 0xFFFFFFFF00FF0000ull) | (field & 0xFFFF);
}

bool ZorTableDesc::_subGet(int32_t field, ZorDyna* out) const {
  _d.SubDyna(out, 0, kLineFieldSub, field, false);
  if (!out->IsInit()) out->Init();
  return out->GetNbItem(kZorDynaAnyKind) > 0;
}

void ZorTableDesc::_subSet(int32_t field, ZorDyna* sub) {
  if (!_d.IsInit()) _d.Init();
  _d.SetData(0, kLineFieldSub, field, sub->GetHandle());
}

// ------------------------------------------------------------------ adding

int32_t ZorTableDesc::AddField(const sZorTfi* tfi, int32_t position) {
  if (!_fields.IsInit()) _fields.Reset(0, kZorTfiSize);
  const int32_t n = GetNbField();
  uint8_t bytes[kZorTfiSize];
  tfi->StoreTo(bytes);
  int32_t at = 0;
  if (position == kZorTblFirstFree) {
    for (int32_t i = 1; i <= n && !at; ++i)
      if (!FieldValid(i)) at = i;
    if (at && _d.IsInit()) _d.Clear(0, 0, kLineFieldSub, kLineFieldSub, at, at);
  } else if (position >= 1 && position <= n) {
    DelField(position, false);
    at = position;
  } else if (position < 0 && -position <= n) {
    at = -position;
    _fields.Ins(at, bytes);
    if (_d.IsInit()) _d.InsColRange(0, 0, at, 1, kLineFieldSub, kLineFieldSub);
    return at;
  }
  if (!at) return _fields.Ins(0, bytes);
  _fields.Set(at, bytes);
  return at;
}

int32_t ZorTableDesc::AddField(const char* name, eZorPhysType phys, eZorLogType log, bool visible, int32_t length,
                               uint32_t flags, uint8_t nature, int32_t position) {
  sZorTfi tfi;
  string text;
  SetTfiName(&tfi, ZorLoadString(name, &text));
  tfi.physType = static_cast<uint8_t>(ZorSolvePhysType(phys));
  tfi.logType = static_cast<uint8_t>(log);
  // Always a slot in use, so that an invisible field without other flags
  // is not taken for a free slot.
  tfi.flags = (flags & ~(kZorTblFfVisible | kZorTblFfVisDir)) | kZorTblFfValid;
  if (visible) tfi.flags |= kZorTblFfVisible | kZorTblFfVisDir;
  tfi.len = static_cast<uint16_t>(std::clamp(length, 0, 0xFFFF));
  tfi.nature = nature;
  return AddField(&tfi, position);
}

int32_t ZorTableDesc::AddArray(const char* name, eZorPhysType phys, eZorLogType log, int32_t lines, int32_t columns,
                               bool visible, int32_t length, uint32_t flags, int32_t position) {
  const int32_t field = AddField(name, phys, log, visible, length, flags | kZorTblFfArray, 0, position);
  sZorTfi tfi;
  GetField(field, &tfi);
  tfi.d1 = static_cast<uint32_t>(std::max(lines, 0));
  tfi.d2 = static_cast<uint32_t>(std::max(columns, 0));
  SetField(field, &tfi);
  return field;
}

int32_t ZorTableDesc::AddField(int32_t templateId, const char* name, int32_t position) {
  sZorTfi tfi;
  if (!FillTfiFromTmpl(templateId, &tfi)) return 0;
  if (name && *name) {
    string text;
    SetTfiName(&tfi, ZorLoadString(name, &text));
  }
  return AddField(&tfi, position);
}

// ------------------------------------------------------------------ deleting, moving

bool ZorTableDesc::DelField(int32_t field, bool physically) {
  if (field < 1 || field > GetNbField()) return false;
  if (physically) {
    _fields.Del(field);
    if (_d.IsInit()) _d.DelColRange(0, 0, field, 1, kLineFieldSub, kLineFieldSub);
    return true;
  }
  if (!FieldValid(field)) return false;
  if (_d.IsInit()) _d.Clear(0, 0, kLineFieldSub, kLineFieldSub, field, field);
  sZorTfi tfi;
  FreeSlot(&tfi);
  return SetField(field, &tfi);
}

bool ZorTableDesc::SwapField(int32_t a, int32_t b) {
  const int32_t n = GetNbField();
  if (a < 1 || b < 1 || a > n || b > n) return false;
  if (a == b) return true;
  _fields.Swap(a, b);
  if (_d.IsInit()) _d.SwapColRange(0, 0, a, b, kLineFieldSub, kLineFieldSub);
  return true;
}

// ------------------------------------------------------------------ names and extras

const char* ZorTableDesc::GetFieldName(int32_t field, string* out, eZorNameType type) const {
  sZorTfi tfi;
  if (!GetField(field, &tfi)) return out->Clear();
  if (type == ZorNamePublic) return out->Assign(tfi.name);
  ZorDyna sub;
  _subGet(field, &sub);
  sub.GetData(0, 1, type, out);
  out->BufferCalcLen();
  return out->CStr();
}

bool ZorTableDesc::SetFieldName(int32_t field, const char* text, eZorNameType type) {
  sZorTfi tfi;
  if (!GetField(field, &tfi)) return false;
  if (type == ZorNamePublic) {
    string loaded;
    SetTfiName(&tfi, ZorLoadString(text, &loaded));
    return SetField(field, &tfi);
  }
  ZorDyna sub;
  _subGet(field, &sub);
  sub.SetData(0, 1, type, text);
  _subSet(field, &sub);
  return true;
}

int32_t ZorTableDesc::GetFieldId(const char* name, eZorNameType type) const {
  if (!name || !*name) return 0;
  string text;
  for (int32_t i = 1, n = GetNbField(); i <= n; ++i)
    if (FieldValid(i) && ZorStrICmp(GetFieldName(i, &text, type), name) == 0) return i;
  return 0;
}

bool ZorTableDesc::SetFieldVis(int32_t field, bool visible, bool visDir) {
  sZorTfi tfi;
  if (!GetField(field, &tfi) || !tfi.flags) return false;
  tfi.flags &= ~(kZorTblFfVisible | kZorTblFfVisDir);
  if (visible) tfi.flags |= kZorTblFfVisible | (visDir ? uint32_t{kZorTblFfVisDir} : 0u);
  return SetField(field, &tfi);
}

// D1 holds the linked table in 32 bits: module id << 8 | table number (the
// table id's bits 16-23); D2 the key field. Table id 0 removes the link.
bool ZorTableDesc::SetFieldLink(int32_t field, int64_t tableId, int32_t keyField) {
  sZorTfi tfi;
  if (!GetField(field, &tfi) || !tfi.flags) return false;
  if (tableId == 0) {
    tfi.flags &= ~kZorTblFfLink;
    tfi.d1 = tfi.d2 = 0;
  } else {
    tfi.flags |= kZorTblFfLink;
    tfi.d1 = static_cast<uint32_t>(static_cast<uint64_t>(tableId) >> 32) << 8 |
             static_cast<uint32_t>((tableId >> 16) & 0xFF);
    tfi.d2 = static_cast<uint32_t>(keyField);
  }
  return SetField(field, &tfi);
}

bool ZorTableDesc::SetFieldAlias(int32_t field, int32_t source, int32_t destination) {
  sZorTfi tfi;
  if (!GetField(field, &tfi) || !tfi.flags) return false;
  if (source <= 0) {
    tfi.flags &= ~kZorTblFfAlias;
    tfi.d1 = tfi.d2 = 0;
  } else {
    tfi.flags |= kZorTblFfAlias;
    tfi.d1 = static_cast<uint32_t>(source);
    tfi.d2 = static_cast<uint32_t>(destination);
  }
  return SetField(field, &tfi);
}

int32_t ZorTableDesc::GetFieldVPrec(int32_t field) const {
  if (field < 1 || field > GetNbField()) return 0;
  ZorDyna sub;
  _subGet(field, &sub);
  int32_t v = 0;
  sub.GetData(0, 1, kSubVPrec, &v);
  return v;
}

bool ZorTableDesc::SetFieldVPrec(int32_t field, int32_t vprec) {
  if (!FieldValid(field)) return false;
  ZorDyna sub;
  _subGet(field, &sub);
  sub.SetData(0, 1, kSubVPrec, vprec);
  _subSet(field, &sub);
  return true;
}

const char* ZorTableDesc::GetFieldScript(int32_t field, string* out) const {
  if (!FieldValid(field)) return out->Clear();
  ZorDyna sub;
  _subGet(field, &sub);
  sub.GetData(0, 1, kSubScript, out);
  out->BufferCalcLen();
  return out->CStr();
}

bool ZorTableDesc::SetFieldScript(int32_t field, const char* script) {
  if (!FieldValid(field)) return false;
  ZorDyna sub;
  _subGet(field, &sub);
  sub.SetData(0, 1, kSubScript, script);
  _subSet(field, &sub);
  return true;
}

// A field's family is its nature.
int32_t ZorTableDesc::FieldFamGetSet(int32_t field, int32_t family) {
  sZorTfi tfi;
  if (!GetField(field, &tfi) || !tfi.flags) return -1;
  if (family >= 0 && family <= 0xFF) {
    tfi.nature = static_cast<uint8_t>(family);
    SetField(field, &tfi);
  }
  return tfi.nature;
}

int32_t ZorTableDesc::FieldFamGetList(int32_t family, ZorBGet* out) const {
  out->Reset(0, 4);
  sZorTfi tfi;
  for (int32_t i = 1, n = GetNbField(); i <= n; ++i) {
    GetField(i, &tfi);
    if (!tfi.flags || tfi.nature != family) continue;
    uint8_t b[4];
    PutLE32(b, static_cast<uint32_t>(i));
    out->Ins(0, b);
  }
  return out->GetNbItem();
}

}  // namespace zorvane
