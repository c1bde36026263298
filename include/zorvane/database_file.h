// ZorDBFile: the database kept in one block file (storage kind 4).
//
// The file is a block file of file type 2 whose header carries the
// database's signature, identifier (GetBaseGuid), update release (GetUpdRel)
// and data date (user slots 0 and 1, low word first). Its blocks:
//
//   owner (module id * 512 + table number), type 100   a table's description
//   same owner, types 101..103 and 0..17               the table's records and
//                                                      indexes (zorvane/table_bfile.h)
//   owner -2, type 0   the enumeration catalogue: 12-byte items
//                      [type id, 64-bit][block id, 32-bit] sorted by type id
//   owner -3, type 0   one enumeration description per block
//
// Every change is one block-file transaction (or runs inside the caller's).
//
// Verification steps (GetDutList, RunDut): codes 0x10 to 0x14 run the block
// file's own checks; codes 0x20 to 0x26 check the tables' storage:
//   0x20  all of 0x21 to 0x26
//   0x21  each table's directory block (one, readable, of its description)
//   0x22  record and index blocks of an owner that has no description
//   0x23  dynamic-part blocks that no record of the table points to
//   0x24  records pointing to dynamic parts that are missing or not theirs
//   0x25  blob blocks that no record refers to
//   0x26  the list of deleted records (ids to reuse)
// With a verifier that allows repair each step repairs what it reports,
// deleting the blocks that nothing reaches and rebuilding what the records
// still say.
#pragma once

#include <zorvane/database.h>

namespace zorvane {

// Verification step codes (GetDutList, RunDut).
enum : int32_t {
  kZorDutBase = 0x10,
  kZorDutCrossBlock = 0x11,
  kZorDutCheckDir = 0x12,
  kZorDutLostSpace = 0x13,
  kZorDutOwnerType = 0x14,
  kZorDutStorage = 0x20,
  kZorDutMaster = 0x21,
  kZorDutOrphanBlocks = 0x22,
  kZorDutOrphanDyna = 0x23,
  kZorDutRecordDyna = 0x24,
  kZorDutOrphanBlobs = 0x25,
  kZorDutDeleted = 0x26,
};

// The file type of database files.
constexpr int32_t kZorDbFileType = 2;

class ZOR_API ZorDBFile : public ZorDBase {
 public:
  ZorDBFile();
  ~ZorDBFile() override;

  void CreateBase(const ZorFsa* path, int32_t signature, bool overwrite) override;
  void DeleteBase(const ZorFsa* path, int32_t signature, bool showMsg) override;
  bool OpenBase(const ZorFsa* path, int32_t signature, uint32_t flags) override;
  void CloseBase(eZorBfClose mode) override;
  eZorTblStor GetStorage() const override { return kZorTblStorBFile; }
  void GetDate(date* creation, date* modification, date* data) override;
  void SetDate(const date* creation, const date* modification, const date* data) override;
  int32_t GetBaseGuid() override;
  int32_t SetBaseGuid(int32_t id) override;
  int32_t GetSignature() override;
  void SetSignature(int32_t signature) override;
  const char* GetName(string* out) override;
  void SetName(const char* name) override;
  int32_t GetUpdRel() override;
  void SetUpdRel(int32_t release) override;
  uint64_t GetSize() override;
  ZorBFile* GetStockPtr() const override { return _file; }
  void OpenDebug() override;
  void GetBckInfo(ZorTxtList* list) override;
  using ZorDBase::CreateTable;
  void CreateTable(ZorHandle* description) override;
  using ZorDBase::CreateEnum;
  void CreateEnum(ZorHandle* description) override;
  ZorTableStocker* GetStocker(ZorTable* table) override;
  void DelTable(int64_t tableId) override;
  void DelEnum(int64_t typeId) override;
  void GetTableList(ZorTable* out) override;
  void GetEnumList(ZorTable* out) override;
  bool IsTableExist(int64_t tableId) override;
  bool IsEnumExist(int64_t typeId) override;
  bool GetTableHandle(int64_t tableId, ZorHandle* out, bool share = false) override;
  void SetTableHandle(int64_t tableId, ZorHandle* description) override;
  bool GetEnumHandle(int64_t typeId, ZorHandle* out, bool share = false) override;
  void SetEnumHandle(int64_t typeId, ZorHandle* description) override;
  void GetDutList(ZorTable* out, uint32_t flags) override;
  void RunDut(int32_t code, uint32_t flags, ZorVerif* verif, int64_t tableId, ZorTable* table) override;
  bool ToolsUtil(int32_t command, int64_t p1, const char* p2, int64_t p3) override;
  void StartTransaction() override;
  void EndTransaction() override;
  bool IsTransaction() const override;

 private:
  int32_t CatalogueBlock();
  bool FindEnum(int64_t typeId, int32_t* blockId, int32_t* item);
  ZorBFile* _file;
};

}  // namespace zorvane
