// ZorTableDesc: the schema of one table (header, field descriptors, per-field
// extra data, index definitions) and the layout of its record buffer.
//
// Stored form: one cell container (zorvane/cell_container.h):
//   (0, 1, 1)  the 146-byte header (kZorTblHdr... offsets below)
//   (0, 2, 1)  the field array: 48-byte sZorTfi, field n is element n
//   (0, 3, n)  a nested container per field n (absent when empty):
//              (0, 1, 2) developer name  (0, 1, 3) C identifier
//              (0, 1, 4) script          (0, 1, 5) variable precision (i32)
//              (0, 1, 1002..1004) public and developer comments, trigger
//   (0, 4, t)  the table's own names of type t other than the public name
//              and the C prefix, which live in the header
//   (0, 5, 1)  a nested container of the indexes: line i col 1 the 80-byte
//              sZorKey of index i, col 3 its name, col 4 a 32-bit value
//   (0, 7, n)  the enumeration id (i64) bound to standard field family n
//   (3, 4, 1)  for an enumeration, the UUID created with it
// The header and the field array are kept in memory (the header in its
// stored layout) and written back into the container by GetHandle,
// FillDescHdl and Dump; every other cell lives in the container only.
//
// Record layout: Validate gives every field a data offset and size; fields
// follow one another in field-number order without padding, and the record
// buffer ("static buffer size") is the sum of the sizes. A description must
// be validated after any change of fields or indexes before records are laid
// out or keys built.
//
// Bytes attached from outside (BuildFromHdl) may be anything: a field array
// whose length is not a multiple of 48 loses its tail, names are read up to
// 25 characters, index parts naming no field are dropped by CalIndexs, and
// Validate answers false (with the offending sizes set to 0) when the record
// would not fit the 16-bit offsets.
//
// A description is used by one thread at a time.
#pragma once

#include <zorvane/block_array.h>
#include <zorvane/cell_container.h>
#include <zorvane/log_type.h>
#include <zorvane/name_type.h>
#include <zorvane/phys_type.h>
#include <zorvane/table_key.h>
#include <zorvane/types.h>

