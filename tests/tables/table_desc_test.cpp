// The rules of ZorTableDesc's operations that the stored-form oracle does
// not reach: creation, field positions, deletion, index parts, templates,
// indexability and the checks. Layout sizes are the oracle's.
#include <gtest/gtest.h>
#include <zorvane/zorvane.h>

#include <cstring>
#include <functional>
#include <memory>

#include "support/test_util.h"

namespace zorvane {
namespace {

std::string Name(const ZorTableDesc& d, int32_t f, eZorNameType t = ZorNamePublic) {
  string s;
  return d.GetFieldName(f, &s, t);
}

int32_t AddLong(ZorTableDesc* d, const char* name, int32_t position = kZorTblFirstFree, uint32_t flags = 0) {
  return d->AddField(name, kZorPhysTypeLong, kZorLogTypeInt, true, 0, flags, 0, position);
}

TEST(TableDesc, CreateGivesEachTypeItsIdentity) {
  struct Case {
    eZorTblType type;
    int64_t tid, typeId;
    uint32_t flags;
    const char *abr, *prefix;
  } cases[] = {{kZorTblTypeStd, 0x70003000, 0, 0, "Tbl", "KeTbl"},
               {kZorTblTypeTask, 0x10000, 0x70003000, 0x30, "Task", "_Task"},
               {kZorTblTypeEnum, 0x20000, 0x70003000, 0, "Enum", "_Enum"}};
  for (const Case& c : cases) {
    ZorTableDesc d;
    d.Create(c.type, 0x70003000);
    string s;
    EXPECT_EQ(d.GetTId(), c.tid);
    EXPECT_EQ(d.GetTypeId(), c.typeId);
    EXPECT_EQ(d.GetFlags(), c.flags);
    EXPECT_STREQ(d.GetName(&s), "Table");
    EXPECT_STREQ(d.GetAbrName(&s), c.abr);
    EXPECT_STREQ(d.GetName(&s, ZorNameCId), c.prefix);
    EXPECT_STREQ(d.GetModuleTag(&s), "Mem");
    EXPECT_EQ(d.GetStorage(), kZorTblStorMemory);
    EXPECT_EQ(d.GetNbField() + d.GetNbIndex(), 0);
    ZorUuid u;
    EXPECT_EQ(d.GetEnumUuid(&u), c.type == kZorTblTypeEnum);
  }
  ZorTableDesc d;
  EXPECT_FALSE(d.BuildFromRsrc(int64_t{1} << 32 | 0xC80000));
  EXPECT_LIB_ERROR(41, d.BuildFromRsrc(0x30000));
  try {
    d.BuildFromRsrc(0x30000);
  } catch (const ZorEBasic& e) {
    EXPECT_STREQ(e.GetFileText(), "ZorTablesTD");
    EXPECT_EQ(e.GetLine(), 214u);
  }
}

TEST(TableDesc, HeaderSettersKeepTheirRules) {
  ZorTableDesc d;
  d.Create(kZorTblTypeStd, 0);
  d.SetStructRelease(7);
  d.SetStructRelease(-1);
  EXPECT_EQ(d.GetStructRelease(), 8);
  const int32_t negative = -5;
  EXPECT_EQ(d.GetMaxData(&negative), 0);
  d.SetLinkedEngId(5, 6);
  EXPECT_EQ(d.GetLinkedEngId(), int64_t{6} << 32 | 5);
  d.SetLinkedEngId(5, 0);
  EXPECT_EQ(d.GetLinkedEngId(), 0);
  d.SetName("A name longer than twenty-five");
  string s;
  EXPECT_STREQ(d.GetName(&s), "A name longer than twenty");
  d.SetRecNameFid(1, 2, 3);
  d.SetLinkedWsId(5);
  EXPECT_EQ(d.GetRecNameFid(3) * 10 + d.GetRecNameFid(4), 30);
  d.SetTId(int64_t{3} << 32 | 0x50000, false);
  EXPECT_EQ(d.GetFid(9), int64_t{3} << 32 | 0x50009);
}

TEST(TableDesc, AddFieldPositions) {
  ZorTableDesc d;
  d.Create(kZorTblTypeStd, 0);
  for (const char* n : {"A", "B", "C"}) AddLong(&d, n);
  d.SetFieldName(2, "devB", ZorNameDev);
  d.SetFieldName(3, "devC", ZorNameDev);
  EXPECT_TRUE(d.DelField(2, false));
  EXPECT_FALSE(d.DelField(2, false));
  EXPECT_EQ(d.GetNbField(), 3);
  EXPECT_FALSE(d.FieldValid(2));
  EXPECT_EQ(Name(d, 2), "**SUPPRIM\xC9" "E**");
  EXPECT_EQ(Name(d, 2, ZorNameDev), "");
  EXPECT_EQ(AddLong(&d, "D"), 2);  // the free slot is reused
  EXPECT_EQ(AddLong(&d, "E"), 4);  // none free: appended
  EXPECT_EQ(AddLong(&d, "C2", 3), 3);  // replaces slot 3 and its extras
  EXPECT_EQ(Name(d, 3, ZorNameDev), "");
  d.SetFieldName(3, "devC2", ZorNameDev);
  EXPECT_EQ(AddLong(&d, "F", -3), 3);  // inserted: C2 and its extras move up
  EXPECT_EQ(Name(d, 4), "C2");
  EXPECT_EQ(Name(d, 4, ZorNameDev), "devC2");
  EXPECT_EQ(AddLong(&d, "G", 0), 6);
  EXPECT_EQ(AddLong(&d, "H", -7), 7);
  EXPECT_TRUE(d.DelField(3, true));  // physically: later fields renumbered
  EXPECT_EQ(Name(d, 3), "C2");
  EXPECT_EQ(Name(d, 3, ZorNameDev), "devC2");
  EXPECT_TRUE(d.SwapField(1, 3));
  EXPECT_EQ(Name(d, 1, ZorNameDev), "devC2");
  EXPECT_EQ(d.GetFieldId("c2"), 1);
  EXPECT_EQ(d.GetFieldId("devc2", ZorNameDev), 1);
  sZorTfi tfi;
  tfi.flags = 7;
  EXPECT_FALSE(d.GetField(99, &tfi));
  EXPECT_FALSE(d.SetField(99, &tfi) || d.DelField(99, true));
  EXPECT_EQ(tfi.flags, 0u);
  EXPECT_EQ(d.AddArray("Arr", kZorPhysTypeShort, kZorLogTypeInt, -2, 3, false, 0, 0, kZorTblFirstFree), 7);
  d.GetField(7, &tfi);
  EXPECT_EQ(tfi.d1 * 10 + tfi.d2, 3u);
  EXPECT_EQ(tfi.flags, kZorTblFfValid | kZorTblFfArray);
  EXPECT_EQ(d.GetFieldId("arr"), 7);
}

TEST(TableDesc, ValidatePinnedLayouts) {
  ZorTableDesc d;
  d.Create(kZorTblTypeStd, 0);
  AddLong(&d, "L");
  d.AddField("S", kZorPhysTypeAnsiString, kZorLogTypeText, true, 35, 0, 0, kZorTblFirstFree);
  d.AddField("D", kZorPhysTypeDate, kZorLogTypeDate, true, 0, 0, 0, kZorTblFirstFree);
  d.AddField("M", kZorPhysTypeDecimal, kZorLogTypeMoney, true, 0, 0, 0, kZorTblFirstFree);
  d.AddArray("A", kZorPhysTypeShort, kZorLogTypeInt, 2, 0, true, 0, 0, kZorTblFirstFree);
  EXPECT_TRUE(d.Validate());
  sZorTfi tfi;
  std::vector<int> offsets;
  for (int32_t i = 1; i <= 5; ++i) offsets.push_back(d.GetField(i, &tfi) ? tfi.offset : -1);
  EXPECT_EQ(offsets, (std::vector<int>{0, 4, 40, 48, 56}));
  EXPECT_EQ(tfi.size, 6);
  EXPECT_EQ(d.GetStaticSize(), 62u);
}

TEST(TableDesc, SubIndexPartsAndLabels) {
  ZorTableDesc d;
  d.Create(kZorTblTypeStd, 0);
  for (const char* n : {"A", "B", "C"}) AddLong(&d, n);
  const int32_t ix = d.AddIndex(0);
  string s;
  EXPECT_STREQ(d.GetIndexName(ix, &s), "Ix 1");
  for (int32_t p = 1; p <= 9; ++p) d.SetSubIndex(ix, p, 1 + p % 3, 0);
  d.SetSubIndex(ix, -1, 1, 0);  // parts shift up, the ninth is lost
  auto fields = [&] {
    std::vector<int32_t> out;
    for (int32_t p = 1; p <= 9; ++p) out.push_back(d.GetSubIndex(ix, p));
    return out;
  };
  EXPECT_EQ(fields(), (std::vector<int32_t>{1, 2, 3, 1, 2, 3, 1, 2, 3}));
  d.SetSubIndex(ix, 1002, 0, 0);  // removes part 2, clears part 9
  EXPECT_EQ(fields(), (std::vector<int32_t>{1, 3, 1, 2, 3, 1, 2, 3, 0}));
  d.SetSubIndex(ix, 2, -1, 3);  // length only
  int32_t len = 0;
  EXPECT_EQ(d.GetSubIndex(ix, 2, &len), 3);
  EXPECT_EQ(len, 3);
  d.SetSubIndex(ix, 2, -1, 0);
  d.GetSubIndex(ix, 2, &len);
  EXPECT_EQ(len, 8);
  d.SetSubIndex(ix, 4, 0, 0);  // an empty part ends the key
  d.Validate();
  sZorKey key;
  d.GetIndex(ix, &key);
  EXPECT_EQ(key.nbPart, 3);
  EXPECT_EQ(key.keyLen, 24);
  EXPECT_EQ(key.partOffset[1], 8u);
  EXPECT_NE(std::string(d.Dump(&s)).find("-Index=1 -Name='Ix 1' -Parts=3 -Len=24"), std::string::npos);
  EXPECT_FALSE(d.SetIndexName(2, "x") || d.SetIndexFlag(2, 1));
  EXPECT_TRUE(d.SetDefIndex(1));
  EXPECT_EQ(d.AddIndex(1), 1);
  EXPECT_EQ(d.GetDefIndex(), 2);  // the default follows its index
  EXPECT_TRUE(d.SwapIndex(1, 2));
  EXPECT_EQ(d.GetDefIndex(), 1);
  EXPECT_STREQ(d.GetIndexName(1, &s), "Ix 1");
  EXPECT_STREQ(d.GetIndexName(kZorTblIndexDef, &s), "Index par d\xE9" "faut");
  EXPECT_STREQ(d.GetIndexName(kZorTblIndexSeq, &s), "Ordre de cr\xE9" "ation");
  EXPECT_STREQ(d.GetIndexName(3, &s), "Index inexistant");
  EXPECT_TRUE(d.SetDefIndex(2));
  EXPECT_TRUE(d.DelIndex(1, true));
  EXPECT_EQ(d.GetDefIndex(), 1);
  EXPECT_FALSE(d.SetDefIndex(2));
}

TEST(TableDesc, TemplatesAndIndexability) {
  struct Case {
    int32_t id;
    const char* name;
    uint8_t phys, log;
    uint16_t len;
    uint8_t nature;
    uint32_t flags;
    bool indexable;
  } cases[] = {
      {6, "Static string", 6, 9, 35, 0, 0x401807, true},
      {7, "Dynamic string", 6, 9, 255, 0, 0x401817, false},
      {12, "Zip code", 6, 9, 10, 6, 0x401807, true},
      {22, "Enum", 6, 9, 35, 0, 0x421807, false},
      {26, "Image", 13, 13, 0, 0, 0x400807, false},
      {27, "Commentaire", 11, 15, 0, 0, 0x401817, false},
      {28, "Local table", 11, 12, 15, 0, 0x480011, false},
      {32, "Calculated by script", 6, 9, 35, 0, 0x840040F, false},
      {1001, "Order", 4, 7, 0, 0, 0x400081, true},
      {1005, "RwMode", 6, 9, 18, 29, 0x500001, false},
      {39, "**SUPPRIM\xC9" "E**", 4, 7, 0, 0, 0, false},
  };
  ZorTableDesc d;
  d.Create(kZorTblTypeStd, 0);
  for (const Case& c : cases) {
    sZorTfi tfi;
    EXPECT_EQ(ZorTableDesc::FillTfiFromTmpl(c.id, &tfi), c.flags != 0) << c.id;
    EXPECT_STREQ(tfi.name, c.name);
    EXPECT_EQ((std::vector<uint32_t>{tfi.physType, tfi.logType, tfi.len, tfi.nature, tfi.flags}),
              (std::vector<uint32_t>{c.phys, c.log, c.len, c.nature, c.flags})) << c.id;
    if (c.flags) d.AddField(c.id, nullptr, 0);
  }
  d.AddField(1, "User", 0);
  d.AddArray("Arr", kZorPhysTypeLong, kZorLogTypeInt, 1, 1, true, 0, 0, 0);
  d.AddField("Pw", kZorPhysTypeAnsiString, kZorLogTypePassWord, true, 8, 0, 0, 0);
  sZorTfi user;
  d.GetField(11, &user);
  user.flags |= kZorTblFfUser;
  d.SetField(11, &user);
  d.Validate();
  for (int32_t i = 1; i <= 10; ++i) EXPECT_EQ(d.IsIndexable(i), cases[i - 1].indexable) << cases[i - 1].id;
  EXPECT_FALSE(d.IsIndexable(11));
  EXPECT_FALSE(d.IsIndexable(12));
  EXPECT_FALSE(d.IsIndexable(13));
  ZorBGet list;
  EXPECT_EQ(d.GetIndexableList(&list), 3);
  int32_t first = 0;
  list.Get(2, &first);
  EXPECT_EQ(first, 3);
}

// A sound table that each case spoils in one way; every comment of list
// 120 that a description can deserve is reached once.
TEST(TableDesc, CheckReportsEachFault) {
  using Spoil = std::function<void(ZorTableDesc*)>;
  auto edit = [](int32_t f, std::function<void(sZorTfi*)> change) {
    return [f, change](ZorTableDesc* d) {
      sZorTfi t;
      d->GetField(f, &t);
      change(&t);
      d->SetField(f, &t);
    };
  };
  // Edits the stored container, as outside bytes may be.
  auto raw = [](std::function<void(ZorDyna*)> change) {
    return [change](ZorTableDesc* d) {
      ZorHandle h;
      d->FillDescHdl(&h);
      ZorDyna c;
      c.Init(&h);
      change(&c);
      d->BuildFromHdl(c.GetHandle());
    };
  };
  struct Case {
    int32_t message;
    Spoil spoil;
  } cases[] = {
      {2, [](ZorTableDesc* d) { d->SetName(""); }},
      {3, [](ZorTableDesc* d) { d->SetName("1x", ZorNameDev); }},
      {4, [](ZorTableDesc* d) { d->SetAbrName("a b"); }},
      {5, edit(1, [](sZorTfi* t) { t->name[0] = 0; })},
      {6, [](ZorTableDesc* d) { d->SetFieldName(3, "code"); }},
      {7, [](ZorTableDesc* d) { d->SetFieldName(1, "a-b", ZorNameDev); }},
      {8, [](ZorTableDesc* d) { d->SetFieldName(1, "Dup", ZorNameDev), d->SetFieldName(2, "dup", ZorNameDev); }},
      {9, edit(2, [](sZorTfi* t) { t->flags |= kZorTblFfUnicID; })},
      {10, edit(1, [](sZorTfi* t) { t->logType = kZorLogTypeDec2; })},
      {12, edit(2, [](sZorTfi* t) { t->flags |= kZorTblFfGetNat; })},
      {13, edit(3, [](sZorTfi* t) { t->flags |= kZorTblFfArray | kZorTblFfDyna; })},
      {14, edit(2, [](sZorTfi* t) { t->flags &= ~kZorTblFfValid; })},
      {15, edit(2, [](sZorTfi* t) { t->flags |= kZorTblFfVirtual | kZorTblFfArray; })},
      {16, edit(1, [](sZorTfi* t) { t->flags |= kZorTblFfVirtual | kZorTblFfIndexed; })},
      {17, edit(3, [](sZorTfi* t) { t->logType = kZorLogTypePict; })},
      {18, [](ZorTableDesc* d) { d->AddIndex(0); }},
      {19, [](ZorTableDesc* d) { d->SetSubIndex(1, 3, 2, 0); }},
      {20, [](ZorTableDesc* d) { d->SetSubIndex(d->AddIndex(0), 1, 1, 0), d->SetIndexName(2, "IX 1"); }},
      {21, [](ZorTableDesc* d) { d->SetSubIndex(1, 2, 6, 0); }},
      {22, [](ZorTableDesc* d) { d->SetSubIndex(1, 2, 1, 3); }},
      {23, raw([](ZorDyna* c) {
         uint8_t hdr[146];
         c->GetData(0, 1, 1, sizeof hdr, hdr);
         hdr[110] = 9;
         c->SetData(0, 1, 1, sizeof hdr, hdr);
       })},
      {24, edit(6, [](sZorTfi* t) { t->flags |= kZorTblFfVirtual; })},
      {25, edit(5, [](sZorTfi* t) { t->physType = kZorPhysTypeBlob, t->len = 8; })},
      {26, edit(6, [](sZorTfi* t) { t->flags |= kZorTblFfDyna; })},
      {27, edit(1, [](sZorTfi* t) { t->nature = kZorTblNatCity; })},
      {28, edit(3, [](sZorTfi* t) { t->flags |= kZorTblFfEnum | kZorTblFfStrList; })},
      {29, edit(3, [](sZorTfi* t) { t->flags |= kZorTblFfLink; })},
      {30, edit(6, [](sZorTfi* t) { t->logType = kZorLogTypeRichTxt, t->physType = kZorPhysTypeBlob; })},
      {31, edit(4, [](sZorTfi* t) { t->flags |= kZorTblFfUser | kZorTblFfArray; })},
      {32, edit(4, [](sZorTfi* t) { t->flags |= kZorTblFfLocTbl; })},
      {33, [](ZorTableDesc* d) { d->SetFlags(0), AddLong(d, "U", 0, kZorTblFfUser); }},
      {34, [](ZorTableDesc* d) { d->SetFieldVPrec(2, 2); }},
      {35, raw([](ZorDyna* c) {
         ZorDyna sub;
         sub.Init();
         sub.SetData(0, 1, 5, "wide");
         c->SetData(0, 3, 4, sub.GetHandle());
       })},
      {36, edit(4, [](sZorTfi* t) { t->logType = kZorLogTypeMoney; })},
      {37, [](ZorTableDesc* d) { d->SetFieldName(3, "AVeryLongDeveloperNameOfThirty", ZorNameDev); }},
      {38, edit(4, [](sZorTfi* t) { t->flags |= kZorTblFfEnum; })},
      {39, edit(3, [](sZorTfi* t) { t->flags |= kZorTblFfRdOnly | kZorTblFfImport | kZorTblFfVirtual; })},
      {40, [](ZorTableDesc* d) { d->SetFieldAlias(AddLong(d, "Al", 0), 2, 0); }},
      {41, [](ZorTableDesc* d) { d->SetStdFidFamEnumId(kZorTblNatCode, int64_t{999} << 32 | 4); }},
      {42, [](ZorTableDesc* d) { d->SetStdFidFamEnumId(kZorTblNatCode, int64_t{1} << 32 | 4); }},
      {43, [](ZorTableDesc* d) { d->SetSubIndex(1, 1, 2, 5); }},
      {44, edit(2, [](sZorTfi* t) { t->len = 0; })},
      {44, edit(2, [](sZorTfi* t) { t->len = 256; })},
      {45, [](ZorTableDesc* d) { d->SetRecNameFid(0, 0, 0); }},
      {46, [](ZorTableDesc* d) { d->SetRecNameFid(2, 40, 0); }},
      {47, [](ZorTableDesc* d) { d->SetHilFid(6); }},
      {101, [](ZorTableDesc* d) { d->SetLinkedWsId(1), d->SetTypeId(0), d->SetFlags(0); }},
      {102, [](ZorTableDesc* d) { d->SetLinkedEngId(1, 2); }},
      {103, [](ZorTableDesc* d) { d->SetLinkedWsId(int64_t{8} << 32); }},
  };
  auto sound = [](eZorTblType type) {
    auto d = std::make_unique<ZorTableDesc>();
    d->Create(type, int64_t{7} << 32 | 0x30000);
    d->SetTId(int64_t{7} << 32 | 0x30000, false);
    d->AddField(1001, nullptr, 0);
    d->AddField(6, "Code", 0);
    d->SetFieldName(2, "CodeCli", ZorNameDev);
    d->AddField(25, nullptr, 0);
    d->AddField("Qty", kZorPhysTypeLong, kZorLogTypeDec2, true, 0, kZorTblFfAutoFill, kZorTblNatCode, 0);
    d->AddField("Pass", kZorPhysTypeBlob, kZorLogTypePassWord, false, 52, 0, 0, 0);
    d->AddField(26, nullptr, 0);
    d->SetSubIndex(d->AddIndex(0), 1, 2, 0);
    d->SetDefIndex(1);
    d->SetRecNameFid(2, 0, 0);
    return d;
  };
  ZorVerif clean;
  clean.Init(false);
  auto base = sound(kZorTblTypeStd);
  base->Validate();
  EXPECT_TRUE(base->Check(&clean, false, false));
  EXPECT_EQ(clean.GetNbItem(), 0);
  for (const Case& c : cases) {
    const bool task = c.message == 33 || c.message == 101 || c.message == 102;
    auto d = sound(task ? kZorTblTypeTask : kZorTblTypeStd);
    c.spoil(d.get());
    if (c.message != 16) d->Validate();
    ZorVerif report;
    report.Init(false);
    d->Check(&report, false, false);
    string want, got;
    ZorLoadString(1, 120, c.message, &want);
    // The longest literal run of the pattern identifies the comment.
    const std::string pattern = want.CStr();
    std::string piece;
    for (size_t at = 0, next; at <= pattern.size(); at = next + 3) {
      next = std::min(pattern.find('^', at), pattern.size());
      if (next - at > piece.size()) piece = pattern.substr(at, next - at);
    }
    bool found = false;
    for (int32_t i = 1; i <= report.GetNbItem(); ++i)
      found |= std::strstr(report.GetItemComment(i, &got), piece.c_str()) != nullptr;
    EXPECT_TRUE(found) << "message " << c.message << " not reported:\n" << report.GetText(&got);
  }
}

}  // namespace
}  // namespace zorvane
