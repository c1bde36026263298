// ZorWs: a workspace, the set of open tables that a form, a list, a query or
// a script works on, and the 64-bit field identifiers by which they name
// fields.
//
// The table list holds 40-byte entries (sZorWsTable) in order; entry 1 is
// the main table. An entry is a table reached directly (added by the caller)
// or a linked entry: the table that a link field of another entry (its
// parent) points to. Several entries of one table are told apart by their
// entry number, 0 for the first.
//
// Field identifier:
//   bits 32-63  the table's module identifier
//   bits 24-31  the entry number
//   bits 16-23  the table number
//   bits  0-15  the field number
// so field 3 of table 5 of module 7, entry 0, is 7 << 32 | 5 << 16 | 3. The
// entry of an identifier is the one with the same module, table number and
// entry number; an identifier without entry is not valid in the workspace.
//
// Invariants:
// - moving the main table (First, Next, ReadN, ReadUD, Read, Clear) marks
//   every linked entry out of date; a linked entry is repositioned on the
//   record its parent's link field names the first time one of its values,
//   or its table through GetWsfTable, is asked for (parents first);
// - a link field of the Long type holds the linked record's UD; any other
//   link field holds the value of the linked table's key field (D2 of the
//   field), found through the first index on that field;
// - the workspace owns the tables it opened (AddTable by id, AddLocTable,
//   linked entries, the virtual table), never those the caller handed in;
// - values are read, never raised: an identifier without entry reads as an
//   empty text of type 9 (text).
//
// Names (NameToWsf, GetWsfName): components separated by backslashes.
//   "Field"                  a field of the main table
//   "Table\Field"            a field of the first direct entry of a table
//   "Table\Link\...\Field"   through link fields, one component per link
//   "Link\Field"             the same from the main table
// Tables match by developer name, then public name; fields likewise; case
// does not matter. GetWsfName writes developer names when asked, else
// public ones, and what it writes reads back through NameToWsf.
//
// A workspace resource (type 22, ".WS", id = low word of the workspace
// identifier, module = the high word's absolute value) is a cell container:
//   (1, 1, 1) the name, text          (1, 1, 2) the flags, 32-bit
//   kind 2, one line per entry, in order:
//     column 1  table id (64-bit)     column 2  entry flags (kZorWsTbl*)
//     column 3  parent line (0: a direct entry; else an earlier line)
//     column 4  link field of the parent
//     column 5  script read/write setting (eZorWsScpRw)
//   kind 3, line 1: the writable field identifiers of setting 6, one per
//     column from 1 (64-bit), ended by a missing or zero one.
//
// A workspace is used by one thread at a time.
#pragma once

#include <memory>

#include <zorvane/date.h>
#include <zorvane/decimal.h>
#include <zorvane/log_type.h>
#include <zorvane/table.h>
#include <zorvane/types.h>

namespace zorvane {

class string;
class ZorBGet;
class ZorDBase;
class ZorWs;

// Flags of an entry (AddTable and the resource's column 2).
enum : uint32_t {
  kZorWsTblHidden = 0x01,    // not visible (GetFirstVisTable skips it)
  kZorWsTblWrite = 0x02,     // scripts may write its fields (setting 0)
  kZorWsTblLinked = 0x04,    // reached through a link field of its parent
  kZorWsTblVirtual = 0x08,   // the workspace's virtual table
  kZorWsTblLocal = 0x10,     // a memory table on a given description
};

// The script read/write setting of an entry.
enum eZorWsScpRw : int32_t {
  kZorWsScpRwEntry = 0,  // the entry's kZorWsTblWrite flag decides
  kZorWsScpRwRead = 1,   // never writable
  kZorWsScpRwWrite = 3,  // always writable
  kZorWsScpRwList = 6,   // writable when listed (SetWritableWsfs)
};

// One entry of the table list, 40 bytes.
struct sZorWsTable {
  int32_t module = 0;       // the table id's module
  uint8_t table = 0;        // the table id's table number
  uint8_t entry = 0;        // tells apart several entries of one table
  uint8_t state = 0;        // kZorWsStateUpToDate, kZorWsStateOwned
  int8_t scpRw = 0;         // eZorWsScpRw
  ZorTable* cursor = nullptr;
  uint32_t flags = 0;       // kZorWsTbl*
  int16_t linkField = 0;    // linked entries: the parent's link field
  uint8_t parent = 0;       // linked entries: the parent's position (1-based)
  uint8_t reserved1 = 0;
  uint32_t linkedUD = 0;    // the parent's record this entry was positioned for
  uint32_t reserved2 = 0;
  int64_t reserved3 = 0;
};
static_assert(sizeof(sZorWsTable) == 40);

enum : uint8_t {
  kZorWsStateUpToDate = 0x1,  // a linked entry is positioned for its parent's record
  kZorWsStateOwned = 0x2,     // the workspace opened the table and closes it
};

// What the owning module attaches to its workspaces (ZorModule::
// GetWorkSpaceHandler). The module keeps it; Detach is the workspace's last
// call, where a handler made for one workspace may delete itself.
class ZOR_API ZorWsHandler {
 public:
  virtual ~ZorWsHandler();
  // The workspace is handed over at Init (and by SetWorkSpaceHandler).
  virtual void Attach(ZorWs* ws);
  virtual void Detach(ZorWs* ws);
  // The content patches, at the end of Init: tables, links and virtual
  // fields the module adds to the workspace.
  virtual void PatchContent(ZorWs* ws);
  // A value the module computes for a field: true with its text (and its
  // logical type in *type) when it computes this field.
  virtual bool ComputeVal(ZorWs* ws, int64_t wsf, string* out, eZorLogType* type);
};

class ZOR_API ZorWs {
 public:
  ZorWs();
  ~ZorWs();
  ZorWs(const ZorWs&) = delete;
  ZorWs& operator=(const ZorWs&) = delete;

