// The resource section of a module: the resources compiled into a module's
// shared object (or into the library itself, module 1) as one constant table.
//
// Every module defines exactly one table under the C name
// ZOR_RSRC_TABLE_SYMBOL ("ZorModuleRsrcTable"), with default visibility. The
// items are sorted by (type, id, lang) ascending, without duplicates; `type`
// is the section type of the resource (1000 + the resource type, with the
// exceptions of the resource naming rules), `lang` is always 1036. The bytes
// are the resource as shipped (often a packed envelope).
//
// A module's table is found through its loaded instance; since a module
// links against the library, a symbol search from the module may reach the
// library's own table, so the finder checks that the table it gets lives in
// the module's own object.
#pragma once

#include <zorvane/types.h>

#define ZOR_RSRC_TABLE_SYMBOL "ZorModuleRsrcTable"

namespace zorvane {

struct sZorRsrcItem {
  uint32_t type;        // section type (1000 + resource type, or an exception)
  uint32_t id;          // resource identifier
  uint32_t lang;        // 1036
  uint32_t size;        // bytes at data
  const uint8_t* data;  // the resource's bytes
};

struct sZorRsrcTable {
  uint32_t count;             // items
  const sZorRsrcItem* items;  // sorted by (type, id, lang)
};

}  // namespace zorvane
