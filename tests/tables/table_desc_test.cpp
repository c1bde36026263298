// The rules of ZorTableDesc's operations that the stored-form oracle does
// not reach (it checks identities, templates, layouts and derived index
// data): header setters, field positions and deletion, index parts and the
// default index, indexability and the checks.
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

TEST(TableDesc, HeaderRulesAndErrors) {
  ZorTableDesc d;
  EXPECT_FALSE(d.BuildFromRsrc(int64_t{1} << 32 | 0xC80000));
  EXPECT_LIB_ERROR(41, d.BuildFromRsrc(0x30000));
  try {
    d.BuildFromRsrc(0x30000);
  } catch (const ZorEBasic& e) {
    EXPECT_EQ(std::string(e.GetFileText()) + ":" + std::to_string(e.GetLine()), "ZorTablesTD:214");
  }
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
}

TEST(TableDesc, SubIndexPartsAndLabels) {
  ZorTableDesc d;
  d.Create(kZorTblTypeStd, 0);
  for (const char* n : {"A", "B", "C"}) AddLong(&d, n);
  const int32_t ix = d.AddIndex(0);
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
  EXPECT_EQ(d.GetSubIndex(ix, 2, &len) * 10 + len, 33);
  d.SetSubIndex(ix, 2, -1, 0);  // the default length of the part's type
  d.SetSubIndex(ix, 4, 0, 0);  // an empty part ends the key
  d.Validate();
  string s;
  EXPECT_NE(std::string(d.Dump(&s)).find("-Index=1 -Name='Ix 1' -Parts=3 -Len=24 -Part1='1:4:8@0' "
                                         "-Part2='3:4:8@8' -Part3='1:4:8@0'\n"),
            std::string::npos);
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

// An unknown template gives a free slot; indexable fields are those kept
// in the record with an ordered value.
TEST(TableDesc, UnknownTemplateAndIndexability) {
  sZorTfi tfi;
  EXPECT_FALSE(ZorTableDesc::FillTfiFromTmpl(39, &tfi));
  EXPECT_EQ(std::string(tfi.name) + std::to_string(tfi.physType * 100 + tfi.logType), "**SUPPRIM\xC9" "E**407");
  ZorTableDesc d;
  d.Create(kZorTblTypeStd, 0);
  // Text, dynamic text, zip code, enum, image, comment, local table,
  // calculated, order, mode, then a user field, an array and a password.
  for (int32_t t : {6, 7, 12, 22, 26, 27, 28, 32, 1001, 1005, 1}) d.AddField(t, nullptr, 0);
  d.AddArray("Arr", kZorPhysTypeLong, kZorLogTypeInt, 1, 1, true, 0, 0, 0);
  d.AddField("Pw", kZorPhysTypeAnsiString, kZorLogTypePassWord, true, 8, 0, 0, 0);
  d.GetField(11, &tfi);
  tfi.flags |= kZorTblFfUser;
  d.SetField(11, &tfi);
  d.Validate();
  std::string indexable;
  for (int32_t i = 1; i <= 14; ++i) indexable += d.IsIndexable(i) ? '1' : '0';
  EXPECT_EQ(indexable, "10100000100000");
  ZorBGet list;
  EXPECT_EQ(d.GetIndexableList(&list), 3);
  int32_t second = 0;
  list.Get(2, &second);
  EXPECT_EQ(second, 3);
  EXPECT_EQ(d.GetStaticSize(), 36u + 11 + 2 + 4 + 4 + 2 + 16 + 9);
}

// A sound table that each case spoils in one way; every comment of list
// 120 that a description can deserve is reached once.
TEST(TableDesc, CheckReportsEachFault) {
  using Spoil = std::function<void(ZorTableDesc*)>;
  auto edit = [](int32_t f, std::function<void(sZorTfi*)> change) -> Spoil {
    return [f, change](ZorTableDesc* d) {
      sZorTfi t;
      d->GetField(f, &t), change(&t), d->SetField(f, &t);
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
      {23, raw([](ZorDyna* c) {  // a default index past the last
         uint8_t hdr[146];
         c->GetData(0, 1, 1, sizeof hdr, hdr), hdr[110] = 9, c->SetData(0, 1, 1, sizeof hdr, hdr);
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
      {35, raw([](ZorDyna* c) {  // a text where a precision belongs
         ZorDyna sub;
         sub.Init(), sub.SetData(0, 1, 5, "wide"), c->SetData(0, 3, 4, sub.GetHandle());
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
