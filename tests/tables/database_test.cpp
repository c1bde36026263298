// The block-file database: the file and its header fields, tables and
// enumerations as blocks with their refusals, list tables, variable
// precision, ownership by a guard; then each verification step against a
// database damaged on purpose (one fault per step), repaired, and clean
// again with the records of the sound tables intact.
#include <gtest/gtest.h>
#include <zorvane/zorvane.h>

#include <filesystem>
#include <fstream>
#include <cstring>
#include <functional>
#include <string>

#include "support/event_recorder.h"
#include "support/temp_files.h"
#include "support/test_util.h"

namespace zorvane {
namespace {

constexpr int32_t kSig = 77;
int64_t Tid(int32_t module, int32_t table) { return (int64_t{module} << 32) | (int64_t{table} << 16); }

// Id (index 1), Name (index 2), Photo (blob), Memo (dynamic); flags choose
// the store.
void MakeDesc(ZorTableDesc* d, int64_t tid, uint32_t flags, int32_t vprec = 0, eZorLogType amountType = kZorLogTypeDec2) {
  d->Create(kZorTblTypeStd, 0);
  d->SetTId(tid, false);
  d->SetName(("T" + std::to_string(tid >> 16 & 0xFF)).c_str());
  d->SetStorage(kZorTblStorDoc);
  d->SetFlags(flags);
  const int32_t id = d->AddField("Id", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0);
  const int32_t name = d->AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, 12, kZorTblFfValid, 0, 0);
  d->AddField("Photo", kZorPhysTypeBlobRef, kZorLogTypePict, true, 0, kZorTblFfValid, 0, 0);
  d->AddField("Memo", kZorPhysTypeAnsiString, kZorLogTypeText, true, 40, kZorTblFfValid | kZorTblFfDyna, 0, 0);
  const int32_t amount = d->AddField("Amount", kZorPhysTypeDecimal, amountType, true, 0, kZorTblFfValid, 0, 0);
  if (vprec) d->SetFieldVPrec(amount, vprec);
  d->SetSubIndex(d->AddIndex(0), 1, id, 0);
  d->SetSubIndex(d->AddIndex(0), 1, name, 0);
  d->Validate();
}

void Fill(ZorDBase* db, int64_t tid, int32_t count) {
  ZorTable t;
  t.Open(db, tid);
  db->StartTransaction();
  for (int32_t i = 1; i <= count; ++i) {
    t.Raz();
    t.SetValLong(1, i);
    t.SetValStr(2, ("n" + std::to_string(i)).c_str());
    ZorHandle photo = test::HandleOf(std::string(10 * i, 'p').c_str());
    t.SetValHandle(3, &photo);
    t.SetValStr(4, ("memo " + std::to_string(i)).c_str());
    t.Write();
  }
  db->EndTransaction();
}

// Every record in index 1 order: id, name, photo size, memo.
std::string Dump(ZorDBase* db, int64_t tid) {
  ZorTable t;
  t.Open(db, tid);
  t.SetCurIndex(1);
  std::string out;
  string name, memo;
  for (bool more = t.First(); more; more = t.Next()) {
    ZorHandle photo;
    t.GetValHandle(3, &photo);
    out += std::to_string(t.GetValLong(1)) + "|" + t.GetValStr(2, &name) + "|" + std::to_string(photo.GetSize()) +
           "|" + t.GetValStr(4, &memo) + "\n";
  }
  return out;
}

std::vector<int64_t> ListIds(ZorDBase* db, bool enums) {
  ZorTable list;
  ZorListTableInit(&list);
  enums ? db->GetEnumList(&list) : db->GetTableList(&list);
  std::vector<int64_t> ids;
  for (bool more = list.First(); more; more = list.Next()) ids.push_back(list.GetValQuad(kZorListFieldId));
  return ids;
}

void PatchFile(const std::string& file, size_t at, uint32_t value) {
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(at));
  const char b[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
  f.write(b, 4);
}

TEST(DatabaseFile, FileTablesEnumerationsAndTheirRefusals) {
  zortest::TempDir dir;
  const ZorFsa path(dir.File("base.zdb").c_str());
  ZorLock guard;
  ZorDBase* db = ZorDbaInit(kZorTblStorBFile, &guard);
  db->CreateBase(&path, kSig, false);
  EXPECT_EQ(std::filesystem::file_size(dir.File("base.zdb")), 25600u);
  EXPECT_EQ(ZorBFile::Is(&path, false, kZorDbFileType, kSig), 0);
  EXPECT_FALSE(db->OpenBase(&path, kSig, 0));
  ZorTableDesc a, b, mem;
  MakeDesc(&a, Tid(7, 3), 0, 9);
  MakeDesc(&b, Tid(7, 5), kZorTblTfSmall);
  db->CreateTable(a.GetHandle());
  db->CreateTable(b.GetHandle());
  EXPECT_LIB_ERROR(40, db->CreateTable(a.GetHandle()));
  MakeDesc(&mem, Tid(7, 6), 0);
  mem.SetStorage(kZorTblStorMemory);
  EXPECT_LIB_ERROR(23, db->CreateTable(mem.GetHandle()));
  EXPECT_EQ(ListIds(db, false), (std::vector<int64_t>{Tid(7, 3), Tid(7, 5)}));
  // Enumerations: a sorted catalogue, one block each, gone with the last.
  for (const int64_t typeId : {Tid(7, 20), Tid(7, 10)}) {
    ZorTableDesc e;
    e.Create(kZorTblTypeEnum, typeId);
    e.AddField("Code", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0);
    e.Validate();
    db->CreateEnum(e.GetHandle());
    if (typeId == Tid(7, 10)) {
      EXPECT_LIB_ERROR(40, db->CreateEnum(e.GetHandle()));
    }
  }
  EXPECT_EQ(ListIds(db, true), (std::vector<int64_t>{Tid(7, 10), Tid(7, 20)}));
  {  // the catalogue: [type id, 64-bit][block id, 32-bit] by type id; blocks sized in whole KiB
    ZorBFile* f = db->GetStockPtr();
    ZorHandle cat;
    f->BReadCopy(f->BGetOTBlockId(-2, 0, 0), &cat);
    ASSERT_EQ(cat.GetSize(), 24u);
    const auto* p = static_cast<const uint8_t*>(cat.GetDatas());
    int64_t first;
    int32_t block, size = 0;
    uint32_t capacity = 0;
    std::memcpy(&first, p, 8);
    std::memcpy(&block, p + 8, 4);
    EXPECT_EQ(first, Tid(7, 10));
    ASSERT_TRUE(f->GetBlockInfo(block, nullptr, nullptr, &size, &capacity, nullptr));
    EXPECT_EQ(capacity, (static_cast<uint32_t>(size) / 1024 + 1) * 1024);
  }
  ZorHandle h;
  EXPECT_TRUE(db->GetEnumHandle(Tid(7, 20), &h));
  db->DelEnum(Tid(7, 20));
  EXPECT_TRUE(db->IsEnumExist(Tid(7, 10)));
  db->DelEnum(Tid(7, 10));
  EXPECT_FALSE(db->IsEnumExist(Tid(7, 10)));
  EXPECT_EQ(db->GetStockPtr()->BGetOTBlockId(-2, 0, 0), 0);

  {
    ZorTable open;
    open.Open(db, Tid(7, 5));
    EXPECT_LIB_ERROR(31, db->DelTable(Tid(7, 5)));
  }
  db->DelTable(Tid(7, 5));
  EXPECT_FALSE(db->IsTableExist(Tid(7, 5)));

  eZorLogType type;
  EXPECT_TRUE(db->GetVPrec(9, &type));
  EXPECT_EQ(type, kZorLogTypeDec2);
  EXPECT_FALSE(db->GetVPrec(10, &type));
  EXPECT_EQ(type, kZorLogTypeFloat);
  EXPECT_TRUE(db->GetVPrec(9, &type));  // the cached answers
  EXPECT_FALSE(db->GetVPrec(10, &type));

  // Header fields, and the data date across a reopen.
  const int32_t guid = db->SetBaseGuid(0);
  EXPECT_GE(guid, 0);
  db->SetUpdRel(12);
  date when;
  when.Set(6, 12, 2026);
  db->SetDate(nullptr, nullptr, &when);
  db->CloseBase(ZorBfCloseNormal);
  EXPECT_LIB_ERROR(19, db->DeleteBase(&path, kSig + 1, false));
  db->OpenBase(&path, kSig, kZorDbOpenRdOnly);
  date got;
  db->GetDate(nullptr, nullptr, &got);
  EXPECT_EQ(got.GetValue(), when.GetValue());
  EXPECT_EQ(db->GetBaseGuid(), guid);
  EXPECT_EQ(db->GetUpdRel(), 12);
  EXPECT_TRUE(db->IsRdOnly());
  EXPECT_LIB_ERROR(24, db->CreateTable(b.GetHandle()));
  db->CloseBase(ZorBfCloseNormal);

  // A new name within its folder; a database that removes itself.
  db->OpenBase(&path, kSig, 0);
  EXPECT_LIB_ERROR(38, db->SetName("  "));
  db->SetName("renamed.zdb");
  EXPECT_TRUE(db->IsTableExist(Tid(7, 3)));
  EXPECT_FALSE(std::filesystem::exists(dir.File("base.zdb")));
  db->CloseBase(ZorBfCloseNormal);
  const ZorFsa renamed(dir.File("renamed.zdb").c_str());
  db->OpenBase(&renamed, kSig, kZorDbOpenDelOnClose);
  EXPECT_TRUE(db->GetDelOnClose());
  guard.Trash();  // trashes and deletes the database: delete on close
  EXPECT_FALSE(std::filesystem::exists(dir.File("renamed.zdb")));

  // A file left open by a crash says so in the event journal, unless it is
  // opened for repair.
  ZorDBFile bad;
  bad.CreateBase(&path, kSig, false);
  PatchFile(dir.File("base.zdb"), kZorBfHdrState, kZorBfStateBadClose);
  zortest::EventRecorder events;
  bad.OpenBase(&path, kSig, kZorDbOpenRepair);
  bad.CloseBase(ZorBfCloseAbandon);
  EXPECT_TRUE(events.texts.empty());
  bad.OpenBase(&path, kSig, 0);
  EXPECT_EQ(events.texts, std::vector<std::string>{"Donn\xe9" "es de fermeture incorrectes."});
  EXPECT_LIB_ERROR(25, ZorDbaInit(static_cast<eZorTblStor>(7), nullptr));
}

// Which steps are listed, by check level.
TEST(DatabaseFile, StepListFollowsFlagsAndCheckLevel) {
  ZorDBFile db;
  for (const int32_t level : {0, 2}) {
    ZorSetCheckLevel(level);
    ZorTable list;
    ZorListTableInit(&list);
    db.GetDutList(&list, 0x2FF);
    std::vector<int32_t> codes;
    string title, category;
    for (bool more = list.First(); more; more = list.Next()) codes.push_back(list.GetValLong(kZorListFieldNumber));
    ASSERT_TRUE(list.ReadN(level ? 5 : 2));
    EXPECT_STREQ(list.GetValStr(kZorListFieldName, &title), level ? "(SM) Stocker Master " : "Coh\xe9rence fichier bas niveau");
    EXPECT_STREQ(list.GetValStr(kZorListFieldCode, &category), "0x40");
    const std::vector<int32_t> deep{0x11, 0x12, 0x14, 0x13, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26}, shallow{0x10, 0x20};
    EXPECT_EQ(codes, level ? deep : shallow);
  }
  ZorSetCheckLevel(0);
  // The other listings into list tables: symbolic names, resources.
  ZorTable list;
  EXPECT_EQ(ZorGetCstList(&list, 1, 120), 6);
  string code;
  ASSERT_TRUE(list.First());
  EXPECT_STREQ(list.GetValStr(kZorListFieldCode, &code), "DefineItemRec");
  EXPECT_EQ(list.GetValLong(kZorListFieldNumber), 45);
  const int32_t lists = ZorGetRsrcList(&list, 1, ZorRsrcStrList);
  EXPECT_GT(lists, 20);
  ZorGetRsrcList(&list, 1, ZorRsrcStrList, true);
  EXPECT_EQ(list.GetNbRecord(), 2 * lists);
}

// Rewrites block `id` through a function of its bytes.
void EditBlock(ZorBFile* f, int32_t id, const std::function<void(std::string*)>& edit) {
  ZorHandle h;
  f->BReadCopy(id, &h);
  std::string bytes = test::BytesOf(h);
  edit(&bytes);
  ZorHandle out = test::HandleOf(bytes);
  f->BWriteCopy(id, &out, 0);
}

struct Fault {
  int32_t step;
  bool repairable;
  std::function<void(ZorDBFile*, const std::string&)> damage;  // on the open database, or on the closed file
  bool onClosedFile = false;
  const char* says = "";  // a part of the report
};

TEST(DatabaseFile, EachVerificationStepFindsItsFaultAndRepairsIt) {
  const int64_t seq = Tid(1, 3), small = Tid(1, 4);
  const int32_t owner = ZorTableOwner(seq);
  const std::vector<Fault> faults = {
      {0x12, true, [](ZorDBFile*, const std::string& file) { PatchFile(file, kZorBfHdrState, kZorBfStateBadClose); },
       true, "fermeture incorrectes"},
      {0x13, true, [](ZorDBFile*, const std::string& file) { std::ofstream(file, std::ios::app) << std::string(100, 'x'); },
       true, "Espace perdu"},
      // Block 1 (the first description) moved one byte on: it overlaps block 2.
      {0x11, false, [](ZorDBFile*, const std::string& file) { PatchFile(file, 980, 25600 + 1); }, true, "se chevauche"},
      {0x14, true, [](ZorDBFile* db, const std::string&) { db->GetStockPtr()->BCreate(nullptr, 9999, 50, 10, true); }, false,
       "est incorrect"},
      {0x21, true,
       [&](ZorDBFile* db, const std::string&) { db->GetStockPtr()->BDelete(db->GetStockPtr()->BGetOTBlockId(owner, 2, 0)); }},
      {0x21, true,  // a second directory block
       [&](ZorDBFile* db, const std::string&) {
         ZorBFile* f = db->GetStockPtr();
         f->BDuplicate(f->BGetOTBlockId(owner, kZorTbBlkDir, 0), owner, kZorTbBlkDir, 0);
       }},
      {0x22, true, [](ZorDBFile* db, const std::string&) { db->GetStockPtr()->BCreate(nullptr, 9 * 512 + 9, 0, 10, true); }, false,
       "sans table"},
      {0x23, true,
       [&](ZorDBFile* db, const std::string&) {
         EditBlock(db->GetStockPtr(), db->GetStockPtr()->BGetOTBlockId(owner, kZorTbBlkDyna, 0), [](std::string* b) {
           ZorDyna d;
           d.Init();
           d.SetData(0, 99999, 0, "stray");
           *b += test::BytesOf(*d.GetHandle());
         });
       }},
      {0x24, true,
       [&](ZorDBFile* db, const std::string&) {
         ZorTable t;
         t.Open(db, seq);
         t.SetCurIndex(1);
         ASSERT_TRUE(t.First());
         const int32_t line = static_cast<int32_t>(t.GetCurUD());
         t.Trash();
         EditBlock(db->GetStockPtr(), db->GetStockPtr()->BGetOTBlockId(owner, kZorTbBlkDyna, 0), [&](std::string* b) {
           ZorHandle h = test::HandleOf(*b);
           ZorDyna d;
           d.Init(&h);
           d.Clear(0, 0, line, line, 0, 0);
           *b = test::BytesOf(*d.GetHandle());
         });
       }},
      {0x25, true, [&](ZorDBFile* db, const std::string&) { db->GetStockPtr()->BCreate(nullptr, owner, -3, 10, true); }, false,
       "(rubrique 3) sans enregistrement"},
      {0x26, true,
       [&](ZorDBFile* db, const std::string&) {
         ZorTable t;
         t.Open(db, seq);
         ASSERT_TRUE(t.First());
         const uint32_t live = t.GetCurUD();
         t.Trash();
         EditBlock(db->GetStockPtr(), db->GetStockPtr()->BGetOTBlockId(owner, kZorTbBlkReuse, 0),
                   [&](std::string* b) { b->append(reinterpret_cast<const char*>(&live), 4); });
       }},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.step);
    zortest::TempDir dir;
    const std::string file = dir.File("d.zdb");
    const ZorFsa path(file.c_str());
    ZorDBFile db;
    db.CreateBase(&path, kSig, false);
    db.OpenBase(&path, kSig, 0);
    ZorTableDesc a, b;
    MakeDesc(&a, seq, 0);
    MakeDesc(&b, small, kZorTblTfSmall);
    db.CreateTable(a.GetHandle());
    db.CreateTable(b.GetHandle());
    Fill(&db, seq, 30);
    Fill(&db, small, 5);
    {
      ZorTable t;  // two deleted records: a list of reusable ids
      t.Open(&db, seq);
      for (int i = 0; i < 2; ++i) t.Last(), t.Delete();
    }
    std::string want = Dump(&db, seq);
    const std::string wantSmall = Dump(&db, small);
    if (fault.step == 0x24) want.replace(want.find("memo 1\n"), 6, "");
    if (fault.onClosedFile) {
      db.CloseBase(ZorBfCloseNormal);
      fault.damage(&db, file);
    } else {
      db.StartTransaction();
      fault.damage(&db, file);
      db.EndTransaction();
    }
    if (db.IsOpen()) db.CloseBase(ZorBfCloseNormal);
    ZorSetCheckLevel(2);
    db.OpenBase(&path, kSig, kZorDbOpenRepair);
    ZorVerif found, fix, after;
    db.RunDut(fault.step, 0, &found, 0, nullptr);
    EXPECT_GT(found.GetNbFault(), 0);
    string report;
    EXPECT_NE(std::string(found.GetText(&report)).find(fault.says), std::string::npos) << report.CStr();
    if (fault.repairable) {
      fix.Init(true, 5);
      db.RunDut(fault.step, 0, &fix, 0, nullptr);
      EXPECT_GT(fix.GetNbItem(kZorVerifRepaired), 0);
      for (int32_t step : {0x11, 0x12, 0x13, 0x14, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26})
        db.RunDut(step, 0, &after, 0, nullptr);
      string text;
      EXPECT_EQ(after.GetNbFault(), 0) << after.GetText(&text);
      EXPECT_EQ(Dump(&db, seq), want);
      EXPECT_EQ(Dump(&db, small), wantSmall);
    }
    ZorSetCheckLevel(0);
    db.CloseBase(ZorBfCloseNormal);
  }
}

