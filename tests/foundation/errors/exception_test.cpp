// Exceptions: catching across the library boundary, the composition of the
// short and full texts around each code's text (messages_oracle.py checks
// those), display rules for special codes, and the event hook.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include "support/recording_ui.h"
#include "support/test_util.h"

#include <string>
#include <vector>

using namespace zorvane;

namespace {

std::string ErrText(int64_t err) {
  string s;
  return ZorErrToString(err, &s);
}

std::string Catalogue(int32_t m, int32_t g, int32_t n) {
  string s;
  return ZorLoadString(m, g, n, &s);
}

}  // namespace

TEST(ExceptionBoundary, EachKindIsCaughtByTypeFromInsideTheLibrary) {
  const date before(ZorDateToday, nullptr, 1);
  try {
    const decimal one(int32_t{1}), zero(int32_t{0});
    (void)(one / zero);
    FAIL() << "division by zero did not raise";
  } catch (const ZorEBasic& e) {
    EXPECT_EQ(e.GetError(), ZorErr(1, 17));
    EXPECT_EQ(e.GetModuleId(), 1);
    EXPECT_GE(e.GetDate().GetValue(), before.GetValue());  // when it was built
    EXPECT_LE(e.GetDate().GetValue(), date(ZorDateToday, nullptr, 1).GetValue());
  }

  try {
    ZorRaiseCrash("tests\\boundary", 7, ZorExcCorrupt, ZorErr(1, 19), "bad block");
  } catch (const ZorEBasic&) {
    FAIL() << "a crash is not an ordinary error";
  } catch (const ZorECrash& e) {
    EXPECT_EQ(e.GetKind(), ZorExcCorrupt);
    EXPECT_STREQ(e.GetMsgText(), "bad block");
  }

  try {
    throw ZorECrashDoc(1, ZorErr(1, 15), true, "tests\\boundary", 9);
  } catch (const ZorException& e) {
    ASSERT_NE(dynamic_cast<const ZorECrashDoc*>(&e), nullptr);
    EXPECT_EQ(static_cast<const ZorECrashDoc&>(e).GetCx(), nullptr);
  }

  // Code that knows nothing of the library sees the short text.
  try {
    ZorRaiseCrash("x", 1, ZorExcMisc, ZorErr(1, 2), "disk");
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), ErrText(ZorErr(1, 2)) + " : disk");
  }
}

TEST(ExceptionCodes, WindowsNumbersAndSpecialCodes) {
  const std::pair<uint32_t, int64_t> windows[] = {
      {0, ZorErr(1, 0)}, {1223, ZorErr(1, 1000)}, {5, ZorErr(-1, 5)}, {0x80004005u, int64_t(0xFFFFFFFF80004005ull)}};
  for (const auto& [win, err] : windows) EXPECT_EQ(ZorWinErrToZor(win), err) << win;
  // Only the library's own codes from 1000 on are special.
  const std::pair<int64_t, bool> special[] = {{ZorErr(1, 999), false}, {ZorErr(1, 1000), true},
                                              {ZorErr(1, 1004), true}, {ZorErr(-1, 1223), false},
                                              {ZorErr(2, 1000), false}};
  for (const auto& [err, is] : special) EXPECT_EQ(ZorErrIsSpecial(err), is) << err;
  EXPECT_EQ(ErrText(ZorErr(1, 0)), Catalogue(1, 104, 261));  // no error
}

TEST(ExceptionText, ShortTextJoinsCodeAndMessage) {
  const ZorEBasic noPattern("src\\a", 1, ZorErr(1, 23), static_cast<const char*>(nullptr));
  string s;
  EXPECT_EQ(std::string(noPattern.ToString(&s)), ErrText(ZorErr(1, 23)));
  EXPECT_STREQ(noPattern.GetMsg(&s), "");

  const ZorEBasic formatted("src\\a", 1, ZorErr(1, 18), "value ^0i of ^1s", 42, "x");
  EXPECT_EQ(std::string(formatted.ToString(&s)), ErrText(ZorErr(1, 18)) + " : value 42 of x");

  // A message reference as pattern is replaced by its entry, then formatted.
  const ZorEBasic byRef("src\\a", 1, ZorErr(1, 120), "]1,104,339", "doc.json");
  EXPECT_EQ(std::string(byRef.GetMsgText()), "Parcours du fichier JSON: doc.json");

  // The catalogue forms: 3 loads, 5 and 6 load and format.
  const ZorEBasic form3("src\\a", 1, 1, ZorErr(1, 24), 1, 110, 53, nullptr);
  EXPECT_EQ(std::string(form3.GetMsgText()), Catalogue(1, 110, 53));
  const ZorEBasic form5("src\\a", 1, ZorErr(1, 24), 1, 110, 53, "Clients");
  EXPECT_EQ(std::string(form5.GetMsgText()), "La table 'Clients' est en lecture seule");
  const ZorFsa path("/data/base.zdb");
  const ZorEBasic form6("src\\a", 1, ZorErr(1, 41), 1, 110, 69, &path, 3, 12);
  EXPECT_EQ(std::string(form6.GetMsgText()), "La table 3 (module 12) est introuvable dans la base.");
  string pathText;
  EXPECT_STREQ(form6.GetFsa()->GetPath(0, &pathText), "/data/base.zdb");
}

