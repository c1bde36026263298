// ZorTableStocker: where a table's records live. A ZorTable delegates every
// stored read and change to one storage object; this file holds the
// interface, the empty base store and ZorTSMem, the store that keeps its
// records in memory inside the table's own description container.
//
// Identity: every stored record has a UD, a positive 32-bit number given by
// the store when the record is written (0: no record). Positions are
// 1-based ranks in the order of an index (index 0: creation order).
//
// The base store is a valid, empty, unwritable store: reads answer 0 or
// false and every writing operation raises ZorEBasic (1, 25) from
// "ZorTablesHA".
#pragma once

#include <memory>

#include <zorvane/handle.h>
#include <zorvane/types.h>
#include <zorvane/uuid.h>

namespace zorvane {

class ZorTable;
class ZorDyna;

// A structure upgrade: the records of `from` are copied into `to`, field
// `to` n taking the value of field fieldMap[n] of `from` (0: left at its
// default). fieldMap has to->GetNbField() + 1 items; item 0 is unused.
struct sZorUpgrade {
  ZorTable* from = nullptr;
  ZorTable* to = nullptr;
  const int32_t* fieldMap = nullptr;
  uint32_t flags = 0;
};

// Search modes of PrimFindIx and ZorTable::Read.
enum eZorTblFind : int32_t {
  kZorTblFindEqual = 0,    // a record with this key
  kZorTblFindGreater = 1,  // the first record whose key is >= the key
  kZorTblFindLess = 2,     // the last record whose key is <= the key
};

class ZOR_API ZorTableStocker {
 public:
  ZorTableStocker() = default;
  ZorTableStocker(const ZorTableStocker&) = delete;
  ZorTableStocker& operator=(const ZorTableStocker&) = delete;
  virtual ~ZorTableStocker() = default;

  virtual void ShOpen(ZorTable* table);
  virtual void ShClose(ZorTable* table);
  virtual void ShRefresh(ZorTable* table, bool opening, int32_t p1, int32_t p2, int32_t p3, int64_t p4);
  virtual int32_t GetRuid(ZorTable* table);
  virtual void SetRuid(ZorTable* table, int32_t ruid);
  virtual bool GetDataVersion(ZorTable* table, ZorUuid* out);
  virtual int32_t PrimGetTNbr(ZorTable* table, bool valid);
  virtual uint32_t PrimTNToUD(ZorTable* table, int32_t n);
  virtual int32_t PrimUDToTN(ZorTable* table, uint32_t ud);
  virtual uint32_t PrimReadUD(ZorTable* table, uint32_t ud, bool load);
  virtual bool PrimRdDyna(ZorTable* table, uint32_t ud, ZorDyna* out);
  virtual uint32_t PrimFindIx(ZorTable* table, int32_t index, eZorTblFind mode, int32_t* n);
  virtual uint32_t PrimExist(ZorTable* table, int32_t firstIndex, int32_t lastIndex);
  virtual bool PrimIsDel(ZorTable* table);
  virtual uint32_t PrimWrite(ZorTable* table, bool add);
  virtual void PrimUpd(ZorTable* table, bool dynaChanged);
  virtual void PrimDel(ZorTable* table);
  virtual void PrimEmpty(ZorTable* table);
  virtual void PrimTransac(ZorTable* table, bool begin, int32_t depth);
  virtual void PrimSwap(ZorTable* table, uint32_t ud1, uint32_t ud2);
  virtual bool BlobRead(ZorTable* table, int32_t field, uint32_t ref, ZorHandle* out);
  virtual uint32_t BlobCreate(ZorTable* table, int32_t field, const ZorHandle* data);
  virtual uint32_t BlobUpdate(ZorTable* table, int32_t field, uint32_t ref, const ZorHandle* data);
  virtual void BlobDelete(ZorTable* table, int32_t field, uint32_t ref);
  virtual int32_t BlobInfo(ZorTable* table, int32_t field, uint32_t ref);
  virtual bool Upgrade(sZorUpgrade* upgrade);
  virtual bool Reorg(ZorTable* table, bool showProgress);
  virtual int32_t GetNbDelRec(ZorTable* table);
  virtual int32_t GetNbUser(ZorTable* table);

 protected:
  // Raises (1, 25): the store cannot do this.
  [[noreturn]] static void RaiseNotImpl(uint32_t line = __builtin_LINE());
};

// The in-memory store. Its stored form lives in the table's description
// container (ZorTable::GetDescDyna), table 3:
//   (3, 1, 1) the records, each of the fixed record size, in UD order
//   (3, 2, 1) a nested container whose line UD holds that record's dynamic
//             part (as the container bytes, column 1)
//   (3, 3, 1) the last unique id (32-bit)
//   (3, 4, 1) the data-version UUID
//   (3, 5, r) the bytes of blob r        (3, 6, 1) the last blob reference
// It is read at ShOpen and written back by SaveInto, which ZorTable::
// GetDescHandle calls; in between the records live in the store's own
// arrays, where appending a record costs O(1). A table closed without
// asking for its description leaves the description as it was.
//
// Deleting record UD k shifts every later record down: their UDs fall by
// one. Duplicate keys are found through one hash of keys per index, and key
// order through one sorted order per index, both kept up to date by every
// change once built.
class ZOR_API ZorTSMem : public ZorTableStocker {
 public:
  ZorTSMem();
  ~ZorTSMem() override;

  void ShOpen(ZorTable* table) override;
  void ShClose(ZorTable* table) override;
  int32_t GetRuid(ZorTable* table) override;
  void SetRuid(ZorTable* table, int32_t ruid) override;
  bool GetDataVersion(ZorTable* table, ZorUuid* out) override;
  int32_t PrimGetTNbr(ZorTable* table, bool valid) override;
  uint32_t PrimTNToUD(ZorTable* table, int32_t n) override;
  int32_t PrimUDToTN(ZorTable* table, uint32_t ud) override;
  uint32_t PrimReadUD(ZorTable* table, uint32_t ud, bool load) override;
  bool PrimRdDyna(ZorTable* table, uint32_t ud, ZorDyna* out) override;
  uint32_t PrimFindIx(ZorTable* table, int32_t index, eZorTblFind mode, int32_t* n) override;
  uint32_t PrimExist(ZorTable* table, int32_t firstIndex, int32_t lastIndex) override;
  uint32_t PrimWrite(ZorTable* table, bool add) override;
  void PrimUpd(ZorTable* table, bool dynaChanged) override;
  void PrimDel(ZorTable* table) override;
  void PrimEmpty(ZorTable* table) override;
  void PrimSwap(ZorTable* table, uint32_t ud1, uint32_t ud2) override;
  bool BlobRead(ZorTable* table, int32_t field, uint32_t ref, ZorHandle* out) override;
  uint32_t BlobCreate(ZorTable* table, int32_t field, const ZorHandle* data) override;
  uint32_t BlobUpdate(ZorTable* table, int32_t field, uint32_t ref, const ZorHandle* data) override;
  void BlobDelete(ZorTable* table, int32_t field, uint32_t ref) override;
  int32_t BlobInfo(ZorTable* table, int32_t field, uint32_t ref) override;
  bool Reorg(ZorTable* table, bool showProgress) override;

  // Writes the records, dynamic parts, last unique id and data version into
  // the table's description container (table 3).
  void SaveInto(ZorTable* table);

  struct Rep;

 private:
  std::unique_ptr<Rep> _rep;
};

}  // namespace zorvane
