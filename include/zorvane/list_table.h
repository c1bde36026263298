// List tables: the memory tables that listing functions fill (the tables
// and enumerations of a database, its verification steps, the resources,
// symbolic names and string lists of a module, the modules a module needs).
//
// A list table may have any fields: a listing writes each value into the
// first field of the matching nature and leaves out the values the table has
// no field for. The natures used:
//   kZorTblNatDisplay  the name or title
//   kZorTblNatId       a number (table number, resource id, step code ...)
//   kZorTblNatQid      a 64-bit identifier (table id, type id ...)
//   kZorTblNatCode     a category or a symbolic name
// ZorListTableInit gives a table one field of each, in that order.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

// The fields of the standard list table.
enum : int32_t {
  kZorListFieldName = 1,
  kZorListFieldNumber = 2,
  kZorListFieldId = 3,
  kZorListFieldCode = 4,
};

class ZorTable;
class ZorTableDesc;

// One row of a list; name and code may be null.
struct sZorListRow {
  const char* name = nullptr;
  int32_t number = 0;
  int64_t id = 0;
  const char* code = nullptr;
};

// The standard list description: Name (text 255, Display), Number (Id),
// Id (64-bit, Qid), Code (text 255, Code), no index.
ZOR_API void ZorListTableDesc(ZorTableDesc* out);
// Initialises `table` as an empty memory table of the standard description.
ZOR_API void ZorListTableInit(ZorTable* table);
// Removes every record of an open list table.
ZOR_API void ZorListTableClear(ZorTable* table);
// Appends one row, writing only the fields the table has.
ZOR_API void ZorListTableAdd(ZorTable* table, const sZorListRow& row);

// ------------------------------------------------------------------ listings
// Each empties `out` (a list table; an uninitialised table is first given
// the standard description) unless `append`, then adds one row per item and
// returns the number added.
//
// The resources of one type in a module's section, in id order: number =
// the resource id, name = its file name (ZorGetRsrcFileName).
ZOR_API int32_t ZorGetRsrcList(ZorTable* out, int32_t module, int32_t type, bool append = false);
// The messages of a string list: number = the message number, name = its
// text, code = its symbolic name. With `symbolsOnly`, only the messages
// that have a symbolic name.
ZOR_API int32_t ZorGetStringList(int32_t module, int32_t group, ZorTable* out, bool append = false,
                                 bool symbolsOnly = false);
// The symbolic names of a string list (ZorGetStringList with symbolsOnly).
ZOR_API int32_t ZorGetCstList(ZorTable* out, int32_t module, int32_t group, bool append = false);
// The modules a module depends on (ZorGetDepIds): number = the module id,
// name = its public name. False when it depends on none.
ZOR_API bool ZorGetDepList(int32_t id, ZorTable* out, bool recursive);

}  // namespace zorvane
