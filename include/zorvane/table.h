// ZorTable: the cursor through which records of a table are read and
// changed, and ZorTSel, a list of record UDs used as a selection.
//
// A table holds a copy of its description, one record buffer (the current
// record's fixed part, laid out by the description), one index definition
// per index, one slot per "BlobRef" field, the current record's dynamic
// part, the current index, position (N, 1-based in the view, 0 unknown) and
// UD (0: no current record), and a view:
//   mode 0 full:      every record in the current index's order
//   mode 1 range:     `count` positions after `offset` in that order
//   mode 2 selection: an explicit list of UDs
// Records are stored by a ZorTableStocker (table_store.h); application
// behaviour comes from an optional ZorTableHandler (table_handler.h).
//
// Invariants:
// - without a current record the buffer is zeroed and the UD is 0; every
//   failed read and every Delete leaves the table so;
// - a successful read discards the cached dynamic part and blob contents,
//   which are loaded again when asked for;
// - every change holds the table lock (Lock/Unlock, nested; the storage
//   object sees each level through PrimTransac);
// - navigation and reads never raise; changes raise ZorEBasic with the
//   table's codes: 24 read only, 25 not permitted, 41 table missing, 48
//   duplicate key, 49 no current record.
//
// A table is used by one thread at a time.
#pragma once

#include <functional>
#include <memory>

#include <zorvane/date.h>
#include <zorvane/decimal.h>
#include <zorvane/handle.h>
#include <zorvane/table_desc.h>
#include <zorvane/table_handler.h>
#include <zorvane/table_store.h>
#include <zorvane/types.h>
#include <zorvane/uuid.h>

namespace zorvane {

class string;
class ZorBGet;
class ZorDBase;
class ZorDyna;
class ZorFsa;
class ZorLock;
class ZorTSel;

enum eZorTblMode : int32_t {
  kZorTblModeFull = 0,
  kZorTblModeRange = 1,
  kZorTblModeSel = 2,
};

// Mode flags (GetModeFlags).
enum : uint32_t {
  kZorTblMfRdOnly = 0x1,   // no change permitted
  kZorTblMfKeepDel = 0x2,  // the store keeps deleted records; navigation skips them
  kZorTblMfAddOk = 0x4,    // Add permitted
  kZorTblMfSwapOk = 0x8,   // Swap permitted
  kZorTblMfVersioned = 0x20,  // the store keeps a data version (description header version 3 on)
};

// ChangeVal on a writable text field.
enum eZorTblChgVal : int32_t {
  kZorTblChgTrim = 1,    // blanks off both ends
  kZorTblChgUpper = 2,
  kZorTblChgLower = 3,
  kZorTblChgTitle = 4,   // first letter of each word upper, the rest lower
  kZorTblChgTitle1 = 5,  // first letter of the text upper, the rest lower
};

// Change messages: ZorSendMessage(45, 37 or 39, table, tableKey, kind, ud).
enum : int32_t {
  kZorTblMsgCode = 45,
  kZorTblMsgSubLoc = 37,
  kZorTblMsgSubStd = 39,
};
enum eZorTblMsgKind : int32_t {
  kZorTblMsgWrite = 1,
  kZorTblMsgUpdate = 2,
  kZorTblMsgUpdateDyna = 3,
  kZorTblMsgDelete = 4,
  kZorTblMsgSwap = 5,
  kZorTblMsgEmpty = 6,
};

// GetFidIndex: which part of an index the field must be.
enum eZorTblFidIndex : int32_t {
  kZorTblFidIndexOnly = 0,   // the index's only part
  kZorTblFidIndexFirst = 1,  // its first part
  kZorTblFidIndexAny = 2,    // any of its parts
};

// ZorOpenTmpTbl flags.
enum : uint32_t {
  kZorTmpTblFromBase = 0x20,  // description from the current database, else the module's resource
};

class ZOR_API ZorTable : public iZorLockable {
 public:
  ZorTable();
  ~ZorTable() override;
  ZorTable(const ZorTable&) = delete;
  ZorTable& operator=(const ZorTable&) = delete;

