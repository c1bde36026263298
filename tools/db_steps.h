// What `zorvane db` and `zorvane demo` share: the database object that always
// closes, the verification of a database file (every step that `db check`
// runs) and its compaction.
#pragma once

#include <zorvane/database_file.h>
#include <zorvane/zorvane.h>

#include <cstdint>

namespace zorvane::tool {

// Any signature opens (the tool looks at every database).
constexpr int32_t kAnySignature = -1;

// A database object that closes normally however the command ends.
class Db {
 public:
  Db() { _db.Init(); }
  ZorDBFile* operator->() { return &_db; }
  ZorDBFile* get() { return &_db; }
  void Open(const ZorFsa& path, uint32_t flags);
  void Close() { _db.CloseBase(ZorBfCloseNormal); }

 private:
  ZorDBFile _db;
};

// The open flags of a check: repair mode, so that a damaged file is
// reported rather than refused; read-only unless `repair`.
constexpr uint32_t CheckOpenFlags(bool repair) {
  return kZorDbOpenRepair | (repair ? 0u : uint32_t{kZorDbOpenRdOnly});
}

// Every verification step of the database into v (which the caller has set
// up for a check or a repair), at check level 2 at least while they run.
void VerifyDatabase(ZorDBase* db, ZorVerif* v);

// Compacts the file in place when any space is wasted (false when there was
// nothing to compact); its sizes before and after.
bool CompactDatabase(const ZorFsa& path, ZorProgress* progress, uint64_t* before, uint64_t* after);

}  // namespace zorvane::tool
