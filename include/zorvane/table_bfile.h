// Tables stored in a block file: ZorTSBFile and its two stores.
//
// Every block of a table carries the table's owner, (module id << 9) +
// table number (ZorTableOwner), and one of these types:
//   -1..-32768  one blob each, type = -(number of its "BlobRef" field)
//   0           data block (ZorTSBFileSeqIx): record items, no header
//   1..17       leaf blocks of index 1..17 (ZorTSBFileSeqIx)
//   100         the table description (the database file writes it)
//   101         the directory block
//   102         dynamic parts of records (a ZorDyna)
//   103         the list of reusable record ids (ZorTSBFileSeqIx)
// A stored record (an "item") is a 32-bit leading word followed by the fixed
// record: the dynamic-part reference (0: none; -1 marks a deleted record in
// ZorTSBFileSeqIx). The table's buffer carries the same word
// (ZorTable::GetRecordItem), so a record moves as one item.
//
// ZorTSBFileSmall keeps a table in its directory block: a header (12 bytes,
// 128 from description header version 3) then the items in storage order.
// A record's UD is its place: deleting a record renumbers the later ones.
// Key order comes from an in-memory index built on demand.
//
// ZorTSBFileSeqIx spreads records over data blocks of P records (UD = data
// block id * 8192 + slot) and keeps each index as sorted leaf blocks listed
// in the directory, whose items are sorted by tag and highest key, so that
// a key search reads the directory and one leaf. Every index is unique.
// Deleted records stay in place, marked -1, and their UDs are reused
// (unless kZorTblTfInsureSeq). Directory header (24 bytes, 128 from header
// version 3): last unique id, key width W, valid records, slots used,
// records per data block P, reusable-id list block, data-version GUID;
// directory items of W + 8 bytes: block id, entry count, tag, highest key.
//
// Each store object serves one open table and keeps that table's directory
// array and index cache; the table owns it. The block file comes from the
// table's database (ZorDBase::GetStockPtr). Every change runs inside the
// block file's transaction (PrimTransac), and every refusal (48 duplicate
// key, 49 no such record) is decided before anything is written, so that a
// refused change leaves the table and the file as they were, and a crash
// leaves the last committed state.
#pragma once

#include <functional>
#include <memory>

#include <zorvane/block_array.h>
#include <zorvane/table_store.h>
#include <zorvane/types.h>

namespace zorvane {

class ZorBFile;
class ZorHandle;
class ZorVerif;

// Block types of a table's owner.
enum : int16_t {
  kZorTbBlkData = 0,
  kZorTbBlkLastLeaf = 17,  // leaves of index i have type i, 1..17
  kZorTbBlkDesc = 100,
  kZorTbBlkDir = 101,
  kZorTbBlkDyna = 102,
  kZorTbBlkReuse = 103,
};

// Upgrade choices (sZorUpgrade::flags).
enum : uint32_t {
  kZorUpgEmpty = 0x1,    // recreate the table empty
  kZorUpgCopy = 0x2,     // convert by copying every record into new blocks
  kZorUpgKeepIds = 0x4,  // carry the last unique id over
};

// The owner of a table's blocks: (module id << 9) + table number.
ZOR_API int32_t ZorTableOwner(int64_t tableId);
// The table id of an owner: module id (owner / 512) << 32 | table number
// (owner mod 256) << 16.
ZOR_API int64_t ZorTableIdOfOwner(int32_t owner);

// The description block of a table (type 100 of its owner): written with
// reserve 0, compactable, created when missing; false when the file has none
// to read.
ZOR_API void ZorWriteTableDescBlock(ZorBFile* file, int64_t tableId, const ZorHandle* desc);
ZOR_API bool ZorReadTableDescBlock(ZorBFile* file, int64_t tableId, ZorHandle* out);

class ZOR_API ZorTSBFile : public ZorTableStocker {
 public:
  ZorTSBFile();
  ~ZorTSBFile() override;

  // The store a database hands a table: Small for kZorTblTfSmall, else
  // SeqIx.
  static ZorTSBFile* MakeFor(const ZorTable* table);