  // ----------------------------------------------------------- life
  // An empty workspace of the given identifier on dba (null: the current
  // database); the owning module's handler is attached and patches it.
  void Init(int64_t id, ZorDBase* dba);
  // The same, then the entries of the module's workspace resource; raises
  // (1, 10) when there is none and (1, 19) when it is not one.
  void InitFromRsrc(int64_t id, ZorDBase* dba);
  void InitFromRsrc(int64_t id);
  // The same from the bytes of such a resource, loaded by the caller.
  void InitFromData(int64_t id, ZorDBase* dba, const ZorHandle* data);
  bool IsInit() const { return _init; }
  void Trash();
  int64_t GetId() const { return _id; }
  uint32_t GetFlags() const { return _flags; }
  void SetFlags(uint32_t flags) { _flags = flags; }
  ZorDBase* GetDba() const { return _dba; }
  void SetDba(ZorDBase* dba);
  const char* GetName(string* out) const;
  void SetName(const char* name);
  // Replaces the handler (the previous one is detached); null for none.
  void SetWorkSpaceHandler(ZorWsHandler* handler);
  ZorWsHandler* GetWorkSpaceHandler() const { return _handler; }

  // ----------------------------------------------------------- tables
  // A table the caller keeps open; its position (1-based).
  int32_t AddTable(uint32_t flags, ZorTable* table);
  // Opens the table in the workspace's database; raises as ZorTable::Open.
  int32_t AddTable(uint32_t flags, int64_t tableId, eZorWsScpRw scpRw = kZorWsScpRwEntry);
  // A visible, writable direct entry of a stored table.
  int32_t AddStdTable(int64_t tableId);
  // A memory table on a description given as its container bytes.
  int32_t AddLocTable(uint32_t flags, const ZorHandle* description);
  // The entry that the link field `linkField` of the entry at `parent`
  // reaches: found, or added (opening the linked table) when `add`. 0 when
  // the field is no link or the entry is missing and not added.
  int32_t AddLinkTable(int32_t parent, int32_t linkField, bool add = true);
  // Removes the first direct entry of the table and every entry linked
  // from it; false when there is none.
  bool RemoveTable(int64_t tableId);
  ZorTable* GetTable(int64_t tableId, bool skipLinked) const;
  // The table of a field identifier (its entry brought up to date); null
  // without entry.
  ZorTable* GetWsfTable(int64_t wsf);
  int32_t GetNbTable() const;
  // The table at position n (1-based); with upToDate, a linked entry is
  // repositioned first.
  ZorTable* GetNTable(int32_t n, bool upToDate = false);
  // The position of a table in the list, 0 when absent.
  int32_t FindTableN(const ZorTable* table) const;
  // The first entry without kZorWsTblHidden, null when none.
  ZorTable* GetFirstVisTable() const;
  // A copy of the entry at position n; false outside 1..count.
  bool GetEntry(int32_t n, sZorWsTable* out) const;
  void SetScpRw(int32_t n, eZorWsScpRw scpRw);
  // The writable identifiers of setting 6 (a copy; ended by a zero one or
  // by count).
  void SetWritableWsfs(const int64_t* wsfs, int32_t count);