  // The table lock: PrimTransac(begin), the guard (when given) unlocks,
  // depth + 1; returns the table. Unlock: depth - 1, PrimTransac(end). A
  // store whose commit fails there reports it on the debug channel, since a
  // guard's destructor calls Unlock; EndTransaction raises it instead.
  void* Lock(ZorLock* guard) override;
  void Unlock() override;

  // ----------------------------------------------------------- open, close
  // A null dba means the current database (ZorGetCurDBase). Raises (1, 41)
  // when the database has no such table.
  void Open(ZorDBase* dba, int64_t tableId, int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0, int32_t p4 = 0,
            int64_t p5 = 0);
  // The same on the module's resource description (type 1006).
  void OpenR(ZorDBase* dba, int64_t tableId, int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0, int32_t p4 = 0,
             int64_t p5 = 0);
  // On a description given as its container bytes (copied); with
  // noHandler, no handler is looked for.
  void Init(const ZorHandle* description, bool noHandler = false);
  void Init(ZorTableDesc* description);
  void Trash();
  bool IsInit() const;
  // Copies every record into a table opened on newDesc (same storage),
  // through the fields of the same name; false (with message 52 in the
  // report) when the stored release is newer than the new description's.
  bool StructUpgrade(ZorTableDesc* newDesc, uint32_t flags, ZorVerif* report);
  // Replaces the description when only names, flags or lengths of text
  // fields that keep their place changed; false otherwise.
  bool FastStructUpd(ZorTableDesc* newDesc);
  void Refresh();

  // ----------------------------------------------------------- description
  const ZorTableDesc* GetDesc() const;
  ZorTableDesc* GetDesc();
  // The description container, with a memory store's records written into
  // table 3 first.
  ZorHandle* GetDescHandle();
  int32_t GetNbField() const;
  const char* GetName(string* out, eZorNameType type = ZorNamePublic) const;
  void SetName(const char* text, eZorNameType type = ZorNamePublic);
  const char* GetAbrName(string* out) const;
  uint32_t GetFlags() const;
  void SetFlags(uint32_t flags);
  int32_t GetStructRelease() const;
  int64_t GetTId() const;
  eZorTblType GetType() const;
  int64_t GetTypeId() const;
  eZorTblStor GetStorage() const;
  int32_t GetDefIndex() const;
  int32_t GetNbIndex() const;
  const char* GetIndexName(int32_t index, string* out) const;
  // The index definition (false outside 1..n).
  bool GetIndexInfo(int32_t index, sZorKey* out) const;
  const char* GetFieldName(int32_t field, string* out, eZorNameType type = ZorNamePublic) const;
  eZorLogType GetFieldLogType(int32_t field) const;
  eZorPhysType GetFieldPhysType(int32_t field) const;
  // Declared length, offset and size of a field; false when it is no field.
  bool GetFieldInfo(int32_t field, int32_t* len, int32_t* offset, int32_t* size) const;
  bool GetField(int32_t field, sZorTfi* out) const;
  uint32_t GetFieldFlags(int32_t field) const;
  int32_t GetFieldId(const char* name, eZorNameType type = ZorNamePublic) const;
  int32_t GetFieldVPrec(int32_t field) const;
  bool IsArray(int32_t field) const;
  // Lines and columns of an array (the handler may say other ones); 0 and
  // 0 for a plain field.
  void GetDim(int32_t field, int32_t* lines, int32_t* cols);
  void GetMaxDim(int32_t field, int32_t* lines, int32_t* cols) const;
  // The first index whose only part, first part or any part is the field;
  // 0 when none.
  int32_t GetFidIndex(int32_t field, eZorTblFidIndex which) const;

