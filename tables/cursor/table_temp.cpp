// Temporary tables: a table on a description of its own, its records kept
// in memory whatever the description's storage kind.
#include <cstdint>

#include "tables/cursor/table_internal.h"
#include "tables/desc/desc_internal.h"
#include <zorvane/cell_container.h>
#include <zorvane/database.h>

namespace zorvane {

using namespace tcur;

namespace {

void OpenOnDesc(ZorTable* table, ZorTableDesc* desc) {
  desc->SetStorage(kZorTblStorMemory);
  table->Init(desc->GetHandle(), false);
}

}  // namespace

void ZorOpenTmpTbl(ZorTable* table, const ZorHandle* description, uint32_t, ZorFsa*, int32_t, int32_t, int32_t,
                   int64_t) {
  ZorNotNull(table, kSource);
  ZorTableDesc desc;
  desc.BuildFromHdl(description);
  OpenOnDesc(table, &desc);
}

void ZorOpenTmpTbl(ZorTable* table, int64_t tableId, uint32_t flags, ZorFsa*, int32_t, int32_t, int32_t,
                   int64_t) {
  ZorNotNull(table, kSource);
  if (TableModule(tableId) < 1) {
    ZorRaise(kSource, ZorErr(1, kErrNoTable), nullptr, {kListTables, kTxtNotInBase}, TableNumber(tableId),
             TableModule(tableId));
  }
  ZorTableDesc desc;
  ZorHandle stored;
  ZorDBase* dba = ZorGetCurDBase();
  if ((flags & kZorTmpTblFromBase) && dba && dba->GetTableHandle(tableId, &stored)) {
    desc.BuildFromHdl(&stored);
  } else if (!desc.BuildFromRsrc(tableId)) {
    ZorRaise(kSource, ZorErr(1, kErrNoTable), nullptr, {kListTables, kTxtNotInBase}, TableNumber(tableId),
             TableModule(tableId));
  }
  OpenOnDesc(table, &desc);
}

// The model's description without its records.
void ZorOpenTmpTbl(ZorTable* table, const ZorTable* model, uint32_t, ZorFsa*, int32_t, int32_t, int32_t,
                   int64_t) {
  ZorNotNull(table, kSource);
  ZorNotNull(model, kSource);
  if (!model->IsInit()) ZorRaiseBadParam(kSource);
  ZorTableDesc desc;
  desc.BuildFromTable(model);
  OpenOnDesc(table, &desc);
}

// Records, dynamic parts, the last unique id and blobs stay with the table;
// the enumeration's UUID (3, 4, 1) is part of the description.
void ZorTableDesc::BuildFromTable(const ZorTable* table) {
  ZorNotNull(table, kSource);
  if (!table->IsInit()) {
    BuildFromHdl(nullptr);
    return;
  }
  BuildFromHdl(const_cast<ZorTableDesc*>(table->GetDesc())->GetHandle());
  ZorDyna& cells = ZorTableDescAccess::Cells(this);
  cells.Clear(3, 3, 1, 3, 1, INT32_MAX);
  cells.Clear(3, 3, 5, 6, 1, INT32_MAX);
}

}  // namespace zorvane