  // ----------------------------------------------------------- identifiers
  int64_t GetWsf(const ZorTable* table, int32_t field) const;
  // The first direct entry of the table (else its first entry); 0 when the
  // table is not in the list.
  int64_t GetWsf(int64_t tableId, int32_t field) const;
  // The identifier of `field` in the entry that the link field `linkWsf`
  // reaches (added when missing and `add`); 0 when none.
  int64_t GetLinkedWsf(int64_t linkWsf, int32_t field, bool add = true);
  // For a field of a linked entry: the link field in its parent; 0 for a
  // direct entry or an identifier without entry.
  int64_t GetParentWsf(int64_t wsf) const;
  // 0 when the name names no field. With addLinks, link components add the
  // entries they reach.
  int64_t NameToWsf(const char* name, bool addLinks = true);
  // The name of an identifier (empty and false when it names no field).
  // withTable: the table's name also for the main table; devNames:
  // developer names instead of public ones.
  bool GetWsfName(int64_t wsf, string* out, bool withTable = false, bool devNames = true) const;
  bool IsWsfValid(int64_t wsf, bool anyField = false) const;
  // Logical type, declared length, offset and size in the record, field
  // flags. Without entry: 9, 0, 0, 1, 0, and false.
  bool GetWsfInfo(int64_t wsf, int32_t* logType, int32_t* length = nullptr, int32_t* offset = nullptr,
                  int32_t* size = nullptr, uint32_t* flags = nullptr) const;
  // The field's descriptor; false without entry.
  bool GetWsfProp(int64_t wsf, sZorTfi* out) const;
  // Whether a script may assign the field.
  bool WsfIsSetOk(int64_t wsf) const;

  // ----------------------------------------------------------- values
  // Each brings a linked entry up to date first; without entry the value
  // is empty (0, an empty text, a null date, a zero decimal) and the answer
  // false or type 9.
  bool GetVal(int64_t wsf, eZorTblForm form, void* out, int32_t line = 0, int32_t col = 0);
  const char* GetValStr(int64_t wsf, string* out, int32_t line = 0, int32_t col = 0);
  int32_t GetValLong(int64_t wsf, int32_t line = 0, int32_t col = 0);
  eZorLogType GetValStrLog(int64_t wsf, string* out, int32_t line = 0, int32_t col = 0);
  date GetValDate(int64_t wsf, int32_t line = 0, int32_t col = 0);
  decimal GetValDecimal(int64_t wsf, int32_t line = 0, int32_t col = 0);

  // ----------------------------------------------------------- navigation
  // Moves the main table; false with an empty list. Linked entries go out
  // of date.
  bool First();
  bool Next();
  bool ReadN(int32_t n, bool skipDeleted = true);
  bool ReadUD(uint32_t ud);
  bool Read(eZorTblFind mode, int32_t index = kZorTblIndexCur);
  int32_t GetNbN();
  void Clear();

  // ----------------------------------------------------------- virtual fields
  // A field of the workspace's virtual table (a memory table of one
  // record, created with the first field); its identifier. Raises (1, 23)
  // for an empty name, a name already used or a type without storage.
  int64_t TVirAddField(const char* name, eZorLogType type, int32_t length = 0);
  // The identifier of a virtual field by name; 0 when none.
  int64_t TVirGetWsf(const char* name) const;
  // Removes a virtual field by number; the other fields keep their
  // numbers and values. False when there is no such field.
  bool TVirRemoveField(int32_t field);

 private:
  struct Impl;
  sZorWsTable* _entry(int32_t n) const;
  // The entry of an identifier (the virtual table's too); null when none.
  sZorWsTable* _find(int64_t wsf) const;
  int32_t _position(const sZorWsTable* e) const;
  ZorTable* _main() const;
  int32_t _addEntry(sZorWsTable e, std::unique_ptr<ZorTable> owned);
  uint8_t _nextEntryNumber(int32_t module, uint8_t table) const;
  void _bringUpToDate(sZorWsTable* e);
  bool _moved(bool ok);
  void _begin(int64_t id, ZorDBase* dba);
  void _loadEntries(const ZorHandle* data);
  void _rebuildVirtual(ZorTableDesc* desc);

  bool _init = false;
  int64_t _id = 0;
  ZorDBase* _dba = nullptr;
  uint32_t _flags = 0;
  ZorWsHandler* _handler = nullptr;
  std::unique_ptr<Impl> _impl;
};

}  // namespace zorvane