  // ----------------------------------------------------------- values
  // line and col address an element of an array field (0-based, 0..lines
  // and 0..cols); plain fields ignore them. Getters answer false (and
  // leave a neutral value) for no field or a form the field cannot give;
  // setters answer false without writing when the value does not fit.
  // Aliases read and write the field named by their D1. The text form: see
  // tables/cursor/table_values_text.cpp; the handle form is open to Blob and
  // BlobRef fields, dynamic fields and logical types 12 to 18 but 16.
  // Typed accessors, by physical type (enumerations and string lists count
  // as integers of 0..65535):
  //   Long, Quad     read every integer type (GetValLong: 0 for a Quad
  //                  outside 32 bits); write every integer type within its
  //                  range (AnsiChar 0..255, UnicodeChar 0..65535, Short and
  //                  Long their signed range, Quad anything).
  //   Decimal        reads Double and Decimal; writes them rounded to the
  //                  field's numeric type, refusing a value that is no valid
  //                  decimal. AddVal adds to any integer or real number field.
  //   Date           Date only; writing refuses a non-empty invalid date.
  //   Uuid           UUID only.
  //   Ref            Long link fields only.
  // Any other type reads 0, empty or null, and refuses writes.
  bool GetVal(int32_t field, eZorTblForm form, void* out, int32_t line = 0, int32_t col = 0);
  bool SetVal(int32_t field, eZorTblForm form, const void* in, int32_t line = 0, int32_t col = 0);
  const char* GetValStr(int32_t field, string* out, int32_t line = 0, int32_t col = 0);
  bool SetValStr(int32_t field, const char* text, int32_t line = 0, int32_t col = 0);
  int32_t GetValLong(int32_t field, int32_t line = 0, int32_t col = 0);
  bool SetValLong(int32_t field, int32_t value, int32_t line = 0, int32_t col = 0);
  int64_t GetValQuad(int32_t field, int32_t line = 0, int32_t col = 0);
  bool SetValQuad(int32_t field, int64_t value, int32_t line = 0, int32_t col = 0);
  ZorUuid GetValUuid(int32_t field, int32_t line = 0, int32_t col = 0);
  bool SetValUuid(int32_t field, const ZorUuid& value, int32_t line = 0, int32_t col = 0);
  date GetValDate(int32_t field, int32_t line = 0, int32_t col = 0);
  bool SetValDate(int32_t field, const date& value, int32_t line = 0, int32_t col = 0);
  decimal GetValDecimal(int32_t field, int32_t line = 0, int32_t col = 0);
  bool SetValDecimal(int32_t field, const decimal& value, int32_t line = 0, int32_t col = 0);
  // Adds value to a numeric field.
  bool AddVal(int32_t field, const decimal& value, int32_t line = 0, int32_t col = 0);
  bool GetValHandle(int32_t field, ZorHandle* out, int32_t line = 0, int32_t col = 0);
  bool SetValHandle(int32_t field, const ZorHandle* in, int32_t line = 0, int32_t col = 0);
  // A link field's reference: the 32-bit UD stored in it.
  uint32_t GetValRef(int32_t field);
  bool SetValRef(int32_t field, uint32_t ud);
  bool GetValRtf(int32_t field, ZorHandle* out);
  bool SetValRtf(int32_t field, const ZorHandle* in);
  // A local-table field: the nested table's description container.
  bool GetValLocTbl(int32_t field, ZorHandle* out);
  bool SetValLocTbl(int32_t field, const ZorHandle* in);
  // The whole element block of an array field.
  bool GetValArray(int32_t field, ZorHandle* out);
  bool SetValArray(int32_t field, const ZorHandle* in);
  bool ClearVal(int32_t field, int32_t line = 0, int32_t col = 0);
  bool SetValMinMax(int32_t field, bool max, int32_t line = 0, int32_t col = 0);
  bool ChangeVal(int32_t field, eZorTblChgVal how);
  // Copies a field's value from another table's current record (same
  // field number when srcField is 0).
  bool CopyVal(int32_t field, ZorTable* src, int32_t srcField = 0);
  // Clears the record buffer, the dynamic part and the blob slots.
  void Raz();
  // Every field gets its default: the handler's RazDef, else zero.
  void FillDefault(bool creating = true);
  uint32_t GetBufferSize() const;
  // Copies of the fixed record (size GetBufferSize()).
  void GetBufferData(void* out) const;
  void SetBufferData(const void* in);
  // The key of the buffer for an index (keyLen bytes), false outside 1..n.
  bool GetIndexValue(int32_t index, void* out);
  bool GetIndexValue(int32_t index, string* out);
  // True when a non-virtual field's value is not its empty value.
  bool FieldIsSetOk(int32_t field, int32_t line = 0, int32_t col = 0);

