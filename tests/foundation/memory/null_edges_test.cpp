// The edges of the exported interface: every function either takes a null
// pointer (or an item number out of range) as "empty / none" or refuses it
// with ZorEBasic (1, 23); none crashes. One row per edge: the call, and
// whether it is accepted (the row may check the result) or refused.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <functional>

using namespace zorvane;

namespace {

// Fresh objects for each row.
struct Fx {
  string s{"abc"};
  char buf[16] = "xyz";
  ZorHandle h;
  ZorTextBuf tb;
  ZorBDyn dyn;
  date d;
  decimal x;
  ZorTxtList list;
  ZorUuid uuid;
  ZorMD5 md5;
  ZorWLog log;
  Fx() {
    h.Init("hello", 5);
    dyn.Init(4);
    dyn.Ins(0, "abcd");
    d.Set(5, 3, 2024);
    list.Init("1:a;2:b", ':', ';');
  }
};

enum Want { kAccepts, kRefuses };

struct Edge {
  const char* call;
  Want want;
  std::function<void(Fx&)> run;
};

#define ACCEPTS(...) Edge{#__VA_ARGS__, kAccepts, [](Fx& f) { (void)f; __VA_ARGS__; }}
#define REFUSES(...) Edge{#__VA_ARGS__, kRefuses, [](Fx& f) { (void)f; __VA_ARGS__; }}

const char* const kNull = nullptr;
string* const kNoString = nullptr;

const Edge kEdges[] = {
    // C strings: a null text reads as "", a null destination is refused.
    ACCEPTS(EXPECT_EQ(ZorStrLen(kNull), 0u); EXPECT_EQ(ZorStrSize(kNull), 1u)),
    ACCEPTS(EXPECT_STREQ(ZorStrCpy(f.buf, kNull), "")),
    REFUSES(ZorStrCpy(nullptr, "a")),
    ACCEPTS(EXPECT_STREQ(ZorStrCat(f.buf, kNull), "xyz")),
    ACCEPTS(EXPECT_STREQ(ZorStrCpyN(f.buf, kNull, 4), "")),
    ACCEPTS(EXPECT_STREQ(ZorStrCpyN(f.buf, "abc", 0), "xyz")),
    REFUSES(ZorStrCpyN(nullptr, "a", 2)),
    ACCEPTS(ZorStrFill(nullptr, 0, 'x')),
    REFUSES(ZorStrFill(nullptr, 3, 'x')),
    ACCEPTS(EXPECT_EQ(ZorStrUpper(nullptr), nullptr); EXPECT_EQ(ZorStrLower(nullptr), nullptr)),
    ACCEPTS(EXPECT_EQ(ZorStrCmp(kNull, ""), 0); EXPECT_LT(ZorStrCmp(kNull, "a"), 0)),
    ACCEPTS(EXPECT_EQ(ZorStrICmp("", kNull), 0); EXPECT_LT(ZorStrICmpN(kNull, "a", 5), 0)),
    ACCEPTS(EXPECT_TRUE(ZorStrEq(kNull, "")); EXPECT_TRUE(ZorStrIEq("", kNull)); EXPECT_TRUE(ZorStrIEqN(kNull, "", 3))),
    REFUSES(ZorStrCmpN(kNull, "a", 1)),
    REFUSES(ZorCompIndex(nullptr, "a", 1)),
    ACCEPTS(EXPECT_EQ(ZorStrChr(kNull, 'a'), nullptr); EXPECT_EQ(ZorStrRChr(kNull, 'a'), nullptr)),
    ACCEPTS(EXPECT_EQ(ZorStrStr(kNull, "a"), nullptr); EXPECT_STREQ(ZorStrStr("abc", kNull), "abc")),
    ACCEPTS(EXPECT_EQ(ZorStrFind(kNull, "a", true), nullptr); EXPECT_FALSE(ZorStrContains(kNull, kNull))),
    ACCEPTS(EXPECT_FALSE(ZorStrReplace(nullptr, 'a', 'b'))),
    ACCEPTS(char* p = ZorStrDup(kNull); EXPECT_STREQ(p, ""); ZorMemFree(p)),
    ACCEPTS(EXPECT_STREQ(ZorEscapeString(kNull, f.buf, true), "")),
    REFUSES(ZorEscapeString("a", kNoString, true)),
    ACCEPTS(EXPECT_STREQ(ZorUnEscapeString(kNull, &f.s), "")),
    REFUSES(ZorEncodeToUTF8("a", nullptr)),
    REFUSES(ZorBase64Encode(nullptr, 3, &f.s)),
    REFUSES(ZorBase64Decode("QUJD", 4, nullptr, 4)),
    REFUSES(ZorRandString(nullptr, 3, "k")),

    // string members.
    ACCEPTS(EXPECT_EQ(f.s.CopyToBuffer(f.buf, 0), f.buf); EXPECT_STREQ(f.buf, "xyz")),
    REFUSES(f.s.CopyToBuffer(nullptr, 4)),
    REFUSES(f.s.Mid(nullptr, 0, 2)),
    REFUSES(f.s.Cmp(kNull, 3)),

    // Formatting, numbers and option strings.
    REFUSES(ZorFormString(kNoString, "x")),
    REFUSES(ZorFormString(static_cast<char*>(nullptr), "x")),
    REFUSES(ZorLongToStr(5, nullptr)),
    REFUSES(ZorAddStrOpt(nullptr, "a", "b")),
    REFUSES(ZorDelStrOpt(nullptr, "a")),

    // Raw memory and handles.
    REFUSES(ZorCopyMemory(nullptr, "a", 1)),
    REFUSES(ZorZeroMemory(nullptr, 3)),
    REFUSES(ZorCmpMemory(nullptr, "a", 1)),
    REFUSES(ZorSwapMemory(nullptr, f.buf, 3)),
    ACCEPTS(EXPECT_EQ(ZorDupHandle(nullptr), nullptr); f.uuid.New(); f.uuid.SetBytes(nullptr); EXPECT_TRUE(f.uuid.IsNull())),
    REFUSES(ZorSetHandleSize(nullptr, 3)),
    REFUSES(ZorCopyHandle(f.h.GetRecord(), nullptr)),
    REFUSES(ZorCreateHandleFromDataPtr(nullptr, 4)),
    REFUSES(f.h.Init(nullptr, 5)),
    REFUSES(f.h.ReplaceData(0, 0, nullptr, 3)),
    REFUSES(f.h.AppendData(3, nullptr)),
    REFUSES(f.tb.Init(true); f.tb.GetString(nullptr)),

    // Exceptions, the debug channel, the interface services.
    REFUSES(ZorEBasic e(kNull, 0, ZorErr(1, 5), kNull); e.GetFullText(nullptr, true)),
    REFUSES(ZorErrToString(ZorErr(1, 5), nullptr)),

    // Dates and decimals: a null operand is refused, a null reference is none.
    REFUSES(f.d.Format("D", nullptr)),
    REFUSES(f.d.GetSysTime(nullptr)),
    REFUSES(f.x.Add(nullptr, kZorLogTypeInt)),
    REFUSES(f.x.TTC(nullptr, nullptr, kZorLogTypeMoney)),
    REFUSES(f.x.ToStr(nullptr, kZorLogTypeInt)),

    // Text lists, named texts, logs, identifiers, digests, reports.
    REFUSES(f.list.GetItem(1, nullptr, ZorTxtKindCode)),
    REFUSES(f.list.Init(static_cast<const ZorFsa*>(nullptr), ':', ';')),
    REFUSES(f.log.Init(nullptr)),
    REFUSES(f.log.GetFsa(nullptr)),
    REFUSES(ZorUuid::S_CmpGuid(nullptr, f.uuid.GetBytes())),
    REFUSES(f.uuid.GetValueStr(nullptr)),
    REFUSES(f.md5.Update(nullptr, 3)),
    REFUSES(ZorMD5::S_Digest("a", 1, nullptr)),
    REFUSES(ZorVerif v; v.GetSectionTitle(0, nullptr)),

    // Dynamic blocks: item numbers out of range are refused.
    REFUSES(f.dyn.GetData(99, &f.h)),
    REFUSES(f.dyn.GetData(0, nullptr)),
    REFUSES(f.dyn.SetData(1, nullptr, 3)),
    REFUSES(f.dyn.HasData(-1)),
    REFUSES(f.dyn.Get(2, f.buf)),
    REFUSES(f.dyn.Set(0, "abcd")),
    REFUSES(f.dyn.Swap(1, 3)),
    REFUSES(f.dyn.Dico(0, nullptr, 4)),
    REFUSES(ZorBDyn empty; empty.GetData(0, &f.h)),

    // Modules and their resource tables: a null table holds nothing.
    ACCEPTS(EXPECT_FALSE(ZorFindRsrcItem(nullptr, 1, 1, 1036, nullptr))),
    REFUSES(ZorGetModuleName(1, ZorNameModule, nullptr)),
    REFUSES(ZorGetModuleIds(nullptr)),
    REFUSES(ZorGetDepIds(1, nullptr, false)),
};

}  // namespace

TEST(NullEdges, EveryEdgeIsAcceptedOrRefusedWithBadParam) {
  for (const Edge& edge : kEdges) {
    SCOPED_TRACE(edge.call);
    Fx f;
    try {
      edge.run(f);
      EXPECT_EQ(edge.want, kAccepts) << "not refused";
    } catch (const ZorEBasic& e) {
      EXPECT_EQ(edge.want, kRefuses) << "refused";
      EXPECT_EQ(e.GetError(), ZorErr(1, 23));
    }
  }
}
