// ZorDBFile: the verification steps (GetDutList, RunDut).
//
// Steps 0x10 to 0x14 are the block file's own checks. Steps 0x21 to 0x26
// check the tables' storage, one table at a time (every table, or the one
// given by its id), each in a section titled with the step's title:
//   0x21  the table opens (its description and directory block), it has one
//         directory block, and its store finds its blocks consistent
//         (ZorTSBFile::Verify); repair rebuilds the table from the records
//         it can still read, in new blocks;
//   0x22  blocks of a table owner without a description; repair deletes them;
//   0x23 to 0x26  the links of ZorTSBFile::CheckLinks.
// Repairs happen only when the verifier allows them, and the database was
// opened for writing.
#include <map>
#include <string>
#include <vector>

#include "foundation/errors/raise.h"
#include <zorvane/database_file.h>
#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/list_table.h>
#include <zorvane/messages.h>
#include <zorvane/string.h>
#include <zorvane/table.h>
#include <zorvane/table_bfile.h>
#include <zorvane/verification.h>

namespace zorvane {

namespace {

constexpr int32_t kGroupTitles = 155, kList = 120;
constexpr int32_t kTxtStorageBad = 80, kTxtRebuilt = 81, kTxtRebuildFailed = 82, kTxtUnreadable = 83,
                  kTxtOrphanBlock = 84, kTxtDirCount = 85, kTxtBlockDeleted = 15, kGroupChecks = 239;
constexpr int32_t kMaxOwner = 0x7FFFFFFF;

struct Step {
  int32_t title;     // message of group 155
  int32_t category;
  int32_t code;
  bool deep;         // listed at check level 2 or more (else below 2)
  uint32_t needAll;  // flags that must all be set
  uint32_t needAny;  // of which one must be set
};

constexpr Step kSteps[] = {
    {40, 0x20, kZorDutBase, false, 0x20, 0x21F},
    {33, 0x20, kZorDutCrossBlock, true, 0x20, 0x21F},
    {35, 0x20, kZorDutCheckDir, true, 0x20, 0x21F},
    {152, 0x20, kZorDutOwnerType, true, 0x20, 0x21F},
    {32, 0x20, kZorDutLostSpace, true, 0x20, 0x21F},
    {41, 0x40, kZorDutStorage, false, 0x50, 0},
    {42, 0x40, kZorDutMaster, true, 0x240, 0},
    {45, 0x40, kZorDutOrphanBlocks, true, 0x240, 0},
    {43, 0x40, kZorDutOrphanDyna, true, 0x240, 0},
    {51, 0x40, kZorDutRecordDyna, true, 0x240, 0},
    {34, 0x40, kZorDutOrphanBlobs, true, 0x240, 0},
    {44, 0x40, kZorDutDeleted, true, 0x240, 0},
};

const Step* StepOf(int32_t code) {
  for (const Step& s : kSteps) {
    if (s.code == code) return &s;
  }
  return nullptr;
}

// The table ids to check: the one given, or every owner of a description
// block (read from the directory alone: a description may be damaged).
std::vector<int64_t> TablesToCheck(ZorBFile* file, int64_t tableId) {
  if (tableId) return {tableId};
  ZorBGet ids(0, 4);
  file->BGetID(1, kMaxOwner, kZorTbBlkDesc, kZorTbBlkDesc, &ids, 0, true);
  std::vector<int64_t> out;
  for (int32_t i = 1; i <= ids.GetNbItem(); ++i) {
    int32_t owner = 0;
    if (file->GetBlockInfo(*static_cast<const int32_t*>(ids[i]), &owner, nullptr, nullptr, nullptr, nullptr)) {
      out.push_back(ZorTableIdOfOwner(owner));
    }
  }
  return out;
}

const char* ErrorText(const ZorEBasic& e, string* out) { return e.GetMsg(out); }

class StorageChecker {
 public:
  StorageChecker(ZorDBFile* db, ZorVerif* verif, bool repair)
      : _db(db), _file(db->GetStockPtr()), _verif(verif), _repair(repair) {}

  bool Run(int32_t code, int64_t tableId) {
    if (code == kZorDutOrphanBlocks) return OrphanBlocks();
    for (int64_t tid : TablesToCheck(_file, tableId)) {
      try {
        CheckTable(code, tid);
      } catch (const ZorEBasic& e) {
        Unreadable(tid, e);
      }
    }
    return _ok;
  }

 private:
  void CheckTable(int32_t code, int64_t tid) {
    ZorTable table;
    if (code == kZorDutMaster && !DirectoryCount(tid)) return;
    table.Open(_db, tid);
    auto* store = dynamic_cast<ZorTSBFile*>(table.GetStocker());
    if (!store) return;
    if (code != kZorDutMaster) {
      _ok &= store->CheckLinks(&table, code, _verif, _repair);
      return;
    }
    if (store->Verify(&table, nullptr)) return;
    string name;
    table.GetName(&name);
    Item(kZorVerifError, kTxtStorageBad, name.CStr());
    store->Verify(&table, _verif);
    _ok = false;
    if (_repair) Rebuild(&table, store, name);
  }