  // ----------------------------------------------------------- navigation
  bool First();
  bool Last();
  bool Next();
  bool Prev();
  bool ReadN(int32_t n, bool skipDeleted = true);
  int32_t GetCurN() const { return _curN; }
  // Number of positions of the view.
  int32_t GetNbN();
  uint32_t GetUDFromN(int32_t n);
  int32_t GetNFromUD(uint32_t ud);
  bool ReadUD(uint32_t ud);
  uint32_t GetCurUD() const { return _curUD; }
  uint32_t GetLastWrittenUD() const { return _lastUD; }
  bool Read(eZorTblFind mode, int32_t index = kZorTblIndexCur);
  int32_t ReadPartial(int32_t field, bool includeField, bool forward);
  bool ReadPk(const char* text, int32_t index = 0);
  uint32_t Exist(int32_t index = kZorTblIndexAll);
  // Leaves the table without a current record.
  void Clear();
  bool IsDeleted();
  int32_t GetNbRecord();
  int32_t GetNbDelRec();
  bool SetCurIndex(int32_t index);
  int32_t GetCurIndex() const { return _curIndex; }
  // how: 1 first, 2 previous, 3 next, 4 last, in the handler's index.
  bool DoNavig(int32_t how);
  // A record's reference text and the record it names (the handler first,
  // else the hi-lock field).
  bool GetRecRef(string* out);
  bool ReadRecRef(const char* ref);
  // A readable name of the current record: the handler's, else the values
  // of the description's record-name fields joined by blanks.
  const char* GetRecordName(string* out);

  // ----------------------------------------------------------- changes
  uint32_t Write(int32_t action = 0, void* param = nullptr);
  uint32_t Add(int32_t action = 0, void* param = nullptr);
  void UpDate(int32_t action = 0, void* param = nullptr);
  // The fixed part only: the dynamic part is left as stored.
  void UpDateDataOnly(int32_t action = 0, void* param = nullptr);
  void Delete(int32_t action = 0, void* param = nullptr);
  void MakeEmpty(int32_t action = 0, void* param = nullptr);
  void Swap(uint32_t ud1, uint32_t ud2, int32_t action = 0, void* param = nullptr);
  // Reorders the records of sel to follow the selection's order (the
  // positions they hold, taken in ascending order, receive the selection's
  // records in turn); with backward the selection is read from its end.
  // *moved receives the number of swaps.
  void Swap(ZorTSel* sel, bool backward, int32_t* moved, int32_t action = 0, void* param = nullptr);
  // Write and Add, then read the record back.
  uint32_t WriteRd(int32_t action = 0, void* param = nullptr);
  uint32_t AddRd(int32_t action = 0, void* param = nullptr);
  bool Reorg(bool showProgress);
  bool CanReorg();
  void StartTransaction(ZorLock* guard) { Lock(guard); }
  void EndTransaction();
  int32_t GetLockDepth() const { return _lockDepth; }

