// ZorTSBFile: what both block-file stores share -- attaching to a table,
// the transaction bracket, the unique id, blobs, emptying, description
// blocks and structure upgrades.
//
// Upgrades go one of three ways: recreate the table empty, convert the
// blocks in place (the store's own `upgrade`), or copy every record into a
// table of the scratch owner 255, under a progress over the records, and
// give its blocks the table's owner (the new table id's, when it changes:
// the records follow their description).
#include <algorithm>

#include "tables/cursor/table_internal.h"
#include "tables/store/store_bfile_internal.h"
#include <zorvane/cell_container.h>
#include <zorvane/database.h>
#include <zorvane/progress.h>

namespace zorvane {

namespace tbf {

int32_t gLeafBudget = kBlockBudget;

void Raise(int32_t code, uint32_t line) { ZorRaise({kSource, line}, ZorErr(1, code)); }

}  // namespace tbf

using namespace tbf;

namespace {

constexpr int64_t kScratchTid = 0x00FF0000;  // module 0, table 255
constexpr int32_t kScratchOwner = 255;

}  // namespace

int32_t ZorTableOwner(int64_t tableId) { return (tcur::TableModule(tableId) << 9) + tcur::TableNumber(tableId); }
int64_t ZorTableIdOfOwner(int32_t owner) {
  return (int64_t{owner / 512} << 32) | (int64_t{owner % 256} << 16);
}

void ZorWriteTableDescBlock(ZorBFile* file, int64_t tableId, const ZorHandle* desc) {
  ZorNotNull(file, kSource);
  ZorNotNull(desc, kSource);
  const int32_t owner = ZorTableOwner(tableId);
  ZorHandle copy;
  copy.Copy(desc);
  if (const int32_t id = file->BGetOTBlockId(owner, kZorTbBlkDesc, 0)) {
    file->BWriteCopy(id, &copy, 0);
  } else {
    file->BCreate(&copy, owner, kZorTbBlkDesc, 0, true);
  }
}

bool ZorReadTableDescBlock(ZorBFile* file, int64_t tableId, ZorHandle* out) {
  ZorNotNull(file, kSource);
  ZorNotNull(out, kSource);
  const int32_t id = file->BGetOTBlockId(ZorTableOwner(tableId), kZorTbBlkDesc, 0);
  if (!id) return false;
  file->BReadCopy(id, out);
  return true;
}

// ------------------------------------------------------------------ Rep

void ZorTSBFile::Rep::LoadDir() {
  if (!dirId) return;
  ZorHandle h;
  file->BRead(dirId, &h);
  if (h.GetRecord() != dir.GetHandle()->GetRecord()) {
    const uint32_t item = dir.GetItemSize();
    dir.Reset(headerSize, item);
    dir.Init(&h);
  }
  if (dir.GetHandle()->GetSize() < headerSize) Raise(kErrBadData);
}

void ZorTSBFile::Rep::SaveDir(int32_t reserve) {
  if (dirId) file->BWrite(dirId, reserve);
}

bool ZorTSBFile::Rep::IsBlockOf(int32_t id, int16_t type, uint32_t* size) const {
  if (id <= 0) return false;
  int32_t o = 0, s = 0;
  int16_t t = 0;
  uint32_t capacity = 0;
  uint8_t flags = 0;
  if (!file->GetBlockInfo(id, &o, &t, &s, &capacity, &flags) || (flags & ZorBfFlagFree)) return false;
  if (o != owner || t != type) return false;
  if (size) *size = static_cast<uint32_t>(file->BGetSize(id));
  return true;
}

void ZorTSBFile::Rep::NewVersion(uint32_t offset) {
  if (!versioned) return;
  const ZorUuid v = ZorUuid::S_New();
  std::memcpy(Hdr() + offset, v.GetBytes(), 16);
}

bool ZorTSBFile::Rep::ReadDynaCell(int32_t block, int32_t line, ZorDyna* out) const {
  out->Init();
  if (!IsBlockOf(block, kZorTbBlkDyna)) return false;
  ZorHandle h, part;
  file->BRead(block, &h);
  ZorDyna d;
  d.Init(&h);
  if (!d.GetData(0, line, 0, &part)) return false;
  ZorHandle copy;
  copy.Copy(&part);
  out->Init(&copy);
  return true;
}

uint64_t ZorTSBFile::Rep::DirCapacity(uint32_t itemSize, int32_t maxData) {
  const int32_t room = nbBlockMax(static_cast<int32_t>(itemSize), kDirBudget, maxData);
  return uint64_t{itemSize} * static_cast<uint64_t>(room) + 128;
}

void ZorTSBFile::Rep::CreateDir() {
  if (!writable) return;
  Txn txn(file);
  const uint64_t capacity = std::min<uint64_t>(DirCapacity(itemSize, maxData), kZorBfMaxBlockSize);
  dirId = file->BCreate(dir.GetHandle(), owner, kZorTbBlkDir, static_cast<uint32_t>(capacity), true);
  txn.Commit();
}

bool ZorTSBFile::Rep::DataVersion(uint32_t offset, ZorUuid* out) {
  if (!versioned || !dir.IsInit()) return false;
  LoadDir();
  if (out) out->SetBytes(Hdr() + offset);
  return true;
}

void ZorTSBFile::Rep::CheckWritable() const {
  if (!writable) ZorRaise(kSource, ZorErr(1, 24));
}

// ------------------------------------------------------------------ ZorTSBFile

ZorTSBFile::ZorTSBFile() : _rep(std::make_unique<Rep>()) {}
ZorTSBFile::~ZorTSBFile() = default;

ZorTSBFile* ZorTSBFile::MakeFor(const ZorTable* table) {
  ZorNotNull(table, kSource);
  if (table->GetFlags() & kZorTblTfSmall) return new ZorTSBFileSmall();
  return new ZorTSBFileSeqIx();
}

void ZorTSBFile::Attach(ZorTable* table) {
  Rep& r = *_rep;
  ZorDBase* dba = table->GetDBase();
  r.file = dba ? dba->GetStockPtr() : nullptr;
  if (!r.file || !r.file->IsOpen()) ZorRaise(kSource, ZorErr(1, 41));
  r.table = table;
  r.owner = ZorTableOwner(table->GetTId());
  r.recSize = table->GetBufferSize();
  r.itemSize = r.recSize + 4;
  r.versioned = table->GetDesc()->GetHdrVersion() >= static_cast<int32_t>(kZorTblHdrVersion);
  r.writable = r.file->IsWriteEnable() && !dba->IsRdOnly();
  r.maxData = table->GetDesc()->GetMaxData();
  r.withDyna = (table->GetFlags() & kZorTblTfAsDyna) != 0;
  r.withUid = table->GetUniqueIdField() > 0;
  r.keyLen.clear();
  for (int32_t i = 1, n = table->GetNbIndex(); i <= n; ++i) {
    sZorKey key;
    table->GetIndexInfo(i, &key);
    r.keyLen.push_back(key.nbPart ? table->GetKeyLen(i) : 0);
  }
  uint32_t flags = 0;
  if (!r.writable) flags |= kZorTblMfRdOnly;
  if (r.versioned) flags |= kZorTblMfVersioned;
  table->SetModeFlags(flags, true);
  r.dirId = r.file->BGetOTBlockId(r.owner, kZorTbBlkDir, 0);
  r.cacheIndex = 0;
  r.ForgetRuns();
}

void ZorTSBFile::ShClose(ZorTable*) {
  _rep->dir.Trash();
  _rep->cache.Trash();
  _rep->ForgetRuns();
}

int32_t ZorTSBFile::GetRuid(ZorTable*) {
  Rep& r = *_rep;
  r.LoadDir();
  return r.dir.IsInit() ? static_cast<int32_t>(r.HdrGet(0)) : 0;
}

void ZorTSBFile::SetRuid(ZorTable*, int32_t ruid) {
  Rep& r = *_rep;
  r.LoadDir();
  if (!r.dirId) return;
  r.HdrPut(0, static_cast<uint32_t>(ruid));
  r.SaveDir();
}

void ZorTSBFile::PrimTransac(ZorTable*, bool begin, int32_t depth) {
  Rep& r = *_rep;
  if (!r.file) return;
  if (begin && depth == 1) r.file->StartTransaction();
  if (!begin && depth == 0) r.file->EndTransaction();
}

int32_t ZorTSBFile::GetNbUser(ZorTable*) {
  const Rep& r = *_rep;
  return r.dirId ? r.file->BUsed(r.dirId) : 0;
}

int32_t ZorTSBFile::nbBlockMax(int32_t itemSize, int32_t budget, int32_t given) {
  if (given != 0) return given;
  if (itemSize <= 0) return 1;
  return std::max(1, budget / itemSize);
}

void ZorTSBFile::empty(ZorTable*) {
  Rep& r = *_rep;
  r.file->BRangeDelete(r.owner, r.owner, -32768, kZorTbBlkDesc - 1);
  r.file->BRangeDelete(r.owner, r.owner, kZorTbBlkDyna, 32765);
  r.cacheIndex = 0;
  r.ForgetRuns();
}

// ------------------------------------------------------------------ blobs

bool ZorTSBFile::BlobRead(ZorTable*, int32_t field, uint32_t ref, ZorHandle* out) {
  if (!out) return false;
  out->Trash();
  const Rep& r = *_rep;
  if (ref == 0 || ref > INT32_MAX || !r.IsBlockOf(static_cast<int32_t>(ref), static_cast<int16_t>(-field))) {
    return false;
  }
  r.file->BReadCopy(static_cast<int32_t>(ref), out);
  return true;
}

uint32_t ZorTSBFile::BlobCreate(ZorTable*, int32_t field, const ZorHandle* data) {
  Rep& r = *_rep;
  ZorHandle copy;
  if (data && data->IsInit()) copy.Copy(data);
  return static_cast<uint32_t>(r.file->BCreate(&copy, r.owner, static_cast<int16_t>(-field), 0, true));
}

uint32_t ZorTSBFile::BlobUpdate(ZorTable* table, int32_t field, uint32_t ref, const ZorHandle* data) {
  Rep& r = *_rep;
  if (ref == 0 || ref > INT32_MAX || !r.IsBlockOf(static_cast<int32_t>(ref), static_cast<int16_t>(-field))) {
    return BlobCreate(table, field, data);
  }
  ZorHandle copy;
  if (data && data->IsInit()) copy.Copy(data);
  r.file->BWriteCopy(static_cast<int32_t>(ref), &copy, 0);
  return ref;
}

void ZorTSBFile::BlobDelete(ZorTable*, int32_t field, uint32_t ref) {
  Rep& r = *_rep;
  if (ref == 0 || ref > INT32_MAX || !r.IsBlockOf(static_cast<int32_t>(ref), static_cast<int16_t>(-field))) return;
  r.file->BDelete(static_cast<int32_t>(ref));
}

int32_t ZorTSBFile::BlobInfo(ZorTable*, int32_t field, uint32_t ref) {
  const Rep& r = *_rep;
  uint32_t size = 0;
  if (ref == 0 || ref > INT32_MAX || !r.IsBlockOf(static_cast<int32_t>(ref), static_cast<int16_t>(-field), &size)) {
    return 0;
  }
  return size == 0 ? -1 : static_cast<int32_t>(size);
}

// ------------------------------------------------------------------ upgrade

namespace {

// A database of one table, on the given file: the scratch table the copy
// writes into.
class ScratchBase : public ZorDBase {
 public:
  ScratchBase(ZorBFile* file, bool rdOnly) : _file(file) {
    _open = true;
    _rdOnly = rdOnly;
  }
  eZorTblStor GetStorage() const override { return kZorTblStorBFile; }
  ZorBFile* GetStockPtr() const override { return _file; }
  ZorTableStocker* GetStocker(ZorTable* table) override { return ZorTSBFile::MakeFor(table); }
  bool IsTableExist(int64_t tableId) override {
    ZorHandle h;
    return ZorReadTableDescBlock(_file, tableId, &h);
  }
  bool GetTableHandle(int64_t tableId, ZorHandle* out, bool) override {
    return ZorReadTableDescBlock(_file, tableId, out);
  }

