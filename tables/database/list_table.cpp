// List tables: memory tables that listings fill, each value going to the
// first field of its nature (see zorvane/list_table.h).
#include "foundation/errors/raise.h"
#include <zorvane/list_table.h>
#include <zorvane/table.h>
#include <zorvane/table_handler.h>

namespace zorvane {

namespace {

constexpr char kSource[] = "ZorListTable";
constexpr int32_t kTextLen = 255;

// The first valid field of that nature; 0 when the table has none.
int32_t FieldOfNature(const ZorTable* table, uint8_t nature) {
  for (int32_t f = 1; f <= table->GetNbField(); ++f) {
    sZorTfi tfi;
    if (table->GetField(f, &tfi) && tfi.flags != 0 && tfi.nature == nature) return f;
  }
  return 0;
}

}  // namespace

void ZorListTableDesc(ZorTableDesc* out) {
  ZorNotNull(out, kSource);
  out->Create(kZorTblTypeStd, 0);
  out->SetStorage(kZorTblStorMemory);
  out->SetName("List");
  out->AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, kTextLen, kZorTblFfValid, kZorTblNatDisplay, 0);
  out->AddField("Number", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, kZorTblNatId, 0);
  out->AddField("Id", kZorPhysTypeQuad, kZorLogTypeInt, true, 0, kZorTblFfValid, kZorTblNatQid, 0);
  out->AddField("Code", kZorPhysTypeAnsiString, kZorLogTypeText, true, kTextLen, kZorTblFfValid, kZorTblNatCode, 0);
  out->Validate();
}

void ZorListTableInit(ZorTable* table) {
  ZorNotNull(table, kSource);
  ZorTableDesc desc;
  ZorListTableDesc(&desc);
  table->Trash();
  table->Init(&desc);
}

void ZorListTableClear(ZorTable* table) {
  if (table && table->IsInit()) table->MakeEmpty(kZorTblActInternal);
}

void ZorListTableAdd(ZorTable* table, const sZorListRow& row) {
  ZorNotNull(table, kSource);
  table->Raz();
  if (const int32_t f = FieldOfNature(table, kZorTblNatDisplay); f && row.name) table->SetValStr(f, row.name);
  if (const int32_t f = FieldOfNature(table, kZorTblNatId)) table->SetValLong(f, row.number);
  if (const int32_t f = FieldOfNature(table, kZorTblNatQid)) table->SetValQuad(f, row.id);
  if (const int32_t f = FieldOfNature(table, kZorTblNatCode); f && row.code) table->SetValStr(f, row.code);
  table->Add(kZorTblActInternal);
}

}  // namespace zorvane