TEST(ExceptionText, FullTextPartsInOrder) {
  const std::string errLabel = Catalogue(1, 104, 17), msgLabel = Catalogue(1, 104, 19);
  const std::string fileLabel = Catalogue(1, 104, 20), srcLabel = Catalogue(1, 104, 21);
  ZorDocConfig quiet = ZorGetDocConfig();
  quiet.debugLevel = 1;
  ZorDocConfigScope scope(quiet);
  string s;

  const ZorEBasic bare("dir\\ZorTables", 12, 1, ZorErr(1, 48), nullptr, nullptr);
  EXPECT_EQ(std::string(bare.GetFullText(&s, false)), errLabel + ErrText(ZorErr(1, 48)) + "\n");

  const ZorFsa path("/srv/compta.zdb");
  const ZorEBasic full("dir\\ZorTables", 12, 1, ZorErr(1, 48), "dup", &path);
  const std::string withPath =
      errLabel + ErrText(ZorErr(1, 48)) + "\n" + msgLabel + "dup\n" + fileLabel + "/srv/compta.zdb\n";
  EXPECT_EQ(std::string(full.GetFullText(&s, false)), withPath);
  // A smart path shows without its root, behind the text naming the server.
  const ZorFsa smart("!Cnx!srv/dir/f");
  const ZorEBasic onSmart("dir\\ZorTables", 12, 1, ZorErr(1, 48), nullptr, &smart);
  EXPECT_EQ(std::string(onSmart.GetFullText(&s, false)),
            errLabel + ErrText(ZorErr(1, 48)) + "\n" + fileLabel + Catalogue(1, 104, 318) + "srv/dir/f\n");

  // The source location: always for crashes, for others from debug level 2.
  const string crashMsg("boom");
  const ZorECrash crash(1, ZorErr(1, 15), &crashMsg, nullptr, "ZorDates", 77);
  EXPECT_EQ(std::string(crash.GetFullText(&s, false)),
            errLabel + ErrText(ZorErr(1, 15)) + "\n" + msgLabel + "boom\n" + srcLabel + "ZorDates (77)\n");
  ZorDocConfig verbose = quiet;
  verbose.debugLevel = 2;
  ZorDocConfigScope debug(verbose);
  EXPECT_EQ(std::string(full.GetFullText(&s, false)), withPath + srcLabel + "ZorTables (12)\n");
}

TEST(ExceptionDisplay, SpecialCodesNeverShownOthersInAnAlertBoxThenSourceWithShift) {
  zortest::RecordingUi ui;
  string s;
  for (int32_t n : {1000, 1001, 1004, 5000}) {
    const ZorEBasic e("src\\x", 3, ZorErr(1, n), "cancel");
    EXPECT_STREQ(e.GetFullText(&s, false), "");
    EXPECT_NE(std::string(e.GetFullText(&s, true)).find("cancel"), std::string::npos);
    e.Display();
    ZorErrDisplay(ZorErr(1, n));
  }
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(ErrText(ZorErr(1, 1000)), Catalogue(1, 103, 1));
  EXPECT_EQ(ErrText(ZorErr(1, 1004)), Catalogue(1, 103, 5));

  SCOPED_TRACE("alert box");
  const ZorEBasic e("memory\\ZorMemPool", 211, ZorErr(1, 1), "x");
  e.Display();
  ASSERT_EQ(ui.boxes.size(), 1u);
  string full;
  EXPECT_EQ(ui.boxes[0].text, e.GetFullText(&full, false));
  EXPECT_EQ(ui.boxes[0].kind, static_cast<uint32_t>(ZorMbAlert));

  ui.shift = true;
  e.Display();
  ASSERT_EQ(ui.boxes.size(), 3u);
  EXPECT_EQ(ui.boxes[2].text, "memory\\ZorMemPool(211)");

  ZorErrDisplay(ZorErr(-1, 5));
  EXPECT_EQ(ui.boxes.back().text, ErrText(ZorErr(-1, 5)));
}

