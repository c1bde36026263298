// ZorDBase: the database interface through which tables find their stored
// descriptions and their storage objects.
//
// The storage-independent part lives here: creating and upgrading the tables
// and enumerations that the application's modules declare in their
// resources, the variable-precision cache, ownership of the object by lock
// guards, and the open flags. Storage kinds implement the rest; the base
// raises (1, 25) for every storage operation it cannot do itself.
//
// The block-file database (ZorDBFile, zorvane/database_file.h) is the
// library's own implementation; ZorDbaInit makes the object for a storage
// kind.
//
// Ownership: a database made by ZorDbaInit belongs to the guard given to it
// (or to the first guard that locks it). Unlock, which the guard calls when
// it is released, trashes (closes) and deletes the object.
//
// The current document's database: the library has no document layer, so
// one process-wide database stands for it. The application sets it
// (ZorSetCurDBase) and clears it; tables opened without a database, and
// temporary tables that take their description from the database, use it.
#pragma once

#include <zorvane/block_array.h>
#include <zorvane/block_file.h>
#include <zorvane/handle.h>
#include <zorvane/log_type.h>
#include <zorvane/table_desc.h>
#include <zorvane/types.h>

namespace zorvane {

class date;
class string;
class ZorBFile;
class ZorBGet;
class ZorFsa;
class ZorHandle;
class ZorTxtList;
class ZorTable;
class ZorTableStocker;
class ZorVerif;

// The database open flags (OpenBase, kept by the object).
enum : uint32_t {
  kZorDbOpenRepair = 0x001,       // damaged or foreign files open, any signature
  kZorDbOpenRdOnly = 0x004,       // read-only access
  kZorDbOpenShared = 0x008,       // shared writing
  kZorDbOpenCloseNormal = 0x010,  // discarding the object closes normally
  kZorDbOpenDelOnClose = 0x020,   // the file is removed when closed
  kZorDbOpenMultiLang = 0x040,    // names are translated (IsMultiLang)
  kZorDbOpenAutoCache = 0x080,    // cache size chosen by the block file
  kZorDbOpenCopyOnWrite = 0x100,  // commits through the side journal (local files)
  kZorDbOpenStream = 0x200,       // the block file's stream option
};

// The commands of ToolsUtil.
enum : int32_t {
  kZorDbToolHasTools = 1,     // true: the database offers these tools
  kZorDbToolNeedCompact = 2,  // p1: eZorBfCompact mode
  kZorDbToolCompact = 3,      // p1: mode; p2 non-empty: no progress display
  kZorDbToolWasOpen = 4,      // the file reported a bad close at open
  kZorDbToolCanVerify = 5,    // true: verification steps exist
  kZorDbToolBackup = 6,       // p2: option text ("AddDateTime", "WritePref")
};

class ZOR_API ZorDBase : public iZorLockable {
 public:
  ZorDBase() = default;
  ZorDBase(const ZorDBase&) = delete;
  ZorDBase& operator=(const ZorDBase&) = delete;

  // The object belongs to `guard` (when given); Unlock trashes and deletes it.
  void* Lock(ZorLock* guard) override;
  void Unlock() override;
  ~ZorDBase() override;

  // ----------------------------------------------------------- the file
  // overwrite: replace an existing file (else an existing file raises).
  virtual void CreateBase(const ZorFsa* path, int32_t signature, bool overwrite);
  // Removes a database file of that signature; (1, 19) for anything else.
  virtual void DeleteBase(const ZorFsa* path, int32_t signature, bool showMsg);
  // flags: kZorDbOpen...; returns the read-only flag.
  virtual bool OpenBase(const ZorFsa* path, int32_t signature, uint32_t flags);
  virtual void CloseBase(eZorBfClose mode);
  virtual bool IsOpen() const { return _open; }
  virtual eZorTblStor GetStorage() const;
  // Any pointer may be null.
  virtual void GetDate(date* creation, date* modification, date* data);
  virtual void SetDate(const date* creation, const date* modification, const date* data);
  virtual int32_t GetBaseGuid();
  // 0 draws a random identifier in 0 .. 0x7FFFFFFF; returns the one stored.
  virtual int32_t SetBaseGuid(int32_t id);
  virtual bool IsRdOnly() const { return _rdOnly; }
  virtual int32_t GetSignature();
  virtual void SetSignature(int32_t signature);
  virtual const char* GetName(string* out);
  // Renames the file within its folder; (1, 38) for an empty name.
  virtual void SetName(const char* name);
  virtual int32_t GetUpdRel();
  virtual void SetUpdRel(int32_t release);
  virtual uint64_t GetSize();
  // The block file behind the database (null: none).
  virtual ZorBFile* GetStockPtr() const { return nullptr; }
  virtual void OpenDebug();
  // Adds the files of the database to a backup list (paths).
  virtual void GetBckInfo(ZorTxtList* list);

  // ----------------------------------------------------------- tables
  // Stores a new table description (a ZorTableDesc container).
  virtual void CreateTable(ZorHandle* description);
  // The description from the owning module's resources, patched by it.
  virtual void CreateTable(int64_t tableId);
  // The tables of a module (0: every module) marked for automatic creation.
  virtual void CreateTableAuto(int32_t module, ZorVerif* verif);
  // Upgrades the stored table to this description; true when upgraded.
  virtual bool UpgradeTable(ZorHandle* description, uint32_t flags, ZorVerif* verif);
  virtual bool UpgradeTable(int64_t tableId, uint32_t flags, ZorVerif* verif);
  virtual void UpgradeTableAuto(int32_t module, uint32_t flags, ZorVerif* verif);

