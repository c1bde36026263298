// ZorTableDesc: life cycle, the container's load and write-back, and the
// header accessors. The header lives in _hdr in its stored layout; every
// accessor reads or writes its bytes little-endian.
#include <cstring>

#include "foundation/errors/raise.h"
#include "tables/desc/desc_internal.h"
#include <zorvane/messages.h>
#include <zorvane/module.h>
#include <zorvane/resource.h>
#include <zorvane/string.h>
#include <zorvane/uuid.h>

namespace zorvane {

using namespace tdesc;
using platform::GetLE16;
using platform::GetLE32;
using platform::GetLE64;
using platform::PutLE16;
using platform::PutLE32;
using platform::PutLE64;

ZorTableDesc::ZorTableDesc() = default;
ZorTableDesc::~ZorTableDesc() { Trash(); }

void ZorTableDesc::Trash() {
  _init = false;
  std::memset(_hdr, 0, sizeof _hdr);
  _fields.Trash();
  _idx.Trash();
  _d.Trash();
}

// Reads the header, the field array and the index container out of _d.
void ZorTableDesc::_load() {
  _d.GetData(0, kLineHeader, 1, kZorTblHdrSize, _hdr);
  _fields.Reset(0, kZorTfiSize);
  ZorHandle raw;
  if (_d.GetData(0, kLineFields, 1, &raw)) {
    // A tail shorter than one descriptor is dropped.
    const uint32_t n = raw.GetSize() / kZorTfiSize;
    _fields.SetNbItem(static_cast<int32_t>(n), true);
    if (n) {
      std::memcpy(_fields.Lock(), raw.GetDatas(), n * kZorTfiSize);
      _fields.Unlock();
    }
  }
  _idx.Init();
  _d.SubDyna(&_idx, 0, kLineIndexes, 1, false);
  if (!_idx.IsInit()) _idx.Init();
  _init = true;
}

void ZorTableDesc::_flush() {
  if (!_d.IsInit()) _d.Init();
  _d.SetData(0, kLineHeader, 1, kZorTblHdrSize, _hdr);
  _d.SetData(0, kLineFields, 1, _fields.GetHandle());
  _d.SetData(0, kLineIndexes, 1, _idx.GetHandle());
}

void ZorTableDesc::Create(eZorTblType type, int64_t typeId) {
  Trash();
  _d.Init();
  _load();
  PutLE32(_hdr + kHdrVersion, kZorTblHdrVersion);
  PutLE32(_hdr + kHdrStorage, kZorTblStorMemory);
  PutLE32(_hdr + kHdrType, static_cast<uint32_t>(type));
  string text;
  _setHdrText(kHdrName, kNameSize, ZorLoadString(kKernel, kListTables, kTxtNewTable, &text));
  int32_t abr = kTxtTableAbr, prefix = kTxtTablePrefix;
  if (type == kZorTblTypeTask || type == kZorTblTypeEnum) {
    const bool task = type == kZorTblTypeTask;
    PutLE64(_hdr + kHdrTid, task ? 0x10000u : 0x20000u);
    PutLE64(_hdr + kHdrTypeId, static_cast<uint64_t>(typeId));
    abr = task ? kTxtTaskAbr : kTxtEnumAbr;
    prefix = task ? kTxtTaskPrefix : kTxtEnumPrefix;
    if (task) PutLE32(_hdr + kHdrFlags, kZorTblTfRdOnly | kZorTblTfBuffOnly);
    else _d.SetDataUuid(kEnumUuidKind, kEnumUuidLine, kEnumUuidCol, ZorUuid::S_New());
  } else {
    PutLE64(_hdr + kHdrTid, static_cast<uint64_t>(typeId));
  }
  _setHdrText(kHdrAbrName, kNameSize, ZorLoadString(kKernel, kListTables, abr, &text));
  _setHdrText(kHdrCPrefix, kTagSize, ZorLoadString(kKernel, kListTables, prefix, &text));
  _fillModuleTag();
}

// The owning module is the high half of the type id for tasks and
// enumerations, of the table id otherwise; its developer name (by default
// its registered name) cut to 5 characters, or "Mem".
void ZorTableDesc::_fillModuleTag() {
  const eZorTblType type = GetType();
  const int64_t owner = (type == kZorTblTypeTask || type == kZorTblTypeEnum) ? GetTypeId() : GetTId();
  const int32_t module = static_cast<int32_t>(owner >> 32);
  string name;
  if (module > 0) ZorGetModuleName(module, ZorNameDev, &name);
  if (name.IsEmpty()) ZorLoadString(kKernel, kListTables, kTxtNoModuleTag, &name);
  _setHdrText(kHdrModTag, kTagSize, name.CStr());
}

void ZorTableDesc::BuildFromHdl(const ZorHandle* h) {
  Trash();
  _d.Init();
  if (h && h->GetSize()) _d.GetHandle()->Init(h->GetDatas(), h->GetSize());
  // Outside bytes may hold a cell twice: the first is the one read, and a
  // write that changes its size moves it behind the second, which would then
  // be read back. Shadowed cells (and unreachable tails) go at once.
  _d.Dut(true);
  _load();
}

bool ZorTableDesc::BuildFromRsrc(int64_t tableId) {
  const int32_t module = static_cast<int32_t>(tableId >> 32);
  if (module < 1) ZorRaise({kSource, 214}, ZorErr(1, 41));
  ZorRsrc rsrc;
  if (!rsrc.Init(ZorRsrcTableDesc, module, static_cast<int32_t>((tableId >> 16) & 0xFF), ZorRsrcQuiet)) {
    Trash();
    return false;
  }
  BuildFromHdl(rsrc.GetHandle());
  return true;
}

ZorHandle* ZorTableDesc::GetHandle() {
  _flush();
  return _d.GetHandle();
}

void ZorTableDesc::FillDescHdl(ZorHandle* out) {
  const ZorHandle* h = GetHandle();
  out->Init(h->GetDatas(), h->GetSize());
}

// ------------------------------------------------------------------ header

void ZorTableDesc::_setHdrText(uint32_t offset, uint32_t size, const char* text) {
  PutText(_hdr + offset, size, text);
}

int64_t ZorTableDesc::GetTId() const { return Get64s(_hdr + kHdrTid); }
void ZorTableDesc::SetTId(int64_t tid, bool fillTag) {
  PutLE64(_hdr + kHdrTid, static_cast<uint64_t>(tid));
  if (fillTag) _fillModuleTag();
}
eZorTblType ZorTableDesc::GetType() const { return static_cast<eZorTblType>(GetLE32(_hdr + kHdrType)); }
int64_t ZorTableDesc::GetTypeId() const { return Get64s(_hdr + kHdrTypeId); }
void ZorTableDesc::SetTypeId(int64_t id) { PutLE64(_hdr + kHdrTypeId, static_cast<uint64_t>(id)); }
eZorTblStor ZorTableDesc::GetStorage() const { return static_cast<eZorTblStor>(GetLE32(_hdr + kHdrStorage)); }
void ZorTableDesc::SetStorage(eZorTblStor s) { PutLE32(_hdr + kHdrStorage, static_cast<uint32_t>(s)); }
uint32_t ZorTableDesc::GetFlags() const { return GetLE32(_hdr + kHdrFlags); }
void ZorTableDesc::SetFlags(uint32_t flags) { PutLE32(_hdr + kHdrFlags, flags); }

const char* ZorTableDesc::GetName(string* out, eZorNameType type) const {
  if (type == ZorNamePublic || type == ZorNameCId) {
    const uint32_t at = type == ZorNamePublic ? kHdrName : kHdrCPrefix;
    const uint32_t size = type == ZorNamePublic ? kNameSize : kTagSize;
    return out->Assign(reinterpret_cast<const char*>(_hdr + at), static_cast<int32_t>(TextLen(_hdr + at, size)));
  }
  _d.GetData(0, kLineNames, type, out);
  out->BufferCalcLen();
  return out->CStr();
}

void ZorTableDesc::SetName(const char* text, eZorNameType type) {
  if (type == ZorNamePublic) return _setHdrText(kHdrName, kNameSize, text);
  if (type == ZorNameCId) return _setHdrText(kHdrCPrefix, kTagSize, text);
  if (!_d.IsInit()) _d.Init();
  _d.SetData(0, kLineNames, type, text);
}

const char* ZorTableDesc::GetAbrName(string* out) const {
  return out->Assign(reinterpret_cast<const char*>(_hdr + kHdrAbrName),
                     static_cast<int32_t>(TextLen(_hdr + kHdrAbrName, kNameSize)));
}
void ZorTableDesc::SetAbrName(const char* text) { _setHdrText(kHdrAbrName, kNameSize, text); }
const char* ZorTableDesc::GetModuleTag(string* out) const {
  return out->Assign(reinterpret_cast<const char*>(_hdr + kHdrModTag),
                     static_cast<int32_t>(TextLen(_hdr + kHdrModTag, kTagSize)));
}

int32_t ZorTableDesc::GetStructRelease() const { return Get32s(_hdr + kHdrRelease); }
int32_t ZorTableDesc::GetHdrVersion() const { return Get32s(_hdr + kHdrVersion); }
void ZorTableDesc::SetStructRelease(int32_t release) {
  if (release < 0) release = static_cast<int32_t>(static_cast<uint32_t>(GetStructRelease()) + 1u);
  PutLE32(_hdr + kHdrRelease, static_cast<uint32_t>(release));
}

int32_t ZorTableDesc::GetMaxData(const int32_t* newValue) {
  if (newValue) PutLE32(_hdr + kHdrMaxData, static_cast<uint32_t>(*newValue < 0 ? 0 : *newValue));
  return Get32s(_hdr + kHdrMaxData);
}

int32_t ZorTableDesc::GetRecNameFid(int32_t which) const {
  if (which < 1 || which > 3) return 0;
  return Get32s(_hdr + kHdrRecName + 4 * static_cast<uint32_t>(which - 1));
}
void ZorTableDesc::SetRecNameFid(int32_t f1, int32_t f2, int32_t f3) {
  PutLE32(_hdr + kHdrRecName, static_cast<uint32_t>(f1));
  PutLE32(_hdr + kHdrRecName + 4, static_cast<uint32_t>(f2));
  PutLE32(_hdr + kHdrRecName + 8, static_cast<uint32_t>(f3));
}

int32_t ZorTableDesc::GetHandlerModId() const { return Get32s(_hdr + kHdrHandlerMod); }
void ZorTableDesc::SetHandlerModId(int32_t m) { PutLE32(_hdr + kHdrHandlerMod, static_cast<uint32_t>(m)); }
int32_t ZorTableDesc::GetHilFid() const { return Get16s(_hdr + kHdrHilFid); }
void ZorTableDesc::SetHilFid(int32_t f) { PutLE16(_hdr + kHdrHilFid, static_cast<uint16_t>(f)); }
int32_t ZorTableDesc::GetUniqueIdFid() const { return GetLE16(_hdr + kHdrUnicFid); }
int32_t ZorTableDesc::GetNbBlobRef() const { return Get16s(_hdr + kHdrNbBlobRef); }

int64_t ZorTableDesc::GetStdFidFamEnumId(int32_t family) const {
  int64_t id = 0;
  _d.GetDataQuad(0, kLineFamilies, family, &id);
  return id;
}
void ZorTableDesc::SetStdFidFamEnumId(int32_t family, int64_t enumId) {
  if (!_d.IsInit()) _d.Init();
  _d.SetDataQuad(0, kLineFamilies, family, enumId);
}

int64_t ZorTableDesc::GetLinkedWsId() const { return Get64s(_hdr + kHdrLinkedWs); }
void ZorTableDesc::SetLinkedWsId(int64_t id) { PutLE64(_hdr + kHdrLinkedWs, static_cast<uint64_t>(id)); }
int64_t ZorTableDesc::GetLinkedEngId() const { return Get64s(_hdr + kHdrLinkedEng); }
void ZorTableDesc::SetLinkedEngId(int32_t low, int32_t high) {
  const uint64_t v = high == 0 ? 0 : (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 | static_cast<uint32_t>(low));
  PutLE64(_hdr + kHdrLinkedEng, v);
}

bool ZorTableDesc::GetEnumUuid(ZorUuid* out) const {
  return _d.GetDataUuid(kEnumUuidKind, kEnumUuidLine, kEnumUuidCol, out);
}

// Older headers are brought to version 3 as they stand: the fields a newer
// version added are zero there, which is their meaning of "none", and
// validation recomputes everything derived.
bool ZorTableDesc::_UpgradeTD() {
  if (GetLE32(_hdr + kHdrVersion) >= kZorTblHdrVersion) return false;
  PutLE32(_hdr + kHdrVersion, kZorTblHdrVersion);
  Validate();
  return true;
}

}  // namespace zorvane