namespace {

struct HookLog {
  std::vector<std::string> options;
  std::vector<std::string> files;
  int nested = 0;
  bool raiseInside = false;
  bool throwOut = false;
};

void RecordEvent(const sZorExceptionEvent& event, void* context) {
  auto* log = static_cast<HookLog*>(context);
  log->options.push_back(event.options);
  log->files.push_back(event.srcFile);
  if (log->raiseInside) {
    const ZorEBasic inner("hook\\inner", 1, ZorErr(1, 15), "inner");
    ++log->nested;
  }
  if (log->throwOut) throw ZorEBasic("hook\\thrown", 2, ZorErr(1, 15), "thrown");
}

struct HookScope {
  explicit HookScope(HookLog* log) { ZorSetExceptionHook(RecordEvent, log); }
  ~HookScope() { ZorSetExceptionHook(nullptr, nullptr); }
};

}  // namespace

TEST(ExceptionHook, EveryConstructorReportsOnceAndTheHookNeverThrows) {
  HookLog log;
  HookScope scope(&log);
  const ZorFsa path("/tmp/it's \"here\"");
  const ZorEBasic e("src\\Hook", 5, ZorErr(-1, 32), "l'an ^0s", "2024");
  const ZorEBasic withPath("src\\Hook", 6, 1, ZorErr(1, 41), nullptr, &path);
  const ZorECrashDoc doc(1, ZorErr(1, 15), false, "src\\Doc", 7);
  ASSERT_EQ(log.options.size(), 3u);

  string value;
  int64_t id = 0;
  EXPECT_TRUE(ZorGetStrOptQuad(log.options[0].c_str(), "ErrId", &id));
  EXPECT_EQ(id, ZorErr(-1, 32));
  EXPECT_TRUE(ZorGetStrOpt(log.options[0].c_str(), "Txt", &value));
  EXPECT_STREQ(value.CStr(), "l'an 2024");
  EXPECT_FALSE(ZorGetStrOpt(log.options[0].c_str(), "File", &value));
  EXPECT_TRUE(ZorGetStrOpt(log.options[1].c_str(), "File", &value));
  EXPECT_STREQ(value.CStr(), "/tmp/it's \"here\"");
  EXPECT_EQ(log.files[2], "src\\Doc");

  // A hook that raises inside is neither re-entered nor lets anything out;
  // the busy flag is released afterwards.
  log.raiseInside = log.throwOut = true;
  EXPECT_NO_THROW({ const ZorEBasic outer("src\\Hook", 1, ZorErr(1, 2), "outer"); });
  EXPECT_EQ(log.options.size(), 4u);
  EXPECT_EQ(log.nested, 1);
  log.raiseInside = log.throwOut = false;
  const ZorEBasic again("src\\Hook", 2, ZorErr(1, 3), nullptr);
  EXPECT_EQ(log.options.size(), 5u);
}

TEST(ExceptionDebug, ChannelIsSilentUntilASinkIsSet) {
  static std::vector<std::string> seen;
  seen.clear();
  ZorDebugPrint("not seen ^0i\n", 1);
  const ZorDebugSink previous = ZorSetDebugSink([](const char* text, void*) { seen.push_back(text); }, nullptr);
  ZorDebugPrint("seen ^0i", 2);
  ZorDebugPrintAt(3, 4, "^0s", "at");
  ZorDebugPrintStr("line", true);
  const ZorEBasic e("src\\Dbg", 8, ZorErr(1, 17), "z");
  ZorDebugPrintExc(&e);
  test::RegisterModule(77, "compta");  // a registered module is named by its registered name
  const string msg("m");
  const ZorEBasic ofModule(77, ZorErr(1, 5), &msg, nullptr, "src\\Dbg", 9);
  ZorDebugPrintExc(&ofModule);
  ZorSetDebugSink(previous, nullptr);

  string full;
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "seen 2", "at", "line\n",
                      "exception 0x100000011 (zorvane): " + std::string(e.GetFullText(&full, true)) + "\n",
                      "exception 0x100000005 (compta): " + std::string(ofModule.GetFullText(&full, true)) + "\n"}));
}

TEST(ExceptionUi, HeadlessBoxWritesUtf8ToStderr) {
  testing::internal::CaptureStderr();
  const int32_t answer = ZorMessageBox("D\xe9j\xe0 vu", "Titre", ZorMbAlert);
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, ZorIdCancel);
  EXPECT_EQ(written, "Titre: D\xc3\xa9j\xc3\xa0 vu\n");
  // Every question is declined.
  const std::pair<uint32_t, int32_t> answers[] = {
      {ZorMbOk, ZorIdOk}, {ZorMbYesNoCancel, ZorIdCancel}, {ZorMbYesNo, ZorIdNo}, {ZorMbAbortRetryIgnore, ZorIdAbort}};
  for (const auto& [kind, want] : answers) EXPECT_EQ(ZorHeadlessAnswer(kind), want) << kind;
  EXPECT_FALSE(ZorGetUserInterface()->IsShiftDown());
}