  void ShClose(ZorTable* table) override;
  int32_t GetRuid(ZorTable* table) override;
  void SetRuid(ZorTable* table, int32_t ruid) override;
  void PrimTransac(ZorTable* table, bool begin, int32_t depth) override;
  bool BlobRead(ZorTable* table, int32_t field, uint32_t ref, ZorHandle* out) override;
  uint32_t BlobCreate(ZorTable* table, int32_t field, const ZorHandle* data) override;
  uint32_t BlobUpdate(ZorTable* table, int32_t field, uint32_t ref, const ZorHandle* data) override;
  void BlobDelete(ZorTable* table, int32_t field, uint32_t ref) override;
  int32_t BlobInfo(ZorTable* table, int32_t field, uint32_t ref) override;
  bool Upgrade(sZorUpgrade* upgrade) override;
  // Rewrites the table into new blocks from its readable records, keeping
  // their ids' counter (what a repair of damaged indexes also does).
  bool Reorg(ZorTable* table, bool showProgress) override;
  int32_t GetNbUser(ZorTable* table) override;

  // given when not 0, else max(1, budget / itemSize); 1 for item size 0.
  static int32_t nbBlockMax(int32_t itemSize, int32_t budget, int32_t given);
  // Deletes the table's blocks of types -32768..99 and 102..32765.
  void empty(ZorTable* table);
  // Checks the table's blocks against one another (the directory, the
  // records, every index); false with error items in report (when given).
  virtual bool Verify(ZorTable* table, ZorVerif* report) = 0;
  // The links between a table's records and its other blocks, as the
  // database's verification steps check them (kZorDut... codes of
  // zorvane/database_file.h): 0x23 dynamic parts that no record points to,
  // 0x24 records pointing to a missing part, 0x25 blobs that no record
  // refers to, 0x26 the deletion cache. False when faults were found; with
  // repair, what is reported is repaired, in one transaction.
  bool CheckLinks(ZorTable* table, int32_t step, ZorVerif* report, bool repair);

  struct Rep;

 protected:
  // The in-place conversion of the store's own blocks to upgrade->to's
  // description.
  virtual void upgrade(sZorUpgrade* upgrade) = 0;
  // Whether the records keep their bytes: every field of the new record at
  // the place, size and type of the same field of the old one.
  static bool SameRecordLayout(const sZorUpgrade* upgrade);
  // Attaches to the table: file, owner, item size, directory block.
  void Attach(ZorTable* table);
  // Calls visit(ud, item) for every live record's stored item, in storage
  // order; the items for which visit returns true are written back.
  using ItemVisitor = std::function<bool(uint32_t ud, uint8_t* item)>;
  virtual void VisitItems(const ItemVisitor& visit) = 0;
  // The cell (block, line) of the dynamic-part block a record's leading word
  // designates; false when the word designates none.
  virtual bool DynaCell(uint32_t ud, uint32_t lead, int32_t* block, int32_t* line) const = 0;
  // The deletion cache (step 0x26); true when sound or absent.
  virtual bool CheckDeleted(ZorVerif* report, bool repair);
  std::unique_ptr<Rep> _rep;
};

class ZOR_API ZorTSBFileSmall : public ZorTSBFile {
 public:
  void ShOpen(ZorTable* table) override;
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
  bool Verify(ZorTable* table, ZorVerif* report) override;

 protected:
  void upgrade(sZorUpgrade* upgrade) override;
  void VisitItems(const ItemVisitor& visit) override;
  bool DynaCell(uint32_t ud, uint32_t lead, int32_t* block, int32_t* line) const override;
};

class ZOR_API ZorTSBFileSeqIx : public ZorTSBFile {
 public:
  void ShOpen(ZorTable* table) override;
  bool GetDataVersion(ZorTable* table, ZorUuid* out) override;
  int32_t PrimGetTNbr(ZorTable* table, bool valid) override;
  uint32_t PrimTNToUD(ZorTable* table, int32_t n) override;
  int32_t PrimUDToTN(ZorTable* table, uint32_t ud) override;
  uint32_t PrimReadUD(ZorTable* table, uint32_t ud, bool load) override;
  bool PrimRdDyna(ZorTable* table, uint32_t ud, ZorDyna* out) override;
  uint32_t PrimFindIx(ZorTable* table, int32_t index, eZorTblFind mode, int32_t* n) override;
  bool PrimIsDel(ZorTable* table) override;
  uint32_t PrimWrite(ZorTable* table, bool add) override;
  void PrimUpd(ZorTable* table, bool dynaChanged) override;
  void PrimDel(ZorTable* table) override;
  void PrimEmpty(ZorTable* table) override;
  int32_t GetNbDelRec(ZorTable* table) override;
  bool Verify(ZorTable* table, ZorVerif* report) override;

 protected:
  void upgrade(sZorUpgrade* upgrade) override;
  void VisitItems(const ItemVisitor& visit) override;
  bool DynaCell(uint32_t ud, uint32_t lead, int32_t* block, int32_t* line) const override;
  bool CheckDeleted(ZorVerif* report, bool repair) override;
};

}  // namespace zorvane
