// List tables: memory tables that listings fill, each value going to the
// first field of its nature (see zorvane/list_table.h).
#include <string>
#include <vector>

#include "foundation/errors/raise.h"
#include <zorvane/block_array.h>
#include <zorvane/module.h>
#include <zorvane/resource.h>
#include <zorvane/string.h>
#include <zorvane/string_list.h>
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

// ------------------------------------------------------------------ listings

namespace zorvane {

namespace {

void Prepare(ZorTable* out, bool append) {
  ZorNotNull(out, kSource);
  if (!out->IsInit()) {
    ZorListTableInit(out);
  } else if (!append) {
    ZorListTableClear(out);
  }
}

struct StringRow {
  int32_t id;
  std::string text, symbol;
};

}  // namespace

int32_t ZorGetRsrcList(ZorTable* out, int32_t module, int32_t type, bool append) {
  Prepare(out, append);
  std::vector<int32_t> ids;
  ZorForEachRsrc(module, type,
                 [](void* v, int32_t id) { return static_cast<std::vector<int32_t>*>(v)->push_back(id), true; }, &ids);
  string name;
  for (int32_t id : ids) {
    ZorListTableAdd(out, {ZorGetRsrcFileName(static_cast<eZorRsrcType>(type), id, &name), id, id, nullptr});
  }
  return static_cast<int32_t>(ids.size());
}

int32_t ZorGetStringList(int32_t module, int32_t group, ZorTable* out, bool append, bool symbolsOnly) {
  Prepare(out, append);
  std::vector<StringRow> rows;
  ZorForEachString(module, group,
                   [](void* v, int32_t id, const char* text, const char* symbol) {
                     static_cast<std::vector<StringRow>*>(v)->push_back({id, text, symbol});
                     return true;
                   },
                   &rows);
  int32_t added = 0;
  for (const StringRow& row : rows) {
    if (symbolsOnly && row.symbol.empty()) continue;
    ZorListTableAdd(out, {row.text.c_str(), row.id, row.id, row.symbol.c_str()});
    ++added;
  }
  return added;
}

int32_t ZorGetCstList(ZorTable* out, int32_t module, int32_t group, bool append) {
  return ZorGetStringList(module, group, out, append, true);
}

bool ZorGetDepList(int32_t id, ZorTable* out, bool recursive) {
  Prepare(out, false);
  ZorBGet ids;
  const int32_t n = ZorGetDepIds(id, &ids, recursive);
  string name;
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t module = *static_cast<const int32_t*>(ids[i]);
    ZorListTableAdd(out, {ZorGetModuleName(module, ZorNamePublic, &name), module, module, nullptr});
  }
  return n > 0;
}

}  // namespace zorvane
