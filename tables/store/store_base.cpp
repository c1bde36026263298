// ZorTableStocker: the base store, empty and unwritable.
#include "foundation/errors/raise.h"
#include <zorvane/table.h>

namespace zorvane {

namespace {
constexpr char kSource[] = "ZorTablesHA";
}

void ZorTableStocker::RaiseNotImpl(uint32_t line) { ZorRaise({kSource, line}, ZorErr(1, 25)); }

void ZorTableStocker::ShOpen(ZorTable*) {}
void ZorTableStocker::ShClose(ZorTable*) {}
void ZorTableStocker::ShRefresh(ZorTable*, bool, int32_t, int32_t, int32_t, int64_t) {}
int32_t ZorTableStocker::GetRuid(ZorTable*) { return 0; }
void ZorTableStocker::SetRuid(ZorTable*, int32_t) { RaiseNotImpl(); }
bool ZorTableStocker::GetDataVersion(ZorTable*, ZorUuid* out) {
  if (out) *out = ZorUuid();
  return false;
}
int32_t ZorTableStocker::PrimGetTNbr(ZorTable*, bool) { return 0; }
uint32_t ZorTableStocker::PrimTNToUD(ZorTable*, int32_t) { return 0; }
int32_t ZorTableStocker::PrimUDToTN(ZorTable*, uint32_t) { return 0; }
uint32_t ZorTableStocker::PrimReadUD(ZorTable*, uint32_t, bool) { return 0; }
bool ZorTableStocker::PrimRdDyna(ZorTable*, uint32_t, ZorDyna*) { return false; }
uint32_t ZorTableStocker::PrimFindIx(ZorTable*, int32_t, eZorTblFind, int32_t* n) {
  if (n) *n = 0;
  return 0;
}

// Any index of the range whose key the buffer holds.
uint32_t ZorTableStocker::PrimExist(ZorTable* table, int32_t firstIndex, int32_t lastIndex) {
  for (int32_t i = firstIndex; i <= lastIndex; ++i) {
    int32_t n = 0;
    if (const uint32_t ud = PrimFindIx(table, i, kZorTblFindEqual, &n)) return ud;
  }
  return 0;
}

bool ZorTableStocker::PrimIsDel(ZorTable*) { return false; }
uint32_t ZorTableStocker::PrimWrite(ZorTable*, bool) { RaiseNotImpl(); }
void ZorTableStocker::PrimUpd(ZorTable*, bool) { RaiseNotImpl(); }
void ZorTableStocker::PrimDel(ZorTable*) { RaiseNotImpl(); }
void ZorTableStocker::PrimEmpty(ZorTable*) { RaiseNotImpl(); }
void ZorTableStocker::PrimTransac(ZorTable*, bool, int32_t) {}
void ZorTableStocker::PrimSwap(ZorTable*, uint32_t, uint32_t) { RaiseNotImpl(); }
bool ZorTableStocker::BlobRead(ZorTable*, int32_t, uint32_t, ZorHandle* out) {
  if (out) out->Trash();
  return false;
}
uint32_t ZorTableStocker::BlobCreate(ZorTable*, int32_t, const ZorHandle*) { RaiseNotImpl(); }
uint32_t ZorTableStocker::BlobUpdate(ZorTable*, int32_t, uint32_t, const ZorHandle*) { RaiseNotImpl(); }
void ZorTableStocker::BlobDelete(ZorTable*, int32_t, uint32_t) { RaiseNotImpl(); }
int32_t ZorTableStocker::BlobInfo(ZorTable*, int32_t, uint32_t) { return 0; }
bool ZorTableStocker::Upgrade(sZorUpgrade*) { RaiseNotImpl(); }
bool ZorTableStocker::Reorg(ZorTable*, bool) { return false; }
int32_t ZorTableStocker::GetNbDelRec(ZorTable*) { return 0; }
int32_t ZorTableStocker::GetNbUser(ZorTable*) { return 0; }

}  // namespace zorvane
