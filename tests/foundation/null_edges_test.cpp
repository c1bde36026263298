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
    REFUSES(ZorStrCat(nullptr, "a")),
    ACCEPTS(EXPECT_STREQ(ZorStrCpyN(f.buf, kNull, 4), "")),
    ACCEPTS(EXPECT_STREQ(ZorStrCpyN(f.buf, "abc", 0), "xyz")),
    REFUSES(ZorStrCpyN(nullptr, "a", 2)),
    ACCEPTS(ZorStrFill(nullptr, 0, 'x')),
    REFUSES(ZorStrFill(nullptr, 3, 'x')),
    ACCEPTS(EXPECT_EQ(ZorStrUpper(nullptr), nullptr); EXPECT_EQ(ZorStrLower(nullptr), nullptr)),
    ACCEPTS(EXPECT_EQ(ZorStrCmp(kNull, ""), 0); EXPECT_LT(ZorStrCmp(kNull, "a"), 0)),
    ACCEPTS(EXPECT_EQ(ZorStrICmp("", kNull), 0); EXPECT_LT(ZorStrICmpN(kNull, "a", 5), 0)),
    ACCEPTS(EXPECT_TRUE(ZorStrEq(kNull, "")); EXPECT_TRUE(ZorStrIEq("", kNull)); EXPECT_TRUE(ZorStrIEqN(kNull, "", 3))),
    ACCEPTS(EXPECT_EQ(ZorStrCmpN(kNull, kNull, 0), 0)),
    REFUSES(ZorStrCmpN(kNull, "a", 1)),
    REFUSES(ZorStrEqN("ab", kNull, 2)),
    REFUSES(ZorCompIndex(nullptr, "a", 1)),
    ACCEPTS(EXPECT_EQ(ZorStrChr(kNull, 'a'), nullptr); EXPECT_EQ(ZorStrRChr(kNull, 'a'), nullptr)),
    ACCEPTS(EXPECT_EQ(ZorStrStr(kNull, "a"), nullptr); EXPECT_STREQ(ZorStrStr("abc", kNull), "abc")),
    ACCEPTS(EXPECT_EQ(ZorStrFind(kNull, "a", true), nullptr); EXPECT_FALSE(ZorStrContains(kNull, kNull))),
    ACCEPTS(EXPECT_FALSE(ZorStrReplace(nullptr, 'a', 'b'))),
    ACCEPTS(char* p = ZorStrDup(kNull); EXPECT_STREQ(p, ""); ZorMemFree(p)),
    ACCEPTS(EXPECT_STREQ(ZorEscapeString(kNull, f.buf, true), "")),
    REFUSES(ZorEscapeString("a", static_cast<char*>(nullptr), true)),
    REFUSES(ZorEscapeString("a", kNoString, true)),
    ACCEPTS(EXPECT_STREQ(ZorUnEscapeString(kNull, &f.s), "")),
    REFUSES(ZorUnEscapeString("a", static_cast<char*>(nullptr))),
    ACCEPTS(EXPECT_STREQ(ZorEncodeToUTF8(kNull, &f.s), ""); EXPECT_STREQ(ZorDecodefromUTF8(kNull, &f.s), "")),
    REFUSES(ZorEncodeToUTF8("a", nullptr)),
    REFUSES(ZorGetUTF8FromCode(65, nullptr)),
    ACCEPTS(EXPECT_STREQ(ZorBase64Encode(nullptr, 0, &f.s), "")),
    REFUSES(ZorBase64Encode(nullptr, 3, &f.s)),
    ACCEPTS(EXPECT_EQ(ZorBase64Decode(kNull, 0, f.buf, 4), 0)),
    REFUSES(ZorBase64Decode("QUJD", 4, nullptr, 4)),
    REFUSES(ZorRandString(nullptr, 3, "k")),
    ACCEPTS(ZorRandString(f.buf, 3, kNull)),

    // string members.
    ACCEPTS(string t(kNull); t.Assign(kNull); t.Insert(0, kNull); t += kNull; t = kNull; EXPECT_TRUE(t.IsEmpty())),
    ACCEPTS(EXPECT_EQ(f.s.CopyToBuffer(f.buf, 0), f.buf); EXPECT_STREQ(f.buf, "xyz")),
    REFUSES(f.s.CopyToBuffer(nullptr, 4)),
    ACCEPTS(EXPECT_STREQ(f.s.ClipTo(kNull), "abc")),
    REFUSES(f.s.Left(nullptr, 2)),
    REFUSES(f.s.Right(nullptr, 2)),
    REFUSES(f.s.Mid(nullptr, 0, 2)),
    ACCEPTS(EXPECT_FALSE(f.s.Split(kNull, nullptr, nullptr))),
    ACCEPTS(EXPECT_FALSE(f.s.StartWith(kNull)); EXPECT_EQ(f.s.Contain(kNull), -1)),
    ACCEPTS(EXPECT_EQ(f.s.ReplaceStr(kNull, "x"), 0); EXPECT_EQ(f.s.ReplaceStr("b", kNull), 1)),
    ACCEPTS(EXPECT_GT(f.s.Cmp(kNull), 0); EXPECT_GT(f.s.ICmp(kNull, 3), 0)),
    REFUSES(f.s.Cmp(kNull, 3)),
    ACCEPTS(f.s.Encrypt(kNull, 0); f.s.Decrypt(kNull, 0); EXPECT_STREQ(f.s.CStr(), "abc")),
    ACCEPTS(EXPECT_FALSE(f.s == kNull); EXPECT_STREQ((f.s + kNull).CStr(), "abc")),

    // Formatting, numbers and option strings.
    ACCEPTS(EXPECT_STREQ(ZorFormString(&f.s, kNull), "")),
    REFUSES(ZorFormString(kNoString, "x")),
    REFUSES(ZorFormString(static_cast<char*>(nullptr), "x")),
    REFUSES(ZorLongToStr(5, nullptr)),
    REFUSES(ZorQuadToStrHex(5, nullptr)),
    REFUSES(ZorLongToSize(5, nullptr)),
    ACCEPTS(EXPECT_EQ(ZorStrHexToQuad(kNull), 0)),
    REFUSES(ZorAddStrOpt(nullptr, "a", "b")),
    REFUSES(ZorDelStrOpt(nullptr, "a")),
    ACCEPTS(EXPECT_STREQ(ZorAddStrOpt(&f.s, kNull, "v", ""), "")),
    ACCEPTS(EXPECT_STREQ(ZorAddStrOptDecimal(&f.s, "a", nullptr, ""), "-a=")),
    ACCEPTS(EXPECT_FALSE(ZorGetStrOpt(kNull, "a", &f.s)); EXPECT_FALSE(ZorGetStrOpt("-a=1", kNull, &f.s))),
    ACCEPTS(EXPECT_TRUE(ZorGetStrOptLong("-a=1", "a", nullptr)); EXPECT_FALSE(ZorGetStrOptBool(kNull, "a"))),

    // Raw memory and handles.
    ACCEPTS(ZorCopyMemory(nullptr, nullptr, 0); ZorZeroMemory(nullptr, 0); EXPECT_EQ(ZorCmpMemory(nullptr, nullptr, 0), 0)),
    REFUSES(ZorCopyMemory(nullptr, "a", 1)),
    REFUSES(ZorMoveMemory(f.buf, nullptr, 1)),
    REFUSES(ZorZeroMemory(nullptr, 3)),
    REFUSES(ZorFillMemory(nullptr, 3, 0)),
    REFUSES(ZorCmpMemory(nullptr, "a", 1)),
    REFUSES(ZorSwapMemory(nullptr, f.buf, 3)),
    REFUSES(ZorSwapMemoryBuf(f.buf, f.buf + 4, 3, nullptr)),
    ACCEPTS(EXPECT_FALSE(ZorIsStackPtr(nullptr)); EXPECT_FALSE(ZorGetMemInfo(nullptr))),
    ACCEPTS(ZorAddHandleRef(nullptr); ZorReleaseHandle(nullptr); ZorUnlockHandle(nullptr); ZorRAZHandle(nullptr)),
    ACCEPTS(EXPECT_EQ(ZorDupHandle(nullptr), nullptr); EXPECT_EQ(ZorGetHandleSize(nullptr), 0u)),
    REFUSES(ZorSetHandleSize(nullptr, 3)),
    REFUSES(ZorSetHandleSizeLock(nullptr, 3)),
    REFUSES(ZorCopyHandle(nullptr, f.h.GetRecord())),
    REFUSES(ZorCopyHandle(f.h.GetRecord(), nullptr)),
    REFUSES(ZorCreateHandleFromDataPtr(nullptr, 4)),
    ACCEPTS(ZorHandle g; g.Init(nullptr, 0); g.Attach(static_cast<ZorHandle*>(nullptr)); g.Copy(nullptr)),
    REFUSES(f.h.Init(nullptr, 5)),
    REFUSES(f.h.ReplaceData(0, 0, nullptr, 3)),
    REFUSES(f.h.AppendData(3, nullptr)),
    ACCEPTS(EXPECT_EQ(f.h.ReplaceData(0, 2, nullptr, 0), 3); f.h.AppendData(0, nullptr)),
    ACCEPTS(f.tb.Init(true); EXPECT_EQ(f.tb.AddText(kNull), 0u); f.tb.CatText(kNull); f.tb.AddDupText(kNull)),
    ACCEPTS(f.tb.Init(static_cast<ZorHandle*>(nullptr), true); EXPECT_EQ(f.tb.GetLen(), 0u)),
    REFUSES(f.tb.Init(true); f.tb.GetString(nullptr)),
    ACCEPTS(ZorMemPool pool; pool.Init(false, 0); EXPECT_EQ(pool.StrDupA(kNull), nullptr); pool.Free(nullptr)),

    // Exceptions, the debug channel, the interface services.
    ACCEPTS(const ZorEBasic e(kNull, 0, ZorErr(1, 5), kNull); EXPECT_STREQ(e.GetFileText(), "")),
    REFUSES(ZorEBasic e(kNull, 0, ZorErr(1, 5), kNull); e.GetFullText(nullptr, true)),
    REFUSES(ZorEBasic e(kNull, 0, ZorErr(1, 5), kNull); e.ToString(nullptr)),
    REFUSES(ZorErrToString(ZorErr(1, 5), nullptr)),
    ACCEPTS(ZorDebugPrint(kNull); ZorDebugPrintStr(kNull, true); ZorDebugPrintExc(nullptr)),
    ACCEPTS(ZorMessageBox(kNull, kNull, 0); ZorLogEvent(kNull, 1); ZorRegisterPurger(nullptr)),

    // Dates and decimals: a null operand is refused, a null reference is none.
    ACCEPTS(EXPECT_STREQ(f.d.Format(kNull, &f.s), "")),
    REFUSES(f.d.Format("D", nullptr)),
    REFUSES(f.d.ToTimeStr(nullptr)),
    REFUSES(f.d.GetSysTime(nullptr)),
    REFUSES(date::GetTimeZone(nullptr)),
    ACCEPTS(EXPECT_TRUE(f.d.Set(kNull)); EXPECT_TRUE(f.d.IsEmpty())),
    ACCEPTS(f.d.Get(nullptr, nullptr, nullptr); f.d.GetTime(nullptr, nullptr, nullptr); EXPECT_EQ(ZorHashDate(nullptr, ZorDateGetDay), 0)),
    ACCEPTS(EXPECT_NE(f.d.Compare(nullptr), 0); EXPECT_TRUE(f.d.Range(nullptr, nullptr))),
    REFUSES(f.x.Add(nullptr, kZorLogTypeInt)),
    REFUSES(f.x.Div(nullptr, kZorLogTypeInt, false)),
    REFUSES(f.x.TTC(nullptr, nullptr, kZorLogTypeMoney)),
    REFUSES(f.x.Cmp(nullptr, kZorLogTypeInt, kZorRoundNearest)),
    REFUSES(f.x.ToStr(nullptr, kZorLogTypeInt)),
    ACCEPTS(f.x.Set(kNull, kZorLogTypeInt); EXPECT_TRUE(f.x.IsNull())),
    REFUSES(ZorAnnuity(nullptr, &f.x, 3, kZorLogTypeMoney)),

    // Text lists, named texts, logs, identifiers, digests, reports.
    ACCEPTS(f.list.Add(kNull); f.list.Find(kNull, ZorTxtKindCode); f.list.Get(1, nullptr, nullptr, nullptr)),
    ACCEPTS(EXPECT_FALSE(ZorGetRecordCode(kNull, &f.s, nullptr)); EXPECT_FALSE(ZorIsStrId(kNull, ':'))),
    ACCEPTS(int32_t id = 7; EXPECT_EQ(ZorExtractStrId(kNull, &id, ':'), nullptr)),
    REFUSES(f.list.GetItem(1, nullptr, ZorTxtKindCode)),
    REFUSES(f.list.GetText(nullptr, ZorTxtKindCode, ':', ';')),
    REFUSES(f.list.Init(static_cast<const ZorFsa*>(nullptr), ':', ';')),
    ACCEPTS(ZorPnv p; EXPECT_FALSE(p.IsNameExist(kNull)); p.AddRsrcTxt(kNull, true); p.GetTxt(&f.s, kNull, 'C')),
    REFUSES(f.log.Init(nullptr)),
    ACCEPTS(f.log.WriteNote(kNull, kNull); f.log.SetOptionLine(kNull, true)),
    REFUSES(f.log.GetLogInfo(nullptr)),
    REFUSES(f.log.GetFsa(nullptr)),
    REFUSES(ZorStrQuote(nullptr, "a")),
    ACCEPTS(f.uuid.SetBytes(nullptr); EXPECT_FALSE(f.uuid.SetValueStr(kNull))),
    REFUSES(ZorUuid::S_CmpGuid(nullptr, f.uuid.GetBytes())),
    REFUSES(ZorUuid::S_GuidToText(f.uuid.GetBytes(), nullptr, true)),
    REFUSES(f.uuid.GetValueStr(nullptr)),
    ACCEPTS(f.md5.Update(nullptr, 0); EXPECT_STREQ(ZorMD5::S_Digest(nullptr, 0, &f.s), "d41d8cd98f00b204e9800998ecf8427e")),
    REFUSES(f.md5.Update(nullptr, 3)),
    REFUSES(ZorMD5::S_Digest("a", 1, nullptr)),
    ACCEPTS(ZorVerif v; v.AddSection(kNull); v.AddItem(kZorVerifError, kNull); v.AddComment(kNull)),
    REFUSES(ZorVerif v; v.GetSectionTitle(0, nullptr)),

    // Dynamic blocks: item numbers out of range are refused.
    REFUSES(f.dyn.GetData(99, &f.h)),
    REFUSES(f.dyn.GetData(0, nullptr)),
    REFUSES(f.dyn.SetData(2, "a", 1)),
    REFUSES(f.dyn.SetData(1, nullptr, 3)),
    REFUSES(f.dyn.HasData(-1)),
    REFUSES(f.dyn.GetDataEx(5, nullptr, nullptr)),
    REFUSES(f.dyn.Get(2, f.buf)),
    REFUSES(f.dyn.Get(1, nullptr)),
    REFUSES(f.dyn.Set(0, "abcd")),
    REFUSES(f.dyn.Del(3)),
    REFUSES(f.dyn.Swap(1, 3)),
    REFUSES(f.dyn.Dico(0, nullptr, 4)),
    REFUSES(f.dyn.GetHandle(nullptr)),
    REFUSES(ZorBDyn empty; empty.GetData(0, &f.h)),
    ACCEPTS(EXPECT_EQ(f.dyn.Ins(99, nullptr), 2); f.dyn.SetData(1, nullptr, 0); EXPECT_FALSE(f.dyn.Copy(nullptr))),

    // Modules.
    ACCEPTS(ZorRegisterModule(nullptr, nullptr, false); EXPECT_TRUE(ZorGetModuleInfo(1, nullptr))),
    ACCEPTS(EXPECT_EQ(ZorGetModuleFromName(kNull, nullptr), 0); EXPECT_FALSE(ZorIsZorModule(kNull))),
    ACCEPTS(EXPECT_GT(ZorGetModuleVersion(1, nullptr), 0u)),
    REFUSES(ZorGetModuleName(1, ZorNameModule, nullptr)),
    REFUSES(ZorGetModulePath(1, nullptr)),
    REFUSES(ZorGetModuleFsa(1, nullptr)),
    REFUSES(ZorGetModuleIds(nullptr)),
    REFUSES(ZorFindMTypes(0, nullptr)),
    REFUSES(ZorGetDepIds(1, nullptr, false)),
    ACCEPTS(EXPECT_EQ(ZorGetRsrcTable(nullptr), nullptr); EXPECT_FALSE(ZorFindRsrcItem(nullptr, 1, 1, 1036, nullptr))),
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
