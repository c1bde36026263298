// ZorDBFile: the database kept in one block file; the file, its header
// fields, the description blocks of tables and enumerations, transactions
// and the tools entry point. The verification steps are in
// database_verify.cpp.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "foundation/errors/raise.h"
#include "platform/little_endian.h"
#include <zorvane/database_file.h>
#include <zorvane/date.h>
#include <zorvane/event_journal.h>
#include <zorvane/file_commands.h>
#include <zorvane/format.h>
#include <zorvane/global_flags.h>
#include <zorvane/module.h>
#include <zorvane/list_table.h>
#include <zorvane/messages.h>
#include <zorvane/path.h>
#include <zorvane/string.h>
#include <zorvane/table.h>
#include <zorvane/table_bfile.h>
#include <zorvane/text_list.h>
#include <zorvane/uuid.h>

namespace zorvane {

namespace {

constexpr char kSource[] = "ZorDBFile";
constexpr int32_t kErrBadData = 19, kErrBadParam = 23, kErrFIsOpen = 31, kErrBadName = 38,
                  kErrExist = 40, kErrInUse = 45, kErrNoDocPath = 66;
constexpr int32_t kCacheBlocks = 100;
constexpr int32_t kCatalogueOwner = -2, kEnumOwner = -3;
constexpr uint32_t kCatalogueRoom = 600;
constexpr int32_t kCatalogueItem = 12;  // [type id, 64-bit][block id, 32-bit]
constexpr int32_t kTxtBadClose = 1, kGroupChecks = 239, kTxtStorageKind = 52, kGroupUpdate = 141;
constexpr int32_t kMaxOwner = 0x7FFFFFFF;
constexpr int32_t kUserSlots = 64;  // the header's user array
constexpr int32_t kDebugModule = 0x30001, kDebugTask = 53000;

[[noreturn]] void Raise(int32_t code, uint32_t line = __builtin_LINE()) {
  ZorRaise({kSource, line}, ZorErr(1, code));
}

// The block-file open flags of the database open flags.
int32_t BFileFlags(uint32_t flags) {
  int32_t out = ZorBfOpenRound1K | ZorBfOpenCheckBadClose;
  if (flags & kZorDbOpenRepair) out |= ZorBfOpenTolerant;
  if (flags & kZorDbOpenCloseNormal) out |= ZorBfOpenCloseNormal;
  if (flags & kZorDbOpenDelOnClose) out |= ZorBfOpenNoTransaction;
  if (flags & kZorDbOpenCopyOnWrite) out |= ZorBfOpenCopyOnWrite;
  if (flags & kZorDbOpenStream) out |= ZorBfOpenStreamOpt40000;
  return out;
}

// Rounds a description's size up to the next whole KiB.
uint32_t EnumCapacity(uint32_t size) { return (size / 1024 + 1) * 1024; }

int64_t ItemTypeId(const void* item) { return static_cast<int64_t>(platform::GetLE64(item)); }
int32_t ItemBlock(const void* item) {
  return static_cast<int32_t>(platform::GetLE32(static_cast<const uint8_t*>(item) + 8));
}

// Orders catalogue items by type id (the comparison of the key against
// the item, as ZorBGet::DicoEx reads it).
int32_t CompareTypeId(const void* item, const void* key, int32_t) {
  const int64_t a = *static_cast<const int64_t*>(key), b = ItemTypeId(item);
  return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

ZorDBFile::ZorDBFile() : _file(new ZorBFile) {}

ZorDBFile::~ZorDBFile() {
  if (_init) {
    try {
      Trash();
    } catch (...) {
    }
  }
  delete _file;
}

// ------------------------------------------------------------------ the file

void ZorDBFile::CreateBase(const ZorFsa* path, int32_t signature, bool overwrite) {
  ZorBFile::Create(path, kZorDbFileType, signature, nullptr, overwrite ? ZorFsaCreateAlways : ZorFsaCreateNew,
                   overwrite);
}

void ZorDBFile::DeleteBase(const ZorFsa* path, int32_t signature, bool showMsg) {
  ZorNotNull(path, kSource);
  if (ZorBFile::Is(path, showMsg, kZorDbFileType, signature) != 0) ZorRaise(kSource, ZorErr(1, kErrBadData), path);
  ZorFsaCmd(path).Remove();
}

bool ZorDBFile::OpenBase(const ZorFsa* path, int32_t signature, uint32_t flags) {
  ZorNotNull(path, kSource);
  if (_open) CloseBase(ZorBfCloseNormal);
  const bool repair = (flags & kZorDbOpenRepair) != 0;
  const eZorStreamPerm access = (flags & kZorDbOpenRdOnly) ? ZorPermRead : ZorPermReadWrite;
  // A distant file is always shared: others reach it through the server.
  const bool distant = path->GetPathMedia() == ZorFsaMediaCnx;
  const eZorStreamPerm sharing = (flags & kZorDbOpenShared) || distant ? ZorShareReadWrite : ZorShareRead;
  const int32_t cache = (flags & kZorDbOpenAutoCache) ? -1 : kCacheBlocks;
  _file->Open(path, access, sharing, BFileFlags(flags), cache, kZorDbFileType, repair ? -1 : signature);
  _openFlags = flags;
  _open = true;
  _rdOnly = !_file->IsWriteEnable();
  DropVPrecCache();
  if (!repair && _file->IsBadClose(false) && !_rdOnly && ZorGetCheckLevel() == 0 && !_file->IsDistant() &&
      ZorGetCheckBadOpen() != 0) {
    string text;
    ZorLogEvent(ZorLoadString(1, kGroupChecks, kTxtBadClose, &text), ZorEvtAlert);
  }
  return _rdOnly;
}

void ZorDBFile::CloseBase(eZorBfClose mode) {
  if (!_open) return;
  _open = false;
  DropVPrecCache();
  _file->Close(GetDelOnClose() ? ZorBfCloseRemove : mode);
}

void ZorDBFile::GetDate(date* creation, date* modification, date* data) {
  ZorFsaCmd cmd(_file->GetFsa(), ZorFsaCmdQuiet);
  if (creation) cmd.GetCreation(creation);
  if (modification) cmd.GetModif(modification);
  if (data) {
    int32_t slots[kUserSlots];
    _file->GetUserArray(slots);
    const uint64_t bits = (uint64_t{static_cast<uint32_t>(slots[1])} << 32) | static_cast<uint32_t>(slots[0]);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    data->SetValue(value);
  }
}

void ZorDBFile::SetDate(const date* creation, const date* modification, const date* data) {
  if (creation && modification) {
    ZorFsaCmd cmd(_file->GetFsa());
    sZorFsaInfo info{};
    cmd.GetInfos(&info);
    info.creation = *creation;
    info.modification = *modification;
    cmd.SetInfos(&info);
  }
  if (data) {
    const double value = data->GetValue();
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    int32_t slots[kUserSlots];
    _file->GetUserArray(slots);
    slots[0] = static_cast<int32_t>(static_cast<uint32_t>(bits));
    slots[1] = static_cast<int32_t>(static_cast<uint32_t>(bits >> 32));
    _file->SetUserArray(slots);
  }
}

int32_t ZorDBFile::GetBaseGuid() { return _file->GetFGuId(); }

int32_t ZorDBFile::SetBaseGuid(int32_t id) {
  if (id == 0) {
    const ZorUuid random = ZorUuid::S_New();
    id = static_cast<int32_t>(platform::GetLE32(random.GetBytes()) & 0x7FFFFFFF);
  }
  _file->SetFGuId(id);
  return id;
}

int32_t ZorDBFile::GetSignature() { return _file->GetSignature(); }
void ZorDBFile::SetSignature(int32_t signature) { _file->SetSignature(signature); }
int32_t ZorDBFile::GetUpdRel() { return _file->GetUserRel(); }
void ZorDBFile::SetUpdRel(int32_t release) { _file->SetUserRel(release); }
uint64_t ZorDBFile::GetSize() { return _file->GetSize(nullptr, nullptr, nullptr); }

const char* ZorDBFile::GetName(string* out) {
  ZorNotNull(out, kSource);
  const ZorFsa* path = _file->GetFsa();
  return path ? path->GetName(out) : out->Clear();
}

// The block file holds its path (and its journal's): the file is closed,
// renamed and opened again with the same flags. A delete-on-close database
// is a scratch file that closing removes: it keeps its name.
void ZorDBFile::SetName(const char* name) {
  string trimmed(name ? name : "");
  trimmed.Trim();
  if (trimmed.IsEmpty()) Raise(kErrBadName);
  if (!_open || GetDelOnClose()) Raise(kErrBadParam);
  CheckWritable();
  ZorFsa from(*_file->GetFsa()), to(from);
  to.Rename(trimmed.CStr());
  if (to == from) return;
  const int32_t signature = _file->GetSignature();
  const uint32_t flags = _openFlags;
  CloseBase(ZorBfCloseNormal);
  try {
    ZorFsaCmd(&from).Rename(&to);
  } catch (...) {
    OpenBase(&from, signature, flags);
    throw;
  }
  OpenBase(&to, signature, flags);
}

// The debugging task belongs to an outside module; without it there is
// nothing to run.
void ZorDBFile::OpenDebug() {
  ZorLock guard;
  if (ZorModule* module = ZorGetModule(kDebugModule, &guard)) {
    module->HandleTask(static_cast<eZorTaskSel>(kDebugTask), 0, 0, 0, nullptr, this);
  }
}

void ZorDBFile::GetBckInfo(ZorTxtList* list) {
  ZorNotNull(list, kSource);
  string path;
  list->Add(_file->GetFsa()->GetPath(ZorFsaPathSys, &path));
}

// ------------------------------------------------------------------ tables

void ZorDBFile::CreateTable(ZorHandle* description) {
  ZorNotNull(description, kSource);
  CheckWritable();
  ZorTableDesc desc;
  desc.BuildFromHdl(description);
  if (desc.GetStorage() == kZorTblStorDoc) desc.SetStorage(kZorTblStorBFile);
  if (desc.GetStorage() != kZorTblStorBFile) {
    string text;
    ZorRaiseMessage(kSource, ZorErr(1, kErrBadParam), ZorLoadString(1, kGroupUpdate, kTxtStorageKind, &text));
  }
  const int64_t tid = desc.GetTId();
  if (IsTableExist(tid)) Raise(kErrExist);
  ZorDbTransaction txn(this);
  ZorWriteTableDescBlock(_file, tid, desc.GetHandle());
  txn.Commit();
  DropVPrecCache();
}

ZorTableStocker* ZorDBFile::GetStocker(ZorTable* table) { return ZorTSBFile::MakeFor(table); }

void ZorDBFile::DelTable(int64_t tableId) {
  CheckWritable();
  const int32_t owner = ZorTableOwner(tableId);
  // BUsed counts the references outside the file's cache: an open table
  // holds its directory block, an opening holds the description.
  if (const int32_t dir = _file->BGetOTBlockId(owner, kZorTbBlkDir, 0); dir && _file->BUsed(dir) > 0) {
    Raise(kErrFIsOpen);
  }
  if (const int32_t desc = _file->BGetOTBlockId(owner, kZorTbBlkDesc, 0); desc && _file->BUsed(desc) > 0) {
    Raise(kErrInUse);
  }
  if (ZorGetCurDBase() == this) ZorSetGlobalFlags(ZorGlobDocTableDeleted, ZorGlobDocTableDeleted);
  ZorDbTransaction txn(this);
  _file->BMultiDelete(owner, ZorBfAnyType);
  txn.Commit();
  DropVPrecCache();
}

bool ZorDBFile::IsTableExist(int64_t tableId) {
  return _open && _file->BGetOTBlockId(ZorTableOwner(tableId), kZorTbBlkDesc, 0) != 0;
}

bool ZorDBFile::GetTableHandle(int64_t tableId, ZorHandle* out, bool share) {
  ZorNotNull(out, kSource);
  if (!_open) return false;
  const int32_t id = _file->BGetOTBlockId(ZorTableOwner(tableId), kZorTbBlkDesc, 0);
  if (!id) return false;
  share ? _file->BRead(id, out) : _file->BReadCopy(id, out);
  return true;
}

void ZorDBFile::SetTableHandle(int64_t tableId, ZorHandle* description) {
  ZorNotNull(description, kSource);
  CheckWritable();
  const int32_t id = _file->BGetOTBlockId(ZorTableOwner(tableId), kZorTbBlkDesc, 0);
  if (!id) Raise(kErrBadParam);
  ZorDbTransaction txn(this);
  _file->BWriteCopy(id, description, 0);
  txn.Commit();
  DropVPrecCache();
}

void ZorDBFile::GetTableList(ZorTable* out) {
  ZorNotNull(out, kSource);
  ZorListTableClear(out);
  if (!_open) return;
  ZorBGet ids(0, 4);
  _file->BGetID(1, kMaxOwner, kZorTbBlkDesc, kZorTbBlkDesc, &ids, 0, true);
  string name;
  for (int32_t i = 1; i <= ids.GetNbItem(); ++i) {
    const int32_t id = *static_cast<const int32_t*>(ids[i]);
    int32_t owner = 0, size = 0;
    int16_t type = 0;
    if (!_file->GetBlockInfo(id, &owner, &type, &size, nullptr, nullptr)) continue;
    // A description that cannot be read (a damaged file) is listed without
    // its name: the verification steps say what is wrong with it.
    name.Clear();
    try {
      ZorHandle h;
      _file->BRead(id, &h);
      ZorTableDesc desc;
      desc.BuildFromHdl(&h);
      desc.GetName(&name);
    } catch (const ZorEBasic&) {
    }
    ZorListTableAdd(out, {name.CStr(), owner % 256, ZorTableIdOfOwner(owner), nullptr});
  }
}

// ------------------------------------------------------------------ enumerations

int32_t ZorDBFile::CatalogueBlock() { return _file->BGetOTBlockId(kCatalogueOwner, 0, 0); }

bool ZorDBFile::FindEnum(int64_t typeId, int32_t* blockId, int32_t* item) {
  *blockId = 0;
  *item = 0;
  const int32_t id = _open ? CatalogueBlock() : 0;
  if (!id) return false;
  ZorHandle h;
  _file->BRead(id, &h);
  ZorBGet catalogue(0, kCatalogueItem);
  catalogue.Init(&h);
  const int32_t at = catalogue.DicoEx(&CompareTypeId, &typeId, 0);
  if (at <= 0) {
    *item = at;
    return false;
  }
  *item = at;
  *blockId = ItemBlock(catalogue[at]);
  return true;
}

void ZorDBFile::CreateEnum(ZorHandle* description) {
  ZorNotNull(description, kSource);
  CheckWritable();
  ZorTableDesc desc;
  desc.BuildFromHdl(description);
  const int64_t typeId = desc.GetTypeId();
  int32_t block = 0, at = 0;
  if (FindEnum(typeId, &block, &at)) Raise(kErrExist);
  ZorDbTransaction txn(this);
  ZorBGet catalogue(0, kCatalogueItem);
  int32_t catalogueId = CatalogueBlock();
  if (catalogueId) {
    ZorHandle h;
    _file->BReadCopy(catalogueId, &h);
    catalogue.Init(&h);
  } else {
    catalogue.Init();
    catalogueId = _file->BCreate(catalogue.GetHandle(), kCatalogueOwner, 0, kCatalogueRoom, true);
  }
  ZorHandle copy;
  copy.Copy(desc.GetHandle());
  const int32_t id = _file->BCreate(&copy, kEnumOwner, 0, EnumCapacity(copy.GetSize()), true);
  uint8_t item[kCatalogueItem];
  platform::PutLE64(item, static_cast<uint64_t>(typeId));
  platform::PutLE32(item + 8, static_cast<uint32_t>(id));
  catalogue.Ins(at == 0 ? 0 : -at, item);
  _file->BWriteCopy(catalogueId, catalogue.GetHandle(), kCatalogueRoom);
  txn.Commit();
  DropVPrecCache();
}

void ZorDBFile::DelEnum(int64_t typeId) {
  CheckWritable();
  int32_t block = 0, at = 0;
  if (!FindEnum(typeId, &block, &at)) return;
  if (_file->BUsed(block) > 1) Raise(kErrInUse);
  ZorDbTransaction txn(this);
  const int32_t catalogueId = CatalogueBlock();
  ZorHandle h;
  _file->BReadCopy(catalogueId, &h);
  ZorBGet catalogue(0, kCatalogueItem);
  catalogue.Init(&h);
  catalogue.Del(at);
  if (_file->BExist(block, nullptr)) _file->BDelete(block);
  if (catalogue.GetNbItem() == 0) {
    _file->BDelete(catalogueId);
  } else {
    _file->BWriteCopy(catalogueId, catalogue.GetHandle(), kCatalogueRoom);
  }
  txn.Commit();
  DropVPrecCache();
}

bool ZorDBFile::IsEnumExist(int64_t typeId) {
  int32_t block = 0, at = 0;
  return FindEnum(typeId, &block, &at) && _file->BExist(block, nullptr);
}

bool ZorDBFile::GetEnumHandle(int64_t typeId, ZorHandle* out, bool share) {
  ZorNotNull(out, kSource);
  int32_t block = 0, at = 0;
  if (!FindEnum(typeId, &block, &at) || !_file->BExist(block, nullptr)) return false;
  share ? _file->BRead(block, out) : _file->BReadCopy(block, out);
  return true;
}

void ZorDBFile::SetEnumHandle(int64_t typeId, ZorHandle* description) {
  ZorNotNull(description, kSource);
  CheckWritable();
  int32_t block = 0, at = 0;
  if (!FindEnum(typeId, &block, &at) || !_file->BExist(block, nullptr)) Raise(kErrBadParam);
  ZorDbTransaction txn(this);
  _file->BWriteCopy(block, description, 0);
  txn.Commit();
  DropVPrecCache();
}

void ZorDBFile::GetEnumList(ZorTable* out) {
  ZorNotNull(out, kSource);
  ZorListTableClear(out);
  const int32_t id = _open ? CatalogueBlock() : 0;
  if (!id) return;
  ZorHandle h;
  _file->BReadCopy(id, &h);
  ZorBGet catalogue(0, kCatalogueItem);
  catalogue.Init(&h);
  string name;
  for (int32_t i = 1; i <= catalogue.GetNbItem(); ++i) {
    const int32_t block = ItemBlock(catalogue[i]);
    if (!_file->BExist(block, nullptr)) continue;
    ZorHandle d;
    _file->BRead(block, &d);
    ZorTableDesc desc;
    desc.BuildFromHdl(&d);
    ZorListTableAdd(out, {desc.GetName(&name), block, ItemTypeId(catalogue[i]), nullptr});
  }
}

// ------------------------------------------------------------------ transactions, tools

void ZorDBFile::StartTransaction() { _file->StartTransaction(); }
void ZorDBFile::EndTransaction() { _file->EndTransaction(); }
bool ZorDBFile::IsTransaction() const { return _open && _file->CountTransaction() != 0; }

namespace {

// A flushed copy of the current document's database beside it, named with
// the date and time when the options ask for it.
void Backup(const char* options) {
  ZorDBase* current = ZorGetCurDBase();
  ZorBFile* file = current ? current->GetStockPtr() : nullptr;
  if (!file || !file->GetFsa() || !file->GetFsa()->IsInit()) Raise(kErrNoDocPath);
  file->FlushTransaction();
  string name, ext;
  file->GetFsa()->GetName(&name, ZorFsaNameBase);
  file->GetFsa()->GetName(&ext, ZorFsaNameExt);
  if (ZorGetStrOptBool(options ? options : "", "AddDateTime")) {
    const date now(ZorDateToday, nullptr, 1);
    int32_t d, m, y, h, min, sec;
    now.Get(&d, &m, &y);
    now.GetTime(&h, &min, &sec);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "_%04d%02d%02d_%02d%02d%02d", y, m, d, h, min, sec);
    name += stamp;
  }
  name += ".bak";
  if (!ext.IsEmpty()) (name += ".") += ext;
  ZorFsa to(*file->GetFsa());
  to.Rename(name.CStr());
  ZorFsaCmd::Copy(file->GetFsa(), &to, ZorFsaCopyReplace);
}

}  // namespace

bool ZorDBFile::ToolsUtil(int32_t command, int64_t p1, const char* p2, int64_t) {
  switch (command) {
    case kZorDbToolHasTools:
    case kZorDbToolCanVerify:
      return true;
    case kZorDbToolNeedCompact:
      return p1 != 0 && _open && _file->NeedCompact(static_cast<eZorBfCompact>(p1));
    case kZorDbToolCompact:
      return _open && _file->Compact(static_cast<eZorBfCompact>(p1), false, !(p2 && p2[0]));
    case kZorDbToolWasOpen:
      return _open && _file->WasOpen();
    case kZorDbToolBackup:
      Backup(p2);
      return true;
    default:
      return false;
  }
}

}  // namespace zorvane