namespace zorvane {

class string;
class ZorTable;
class ZorVerif;

enum eZorTblType : int32_t {
  kZorTblTypeStd = 0,   // data table
  kZorTblTypeTask = 1,  // task parameters
  kZorTblTypeEnum = 2,  // enumeration
};

// Where the records live; labels in catalogue list 108.
enum eZorTblStor : int32_t {
  kZorTblStorDoc = 1,
  kZorTblStorVirtual = 2,
  kZorTblStorMemory = 3,
  kZorTblStorBFile = 4,
  kZorTblStorOleDB = 5,
};

// Table flags (header offset 16).
enum : uint32_t {
  kZorTblTfSendStdMess = 0x00000001,
  kZorTblTfSendLocMess = 0x00000002,
  kZorTblTfSmall = 0x00000004,
  kZorTblTfDocAutoCreate = 0x00000008,
  kZorTblTfRdOnly = 0x00000010,
  kZorTblTfBuffOnly = 0x00000020,
  kZorTblTfInsureSeq = 0x00000040,
  kZorTblTfComAccessEnabled = 0x00000080,
  kZorTblTfComAccessWrOk = 0x00000100,
  kZorTblTfNoHandler = 0x00000200,
  kZorTblTfAsVPrec = 0x20000000,  // derived: a field has a variable precision
  kZorTblTfAsUser = 0x40000000,   // derived: a field is a user field
  kZorTblTfAsDyna = 0x80000000,   // derived: a field has no fixed storage
  kZorTblTfDerived = kZorTblTfAsVPrec | kZorTblTfAsUser | kZorTblTfAsDyna,
};

// Field flags (sZorTfi::flags).
enum : uint32_t {
  kZorTblFfValid = 0x00000001,
  kZorTblFfVisible = 0x00000002,
  kZorTblFfVisDir = 0x00000004,
  kZorTblFfVirtual = 0x00000008,
  kZorTblFfDyna = 0x00000010,
  kZorTblFfArray = 0x00000020,
  kZorTblFfUser = 0x00000040,
  kZorTblFfUnicID = 0x00000080,
  kZorTblFfIndexed = 0x00000100,
  kZorTblFfLink = 0x00000200,
  kZorTblFfRdOnly = 0x00000400,
  // Options set by field templates and carried unchanged; Check gives
  // them these meanings.
  kZorTblFfImport = 0x00000800,    // filled by imports
  kZorTblFfAutoFill = 0x00001000,  // filled automatically on creation
  kZorTblFfGetNat = 0x00002000,    // value read through the handler's native access
  kZorTblFfEnum = 0x00020000,
  kZorTblFfAlias = 0x00040000,
  kZorTblFfLocTbl = 0x00080000,
  kZorTblFfStrList = 0x00100000,
  kZorTblFfTmpl = 0x00400000,
  kZorTblFfUserNamed = 0x00800000,
  kZorTblFfRecId = 0x04000000,
  kZorTblFfScript = 0x08000000,
  // What keeps a field out of every index.
  kZorTblFfNotIndexable = 0x160078,
};

// Field natures (sZorTfi::nature); labels and short keys in list 109.
enum eZorTblNature : uint8_t {
  kZorTblNatStd = 0, kZorTblNatLastName = 1, kZorTblNatFirstName = 2, kZorTblNatAdrName = 3,
  kZorTblNatAdr1 = 4, kZorTblNatAdr2 = 5, kZorTblNatZip = 6, kZorTblNatCity = 7, kZorTblNatPhone = 8,
  kZorTblNatFax = 9, kZorTblNatTelex = 10, kZorTblNatMobile = 11, kZorTblNatUrl = 12, kZorTblNatEmail = 13,
  kZorTblNatCode = 14, kZorTblNatAccount = 15, kZorTblNatJournal = 16, kZorTblNatId = 17,
  kZorTblNatDisplay = 18, kZorTblNatCheck = 19, kZorTblNatFlipFlop = 20, kZorTblNatQid = 21,
  kZorTblNatPathGet = 22, kZorTblNatTSel = 23, kZorTblNatPathSave = 24, kZorTblNatNoUi = 25,
  kZorTblNatPermType = 26, kZorTblNatTreeLvl = 27, kZorTblNatTaskSource = 28, kZorTblNatTaskRw = 29,
  kZorTblNatTaskMobSrc = 30, kZorTblNatCtyCode = 31, kZorTblNatCtyName = 32, kZorTblNatAnaly = 33,
  kZorTblNatAdr3 = 34, kZorTblNatIcon = 35, kZorTblNatIconOpen = 36, kZorTblNatIban = 37,
  kZorTblNatBic = 38, kZorTblNatDirPath = 39, kZorTblNatRgn1 = 40, kZorTblNatRgn2 = 41, kZorTblNatRgn3 = 42,
  kZorTblNatRgn4 = 43,
};

// Stored sizes.
constexpr uint32_t kZorTblHdrSize = 146;
constexpr uint32_t kZorTfiSize = 48;
constexpr uint32_t kZorTfiNameSize = 26;
constexpr uint32_t kZorTblHdrVersion = 3;
// The most indexes a description holds.
constexpr int32_t kZorTblMaxIndex = 255;
// AddField position meaning "the first free slot".
constexpr int32_t kZorTblFirstFree = 0x7FFFFFFF;

// One field descriptor; the 48 stored bytes are read and written by
// LoadFrom/StoreTo:
//   0 name[26] | 26 phys u8 | 27 log u8 | 28 nature u8 | 29 reserved u8 |
//   30 flags u32 | 34 len u16 | 36 d1 u32 | 40 d2 u32 | 44 offset u16 | 46 size u16
struct ZOR_API sZorTfi {
  char name[kZorTfiNameSize] = {};  // NUL-terminated, at most 25 characters
  uint8_t physType = 0;
  uint8_t logType = 0;
  uint8_t nature = 0;
  uint8_t reserved = 0;
  uint32_t flags = 0;  // 0: a free slot
  uint16_t len = 0;
  uint32_t d1 = 0;  // array lines, link table, enum/list module, alias source
  uint32_t d2 = 0;  // array columns, link key, enum/list id, alias destination
  uint16_t offset = 0;
  uint16_t size = 0;

  // LoadFrom forces the name's last byte to 0.
  void LoadFrom(const void* bytes);
  void StoreTo(void* bytes) const;
};

class ZOR_API ZorTableDesc {
 public:
  ZorTableDesc();
  ~ZorTableDesc();
  ZorTableDesc(const ZorTableDesc&) = delete;
  ZorTableDesc& operator=(const ZorTableDesc&) = delete;

