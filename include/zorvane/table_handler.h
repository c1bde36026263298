// ZorTableHandler: the application's hooks on a table (computed fields,
// default values, checks, notifications before and after changes). Every
// operation has a neutral default: "not handled", nothing done, no value.
//
// A handler belongs to a module and serves every table of that module: it
// receives the table in each call. Modules register theirs with
// ZorSetTableHandler; a table finds it at open from the header's handler
// module id (or its own module when that is 0), unless the table has the
// flag kZorTblTfNoHandler.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

class string;
class decimal;
class date;
class ZorBGet;
class ZorHandle;
class ZorTable;
class ZorTableStocker;
class ZorVerif;

// The form of a value passed to GetVal / SetVal.
//   native: the field's physical type: uint8_t (AnsiChar), uint16_t
//     (UnicodeChar), int16_t, int32_t, int64_t, string (AnsiString and
//     UnicodeStr, in cp1252), double, decimal, date, ZorHandle (Blob and
//     BlobRef), ZorUuid; enumeration and string-list fields int32_t.
//   text: a string, numbers and dates in the forms of decimal and date.
//   handle: a ZorHandle holding the value's bytes.
enum eZorTblForm : int32_t {
  kZorTblFormNative = 0,
  kZorTblFormText = 1,
  kZorTblFormHandle = 2,
};

// The change being made, as handlers see it.
enum eZorTblHAction : int32_t {
  kZorTblHActWrite = 1,
  kZorTblHActAdd = 2,
  kZorTblHActUpdate = 3,
  kZorTblHActDelete = 4,
  kZorTblHActEmpty = 5,
  kZorTblHActSwap = 6,
};

// The `action` argument of the changes: 1 is internal (no handler call, no
// message); the others are passed to the handler as they are.
constexpr int32_t kZorTblActInternal = 1;

class ZOR_API ZorTableHandler {
 public:
  ZorTableHandler() = default;
  ZorTableHandler(const ZorTableHandler&) = delete;
  ZorTableHandler& operator=(const ZorTableHandler&) = delete;
  virtual ~ZorTableHandler() = default;

  virtual void Open(ZorTable* table);
  virtual void Close(ZorTable* table);
  // The storage object of a virtual table; the table owns what it returns.
  virtual ZorTableStocker* GetVirtStocker(ZorTable* table);
  // Values of virtual fields: true when handled.
  virtual bool GetVal(ZorTable* table, int32_t field, eZorTblForm form, void* out, int32_t line, int32_t col);
  virtual bool SetVal(ZorTable* table, int32_t field, eZorTblForm form, const void* in, int32_t line,
                      int32_t col);
  virtual int32_t GetFieldTotProp(ZorTable* table, int32_t field);
  virtual bool GetFieldProp(ZorTable* table, int32_t field, int32_t prop, string* out);
  virtual bool GetValList(ZorTable* table, int32_t field, ZorBGet* out);
  virtual bool GetValPicker(ZorTable* table, int32_t field, string* out);
  virtual bool FidListNeedRfrs(ZorTable* table, int32_t field);
  virtual bool DoFidAction(ZorTable* table, int32_t field, int32_t action, void* param);
  // Lines and columns of an array field; false leaves the description's.
  virtual bool GetDim(ZorTable* table, int32_t field, int32_t* lines, int32_t* cols);
  // Writes the default value of a field (in its native form) into value;
  // true when it did.
  virtual bool RazDef(ZorTable* table, int32_t field, void* value, bool creating);
  virtual bool VerifRecord(ZorTable* table, ZorVerif* report, int32_t mode, void* param);
  // True when it built the name.
  virtual bool GetRecordName(ZorTable* table, string* out);
  virtual int32_t GetUsedFidList(ZorTable* table, ZorBGet* out);
  virtual bool UsedFidListScan(ZorTable* table, int32_t field, void* param);
  virtual int32_t GetUsedEnumList(ZorTable* table, ZorBGet* out);
  virtual bool UsedEnumListScan(ZorTable* table, int64_t enumId, void* param);
  // The index to navigate in; -1 leaves the table's.
  virtual int32_t GetNavigIndex(ZorTable* table);
  // 1 done, -1 failed, 0 not handled.
  virtual int32_t DoNavig(ZorTable* table, int32_t how);
  virtual void BeforeHAction(ZorTable* table, eZorTblHAction change, int32_t action, void* param);
  virtual void AfterHAction(ZorTable* table, eZorTblHAction change, int32_t action, void* param);
  virtual bool HandleHilock(ZorTable* table, int32_t how, void* param);
  virtual bool GetHilockCurMsg(ZorTable* table, string* out);
  // 1 done, -1 failed, 0 not handled.
  virtual int32_t HGetRecRef(ZorTable* table, string* out);
  virtual int32_t HReadRecRef(ZorTable* table, const char* ref);
  virtual int32_t HGetRecInfo(ZorTable* table, int32_t what, string* out);

  // For implementations of GetVal: stores a value of the field's native
  // type (value points to it) into out in the requested form.
  static bool SetGetValResult(ZorTable* table, int32_t field, eZorTblForm form, void* out, const void* value);
  // For implementations of SetVal: converts in (in the given form) into the
  // field's native type, written at value.
  static bool GetSetValValue(ZorTable* table, int32_t field, eZorTblForm form, const void* in, void* value);
};

// The handler of a module's tables (null removes it); returns the previous
// one. The registry does not own handlers: a module keeps its own alive for
// as long as it is registered.
ZOR_API ZorTableHandler* ZorSetTableHandler(int32_t moduleId, ZorTableHandler* handler);
ZOR_API ZorTableHandler* ZorGetTableHandler(int32_t moduleId);

}  // namespace zorvane
