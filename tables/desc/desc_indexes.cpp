// ZorTableDesc: index definitions. Index i is line i of the index container
// (_idx): column 1 its 80-byte sZorKey, column 3 its name, column 4 a 32-bit
// value kept for the caller. Part offsets, part counts and the total length
// are derived data: CalIndexs recomputes them from the part fields.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "tables/desc/desc_internal.h"
#include <zorvane/format.h>
#include <zorvane/messages.h>
#include <zorvane/string.h>

namespace zorvane {

using namespace tdesc;
using platform::PutLE16;
using platform::PutLE32;

int32_t ZorTableDesc::GetNbIndex() const {
  if (!_idx.IsInit()) return 0;
  return std::min(_idx.GetDim(0), kZorTblMaxIndex);
}

bool ZorTableDesc::GetIndex(int32_t index, sZorKey* out) const {
  *out = sZorKey();
  if (index < 1 || index > GetNbIndex()) return false;
  uint8_t bytes[kZorKeyStoredSize];
  _idx.GetData(0, index, kIdxKey, kZorKeyStoredSize, bytes);
  out->LoadFrom(bytes);
  return true;
}

void ZorTableDesc::_storeIndex(int32_t index, const sZorKey& key) {
  uint8_t bytes[kZorKeyStoredSize];
  key.StoreTo(bytes);
  _idx.SetData(0, index, kIdxKey, kZorKeyStoredSize, bytes);
}

bool ZorTableDesc::SetIndex(int32_t index, const sZorKey* key) {
  if (index < 1 || index > GetNbIndex()) return false;
  _storeIndex(index, *key);
  return true;
}

int32_t ZorTableDesc::AddIndex(int32_t position) {
  if (!_idx.IsInit()) _idx.Init();
  const int32_t n = GetNbIndex();
  if (n >= kZorTblMaxIndex) return 0;
  int32_t at = n + 1;
  if (position >= 1 && position <= n) {
    at = position;
    _idx.InsLine(0, at, 1);
    const int32_t def = GetDefIndex();
    if (def >= at) PutLE16(_hdr + kHdrDefIndex, static_cast<uint16_t>(def + 1));
  }
  _storeIndex(at, sZorKey());
  string name;
  _idx.SetData(0, at, kIdxName, ZorFormString(&name, kKernel, kListTables, kTxtIndexName, at));
  return at;
}

bool ZorTableDesc::DelIndex(int32_t index, bool recalc) {
  if (index < 1 || index > GetNbIndex()) return false;
  _idx.DelLine(0, index, 1);
  const int32_t def = GetDefIndex();
  if (def == index) PutLE16(_hdr + kHdrDefIndex, 0);
  else if (def > index) PutLE16(_hdr + kHdrDefIndex, static_cast<uint16_t>(def - 1));
  if (recalc) CalIndexs();
  return true;
}

bool ZorTableDesc::SwapIndex(int32_t a, int32_t b) {
  const int32_t n = GetNbIndex();
  if (a < 1 || b < 1 || a > n || b > n) return false;
  _idx.SwapLine(0, a, b);
  const int32_t def = GetDefIndex();
  if (def == a || def == b) PutLE16(_hdr + kHdrDefIndex, static_cast<uint16_t>(def == a ? b : a));
  return true;
}

namespace {

void ClearPart(sZorKey* k, int32_t p) {
  k->partType[p] = 0;
  k->partLen[p] = 0;
  k->partOffset[p] = 0;
  k->partField[p] = 0;
}

void MovePart(sZorKey* k, int32_t to, int32_t from) {
  k->partType[to] = k->partType[from];
  k->partLen[to] = k->partLen[from];
  k->partOffset[to] = k->partOffset[from];
  k->partField[to] = k->partField[from];
}

}  // namespace

// Parts are 1..9; -p inserts before p (part 9 is lost); p + 1000 removes p.
bool ZorTableDesc::SetSubIndex(int32_t index, int32_t part, int32_t field, int32_t length) {
  sZorKey key;
  if (!GetIndex(index, &key)) return false;
  if (part > 1000) {
    const int32_t p = part - 1000;
    if (p > kZorKeyMaxParts) return false;
    for (int32_t i = p - 1; i < kZorKeyMaxParts - 1; ++i) MovePart(&key, i, i + 1);
    ClearPart(&key, kZorKeyMaxParts - 1);
    _storeIndex(index, key);
    return true;
  }
  const bool insert = part < 0;
  const int32_t p = insert ? -part : part;
  if (p < 1 || p > kZorKeyMaxParts) return false;
  if (insert) {
    for (int32_t i = kZorKeyMaxParts - 1; i >= p; --i) MovePart(&key, i, i - 1);
    ClearPart(&key, p - 1);
  }
  sZorTfi tfi;
  if (field >= 0) {
    GetField(field, &tfi);
    key.partField[p - 1] = static_cast<int16_t>(field);
    key.partType[p - 1] = static_cast<uint8_t>(ZorSolvePhysType(static_cast<eZorPhysType>(tfi.physType)));
  } else {
    GetField(key.partField[p - 1], &tfi);
  }
  if (length < 1) length = ZorGetIndexDefSize(key.partType[p - 1], tfi.len);
  key.partLen[p - 1] = static_cast<uint8_t>(std::clamp(length, 0, 255));
  _storeIndex(index, key);
  return true;
}

int32_t ZorTableDesc::GetSubIndex(int32_t index, int32_t part, int32_t* length, uint32_t* value) const {
  sZorKey key;
  const bool ok = GetIndex(index, &key) && part >= 1 && part <= kZorKeyMaxParts;
  if (length) *length = ok ? key.partLen[part - 1] : 0;
  if (value) {
    int32_t v = 0;
    if (ok) _idx.GetData(0, index, kIdxValue, &v);
    *value = static_cast<uint32_t>(v);
  }
  return ok ? key.partField[part - 1] : 0;
}

bool ZorTableDesc::SetIndexName(int32_t index, const char* name) {
  if (index < 1 || index > GetNbIndex()) return false;
  _idx.SetData(0, index, kIdxName, name);
  return true;
}

const char* ZorTableDesc::GetIndexName(int32_t index, string* out) const {
  if (index >= kZorTblIndexDef && index <= kZorTblIndexSeq)
    return ZorLoadString(kKernel, kListTables, kTxtIndexDef + (index - kZorTblIndexDef), out);
  if (index > GetNbIndex()) return ZorLoadString(kKernel, kListTables, kTxtIndexNone, out);
  _idx.GetData(0, index, kIdxName, out);
  out->BufferCalcLen();
  return out->CStr();
}

bool ZorTableDesc::SetIndexFlag(int32_t index, uint32_t value) {
  if (index < 1 || index > GetNbIndex()) return false;
  _idx.SetData(0, index, kIdxValue, static_cast<int32_t>(value));
  return true;
}

bool ZorTableDesc::IsIndexable(int32_t field) const {
  sZorTfi tfi;
  if (!GetField(field, &tfi)) return false;
  return tfi.size != 0 && tfi.physType != kZorPhysTypeBlob && tfi.physType != kZorPhysTypeBlobRef &&
         (tfi.logType < kZorLogTypeData || tfi.logType > kZorLogTypePassWord) && (tfi.flags & kZorTblFfValid) &&
         !(tfi.flags & kZorTblFfNotIndexable);
}

int32_t ZorTableDesc::GetIndexableList(ZorBGet* out) const {
  out->Reset(0, 4);
  for (int32_t i = 1, n = GetNbField(); i <= n; ++i) {
    if (!IsIndexable(i)) continue;
    uint8_t b[4];
    PutLE32(b, static_cast<uint32_t>(i));
    out->Ins(0, b);
  }
  return out->GetNbItem();
}

int32_t ZorTableDesc::GetDefIndex() const { return Get16s(_hdr + kHdrDefIndex); }

bool ZorTableDesc::SetDefIndex(int32_t index) {
  if (index < 0 || index > GetNbIndex()) return false;
  PutLE16(_hdr + kHdrDefIndex, static_cast<uint16_t>(index));
  return true;
}

void ZorTableDesc::CalIndexs() {
  const int32_t n = GetNbIndex();
  for (int32_t i = 1; i <= n; ++i) {
    sZorKey key;
    GetIndex(i, &key);
    key.nbPart = 0;
    key.nbPart2 = 0;
    key.keyLen = 0;
    std::fill(std::begin(key.partOffset), std::end(key.partOffset), 0u);
    for (int32_t p = 0; p < kZorKeyMaxParts; ++p) {
      sZorTfi tfi;
      const int32_t f = key.partField[p];
      if (!GetField(f, &tfi) || !tfi.flags) break;
      ++key.nbPart;
      ++key.nbPart2;
      key.keyLen = static_cast<uint8_t>(key.keyLen + key.partLen[p]);
      key.partOffset[p] = tfi.offset;
      tfi.flags |= kZorTblFfIndexed;
      SetField(f, &tfi);
    }
    _storeIndex(i, key);
  }
  PutLE16(_hdr + kHdrNbIndex, static_cast<uint16_t>(n));
}

}  // namespace zorvane