  // ----------------------------------------------------------- enumerations
  // Enumerations are descriptions of type kZorTblTypeEnum, known by their
  // type id.
  virtual void CreateEnum(ZorHandle* description);
  virtual void CreateEnum(int64_t typeId);
  virtual void CreateEnumAuto(int32_t module, ZorVerif* verif);
  virtual bool UpgradeEnum(ZorHandle* description, uint32_t flags, ZorVerif* verif);
  virtual bool UpgradeEnum(int64_t typeId, uint32_t flags, ZorVerif* verif);
  virtual void UpgradeEnumAuto(int32_t module, uint32_t flags, ZorVerif* verif);

  // Creates what is missing and upgrades the rest, in one transaction.
  virtual void UpdateAuto(int32_t module, bool createTables, bool createEnums, bool showProgress);

  // The storage object of an open table; the table owns it.
  virtual ZorTableStocker* GetStocker(ZorTable* table);
  virtual void DelTable(int64_t tableId);
  virtual void DelEnum(int64_t typeId);
  // The list tables (zorvane/list_table.h) of stored tables and enumerations.
  virtual void GetTableList(ZorTable* out);
  virtual void GetEnumList(ZorTable* out);
  virtual bool IsTableExist(int64_t tableId);
  virtual bool IsEnumExist(int64_t typeId);
  // The stored description into out; share: out shares the cached bytes
  // (read them only). False when there is none.
  virtual bool GetTableHandle(int64_t tableId, ZorHandle* out, bool share = false);
  virtual void SetTableHandle(int64_t tableId, ZorHandle* description);
  virtual bool GetEnumHandle(int64_t typeId, ZorHandle* out, bool share = false);
  virtual void SetEnumHandle(int64_t typeId, ZorHandle* description);

  // ----------------------------------------------------------- variable precision
  // The logical type of the fields carrying variable-precision id `id`
  // (kZorLogTypeFloat and false when no stored description has one).
  virtual bool GetVPrec(int32_t id, eZorLogType* out);
  // Sets the cached answer; -1 records that no field carries the id.
  virtual void SetVPrec(int32_t id, eZorLogType type);

  // ----------------------------------------------------------- maintenance
  // The verification steps into a list table; flags choose the families.
  virtual void GetDutList(ZorTable* out, uint32_t flags);
  virtual void RunDut(int32_t code, uint32_t flags, ZorVerif* verif, int64_t tableId, ZorTable* table);
  // kZorDbTool... commands; false for unknown ones.
  virtual bool ToolsUtil(int32_t command, int64_t p1, const char* p2, int64_t p3);

  virtual void StartTransaction();
  virtual void EndTransaction();
  virtual bool IsTransaction() const { return false; }

  // Closes an open, initialised database (mode from the open flags) and
  // marks it no longer initialised.
  virtual void Trash();
  virtual void Init() { _init = true; }
  // Converts the records of an open table to a new description (the
  // upgrade's last step).
  virtual bool _UpgTuf(ZorTable* table, ZorTableDesc* newDesc, uint32_t flags, ZorVerif* verif);

  bool IsInit() const { return _init; }
  uint32_t GetOpenFlags() const { return _openFlags; }
  bool GetDelOnClose() const { return (_openFlags & kZorDbOpenDelOnClose) != 0; }
  // Flag 0x40 of the open flags: a positive argument sets it, 0 clears it,
  // a negative one only reads.
  bool IsMultiLang(int32_t set = -1);

 protected:
  // Patches a description with its module's hook; mode 1 creation, 2
  // upgrade, bit 4 for enumerations.
  void PatchDesc(ZorTableDesc* desc, uint32_t mode);
  void CheckWritable() const;
  void DropVPrecCache();

  bool _open = false;
  bool _rdOnly = false;
  bool _init = false;
  uint32_t _openFlags = 0;
  ZorBGet _vprec{0, 8};  // [id, 32-bit][logical type, 32-bit] sorted by id

 private:
  void CreateAuto(int32_t module, ZorVerif* verif, bool enums);
  void UpgradeAuto(int32_t module, uint32_t flags, ZorVerif* verif, bool enums);
  bool UpgradeFromRsrc(int64_t id, uint32_t flags, ZorVerif* verif, bool isEnum);
  bool UpgradeDesc(ZorHandle* description, uint32_t flags, ZorVerif* verif, bool isEnum);
  bool _ownedByGuard = false;
};

// One transaction of a database around a piece of work: Commit ends it
// and lets a failing commit raise; a scope left by an exception ends it
// quietly (what was changed stays for an outer transaction, if any).
class ZOR_API ZorDbTransaction {
 public:
  explicit ZorDbTransaction(ZorDBase* db);
  ~ZorDbTransaction();
  ZorDbTransaction(const ZorDbTransaction&) = delete;
  ZorDbTransaction& operator=(const ZorDbTransaction&) = delete;
  void Commit();

 private:
  ZorDBase* _db;
};

// A database object of a storage kind: kZorTblStorBFile makes a ZorDBFile,
// kZorTblStorOleDB asks the outside module (module message 76000); any
// other kind raises (1, 25). With a guard, the guard owns the object.
ZOR_API ZorDBase* ZorDbaInit(eZorTblStor storage, ZorLock* guard);

// The current document's database (null: none). Not owned.
ZOR_API void ZorSetCurDBase(ZorDBase* dba);
ZOR_API ZorDBase* ZorGetCurDBase();

}  // namespace zorvane
