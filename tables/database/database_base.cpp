// ZorDBase: the storage-independent part of a database (ownership, closing
// on discard, the operations a storage kind must provide, the
// variable-precision cache), ZorDbaInit, and the current document's
// database.
#include <atomic>
#include <memory>

#include "foundation/errors/raise.h"
#include <zorvane/database_file.h>
#include <zorvane/list_table.h>
#include <zorvane/module.h>
#include <zorvane/table.h>

namespace zorvane {

namespace {
constexpr char kSource[] = "ZorDBase";
constexpr int32_t kErrRdOnly = 24, kErrNotImpl = 25;
// The outside module that supplies databases of storage kind 5, and its
// message.
constexpr int32_t kOleDbModule = 76000, kOleDbMessage = 76000;
std::atomic<ZorDBase*> gCurrent{nullptr};

[[noreturn]] void NotImpl(uint32_t line = __builtin_LINE()) { ZorRaise({kSource, line}, ZorErr(1, kErrNotImpl)); }

// Cache items: [id, 32-bit][logical type, 32-bit].
struct VPrecItem {
  int32_t id;
  int32_t type;
};
}  // namespace

ZorDBase::~ZorDBase() = default;

// ------------------------------------------------------------------ ownership

void* ZorDBase::Lock(ZorLock* guard) {
  _ownedByGuard = true;
  if (guard) guard->Init(this);
  return this;
}

void ZorDBase::Unlock() {
  if (!_ownedByGuard) return;
  try {
    Trash();
  } catch (...) {
    // A database discarded by its guard cannot report a failing close; the
    // block file keeps its crash-safe state.
  }
  delete this;
}

void ZorDBase::Trash() {
  if (_init && IsOpen()) {
    const eZorBfClose mode = GetDelOnClose()                            ? ZorBfCloseRemove
                             : (_openFlags & kZorDbOpenCloseNormal) != 0 ? ZorBfCloseNormal
                                                                         : ZorBfCloseAbandon;
    CloseBase(mode);
  }
  _init = false;
}

ZorDBase* ZorDbaInit(eZorTblStor storage, ZorLock* guard) {
  ZorDBase* dba = nullptr;
  if (storage == kZorTblStorBFile) {
    dba = new ZorDBFile;
  } else if (storage == kZorTblStorOleDB) {
    ZorSendModuleMessage(kOleDbModule, kOleDbMessage, ZorSendLoad, 1, 1, reinterpret_cast<intptr_t>(&dba), nullptr,
                         nullptr);
    if (!dba) NotImpl();
  } else {
    NotImpl();
  }
  dba->Init();
  if (guard) dba->Lock(guard);
  return dba;
}

// ------------------------------------------------------------------ storage operations

void ZorDBase::CreateBase(const ZorFsa*, int32_t, bool) { NotImpl(); }
void ZorDBase::DeleteBase(const ZorFsa*, int32_t, bool) { NotImpl(); }
bool ZorDBase::OpenBase(const ZorFsa*, int32_t, uint32_t) { NotImpl(); }
void ZorDBase::CloseBase(eZorBfClose) { NotImpl(); }
eZorTblStor ZorDBase::GetStorage() const { NotImpl(); }
void ZorDBase::GetDate(date*, date*, date*) { NotImpl(); }
void ZorDBase::SetDate(const date*, const date*, const date*) { NotImpl(); }
int32_t ZorDBase::GetBaseGuid() { NotImpl(); }
int32_t ZorDBase::SetBaseGuid(int32_t) { NotImpl(); }
int32_t ZorDBase::GetSignature() { NotImpl(); }
void ZorDBase::SetSignature(int32_t) { NotImpl(); }
const char* ZorDBase::GetName(string*) { NotImpl(); }
void ZorDBase::SetName(const char*) { NotImpl(); }
int32_t ZorDBase::GetUpdRel() { NotImpl(); }
void ZorDBase::SetUpdRel(int32_t) { NotImpl(); }
uint64_t ZorDBase::GetSize() { NotImpl(); }
void ZorDBase::OpenDebug() { NotImpl(); }
void ZorDBase::GetBckInfo(ZorTxtList*) { NotImpl(); }
void ZorDBase::CreateTable(ZorHandle*) { NotImpl(); }
void ZorDBase::CreateEnum(ZorHandle*) { NotImpl(); }
ZorTableStocker* ZorDBase::GetStocker(ZorTable*) { NotImpl(); }
void ZorDBase::DelTable(int64_t) { NotImpl(); }
void ZorDBase::DelEnum(int64_t) { NotImpl(); }
void ZorDBase::GetTableList(ZorTable* out) {
  if (out && out->IsInit()) out->MakeEmpty(kZorTblActInternal);
}
void ZorDBase::GetEnumList(ZorTable* out) {
  if (out && out->IsInit()) out->MakeEmpty(kZorTblActInternal);
}
bool ZorDBase::IsTableExist(int64_t) { return false; }
bool ZorDBase::IsEnumExist(int64_t) { return false; }
bool ZorDBase::GetTableHandle(int64_t, ZorHandle*, bool) { return false; }
void ZorDBase::SetTableHandle(int64_t, ZorHandle*) { NotImpl(); }
bool ZorDBase::GetEnumHandle(int64_t, ZorHandle*, bool) { return false; }
void ZorDBase::SetEnumHandle(int64_t, ZorHandle*) { NotImpl(); }
void ZorDBase::GetDutList(ZorTable*, uint32_t) {}
void ZorDBase::RunDut(int32_t, uint32_t, ZorVerif*, int64_t, ZorTable*) {}
bool ZorDBase::ToolsUtil(int32_t, int64_t, const char*, int64_t) { return false; }
void ZorDBase::StartTransaction() { NotImpl(); }
void ZorDBase::EndTransaction() { NotImpl(); }

void ZorDBase::CheckWritable() const {
  if (_rdOnly) ZorRaise(kSource, ZorErr(1, kErrRdOnly));
}

bool ZorDBase::IsMultiLang(int32_t set) {
  const bool was = (_openFlags & kZorDbOpenMultiLang) != 0;
  if (set > 0) _openFlags |= kZorDbOpenMultiLang;
  if (set == 0) _openFlags &= ~kZorDbOpenMultiLang;
  return was;
}

// ------------------------------------------------------------------ variable precision

namespace {

// The logical type of the first field of a stored description that carries
// the id; false when none does.
bool VPrecOfDesc(const ZorHandle& h, int32_t id, eZorLogType* out) {
  ZorTableDesc desc;
  desc.BuildFromHdl(&h);
  for (int32_t f = 1; f <= desc.GetNbField(); ++f) {
    sZorTfi tfi;
    if (!desc.GetField(f, &tfi) || tfi.flags == 0 || desc.GetFieldVPrec(f) != id) continue;
    *out = static_cast<eZorLogType>(tfi.logType);
    return true;
  }
  return false;
}

}  // namespace

void ZorDBase::DropVPrecCache() { _vprec.Clear(); }

bool ZorDBase::GetVPrec(int32_t id, eZorLogType* out) {
  eZorLogType found = kZorLogTypeFloat;
  const int32_t at = _vprec.Dico(kZorPhysTypeLong, 0, &id);
  if (at > 0) {
    const auto* item = static_cast<const VPrecItem*>(_vprec[at]);
    found = item->type < 0 ? kZorLogTypeFloat : static_cast<eZorLogType>(item->type);
    if (out) *out = found;
    return item->type >= 0;
  }
  bool known = false;
  ZorTable list;
  if (IsOpen() && id != 0) {
    ZorListTableInit(&list);
    for (int pass = 0; pass < 2 && !known; ++pass) {
      pass == 0 ? GetTableList(&list) : GetEnumList(&list);
      for (bool more = list.First(); more && !known; more = list.Next()) {
        ZorHandle h;
        const int64_t key = list.GetValQuad(kZorListFieldId);
        if ((pass == 0 ? GetTableHandle(key, &h) : GetEnumHandle(key, &h)) && VPrecOfDesc(h, id, &found)) known = true;
      }
    }
  }
  SetVPrec(id, known ? found : static_cast<eZorLogType>(-1));
  if (out) *out = known ? found : kZorLogTypeFloat;
  return known;
}

void ZorDBase::SetVPrec(int32_t id, eZorLogType type) {
  const VPrecItem item{id, static_cast<int32_t>(type)};
  const int32_t at = _vprec.Dico(kZorPhysTypeLong, 0, &id);
  if (at > 0) {
    _vprec.Set(at, &item);
  } else {
    _vprec.Ins(-at, &item);
  }
}

// ------------------------------------------------------------------ transactions

ZorDbTransaction::ZorDbTransaction(ZorDBase* db) : _db(ZorNotNull(db, kSource)) { _db->StartTransaction(); }

ZorDbTransaction::~ZorDbTransaction() {
  if (!_db) return;
  try {
    _db->EndTransaction();
  } catch (...) {
    // Leaving through an exception: that exception is the one to report.
  }
}

void ZorDbTransaction::Commit() {
  ZorDBase* db = _db;
  _db = nullptr;
  db->EndTransaction();
}

// ------------------------------------------------------------------ current document

void ZorSetCurDBase(ZorDBase* dba) { gCurrent.store(dba); }
ZorDBase* ZorGetCurDBase() { return gCurrent.load(); }

}  // namespace zorvane
