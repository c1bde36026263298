// ZorTable: opening and closing, the record buffer, the storage object and
// the handler, the description accessors, and the table lock.
//
// The record size is the end of the field that ends last (a stored
// description need not list its fields in offset order, and a record read
// from outside must never be addressed past its buffer). Index definitions
// are copied from the description once, at open.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tables/cursor/table_internal.h"
#include "tables/desc/desc_internal.h"
#include <zorvane/cell_container.h>
#include <zorvane/database.h>
#include <zorvane/exception.h>
#include <zorvane/string.h>

namespace zorvane {

using namespace tcur;

namespace {
// Room before the record for its leading word, keeping the record aligned.
constexpr size_t kLeadRoom = 8;
}  // namespace

ZorTable::ZorTable() = default;

ZorTable::~ZorTable() {
  try {
    Trash();
  } catch (...) {
    // A store failing to detach must not escape a destructor.
  }
}

bool ZorTable::IsInit() const { return _desc != nullptr; }

void ZorTable::Open(ZorDBase* dba, int64_t tableId, int32_t p1, int32_t p2, int32_t p3, int32_t, int64_t p5) {
  if (!dba) dba = ZorGetCurDBase();
  Trash();
  ZorHandle stored;
  if (!dba || !dba->GetTableHandle(tableId, &stored)) {
    ZorRaise(kSource, ZorErr(1, kErrNoTable), nullptr, {kListTables, kTxtNotInBase}, TableNumber(tableId),
             TableModule(tableId));
  }
  auto desc = std::make_unique<ZorTableDesc>();
  desc->BuildFromHdl(&stored);
  _dba = dba;
  _multiLang = dba->IsMultiLang(-1);
  _desc = std::move(desc);
  _initFromDesc(false);
  _stocker->ShRefresh(this, true, p1, p2, p3, p5);
}

void ZorTable::OpenR(ZorDBase* dba, int64_t tableId, int32_t p1, int32_t p2, int32_t p3, int32_t, int64_t p5) {
  if (!dba) dba = ZorGetCurDBase();
  Trash();
  auto desc = std::make_unique<ZorTableDesc>();
  if (!desc->BuildFromRsrc(tableId)) {
    ZorRaise(kSource, ZorErr(1, kErrNoTable), nullptr, {kListTables, kTxtNotInBase}, TableNumber(tableId),
             TableModule(tableId));
  }
  _dba = dba;
  _multiLang = dba && dba->IsMultiLang(-1);
  _desc = std::move(desc);
  _initFromDesc(false);
  _stocker->ShRefresh(this, true, p1, p2, p3, p5);
}

void ZorTable::Init(const ZorHandle* description, bool noHandler) {
  Trash();
  auto desc = std::make_unique<ZorTableDesc>();
  desc->BuildFromHdl(description);
  _desc = std::move(desc);
  _initFromDesc(noHandler);
  _stocker->ShRefresh(this, true, 0, 0, 0, 0);
}

void ZorTable::Init(ZorTableDesc* description) {
  ZorNotNull(description, kSource);
  Init(description->GetHandle(), false);
}

void ZorTable::_initFromDesc(bool noHandler) {
  _curIndex = GetDefIndex();
  _curN = 0;
  _curUD = _lastUD = 0;
  _dynaState = 0;
  _dynaChanged = false;
  _mode = kZorTblModeFull;
  _modeFlags = (GetFlags() & kZorTblTfRdOnly) ? uint32_t{kZorTblMfRdOnly} : 0u;
  _dyna = std::make_unique<ZorDyna>();
  _dyna->Init();
  try {
    // The buffer first: a store reads the record size and the index
    // definitions when it attaches.
    _allocBuffer();
    _chooseStocker();
    _attachHandler(noHandler);
  } catch (...) {
    Trash();
    throw;
  }
}

void ZorTable::_chooseStocker() {
  eZorTblStor storage = GetStorage();
  ZorTableStocker* stocker = nullptr;
  if (storage == kZorTblStorVirtual) {
    stocker = new ZorTableStocker();
  } else if (storage == kZorTblStorDoc || storage == kZorTblStorMemory || !_dba) {
    if (storage != kZorTblStorDoc && storage != kZorTblStorMemory) _desc->SetStorage(kZorTblStorMemory);
    stocker = new ZorTSMem();
  } else {
    stocker = _dba->GetStocker(this);
  }
  _stocker = stocker;
  _ownsStocker = true;
  _stocker->ShOpen(this);
}

void ZorTable::_allocBuffer() {
  uint32_t size = 0;
  sZorTfi tfi;
  for (int32_t i = 1, n = GetNbField(); i <= n; ++i) {
    if (_desc->GetField(i, &tfi)) size = std::max<uint32_t>(size, uint32_t{tfi.offset} + tfi.size);
  }
  _recSize = size;
  const int32_t nbIndex = GetNbIndex();
  // [8 bytes: the leading word at 4..7][record][index definitions]
  const size_t recordBytes = (std::max<uint32_t>(size, 1) + 7u) & ~size_t{7};
  _block = std::calloc(1, kLeadRoom + recordBytes + sizeof(sZorKey) * static_cast<size_t>(nbIndex));
  if (!_block) throw std::bad_alloc();
  _rec = static_cast<uint8_t*>(_block) + kLeadRoom;
  _keys = reinterpret_cast<sZorKey*>(_rec + recordBytes);
  for (int32_t i = 1; i <= nbIndex; ++i) _desc->GetIndex(i, new (&_keys[i - 1]) sZorKey());

  _nbBlobs = 0;
  for (int32_t i = 1, n = GetNbField(); i <= n; ++i) {
    if (_desc->GetField(i, &tfi) && tfi.physType == kZorPhysTypeBlobRef && tfi.size == 4) ++_nbBlobs;
  }
  if (_nbBlobs == 0) return;
  _blobs = new BlobSlot[_nbBlobs];
  int32_t slot = 0;
  for (int32_t i = 1, n = GetNbField(); i <= n; ++i) {
    if (_desc->GetField(i, &tfi) && tfi.physType == kZorPhysTypeBlobRef && tfi.size == 4) {
      _blobs[slot++].field = static_cast<uint16_t>(i);
    }
  }
}

void ZorTable::_attachHandler(bool noHandler) {
  _handler = nullptr;
  if (!noHandler && !(GetFlags() & kZorTblTfNoHandler)) {
    int32_t module = _desc->GetHandlerModId();
    if (module == 0) module = TableModule(GetTId());
    _handler = ZorGetTableHandler(module);
    if (_handler) _handler->Open(this);
  }
  if (GetStorage() != kZorTblStorVirtual) return;
  ZorTableStocker* virt = _handler ? _handler->GetVirtStocker(this) : nullptr;
  if (!virt) {
    _modeFlags |= kZorTblMfRdOnly;
    return;
  }
  _stocker->ShClose(this);
  delete _stocker;
  _stocker = virt;
  _stocker->ShOpen(this);
}

void ZorTable::Trash() {
  if (!_desc) return;
  ZorTableHandler* handler = _handler;
  ZorTableStocker* stocker = _stocker;
  _handler = nullptr;
  _stocker = nullptr;
  if (handler) handler->Close(this);
  if (stocker) {
    // The memory store saves into the description, which goes next.
    stocker->ShClose(this);
    if (_ownsStocker) delete stocker;
  }
  delete[] _blobs;
  _blobs = nullptr;
  _nbBlobs = 0;
  std::free(_block);
  _block = nullptr;
  _rec = nullptr;
  _keys = nullptr;
  _recSize = 0;
  _dyna.reset();
  _sel.reset();
  _desc.reset();
  _dba = _linkedDba = nullptr;
  _multiLang = false;
  _curN = _curIndex = 0;
  _curUD = _lastUD = 0;
  _mode = kZorTblModeFull;
  _rangeOffset = _rangeCount = 0;
  _modeFlags = 0;
  _lockDepth = 0;
}

void ZorTable::Refresh() {
  if (!_desc) return;
  _stocker->ShRefresh(this, false, 0, 0, 0, 0);
  if (_curUD && !ReadUD(_curUD)) Clear();
}

// ------------------------------------------------------------------ lock

void* ZorTable::Lock(ZorLock* guard) {
  if (!_desc) ZorRaiseBadParam(kSource);
  _stocker->PrimTransac(this, true, _lockDepth + 1);
  ++_lockDepth;
  if (guard) guard->Init(this);
  return this;
}

void ZorTable::Unlock() { _unlock(false); }
void ZorTable::EndTransaction() { _unlock(true); }

void ZorTable::_unlock(bool raise) {
  if (_lockDepth <= 0) return;
  --_lockDepth;
  if (!_stocker) return;
  try {
    _stocker->PrimTransac(this, false, _lockDepth);
  } catch (const ZorEBasic& e) {
    if (raise) throw;
    ZorDebugPrintExc(&e);
  }
}

// ------------------------------------------------------------------ description

const ZorTableDesc* ZorTable::GetDesc() const { return _desc.get(); }
ZorTableDesc* ZorTable::GetDesc() { return _desc.get(); }

ZorDyna* ZorTable::GetDescDyna() {
  if (!_desc) return nullptr;
  return &ZorTableDescAccess::Cells(_desc.get());
}

ZorHandle* ZorTable::GetDescHandle() {
  if (!_desc) return nullptr;
  if (auto* mem = dynamic_cast<ZorTSMem*>(_stocker)) mem->SaveInto(this);
  return _desc->GetHandle();
}

int32_t ZorTable::GetNbField() const { return _desc ? _desc->GetNbField() : 0; }

const char* ZorTable::GetName(string* out, eZorNameType type) const {
  ZorNotNull(out, kSource);
  if (!_desc) {
    out->Clear();
    return out->CStr();
  }
  return _desc->GetName(out, type);
}

void ZorTable::SetName(const char* text, eZorNameType type) {
  if (_desc) _desc->SetName(text, type);
}

const char* ZorTable::GetAbrName(string* out) const {
  ZorNotNull(out, kSource);
  if (!_desc) {
    out->Clear();
    return out->CStr();
  }
  return _desc->GetAbrName(out);
}

uint32_t ZorTable::GetFlags() const { return _desc ? _desc->GetFlags() : 0; }
void ZorTable::SetFlags(uint32_t flags) {
  if (!_desc) return;
  _desc->SetFlags(flags);
  if (flags & kZorTblTfRdOnly) _modeFlags |= kZorTblMfRdOnly;
}
int32_t ZorTable::GetStructRelease() const { return _desc ? _desc->GetStructRelease() : 0; }
int64_t ZorTable::GetTId() const { return _desc ? _desc->GetTId() : 0; }
eZorTblType ZorTable::GetType() const { return _desc ? _desc->GetType() : kZorTblTypeStd; }
int64_t ZorTable::GetTypeId() const { return _desc ? _desc->GetTypeId() : 0; }
eZorTblStor ZorTable::GetStorage() const { return _desc ? _desc->GetStorage() : eZorTblStor{}; }
int32_t ZorTable::GetDefIndex() const { return _desc ? _desc->GetDefIndex() : 0; }
int32_t ZorTable::GetNbIndex() const { return _desc ? _desc->GetNbIndex() : 0; }
int32_t ZorTable::GetUniqueIdField() const { return _desc ? _desc->GetUniqueIdFid() : 0; }

const char* ZorTable::GetIndexName(int32_t index, string* out) const {
  ZorNotNull(out, kSource);
  if (!_desc) {
    out->Clear();
    return out->CStr();
  }
  return _desc->GetIndexName(index, out);
}

bool ZorTable::GetIndexInfo(int32_t index, sZorKey* out) const {
  ZorNotNull(out, kSource);
  if (!_desc || index < 1 || index > GetNbIndex()) {
    *out = sZorKey();
    return false;
  }
  *out = _keys[index - 1];
  return true;
}

int32_t ZorTable::GetKeyLen(int32_t index) const {
  if (!_desc || index < 1 || index > GetNbIndex()) return 0;
  return _keys[index - 1].keyLen;
}

void ZorTable::BuildKey(int32_t index, const void* record, void* out) const {
  if (!_desc || index < 1 || index > GetNbIndex()) ZorRaiseBadParam(kSource);
  ZorBuildIndex(&_keys[index - 1], record ? record : _rec, _recSize, out);
}

const char* ZorTable::GetFieldName(int32_t field, string* out, eZorNameType type) const {
  ZorNotNull(out, kSource);
  if (!_desc) {
    out->Clear();
    return out->CStr();
  }
  return _desc->GetFieldName(field, out, type);
}

bool ZorTable::GetField(int32_t field, sZorTfi* out) const {
  ZorNotNull(out, kSource);
  if (!_desc) {
    *out = sZorTfi();
    return false;
  }
  return _desc->GetField(field, out);
}

eZorLogType ZorTable::GetFieldLogType(int32_t field) const {
  sZorTfi tfi;
  return GetField(field, &tfi) ? static_cast<eZorLogType>(tfi.logType) : kZorLogTypeDec0;
}

eZorPhysType ZorTable::GetFieldPhysType(int32_t field) const {
  sZorTfi tfi;
  return GetField(field, &tfi) ? static_cast<eZorPhysType>(tfi.physType) : eZorPhysType{};
}

uint32_t ZorTable::GetFieldFlags(int32_t field) const {
  sZorTfi tfi;
  return GetField(field, &tfi) ? tfi.flags : 0;
}

bool ZorTable::GetFieldInfo(int32_t field, int32_t* len, int32_t* offset, int32_t* size) const {
  sZorTfi tfi;
  const bool ok = GetField(field, &tfi) && tfi.flags != 0;
  if (len) *len = ok ? tfi.len : 0;
  if (offset) *offset = ok ? tfi.offset : 0;
  if (size) *size = ok ? tfi.size : 0;
  return ok;
}

int32_t ZorTable::GetFieldId(const char* name, eZorNameType type) const {
  return _desc ? _desc->GetFieldId(name, type) : 0;
}

int32_t ZorTable::GetFieldVPrec(int32_t field) const { return _desc ? _desc->GetFieldVPrec(field) : 0; }

bool ZorTable::IsArray(int32_t field) const { return (GetFieldFlags(field) & kZorTblFfArray) != 0; }

void ZorTable::GetMaxDim(int32_t field, int32_t* lines, int32_t* cols) const {
  sZorTfi tfi;
  const bool array = GetField(field, &tfi) && (tfi.flags & kZorTblFfArray);
  if (lines) *lines = array ? static_cast<int32_t>(tfi.d1) : 0;
  if (cols) *cols = array ? static_cast<int32_t>(tfi.d2) : 0;
}

void ZorTable::GetDim(int32_t field, int32_t* lines, int32_t* cols) {
  GetMaxDim(field, lines, cols);
  if (!IsArray(field) || !_handler) return;
  int32_t l = lines ? *lines : 0, c = cols ? *cols : 0;
  if (_handler->GetDim(this, field, &l, &c)) {
    if (lines) *lines = l;
    if (cols) *cols = c;
  }
}

int32_t ZorTable::GetFidIndex(int32_t field, eZorTblFidIndex which) const {
  for (int32_t i = 1, n = GetNbIndex(); i <= n; ++i) {
    const sZorKey& key = _keys[i - 1];
    const int32_t parts = std::min<int32_t>(key.nbPart, kZorKeyMaxParts);
    if (parts < 1) continue;
    if (which == kZorTblFidIndexOnly && parts == 1 && key.partField[0] == field) return i;
    if (which == kZorTblFidIndexFirst && key.partField[0] == field) return i;
    if (which == kZorTblFidIndexAny) {
      for (int32_t p = 0; p < parts; ++p) {
        if (key.partField[p] == field) return i;
      }
    }
  }
  return 0;
}

uint32_t ZorTable::GetBufferSize() const { return _recSize; }

void ZorTable::GetBufferData(void* out) const {
  if (_recSize) std::memcpy(ZorNotNull(out, kSource), _rec, _recSize);
}

void ZorTable::SetBufferData(const void* in) {
  if (_recSize) std::memcpy(_rec, ZorNotNull(in, kSource), _recSize);
}

}  // namespace zorvane