  // ----------------------------------------------------------- views
  eZorTblMode GetMode() const { return _mode; }
  uint32_t GetModeFlags() const { return _modeFlags; }
  void SetModeFlags(uint32_t flags, bool on);
  void SetModeFull();
  int32_t SetModeRangeN(int32_t first, int32_t last);
  int32_t SetModeRangeOffset(int32_t offset, int32_t count);
  // from and to in the field's native form; a null from takes the buffer's
  // current value.
  int32_t SetModeRange(int32_t field, const void* from, const void* to, bool intersect = false);
  int32_t SetModeRangeStr(int32_t field, const char* from, const char* to, bool intersect = false);
  int32_t SetModeRangeLong(int32_t field, int32_t from, int32_t to, bool intersect = false);
  int32_t SetModeRangeDate(int32_t field, const date& from, const date& to, bool intersect = false);
  // The records of the view whose text field matches pattern (* any run, ?
  // one character, ignoring case), as a selection.
  int32_t SetModeRangeWild(int32_t field, const char* pattern, bool intersect = false);
  // The view in the order of a field's values (descending when asked), as
  // a selection.
  int32_t SetModeRangeSort(int32_t field, bool descending);
  // The view in the order of an index's keys, as a selection.
  int32_t SetModeRangeSortIndex(int32_t index, bool descending);
  int32_t SetModeFromTSel(ZorTSel* sel, bool share);
  int32_t SetModeFromTSel(ZorHandle* sel, bool share);
  // A selection of the records that are not deleted, in the current order
  // (off: back to the full view).
  int32_t SetModeNoDel(bool on);
  // The view's selection in mode 2 (null otherwise).
  const ZorBGet* GetSel() const;

  // ----------------------------------------------------------- for stores
  // The fixed record of the current record.
  uint8_t* GetRecord() { return _rec; }
  const uint8_t* GetRecord() const { return _rec; }
  // The record as block stores keep it: a 32-bit leading word of the
  // store's own (a dynamic-part reference, -1 for a deleted record), then
  // the fixed record; GetBufferSize() + 4 bytes. Failed reads zero it too.
  uint8_t* GetRecordItem() { return _rec - 4; }
  // The current record's dynamic part (loaded on demand) and its state.
  ZorDyna* GetDyna();
  int32_t GetDynaState() const { return _dynaState; }
  void SetDynaState(int32_t state) { _dynaState = state; }
  // The description's container (the memory store's home).
  ZorDyna* GetDescDyna();
  ZorTableStocker* GetStocker() const { return _stocker; }
  ZorTableHandler* GetHandler() const { return _handler; }
  ZorDBase* GetDBase() const { return _dba; }
  // The database's multi-language flag, as it was at open.
  bool IsMultiLang() const { return _multiLang; }
  void _SetCurUD(uint32_t ud) { _curUD = ud; }
  void _SetLastUD(uint32_t ud) { _lastUD = ud; }
  // The key of an index for a record (the buffer when record is null) into
  // out (keyLen bytes); the index is 1..n.
  void BuildKey(int32_t index, const void* record, void* out) const;
  int32_t GetKeyLen(int32_t index) const;
  // Blob slots around a store's work: 1 new record, 3 update (record: the
  // stored one), 4 delete (record: the stored one).
  void DoBlob(int32_t action, uint8_t* record);
  int32_t GetUniqueIdField() const;

 private:
  friend class ZorTSel;
  friend struct ZorTableAccess;
  friend struct ZorTableValues;
  struct BlobSlot;

  void _initFromDesc(bool noHandler);
  void _chooseStocker();
  void _attachHandler(bool noHandler);
  void _allocBuffer();
  void _afterRead(uint32_t ud, int32_t n);
  void _failRead();
  void _unlock(bool raise);
  bool _readAt(int32_t n, bool skipDeleted);
  bool _stepSkippingDeleted(int32_t from, int32_t step);
  int32_t _viewCount();
  int32_t _resolveIndex(int32_t index) const;
  void _checkWritable(int32_t noRecordMessage);
  void _postMessage(eZorTblMsgKind kind, uint32_t ud);
  bool _callHandler(int32_t action) const;
  uint32_t _writeRecord(bool add, int32_t action, void* param);
  void _update(bool withDyna, int32_t action, void* param);
  void _blobsToRecord();
  void _blobsFromRecord();
  int32_t _rangeOn(int32_t field, const std::function<void(bool)>& set, bool intersect);
  int32_t _setRangeResult(int32_t first, int32_t last, bool intersect, ZorBGet* previous);
  void _setSelection(ZorBGet* uds);
  int32_t _selectUDs(const uint32_t* uds, size_t count);
  int32_t _selectViewSorted(const sZorKey* key, bool descending);