  // ----------------------------------------------------------- lifecycle
  void Create(eZorTblType type, int64_t typeId);
  // A copy of an open table's description, without the records a memory
  // table keeps in it (an unopened table gives an empty description).
  void BuildFromTable(const ZorTable* table);
  // A copy of a stored container (null or empty: an empty description with
  // a zeroed header).
  void BuildFromHdl(const ZorHandle* h);
  // Resource 1006 (table description) number tableId bits 16-23 of the
  // module in the high half; raises (1, 41) for a module below 1. False when
  // the module has no such resource.
  bool BuildFromRsrc(int64_t tableId);
  void Trash();
  bool IsInit() const { return _init; }
  // The container with the header and fields written back; valid until the
  // next change.
  ZorHandle* GetHandle();
  // out receives a copy of the container bytes.
  void FillDescHdl(ZorHandle* out);

  // ----------------------------------------------------------- header
  // The 146 header bytes as kept in memory.
  const uint8_t* GetHeader() const { return _hdr; }
  int64_t GetTId() const;
  // With fillTag, the module tag is recomputed from the new owner.
  void SetTId(int64_t tid, bool fillTag);
  eZorTblType GetType() const;
  int64_t GetTypeId() const;
  void SetTypeId(int64_t id);
  eZorTblStor GetStorage() const;
  void SetStorage(eZorTblStor storage);
  uint32_t GetFlags() const;
  void SetFlags(uint32_t flags);
  // Public name (header, 25 characters), C prefix (header, 5), other types in
  // the container.
  const char* GetName(string* out, eZorNameType type = ZorNamePublic) const;
  void SetName(const char* text, eZorNameType type = ZorNamePublic);
  const char* GetAbrName(string* out) const;
  void SetAbrName(const char* text);
  const char* GetModuleTag(string* out) const;
  int32_t GetStructRelease() const;
  // The stored header format version (kZorTblHdrVersion for new ones).
  int32_t GetHdrVersion() const;
  // A negative value increments the release.
  void SetStructRelease(int32_t release);
  // The "Data max" value; with newValue it is first replaced (negative: 0).
  int32_t GetMaxData(const int32_t* newValue = nullptr);
  // which: 1 to 3; 0 outside.
  int32_t GetRecNameFid(int32_t which) const;
  void SetRecNameFid(int32_t f1, int32_t f2, int32_t f3);
  int32_t GetHandlerModId() const;
  void SetHandlerModId(int32_t module);
  int32_t GetHilFid() const;
  void SetHilFid(int32_t field);
  int32_t GetUniqueIdFid() const;
  int32_t GetNbBlobRef() const;
  int64_t GetStdFidFamEnumId(int32_t family) const;
  void SetStdFidFamEnumId(int32_t family, int64_t enumId);
  int64_t GetLinkedWsId() const;
  void SetLinkedWsId(int64_t id);
  int64_t GetLinkedEngId() const;
  // A zero high half clears both halves.
  void SetLinkedEngId(int32_t low, int32_t high);
  // The enumeration's UUID (false when none).
  bool GetEnumUuid(ZorUuid* out) const;