  // A table must have one directory block at most; repair keeps the first.
  bool DirectoryCount(int64_t tid) {
    const int32_t owner = ZorTableOwner(tid);
    ZorBGet ids(0, 4);
    _file->BGetID(owner, owner, kZorTbBlkDir, kZorTbBlkDir, &ids, 0, true);
    if (ids.GetNbItem() <= 1) return true;
    Item(kZorVerifError, kTxtDirCount, NameOf(tid).CStr(), ids.GetNbItem());
    _ok = false;
    if (!_repair) return false;
    for (int32_t i = 2; i <= ids.GetNbItem(); ++i) DeleteBlock(*static_cast<const int32_t*>(ids[i]));
    return true;
  }

  // The records the store can still read, copied into new blocks.
  void Rebuild(ZorTable* table, ZorTSBFile* store, const string& name) {
    try {
      table->Reorg(false);
      if (store->Verify(table, nullptr)) {
        Item(kZorVerifRepaired, kTxtRebuilt, name.CStr(), table->GetNbRecord());
        return;
      }
      Item(kZorVerifIrreparable, kTxtRebuildFailed, name.CStr(), "");
    } catch (const ZorEBasic& e) {
      string text;
      Item(kZorVerifIrreparable, kTxtRebuildFailed, name.CStr(), ErrorText(e, &text));
    }
  }

  void Unreadable(int64_t tid, const ZorEBasic& e) {
    _ok = false;
    string text;
    Item(kZorVerifIrreparable, kTxtUnreadable, NameOf(tid).CStr(), ErrorText(e, &text));
  }

  // The table's name, or its number when its description cannot be read.
  string NameOf(int64_t tid) {
    string name;
    try {
      ZorHandle h;
      if (_db->GetTableHandle(tid, &h)) {
        ZorTableDesc desc;
        desc.BuildFromHdl(&h);
        desc.GetName(&name);
      }
    } catch (const ZorEBasic&) {
    }
    if (name.IsEmpty()) name = std::to_string((tid >> 16) & 0xFF).c_str();
    return name;
  }

  // Blocks of a table owner (records, indexes, blobs) whose owner has no
  // description block.
  bool OrphanBlocks() {
    ZorBGet ids(0, 4);
    _file->BGetID(1, kMaxOwner, -32768, 32767, &ids, 0, true);
    std::map<int32_t, bool> described;
    for (int32_t i = 1; i <= ids.GetNbItem(); ++i) {
      const int32_t id = *static_cast<const int32_t*>(ids[i]);
      int32_t owner = 0, size = 0;
      int16_t type = 0;
      if (!_file->GetBlockInfo(id, &owner, &type, &size, nullptr, nullptr) || type == kZorTbBlkDesc) continue;
      auto found = described.find(owner);
      if (found == described.end()) {
        found = described.emplace(owner, _file->BGetOTBlockId(owner, kZorTbBlkDesc, 0) != 0).first;
      }
      if (found->second) continue;
      Item(kZorVerifError, kTxtOrphanBlock, id, owner, type);
      _ok = false;
      if (_repair) DeleteBlock(id);
    }
    return _ok;
  }

  void DeleteBlock(int32_t id) {
    ZorDbTransaction txn(_db);
    _file->BDelete(id);
    txn.Commit();
    if (_verif) _verif->AddItemMsg(kZorVerifRepaired, 0, 0, 1, kGroupChecks, kTxtBlockDeleted, id);
  }

  template <class... A>
  void Item(eZorVerifType type, int32_t text, A... args) {
    if (_verif) _verif->AddItemMsg(type, 0, 0, 1, kList, text, args...);
  }

  ZorDBFile* _db;
  ZorBFile* _file;
  ZorVerif* _verif;
  bool _repair;
  bool _ok = true;
};

}  // namespace

void ZorDBFile::GetDutList(ZorTable* out, uint32_t flags) {
  ZorNotNull(out, "ZorDBFile");
  const bool deep = ZorGetCheckLevel() >= 2;
  string title;
  for (const Step& s : kSteps) {
    if ((flags & s.needAll) != s.needAll || (s.needAny && !(flags & s.needAny)) || s.deep != deep) continue;
    string category;
    ZorLongToStrHex(static_cast<uint32_t>(s.category), &category, true);
    ZorListTableAdd(out, {ZorLoadString(1, kGroupTitles, s.title, &title), s.code, 0, category.CStr()});
  }
}

void ZorDBFile::RunDut(int32_t code, uint32_t, ZorVerif* verif, int64_t tableId, ZorTable*) {
  if (!_open) return;
  const Step* step = StepOf(code);
  if (!step) return;
  const bool repair = verif && verif->CanRepair() && !_rdOnly;
  if (verif) verif->AddSectionMsg(1, kGroupTitles, step->title);
  switch (code) {
    case kZorDutBase:
      _file->CheckDir(verif);
      _file->CheckCrossBlock(verif);
      _file->CheckLostSpace(verif);
      return;
    case kZorDutCrossBlock:
      _file->CheckCrossBlock(verif);
      return;
    case kZorDutCheckDir:
      _file->CheckDir(verif);
      return;
    case kZorDutLostSpace:
      _file->CheckLostSpace(verif);
      return;
    case kZorDutOwnerType:
      _file->CheckBlockOwnerType(verif);
      return;
    case kZorDutStorage:
      for (int32_t c = kZorDutMaster; c <= kZorDutDeleted; ++c) StorageChecker(this, verif, repair).Run(c, tableId);
      return;
    default:
      StorageChecker(this, verif, repair).Run(code, tableId);
  }
}

}  // namespace zorvane