  std::unique_ptr<ZorTableDesc> _desc;
  uint8_t* _rec = nullptr;  // the record buffer, _recSize bytes (at least 1)
  uint32_t _recSize = 0;
  sZorKey* _keys = nullptr;  // one per index, after the record in the same block
  BlobSlot* _blobs = nullptr;
  int32_t _nbBlobs = 0;
  void* _block = nullptr;  // record, keys and blob slots
  std::unique_ptr<ZorDyna> _dyna;
  int32_t _dynaState = 0;  // 0 not loaded, 1 loaded, 2 to be written
  bool _dynaChanged = false;
  int32_t _curIndex = 0;
  int32_t _curN = 0;
  uint32_t _curUD = 0;
  uint32_t _lastUD = 0;
  eZorTblMode _mode = kZorTblModeFull;
  int32_t _rangeOffset = 0;
  int32_t _rangeCount = 0;
  std::unique_ptr<ZorBGet> _sel;  // mode 2: the UDs of the view
  uint32_t _modeFlags = 0;
  int32_t _lockDepth = 0;
  ZorTableStocker* _stocker = nullptr;
  bool _ownsStocker = false;
  ZorTableHandler* _handler = nullptr;
  ZorDBase* _dba = nullptr;
  ZorDBase* _linkedDba = nullptr;
  ZorUuid _dataVersion;
  bool _multiLang = false;
};

// A list of record UDs, in order; elements count from 1.
class ZOR_API ZorTSel {
 public:
  ZorTSel();
  ~ZorTSel();
  ZorTSel(const ZorTSel&) = delete;
  ZorTSel& operator=(const ZorTSel&) = delete;

  // An empty selection.
  void Init();
  // The table's selection in mode 2, else the UDs of its view's positions.
  void Init(ZorTable* table);
  // A copy of h's UDs, or (share) h's own record.
  void Init(const ZorHandle* h, bool share);
  // From a parameter text: UDs separated by commas or blanks.
  void InitFromParam(const char* text);
  ZorHandle* GetHandle();
  int32_t GetNbSel() const;
  uint32_t GetFirstUD() const;
  // 0 outside 1..count.
  uint32_t operator[](int32_t i) const;
  bool ReadFirst(ZorTable* table);
  // Forward: *position + 1, failing past the end; backward: *position - 1
  // (from count + 1 when *position is 0), failing at 1.
  bool ReadNext(ZorTable* table, int32_t* position, bool backward = false);
  void AddSel(uint32_t ud);
  void AddSel(const ZorTSel* other);
  // New items are 0.
  void SetNbSel(int32_t n);
  bool SetSel(int32_t i, uint32_t ud);
  // The element number of ud, 0 when absent.
  int32_t FindUD(uint32_t ud) const;
  // The element at position (1..count) when given, else the one FindUD
  // finds; true when one went.
  bool RemoveSel(uint32_t ud, int32_t position = 0);
  // Ascending UDs.
  void SortSel();

 private:
  std::unique_ptr<ZorBGet> _uds;
};

// Temporary tables: a memory table on a description given as container
// bytes, as a table id (kZorTmpTblFromBase: the current database's
// description when it has the table, else the module's resource 1006), or
// as another table's description. Raises (1, 41) for a table id whose
// module is below 1 or that has no description.
ZOR_API void ZorOpenTmpTbl(ZorTable* table, const ZorHandle* description, uint32_t flags = 0,
                           ZorFsa* path = nullptr, int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0, int64_t p4 = 0);
ZOR_API void ZorOpenTmpTbl(ZorTable* table, int64_t tableId, uint32_t flags = 0, ZorFsa* path = nullptr,
                           int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0, int64_t p4 = 0);
ZOR_API void ZorOpenTmpTbl(ZorTable* table, const ZorTable* model, uint32_t flags = 0, ZorFsa* path = nullptr,
                           int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0, int64_t p4 = 0);

}  // namespace zorvane
