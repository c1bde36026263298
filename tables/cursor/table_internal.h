// What the files of the table cursor share: sources, catalogue entries, the
// blob slot and small helpers over the description.
#pragma once

#include "foundation/errors/raise.h"
#include <zorvane/handle.h>
#include <zorvane/table.h>

namespace zorvane::tcur {

constexpr char kSource[] = "ZorTables";
constexpr char kSourceStore[] = "ZorTablesHA";

// Entries of list 110 of the library's catalogue.
constexpr int32_t kListTables = 110;
constexpr int32_t kTxtRdOnly = 53, kTxtNoRecUpdate = 55, kTxtNoRecDelete = 56, kTxtNotInBase = 69;

// The library's error numbers at this level.
constexpr int32_t kErrRdOnly = 24, kErrNotImpl = 25, kErrNoTable = 41, kErrDuplicate = 48, kErrNoRecord = 49;

// The table number and module of a table id.
inline int32_t TableNumber(int64_t tid) { return static_cast<int32_t>((tid >> 16) & 0xFF); }
inline int32_t TableModule(int64_t tid) { return static_cast<int32_t>(tid >> 32); }

}  // namespace zorvane::tcur

namespace zorvane {

// One "BlobRef" field: its number, the reference stored in the record, the
// cached content and its state.
struct ZorTable::BlobSlot {
  enum : uint8_t { kNotLoaded = 0, kLoaded = 1, kModified = 2 };
  uint16_t field = 0;
  uint32_t ref = 0;
  ZorHandle cache;
  uint8_t state = kNotLoaded;
};

}  // namespace zorvane