 private:
  ZorBFile* _file;
};

}  // namespace

// Every field of the new record takes the same bytes of the old one.
bool ZorTSBFile::SameRecordLayout(const sZorUpgrade* upgrade) {
  ZorTable* from = upgrade->from;
  ZorTable* to = upgrade->to;
  if (from->GetBufferSize() != to->GetBufferSize() || !upgrade->fieldMap) return false;
  for (int32_t f = 1; f <= to->GetNbField(); ++f) {
    sZorTfi a, b;
    const bool mapped = upgrade->fieldMap[f] == f;
    if (!to->GetField(f, &b) || b.size == 0) continue;
    if (!mapped || !from->GetField(f, &a) || a.offset != b.offset || a.size != b.size || a.physType != b.physType) {
      return false;
    }
  }
  return true;
}

bool ZorTSBFile::Upgrade(sZorUpgrade* upgrade) {
  ZorNotNull(upgrade, kSource);
  ZorNotNull(upgrade->from, kSource);
  ZorNotNull(upgrade->to, kSource);
  Rep& r = *_rep;
  ZorTable* from = upgrade->from;
  ZorTableDesc* newDesc = upgrade->to->GetDesc();
  ZorNotNull(newDesc, kSource);
  r.CheckWritable();
  const int64_t oldTid = from->GetTId();
  const int32_t descId = r.file->BGetOTBlockId(r.owner, kZorTbBlkDesc, 0);
  r.LoadDir();
  if (!r.dirId || !descId) Raise(kErrUpgrade);
  // This table's directory array and the file's cache hold the directory
  // block; any other holder is another open table.
  if (r.file->BUsed(r.dirId) > 1 || r.file->BUsed(descId) > 0) Raise(kErrInUse);

  ZorTableDesc stored;
  stored.BuildFromHdl(newDesc->GetHandle());
  stored.SetStorage(kZorTblStorBFile);
  const int64_t newTid = stored.GetTId();
  // A new table id must not be another table's: their blocks would mix.
  if (ZorTableOwner(newTid) != r.owner && r.file->BGetOTBlockId(ZorTableOwner(newTid), ZorBfAnyType, 0)) {
    Raise(kErrExistTable);
  }
  Txn txn(r.file);
  if (upgrade->flags & kZorUpgEmpty) {
    ShClose(from);
    r.file->BMultiDelete(r.owner, ZorBfAnyType);
    ZorWriteTableDescBlock(r.file, newTid, stored.GetHandle());
    txn.Commit();
    return true;
  }
  if (!(upgrade->flags & kZorUpgCopy)) {
    this->upgrade(upgrade);
    txn.Commit();
    return true;
  }

  // Copy every record into the scratch owner, then give those blocks the
  // table's owner.
  r.file->BMultiDelete(kScratchOwner, ZorBfAnyType);
  const bool sameTid = newTid == oldTid;
  ZorTableDesc scratchDesc;
  scratchDesc.BuildFromHdl(stored.GetHandle());
  scratchDesc.SetTId(kScratchTid, false);
  ZorWriteTableDescBlock(r.file, kScratchTid, scratchDesc.GetHandle());
  ScratchBase base(r.file, false);
  {
    ZorTable to;
    to.Open(&base, kScratchTid);
    const int32_t index = from->GetCurIndex();
    from->SetCurIndex(0);
    const bool canAdd = (to.GetModeFlags() & kZorTblMfAddOk) != 0;
    const int32_t count = PrimGetTNbr(from, false);
    string title;
    ZorProgress progress;
    progress.Begin(from->GetName(&title), count, false);
    for (int32_t n = 1; n <= count; ++n) {
      progress.Step();
      if (!from->ReadN(n, true) || from->IsDeleted()) continue;
      to.Raz();
      for (int32_t f = 1; f <= to.GetNbField(); ++f) {
        if (const int32_t src = upgrade->fieldMap ? upgrade->fieldMap[f] : 0) to.CopyVal(f, from, src);
      }
      try {
        canAdd ? to.Add(kZorTblActInternal) : to.Write(kZorTblActInternal);
      } catch (const ZorEBasic&) {
        Raise(kErrUpgrade);
      }
    }
    progress.End();
    if (upgrade->flags & kZorUpgKeepIds) to.GetStocker()->SetRuid(&to, GetRuid(from));
    from->SetCurIndex(index);
  }
  ShClose(from);
  r.file->BMultiDelete(r.owner, ZorBfAnyType);
  const int32_t newOwner = ZorTableOwner(sameTid ? oldTid : newTid);
  r.file->BChangeOwner(kScratchOwner, newOwner, -32768, 32767);
  ZorWriteTableDescBlock(r.file, newTid, stored.GetHandle());
  txn.Commit();
  return true;
}

bool ZorTSBFile::Reorg(ZorTable* table, bool) {
  Rep& r = *_rep;
  r.CheckWritable();
  ZorTable to;
  to.Init(table->GetDesc()->GetHandle(), true);
  std::vector<int32_t> map(static_cast<size_t>(table->GetNbField()) + 1);
  for (size_t f = 1; f < map.size(); ++f) map[f] = static_cast<int32_t>(f);
  sZorUpgrade upgrade{table, &to, map.data(), kZorUpgCopy | kZorUpgKeepIds};
  Upgrade(&upgrade);
  ShOpen(table);
  table->Clear();
  return true;
}

}  // namespace zorvane
