// ZorDBase: the storage-independent part of a database, and the current
// document's database.
#include <atomic>

#include "foundation/errors/raise.h"
#include <zorvane/database.h>
#include <zorvane/table.h>

namespace zorvane {

namespace {
constexpr char kSource[] = "ZorDBase";
constexpr uint32_t kOpenMultiLang = 0x40;
std::atomic<ZorDBase*> gCurrent{nullptr};
}  // namespace

eZorTblStor ZorDBase::GetStorage() const { ZorRaise(kSource, ZorErr(1, 25)); }
ZorTableStocker* ZorDBase::GetStocker(ZorTable*) { ZorRaise(kSource, ZorErr(1, 25)); }
bool ZorDBase::IsTableExist(int64_t) { return false; }
bool ZorDBase::GetTableHandle(int64_t, ZorHandle*) { return false; }
void ZorDBase::StartTransaction() { ZorRaise(kSource, ZorErr(1, 25)); }
void ZorDBase::EndTransaction() { ZorRaise(kSource, ZorErr(1, 25)); }

bool ZorDBase::IsMultiLang(int32_t set) {
  const bool was = (_openFlags & kOpenMultiLang) != 0;
  if (set > 0) _openFlags |= kOpenMultiLang;
  if (set == 0) _openFlags &= ~kOpenMultiLang;
  return was;
}

void ZorSetCurDBase(ZorDBase* dba) { gCurrent.store(dba); }
ZorDBase* ZorGetCurDBase() { return gCurrent.load(); }

}  // namespace zorvane
