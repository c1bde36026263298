// ZorDBase: creating and upgrading the tables and enumerations that the
// application's modules declare in their resources (table descriptions,
// resource type 6; enumerations, type 19), and the module patch.
//
// A table id is module id << 32 | table number << 16; the resource number
// of a table is its table number, and enumerations use the same layout for
// their type ids. A creation or upgrade run is one transaction of the
// database; an upgrade happens only when the module's description carries
// another structure release than the stored one.
#include <vector>

#include "foundation/errors/raise.h"
#include <zorvane/database.h>
#include <zorvane/list_table.h>
#include <zorvane/messages.h>
#include <zorvane/module.h>
#include <zorvane/progress.h>
#include <zorvane/resource.h>
#include <zorvane/string.h>
#include <zorvane/table.h>
#include <zorvane/verification.h>

namespace zorvane {

namespace {

constexpr char kSource[] = "ZorDBase";
constexpr int32_t kErrBadParam = 23;
constexpr int32_t kGroup = 141;
constexpr int32_t kTxtModuleSection = 1, kTxtCreated = 2, kTxtUpgradeTitle = 3, kTxtUpdateBase = 4,
                  kTxtCreateTables = 5, kTxtCreateEnums = 6, kTxtUpgradeTables = 7, kTxtUpgradeEnums = 8,
                  kTxtNoResource = 54, kTxtUpgradeSection = 55;
constexpr uint32_t kPatchCreate = 1, kPatchUpgrade = 2, kPatchEnum = 4;
constexpr uint32_t kUpdateFlags = 8;

int32_t ModuleOf(int64_t id) { return static_cast<int32_t>(id >> 32); }
int64_t IdOf(int32_t module, int32_t number) {
  return (int64_t{module} << 32) | (int64_t{number & 0xFFFF} << 16);
}

const char* Text(int32_t id, string* out) { return ZorLoadString(1, kGroup, id, out); }

// The description of resource `number` (type 6 or 19) of a module; false
// when the module has none.
bool DescFromRsrc(int32_t module, int32_t number, bool isEnum, ZorTableDesc* out) {
  if (!isEnum) return out->BuildFromRsrc(IdOf(module, number));
  if (module < 1) return false;
  ZorRsrc rsrc;
  if (!rsrc.Init(ZorRsrcEnum, module, number, ZorRsrcQuiet)) return false;
  out->BuildFromHdl(rsrc.GetHandle());
  return true;
}

std::vector<int32_t> RsrcNumbers(int32_t module, bool isEnum) {
  std::vector<int32_t> numbers;
  ZorForEachRsrc(module, isEnum ? ZorRsrcEnum : ZorRsrcTableDesc,
                 [](void* v, int32_t id) { return static_cast<std::vector<int32_t>*>(v)->push_back(id), true; },
                 &numbers);
  return numbers;
}

std::vector<int32_t> ModuleIds() {
  ZorBGet ids;
  const int32_t n = ZorGetModuleIds(&ids);
  std::vector<int32_t> out;
  for (int32_t i = 1; i <= n; ++i) out.push_back(*static_cast<const int32_t*>(ids[i]));
  return out;
}

// The key of a description: its type id for an enumeration, else its TID.
int64_t KeyOf(const ZorTableDesc& desc, bool isEnum) { return isEnum ? desc.GetTypeId() : desc.GetTId(); }

}  // namespace

// ------------------------------------------------------------------ patch

void ZorDBase::PatchDesc(ZorTableDesc* desc, uint32_t mode) {
  const int32_t module = ModuleOf(KeyOf(*desc, (mode & kPatchEnum) != 0));
  if (!ZorIsModulePresent(module)) return;
  if ((mode & kPatchCreate) && (desc->GetFlags() & kZorTblTfAsVPrec)) {
    for (int32_t f = 1; f <= desc->GetNbField(); ++f) {
      const int32_t vprec = desc->GetFieldVPrec(f);
      sZorTfi tfi;
      eZorLogType type;
      if (!vprec || !desc->GetField(f, &tfi) || !GetVPrec(vprec, &type) || tfi.logType == type) continue;
      tfi.logType = static_cast<uint8_t>(type);
      desc->SetField(f, &tfi);
    }
  }
  ZorLock guard;
  if (ZorModule* object = ZorGetModule(module, &guard)) object->PatchTableDesc(desc, mode);
}

// ------------------------------------------------------------------ creation

void ZorDBase::CreateTable(int64_t tableId) {
  CheckWritable();
  ZorTableDesc desc;
  if (!desc.BuildFromRsrc(tableId)) ZorRaise(kSource, ZorErr(1, kErrBadParam));
  PatchDesc(&desc, kPatchCreate);
  CreateTable(desc.GetHandle());
}

void ZorDBase::CreateEnum(int64_t typeId) {
  CheckWritable();
  ZorTableDesc desc;
  if (!DescFromRsrc(ModuleOf(typeId), static_cast<int32_t>((typeId >> 16) & 0xFFFF), true, &desc)) {
    ZorRaise(kSource, ZorErr(1, kErrBadParam));
  }
  PatchDesc(&desc, kPatchCreate | kPatchEnum);
  CreateEnum(desc.GetHandle());
}

void ZorDBase::CreateTableAuto(int32_t module, ZorVerif* verif) { CreateAuto(module, verif, false); }
void ZorDBase::CreateEnumAuto(int32_t module, ZorVerif* verif) { CreateAuto(module, verif, true); }

void ZorDBase::CreateAuto(int32_t module, ZorVerif* verif, bool enums) {
  CheckWritable();
  DropVPrecCache();
  ZorDbTransaction txn(this);
  string title, name;
  if (module == 0) {
    const std::vector<int32_t> modules = ModuleIds();
    ZorProgress progress;
    progress.Begin(Text(enums ? kTxtCreateEnums : kTxtCreateTables, &title), static_cast<int64_t>(modules.size()));
    for (int32_t m : modules) {
      if (m != 0) CreateAuto(m, verif, enums);
      progress.Step();
    }
    progress.End();
  } else {
    ZorGetModuleName(module, ZorNamePublic, &name);
    if (verif) verif->AddSectionMsg(1, kGroup, kTxtModuleSection, name.CStr());
    const std::vector<int32_t> numbers = RsrcNumbers(module, enums);
    ZorProgress progress;
    progress.Begin(Text(enums ? kTxtCreateEnums : kTxtCreateTables, &title), static_cast<int64_t>(numbers.size()));
    for (int32_t number : numbers) {
      ZorTableDesc desc;
      if (!DescFromRsrc(module, number, enums, &desc)) continue;
      progress.SetTitle(desc.GetName(&name));
      progress.Step();
      PatchDesc(&desc, kPatchCreate | (enums ? kPatchEnum : 0));
      // Every enumeration is kept; a table when it asks for it, in this
      // database's storage kind (1 standing for it).
      eZorTblStor kind = desc.GetStorage();
      if (kind == kZorTblStorDoc) kind = GetStorage();
      const bool wanted = enums || ((desc.GetFlags() & kZorTblTfDocAutoCreate) != 0 && kind == GetStorage());
      const int64_t key = KeyOf(desc, enums);
      if (!wanted || (enums ? IsEnumExist(key) : IsTableExist(key))) continue;
      enums ? CreateEnum(desc.GetHandle()) : CreateTable(desc.GetHandle());
      if (verif) verif->AddItemMsg(kZorVerifNote, 0, 0, 1, kGroup, kTxtCreated, desc.GetName(&name));
    }
    progress.End();
  }
  txn.Commit();
}

// ------------------------------------------------------------------ upgrade

bool ZorDBase::UpgradeTable(int64_t tableId, uint32_t flags, ZorVerif* verif) {
  return UpgradeFromRsrc(tableId, flags, verif, false);
}
bool ZorDBase::UpgradeEnum(int64_t typeId, uint32_t flags, ZorVerif* verif) {
  return UpgradeFromRsrc(typeId, flags, verif, true);
}
bool ZorDBase::UpgradeTable(ZorHandle* description, uint32_t flags, ZorVerif* verif) {
  return UpgradeDesc(description, flags, verif, false);
}
bool ZorDBase::UpgradeEnum(ZorHandle* description, uint32_t flags, ZorVerif* verif) {
  return UpgradeDesc(description, flags, verif, true);
}

bool ZorDBase::UpgradeFromRsrc(int64_t id, uint32_t flags, ZorVerif* verif, bool isEnum) {
  CheckWritable();
  ZorTableDesc desc;
  if (!DescFromRsrc(ModuleOf(id), static_cast<int32_t>((id >> 16) & 0xFFFF), isEnum, &desc)) {
    if (verif) {
      ZorHandle h;
      ZorTableDesc stored;
      if (isEnum ? GetEnumHandle(id, &h) : GetTableHandle(id, &h)) stored.BuildFromHdl(&h);
      string name;
      verif->AddSectionMsg(1, kGroup, kTxtUpgradeSection);
      verif->AddItemMsg(kZorVerifError, 0, 0, 1, kGroup, kTxtNoResource, stored.GetName(&name));
    }
    return false;
  }
  PatchDesc(&desc, kPatchUpgrade | (isEnum ? kPatchEnum : 0));
  return UpgradeDesc(desc.GetHandle(), flags, verif, isEnum);
}

bool ZorDBase::UpgradeDesc(ZorHandle* description, uint32_t flags, ZorVerif* verif, bool isEnum) {
  CheckWritable();
  ZorNotNull(description, kSource);
  ZorTableDesc desc;
  desc.BuildFromHdl(description);
  if (desc.GetStorage() == kZorTblStorDoc) desc.SetStorage(GetStorage());
  const int64_t key = KeyOf(desc, isEnum);
  ZorHandle stored;
  if (!(isEnum ? GetEnumHandle(key, &stored) : GetTableHandle(key, &stored))) return false;
  ZorTableDesc old;
  old.BuildFromHdl(&stored);
  if (old.GetStructRelease() == desc.GetStructRelease()) return false;
  DropVPrecCache();
  ZorTable table;
  if (isEnum) {
    // An enumeration keeps its values in its description: convert them in
    // memory, then store the new description with them.
    table.Init(&stored, true);
    if (!_UpgTuf(&table, &desc, flags, verif)) return false;
    SetEnumHandle(key, table.GetDescHandle());
    return true;
  }
  if (!isEnum && desc.GetStorage() != GetStorage()) return false;
  table.Open(this, key);
  return _UpgTuf(&table, &desc, flags, verif);
}

bool ZorDBase::_UpgTuf(ZorTable* table, ZorTableDesc* newDesc, uint32_t flags, ZorVerif* verif) {
  return ZorNotNull(table, kSource)->StructUpgrade(newDesc, flags, verif);
}

void ZorDBase::UpgradeTableAuto(int32_t module, uint32_t flags, ZorVerif* verif) {
  UpgradeAuto(module, flags, verif, false);
}
void ZorDBase::UpgradeEnumAuto(int32_t module, uint32_t flags, ZorVerif* verif) {
  UpgradeAuto(module, flags, verif, true);
}

void ZorDBase::UpgradeAuto(int32_t module, uint32_t flags, ZorVerif* verif, bool enums) {
  CheckWritable();
  DropVPrecCache();
  ZorTable list;
  ZorListTableInit(&list);
  enums ? GetEnumList(&list) : GetTableList(&list);
  std::vector<int64_t> keys;
  for (bool more = list.First(); more; more = list.Next()) {
    const int64_t key = list.GetValQuad(kZorListFieldId);
    if (module == 0 || ModuleOf(key) == module) keys.push_back(key);
  }
  if (keys.empty()) return;
  string title;
  ZorDbTransaction txn(this);
  ZorProgress progress;
  progress.Begin(Text(enums ? kTxtUpgradeEnums : kTxtUpgradeTitle, &title), static_cast<int64_t>(keys.size()));
  for (int64_t key : keys) {
    UpgradeFromRsrc(key, flags, verif, enums);
    progress.Step();
  }
  progress.End();
  txn.Commit();
}

void ZorDBase::UpdateAuto(int32_t module, bool createTables, bool createEnums, bool showProgress) {
  CheckWritable();
  DropVPrecCache();
  string name, title, text;
  GetName(&name);
  title.Format(1, kGroup, kTxtUpdateBase, name.CStr());
  ZorProgress progress;
  if (showProgress) progress.Begin(title.CStr(), 2 + int{createTables} + int{createEnums});
  auto step = [&](int32_t id) {
    if (!showProgress) return;
    progress.SetTitle(Text(id, &text));
    progress.Step();
  };
  ZorDbTransaction txn(this);
  if (createEnums) step(kTxtCreateEnums), CreateEnumAuto(module, nullptr);
  if (createTables) step(kTxtCreateTables), CreateTableAuto(module, nullptr);
  step(kTxtUpgradeEnums), UpgradeEnumAuto(module, kUpdateFlags, nullptr);
  step(kTxtUpgradeTables), UpgradeTableAuto(module, kUpdateFlags, nullptr);
  txn.Commit();
  if (showProgress) progress.End();
}

}  // namespace zorvane