// A module without a library: its object records the patches; its loose
// resource files declare the tables and the enumeration.
class PatchRecorder : public ZorModule {
 public:
  void PatchTableDesc(ZorTableDesc* desc, uint32_t mode) override {
    patches.push_back(mode);
    desc->SetAbrName("PAT");
  }
  std::vector<uint32_t> patches;
};

void WriteDesc(const std::string& file, ZorTableDesc* d) { test::WriteHandleFile(file, d->GetHandle()); }

TEST(DatabaseAuto, ModuleTablesAndEnumerationsAreCreatedUpgradedAndPatched) {
  constexpr int32_t kModule = 4300;
  zortest::TempDir root;
  std::filesystem::create_directories(root.File("dbauto"));
  ZorFsa rootPath(root.Path().c_str());
  ZorFsa::KRegister(ZorKFsaModules, &rootPath);
  PatchRecorder module;
  test::RegisterModule(kModule, "dbauto", 0, false, &module);

  ZorTableDesc auto3, manual5, e7, stored8;
  // Variable precision 4 is a three-decimal number in this database: the
  // module's table 3 gets that type at creation.
  MakeDesc(&stored8, Tid(kModule, 8), 0, 4, kZorLogTypeDec3);
  MakeDesc(&auto3, Tid(kModule, 3), kZorTblTfDocAutoCreate, 4);
  MakeDesc(&manual5, Tid(kModule, 5), 0);
  e7.Create(kZorTblTypeEnum, Tid(kModule, 7));
  e7.AddField("Code", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0);
  e7.Validate();
  WriteDesc(root.File("dbauto/3.TDesc"), &auto3);
  WriteDesc(root.File("dbauto/5.TDesc"), &manual5);
  WriteDesc(root.File("dbauto/7.Enum"), &e7);

  const ZorFsa path(root.File("auto.zdb").c_str());
  ZorDBFile db;
  db.CreateBase(&path, kSig, false);
  db.OpenBase(&path, kSig, 0);
  db.CreateTable(stored8.GetHandle());
  EXPECT_LIB_ERROR(23, db.CreateTable(Tid(kModule, 42)));  // no such resource
  ZorVerif verif;
  db.CreateTableAuto(kModule, &verif);
  EXPECT_TRUE(db.IsTableExist(Tid(kModule, 3)));
  EXPECT_FALSE(db.IsTableExist(Tid(kModule, 5)));  // not marked for automatic creation
  string text;
  EXPECT_NE(std::string(verif.GetText(&text)).find("Le fichier \"T3\" a \xe9t\xe9 cr\xe9\xe9 avec succ\xe8s"),
            std::string::npos);
  ZorHandle stored;
  ASSERT_TRUE(db.GetTableHandle(Tid(kModule, 3), &stored));
  ZorTableDesc got;
  got.BuildFromHdl(&stored);
  EXPECT_STREQ(got.GetAbrName(&text), "PAT");
  sZorTfi amount;
  got.GetField(5, &amount);
  EXPECT_EQ(amount.logType, kZorLogTypeDec3);
  Fill(&db, Tid(kModule, 3), 4);

  // A new release of table 3 with one more field; the enumeration is new.
  auto3.AddField("Extra", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0);
  auto3.SetStructRelease(-1);
  auto3.Validate();
  WriteDesc(root.File("dbauto/3.TDesc"), &auto3);
  db.UpdateAuto(kModule, true, true, false);
  EXPECT_TRUE(db.IsEnumExist(Tid(kModule, 7)));
  {
    ZorTable t;
    t.Open(&db, Tid(kModule, 3));
    EXPECT_EQ(t.GetNbRecord(), 4);
    EXPECT_GT(t.GetFieldId("Extra"), 0);
  }
  // Creation patches of tables 3 and 5 (twice: each run reads them) and of
  // enumeration 7, then the upgrade patches of the stored enumeration and table.
  EXPECT_EQ(module.patches, (std::vector<uint32_t>{1, 1, 5, 1, 1, 6, 2}));

  // A stored table its module no longer declares: reported, not failed.
  ZorTableDesc orphan;
  MakeDesc(&orphan, Tid(kModule, 9), 0);
  db.CreateTable(orphan.GetHandle());
  ZorVerif report;
  EXPECT_FALSE(db.UpgradeTable(Tid(kModule, 9), 8, &report));
  EXPECT_NE(std::string(report.GetText(&text)).find("La table T9 n'a pas de ressource associ\xe9" "e."),
            std::string::npos);
  db.CloseBase(ZorBfCloseNormal);
  ZorFsa::KUnRegister(ZorKFsaModules);
}

}  // namespace
}  // namespace zorvane
