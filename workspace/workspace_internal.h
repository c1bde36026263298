// What the workspace's source files share: the private state behind ZorWs
// and the small helpers on entries and identifiers.
#pragma once

#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include <zorvane/block_array.h>
#include <zorvane/string.h>
#include <zorvane/workspace.h>

namespace zorvane {

namespace ws {

constexpr char kSource[] = "ZorWs";
constexpr int32_t kErrRsrc = 10, kErrBadData = 19, kErrBadParam = 23, kErrOutRange = 18;
// Positions and entry numbers are 8-bit in the entries.
constexpr int32_t kMaxEntries = 255;

inline int32_t ModuleOf(int64_t id) { return static_cast<int32_t>(static_cast<uint64_t>(id) >> 32); }
inline uint8_t TableOf(int64_t id) { return static_cast<uint8_t>(id >> 16); }
inline uint8_t EntryOf(int64_t wsf) { return static_cast<uint8_t>(wsf >> 24); }
inline int32_t FieldOf(int64_t wsf) { return static_cast<int32_t>(wsf & 0xFFFF); }

inline int64_t TableIdOf(const sZorWsTable& e) {
  return static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(e.module)) << 32 |
                              static_cast<uint64_t>(e.table) << 16);
}

// The module that owns a workspace: its identifier's high word, which may
// be negated; 0 when there is none.
inline int32_t OwnerOf(int64_t wsId) {
  const int64_t module = std::llabs(static_cast<int64_t>(ModuleOf(wsId)));
  return module > INT32_MAX ? 0 : static_cast<int32_t>(module);
}

inline bool IsEntryOf(const sZorWsTable& e, int64_t tableId) {
  return e.module == ModuleOf(tableId) && e.table == TableOf(tableId);
}

inline int64_t MakeWsf(const sZorWsTable& e, int32_t field) {
  return static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(e.module)) << 32 |
                              static_cast<uint64_t>(e.entry) << 24 | static_cast<uint64_t>(e.table) << 16 |
                              static_cast<uint64_t>(field & 0xFFFF));
}

// A field of a table by name: developer name first, then public name.
int32_t FieldByName(const ZorTable* table, const char* name);
// A name of the given kind, the public one when that is empty.
const char* FieldName(const ZorTable* table, int32_t field, bool devName, string* out);
const char* TableName(const ZorTable* table, bool devName, string* out);

}  // namespace ws

struct ZorWs::Impl {
  ZorBGet list{0, sizeof(sZorWsTable)};  // the table list
  sZorWsTable virt;                       // the virtual table, outside the list
  std::unique_ptr<ZorTable> virtTable;
  std::vector<int64_t> writable;          // identifiers of setting 6
  string name;
};

}  // namespace zorvane
