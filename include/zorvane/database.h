// ZorDBase: the database interface through which tables find their stored
// descriptions and their storage objects.
//
// This is the part tables need: the base answers "not open, no table" and
// raises (1, 25) for the storage operations. Databases derive from it and
// override what they store.
//
// The current document's database: the library has no document layer, so
// one process-wide database stands for it. The application sets it
// (ZorSetCurDBase) and clears it; tables opened without a database, and
// temporary tables that take their description from the database, use it.
#pragma once

#include <zorvane/table_desc.h>
#include <zorvane/types.h>

namespace zorvane {

class ZorBFile;
class ZorHandle;
class ZorTable;
class ZorTableStocker;

class ZOR_API ZorDBase {
 public:
  ZorDBase() = default;
  ZorDBase(const ZorDBase&) = delete;
  ZorDBase& operator=(const ZorDBase&) = delete;
  virtual ~ZorDBase() = default;

  virtual bool IsOpen() const { return _open; }
  virtual bool IsRdOnly() const { return _rdOnly; }
  virtual eZorTblStor GetStorage() const;
  // The block file behind the database (null: none).
  virtual ZorBFile* GetStockPtr() const { return nullptr; }
  // The storage object of an open table; the table owns it.
  virtual ZorTableStocker* GetStocker(ZorTable* table);
  virtual bool IsTableExist(int64_t tableId);
  // The stored description of a table into out; false when there is none.
  virtual bool GetTableHandle(int64_t tableId, ZorHandle* out);
  virtual void StartTransaction();
  virtual void EndTransaction();
  virtual bool IsTransaction() const { return false; }

  // Flag 0x40 of the open flags: a positive argument sets it, 0 clears it,
  // a negative one only reads.
  bool IsMultiLang(int32_t set = -1);

 protected:
  bool _open = false;
  bool _rdOnly = false;
  uint32_t _openFlags = 0;
};

// The current document's database (null: none). Not owned.
ZOR_API void ZorSetCurDBase(ZorDBase* dba);
ZOR_API ZorDBase* ZorGetCurDBase();

}  // namespace zorvane