  // ----------------------------------------------------------- fields
  int32_t GetNbField() const;
  // Position: kZorTblFirstFree reuses the first free slot (else appends);
  // 1..n replaces slot n; -p (p in 1..n) inserts before p; anything else
  // appends. Returns the field's number.
  int32_t AddField(const sZorTfi* tfi, int32_t position);
  // name: a text or a message reference "]m,g,n".
  int32_t AddField(const char* name, eZorPhysType phys, eZorLogType log, bool visible, int32_t length,
                   uint32_t flags, uint8_t nature, int32_t position);
  // A field from a template (see FillTfiFromTmpl); a null or empty name
  // keeps the template's. 0 for an unknown template.
  int32_t AddField(int32_t templateId, const char* name, int32_t position);
  int32_t AddArray(const char* name, eZorPhysType phys, eZorLogType log, int32_t lines, int32_t columns,
                   bool visible, int32_t length, uint32_t flags, int32_t position);
  // Physically: the slot and its container go, later fields move down.
  // Logically: the slot becomes free (false when it already was).
  bool DelField(int32_t field, bool physically);
  bool SwapField(int32_t a, int32_t b);
  // Out of range: *out zeroed and false.
  bool GetField(int32_t field, sZorTfi* out) const;
  bool SetField(int32_t field, const sZorTfi* tfi);
  const char* GetFieldName(int32_t field, string* out, eZorNameType type = ZorNamePublic) const;
  bool SetFieldName(int32_t field, const char* text, eZorNameType type = ZorNamePublic);
  // The first valid field with that name (ignoring case); 0 when none.
  int32_t GetFieldId(const char* name, eZorNameType type = ZorNamePublic) const;
  bool FieldValid(int32_t field) const;
  int64_t GetFid(int32_t field) const;
  bool SetFieldVis(int32_t field, bool visible, bool visDir);
  bool SetFieldLink(int32_t field, int64_t tableId, int32_t keyField);
  bool SetFieldAlias(int32_t field, int32_t source, int32_t destination);
  int32_t GetFieldVPrec(int32_t field) const;
  bool SetFieldVPrec(int32_t field, int32_t vprec);
  const char* GetFieldScript(int32_t field, string* out) const;
  bool SetFieldScript(int32_t field, const char* script);
  // The nature (family) of a field; with family >= 0 it is set first.
  // -1 for an invalid field.
  int32_t FieldFamGetSet(int32_t field, int32_t family = -1);
  // Field numbers (int32 items) of the valid fields of a family.
  int32_t FieldFamGetList(int32_t family, ZorBGet* out) const;
  // False (and a free "Long" slot) for an unknown template.
  static bool FillTfiFromTmpl(int32_t templateId, sZorTfi* out);

  // ----------------------------------------------------------- indexes
  // Index lines above kZorTblMaxIndex are ignored.
  int32_t GetNbIndex() const;
  // A new empty index before `position` (outside 1..n: appended), named
  // "Ix <number>"; returns its number.
  int32_t AddIndex(int32_t position);
  // With recalc, CalIndexs runs afterwards.
  bool DelIndex(int32_t index, bool recalc);
  bool SetSubIndex(int32_t index, int32_t part, int32_t field, int32_t length);
  // The part's field (0 when none); its length and the index's value.
  int32_t GetSubIndex(int32_t index, int32_t part, int32_t* length = nullptr, uint32_t* value = nullptr) const;
  // The stored definition of an index (zeroed and false outside 1..n);
  // SetIndex replaces it, as callers do to make a part descending.
  bool GetIndex(int32_t index, sZorKey* out) const;
  bool SetIndex(int32_t index, const sZorKey* key);
  bool SetIndexName(int32_t index, const char* name);
  // Also labels the special numbers; "Index inexistant" otherwise.
  const char* GetIndexName(int32_t index, string* out) const;
  bool SetIndexFlag(int32_t index, uint32_t value);
  bool SwapIndex(int32_t a, int32_t b);
  bool IsIndexable(int32_t field) const;
  // Field numbers (int32 items) of the indexable fields.
  int32_t GetIndexableList(ZorBGet* out) const;
  int32_t GetDefIndex() const;
  // False for a number outside 0..n.
  bool SetDefIndex(int32_t index);
  void CalIndexs();

  // ----------------------------------------------------------- whole
  // Recomputes offsets, sizes and derived values; false when the record
  // would not fit 16-bit offsets (the sizes that do not fit become 0).
  bool Validate();
  // The record buffer size (sum of the data sizes).
  uint32_t GetStaticSize() const;
  // Reports problems into report; true when none was an error. With
  // repair, what can be fixed is fixed; with quiet, notes are left out.
  bool Check(ZorVerif* report, bool repair, bool quiet);
  const char* Dump(string* out);
  // Brings an older header version up to the current one and validates;
  // true when something changed.
  bool _UpgradeTD();

 private:
  friend struct ZorTableDescAccess;
  void _flush();
  void _load();
  void _setHdrText(uint32_t offset, uint32_t size, const char* text);
  bool _subGet(int32_t field, ZorDyna* out) const;
  void _subSet(int32_t field, ZorDyna* sub);
  void _storeIndex(int32_t index, const sZorKey& key);
  void _fillModuleTag();

  bool _init = false;
  uint8_t _hdr[kZorTblHdrSize] = {};
  ZorBGet _fields{0, kZorTfiSize};
  ZorDyna _idx;
  ZorDyna _d;
};

}  // namespace zorvane
