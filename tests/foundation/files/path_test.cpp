// ZorFsa: identity, the chain of entries, root kinds and their texts,
// refusals, navigation and well-known paths. Local texts and refusal codes are
// left to path_text_oracle.py, concurrent copies to the path tree's test.
#include <zorvane/zorvane.h>

#include "foundation/files/path_tree.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace zorvane;

namespace {

std::string Text(const ZorFsa& path, int32_t kind) {
  string s;
  return path.GetPath(kind, &s);
}

// The code and message of the error a text raises as a path ({0, ""}: none).
using Refused = std::pair<int64_t, std::string>;
Refused Refusal(const char* text) {
  try {
    ZorFsa path(text);
  } catch (const ZorEBasic& e) {
    EXPECT_EQ(e.GetModuleId(), 1) << text;
    return {e.GetError(), e.GetMsgText()};
  }
  return {0, ""};
}

uint32_t Live() { return ZorPathTree::Process().LiveCount(); }

struct EnvScope {
  std::string name;
  EnvScope(const char* n, const char* value) : name(n) { setenv(n, value, 1); }
  ~EnvScope() { unsetenv(name.c_str()); }
};

}  // namespace

TEST(FsaIdentity, CaseFollowsTheFileSystemAndWindowsTextsFold) {
  // Windows-shaped texts name no file here and fold case as Windows does.
  const ZorFsa a("C:\\Data\\Compta\\Base.zdb");
  const ZorFsa b("c:/data/COMPTA/base.ZDB");
  EXPECT_EQ(a, b);
  EXPECT_EQ(Text(b, ZorFsaPathSys), "C:/Data/Compta/Base.zdb");  // the first spelling
  EXPECT_NE(a, ZorFsa("c:/data/compta/base.zdb2"));
  EXPECT_NE(ZorFsa("C:/x"), ZorFsa("D:/x"));
  EXPECT_EQ(ZorFsa("\\\\Srv\\Share\\f"), ZorFsa("//srv/SHARE/F"));
  EXPECT_EQ(ZorFsa("!Htp!Example.org/A"), ZorFsa("!htp!example.ORG/a"));
  // Accented letters fold too (cp1252 e acute / E acute).
  EXPECT_EQ(ZorFsa("C:/caf\xe9"), ZorFsa("c:/CAF\xc9"));
  // The test machine's own file systems compare names byte for byte, also
  // below a directory that does not exist yet.
  EXPECT_NE(ZorFsa("/tmp/A.txt"), ZorFsa("/tmp/a.txt"));
  EXPECT_NE(ZorFsa("/fsa_case/Data/x"), ZorFsa("/fsa_case/data/x"));
  EXPECT_EQ(ZorFsa("/fsa_case/Data/x"), ZorFsa("\\fsa_case\\Data\\x"));
}

TEST(FsaIdentity, CopiesShareAndTheLastReleaseFreesTheChain) {
  const uint32_t before = Live();
  {
    ZorFsa deep("/fsa_test_chain/a/b/c/d");
    EXPECT_EQ(Live(), before + 6);  // root and five components
    ZorFsa copy = deep;
    ZorFsa moved = std::move(copy);
    EXPECT_FALSE(copy.IsInit());
    deep.Trash();
    EXPECT_EQ(Live(), before + 6);  // still held by `moved`
    ZorFsa sibling = moved / "../e";
    moved.Trash();
    EXPECT_EQ(Text(sibling, 0), "/fsa_test_chain/a/b/c/e");
    EXPECT_EQ(Live(), before + 6);  // c/d went, c/e came
    const int32_t index = sibling.Detach();  // hands the reference over
    EXPECT_FALSE(sibling.IsInit());
    EXPECT_EQ(Live(), before + 6);
    ZorFsa attached;
    attached.Attach(index);
    EXPECT_EQ(Text(attached, 0), "/fsa_test_chain/a/b/c/e");
  }
  EXPECT_EQ(Live(), before);
}

TEST(FsaText, RootKindsAndTheirForms) {
  // Text, media, virtual, system and display forms.
  const std::tuple<const char*, eZorFsaMedia, bool, const char*, const char*> cases[] = {
      {"/var/lib/x.db", ZorFsaMediaLocal, false, "/var/lib/x.db", "/var/lib/x.db"},
      {"!cos!/var/lib", ZorFsaMediaLocal, false, "/var/lib", "/var/lib"},
      {"/", ZorFsaMediaLocal, false, "/", "/"},
      {"C:\\", ZorFsaMediaLocal, false, "C:/", "C:/"},
      {"\\\\srv\\share\\f", ZorFsaMediaLocal, false, "//srv/share/f", "//srv/share/f"},
      {"\\\\?\\C:\\long\\f", ZorFsaMediaLocal, false, "//?/C:/long/f", "//?/C:/long/f"},
      {"!Srv!host/dir/f", ZorFsaMediaServer, false, "host\\dir\\f", "!Srv!host/dir/f"},
      {"!Net!share/dir", ZorFsaMediaNet, false, "!Net!share/dir", "!Net!share/dir"},
      {"!Cnx!srv/dir/f", ZorFsaMediaCnx, false, "dir\\f", "!Cnx!srv/dir/f"},
      {"!Htp!www.example.org/a/b", ZorFsaMediaNet, false, "www.example.org\\a\\b", "www.example.org\\a\\b"},
      {"!Ftp!ftp.example.org/pub", ZorFsaMediaNet, false, "ftp.example.org\\pub", "ftp.example.org\\pub"},
      {"!Tel!0102030405", ZorFsaMediaLocal, true, "0102030405", "0102030405"},
      {"!Fax!0102030406", ZorFsaMediaLocal, true, "0102030406", "!Fax!0102030406"},
      {"!Mto!someone@example.org", ZorFsaMediaLocal, true, "someone@example.org", "someone@example.org"},
      {"!Cto!someone", ZorFsaMediaLocal, true, "someone", "!Cto!someone"},
      {"!Reg!HKCU/Software/Zor", ZorFsaMediaLocal, true, "HKCU\\Software\\Zor", "HKCU\\Software\\Zor"},
  };
  for (const auto& [text, media, isVirtual, sys, display] : cases) {
    const ZorFsa path(text);
    EXPECT_EQ(path.GetPathMedia(), media) << text;
    EXPECT_EQ(path.IsVirtual(), isVirtual) << text;
    EXPECT_EQ(Text(path, ZorFsaPathSys), sys) << text;
    EXPECT_EQ(Text(path, ZorFsaPathDisplay), display) << text;
    // The internal form reads back as the same entry.
    EXPECT_EQ(ZorFsa(Text(path, ZorFsaPathInternal).c_str()), path) << text;
  }
  string s;
  EXPECT_STREQ(ZorFsa::KillRoot("!Cnx!srv/a", &s), "srv/a");
  EXPECT_STREQ(ZorFsa::KillRoot("/plain", &s), "/plain");
  EXPECT_STREQ(ZorFsa().GetPath(1, &s), "");
}

TEST(FsaText, RefusedTexts) {
  EXPECT_EQ(Refusal(""), Refused(ZorErr(1, 38), "Le chemin d'acc\xe8s est vide."));
  EXPECT_EQ(Refusal("relative/file.txt"), Refused(ZorErr(1, 38), "relative/file.txt"));
  EXPECT_EQ(Refusal("!Xyz!a/b"), Refused(ZorErr(1, 15), "!Xyz!a/b"));
  // A text that looks like a message reference stays a plain message.
  EXPECT_EQ(Refusal("]1,104,339"), Refused(ZorErr(1, 38), "]1,104,339"));
  // Quiet refusals leave the path as it was.
  ZorFsa kept("/kept");
  EXPECT_FALSE(kept.InitFromPath("nope", true));
  EXPECT_FALSE(kept.InitFromPath("!Xyz!", true));
  EXPECT_EQ(Text(kept, 0), "/kept");
  // 1024 levels at most, the root included.
  std::string deep;
  for (int i = 0; i < 1023; ++i) deep += "/d";
  EXPECT_NO_THROW(ZorFsa(deep.c_str()));
  EXPECT_EQ(Refusal((deep + "/d").c_str()).first, ZorErr(1, 38));
}

TEST(FsaText, EnvironmentVariablesAreExpanded) {
  EnvScope base("ZOR_FSA_TEST_BASE", "/srv/zor");
  EXPECT_EQ(Text(ZorFsa("%ZOR_FSA_TEST_BASE%\\db\\a.zdb"), 0), "/srv/zor/db/a.zdb");
  EnvScope utf8("ZOR_FSA_TEST_UTF8", "/caf\xc3\xa9");  // UTF-8 from the system
  EXPECT_EQ(Text(ZorFsa("%ZOR_FSA_TEST_UTF8%/x"), 0), "/caf\xe9/x");
  EXPECT_EQ(Refusal("%ZOR_FSA_TEST_UNSET%/x").first, ZorErr(1, 38));  // stays relative
}

TEST(FsaText, SystemTextsAreUtf8) {
  string s;
  const ZorFsa path("/caf\xe9/\x80.txt");  // e acute, euro sign
  EXPECT_STREQ(path.GetSysPath(&s), "/caf\xc3\xa9/\xe2\x82\xac.txt");
  ZorFsa back;
  ASSERT_TRUE(back.InitFromSysPath(s.CStr()));
  EXPECT_EQ(back, path);
  EXPECT_FALSE(back.InitFromSysPath("/bad\xff", true));
  EXPECT_FALSE(back.InitFromSysPath("/\xc4\x81", true));  // a macron: not in cp1252
}

TEST(FsaNavigation, ParentsChildrenNamesAndRenames) {
  const ZorFsa dir("/fsa_nav/Dir");
  const ZorFsa file = dir / "Sub/Report.tar.gz";
  string s;
  EXPECT_EQ(Text(file, 0), "/fsa_nav/Dir/Sub/Report.tar.gz");
  EXPECT_STREQ(file.GetName(&s), "Report.tar.gz");
  EXPECT_STREQ(file.GetName(&s, ZorFsaNameBase), "Report.tar");
  EXPECT_STREQ(file.GetName(&s, ZorFsaNameExt), "gz");
  EXPECT_STREQ(ZorFsa("/x/.hidden").GetName(&s, ZorFsaNameExt), "");
  EXPECT_TRUE(dir.IsAncestor(&file));
  EXPECT_FALSE(file.IsAncestor(&dir));
  EXPECT_FALSE(dir.IsParent(&file));
  EXPECT_TRUE((dir / "Sub").IsParent(&file));

  ZorFsa up;
  ASSERT_TRUE(up.InitFromChild(&file));
  EXPECT_EQ(up, dir / "Sub");
  ZorFsa walker = file;
  while (walker.ChangeParent()) {
  }
  EXPECT_TRUE(walker.IsRoot());
  EXPECT_EQ(Text(walker, 0), "/");
  EXPECT_FALSE(walker.Rename("other"));

  ZorFsa renamed = file;
  ASSERT_TRUE(renamed.Rename("Summary.txt"));
  EXPECT_EQ(Text(renamed, 0), "/fsa_nav/Dir/Sub/Summary.txt");
  EXPECT_FALSE(renamed.Rename("a/b"));
  EXPECT_FALSE(renamed.Rename(".."));

  ZorFsa moved = file;
  const ZorFsa target("/elsewhere");
  moved.ChangeParent(&target);
  EXPECT_EQ(Text(moved, 0), "/elsewhere/Report.tar.gz");
  ZorFsa child = target;
  child.ChangeToChild("a\\b\\..\\c");
  EXPECT_EQ(Text(child, 0), "/elsewhere/a/c");
  EXPECT_EQ(dir / "", dir);

  ZorFsa server("!Srv!host/base/f.zdb");
  ASSERT_TRUE(server.SrvToCnx());
  EXPECT_EQ(Text(server, 1), "!Cnx!host/base/f.zdb");
  EXPECT_FALSE(server.SrvToCnx());
}

TEST(FsaWellKnown, StandardLogLocation) {
  ZorFsa log;
  {
    EnvScope forced("ZORVANE_LOG", "/tmp/zor_fsa_test/forced.log");
    ZorFsa::S_KClearCache();
    ASSERT_TRUE(log.InitFromKFsa(ZorKFsaStdLog));
    EXPECT_EQ(Text(log, 0), "/tmp/zor_fsa_test/forced.log");
    EXPECT_EQ(ZorFsa("!Cst!115"), log);
    EXPECT_EQ(Text(ZorFsa("!Cst!115/../other.log"), 0), "/tmp/zor_fsa_test/other.log");
  }
  EnvScope state("XDG_STATE_HOME", "/home/u/.state");
  ZorFsa::S_KClearCache();
  ASSERT_TRUE(log.InitFromKFsa(ZorKFsaStdLog));
  EXPECT_EQ(Text(log, 0), "/home/u/.state/zorvane/zorvane.log");
  EXPECT_TRUE(ZorFsa::KExiste(ZorKFsaStdLog));
  string s;
  EXPECT_STREQ(ZorFsa::KGetPubName(ZorKFsaStdLog, &s), "!Cst!115");
  EXPECT_FALSE(ZorFsa::KUnRegister(ZorKFsaStdLog));  // built in
  ZorFsa::S_KClearCache();
}

TEST(FsaWellKnown, RegistrationsByCodeAndName) {
  const ZorFsa dir("/srv/models");
  ZorFsa found;
  EXPECT_FALSE(ZorFsa::KExiste(5001));
  EXPECT_FALSE(found.InitFromKFsa(5001));
  EXPECT_EQ(Refusal("!Cst!5001/x").first, ZorErr(1, 38));
  ZorFsa::KRegister(5001, &dir, "Models");
  EXPECT_TRUE(ZorFsa::KExiste(5001));
  ASSERT_TRUE(found.InitFromKFsa(5001, "invoice.mdl"));
  EXPECT_EQ(Text(found, 0), "/srv/models/invoice.mdl");
  EXPECT_EQ(ZorFsa("!Cst!models/invoice.mdl"), found);
  EXPECT_EQ(ZorFsa("!Cst!5001/invoice.mdl"), found);
  string s;
  EXPECT_STREQ(ZorFsa::KGetPubName(5001, &s), "Models");
  ZorFsa::S_KClearCache();  // registrations survive
  EXPECT_TRUE(ZorFsa::KExiste(5001));
  EXPECT_TRUE(ZorFsa::KUnRegister(5001));
  EXPECT_FALSE(ZorFsa::KExiste(5001));
  EXPECT_STREQ(ZorFsa::KGetPubName(5001, &s), "");
}

TEST(FsaArguments, NullPointersAndUnsetPathsAreRefused) {
  // Every public function of paths, file commands, scans, streams and
  // checksums: a null pointer is (1, 23), an unset path (1, 38).
  zortest::TempDir dir;
  const ZorFsa file = dir.MakeFsa("f", "abc"), unset;
  ZorLock guard;
  iZorStream* s = ZorOpenStream(&file, ZorPermReadWrite | ZorShareReadWrite, &guard, 0);
  ZorHandle h;
  string text;
  sZorFsaInfo info;
  ZorFsa out;
  ZorFsaCmd cmd(&file);
  ZorFsaScan scan;
  ZorFileCheckSum sum;
  constexpr int64_t kNull = ZorErr(1, 23), kUnset = ZorErr(1, 38);
  const std::tuple<const char*, int64_t, std::function<void()>> cases[] = {
      {"ZorOpenStream", kNull, [&] { ZorOpenStream(nullptr, ZorPermRead, &guard, ZorStmNoRaise); }},
      {"ZorOpenStream unset", kUnset, [&] { ZorOpenStream(&unset, ZorPermRead, &guard, 0); }},
      {"ZorStdStream::Init", kNull, [&] { ZorStdStream().Init(nullptr, ZorPermRead, 0); }},
      {"ZorReadHandle s", kNull, [&] { ZorReadHandle(nullptr, &h, 0, 1); }},
      {"ZorWriteHandle s", kNull, [&] { ZorWriteHandle(nullptr, &h, 0, false); }},
      {"ZorWriteString s", kNull, [&] { ZorWriteString(nullptr, "x", 1); }},
      {"ZorWriteString text", kNull, [&] { ZorWriteString(s, nullptr, 3); }},
      {"ZorCopyS2L dst", kNull, [&] { ZorCopyS2L(s, nullptr, 1); }},
      {"IsRangeChanged", kNull, [&] { s->Command(ZorStmCmdIsRangeChanged, nullptr, nullptr, nullptr, nullptr); }},
      {"GetPath", kNull, [&] { file.GetPath(0, nullptr); }},
      {"GetSysPath", kNull, [&] { file.GetSysPath(nullptr); }},
      {"GetName", kNull, [&] { file.GetName(nullptr); }},
      {"KillRoot", kNull, [&] { ZorFsa::KillRoot("!Cos!/x", nullptr); }},
      {"KGetPubName", kNull, [&] { ZorFsa::KGetPubName(ZorKFsaStdLog, nullptr); }},
      {"InitFromParent", kNull, [&] { out.InitFromParent(nullptr, "x"); }},
      {"InitFromParent unset", kUnset, [&] { out.InitFromParent(&unset, "x"); }},
      {"ChangeParent", kNull, [&] { out.ChangeParent(nullptr); }},
      {"GetCreation", kNull, [&] { cmd.GetCreation(nullptr); }},
      {"GetInfos", kNull, [&] { cmd.GetInfos(nullptr); }},
      {"SetInfos", kNull, [&] { cmd.SetInfos(nullptr); }},
      {"Create_UniqueFile", kNull, [&] { cmd.Create_UniqueFile("p", ".x", nullptr); }},
      {"Rename", kNull, [&] { cmd.Rename(nullptr); }},
      {"Copy", kNull, [&] { ZorFsaCmd::Copy(nullptr, &file); }},
      {"Move", kNull, [&] { ZorFsaCmd::Move(&file, nullptr); }},
      {"S_CompareFile", kNull, [&] { ZorFsaCmd::S_CompareFile(nullptr, &file); }},
      {"S_OpenTempo", kNull, [&] { ZorFsaCmd::S_OpenTempo(nullptr); }},
      {"S_GetTempDir", kNull, [&] { ZorFsaCmd::S_GetTempDir(nullptr); }},
      {"Create_File unset", kUnset, [&] { ZorFsaCmd(&unset).Create_File(ZorFsaCreateAlways); }},
      {"GetLogSize unset", kUnset, [&] { ZorFsaCmd(nullptr, ZorFsaCmdQuiet).GetLogSize(); }},
      {"Remove unset", kUnset, [&] { ZorFsaCmd().Remove(); }},
      {"ZorFsaScan::Init", kNull, [&] { scan.Init(nullptr); }},
      {"ZorFsaScan::Init unset", kUnset, [&] { scan.Init(&unset); }},
      {"ZorFsaScan::Next", kNull, [&] { scan.Next(nullptr); }},
      {"ZorFileCheckSum::Init", kNull, [&] { sum.Init(nullptr, false); }},
      {"ZorFileCheckSum::Init unset", kUnset, [&] { sum.Init(&unset, false); }},
      {"GetCheckSum", kNull, [&] { sum.GetCheckSum(nullptr, false); }},
      {"ReadCheckSumFile", kNull, [&] { sum.ReadCheckSumFile(nullptr); }},
      {"S_GetCheckSumFile dst", kNull, [&] { ZorFileCheckSum::S_GetCheckSumFile(&file, false, nullptr); }},
      {"S_GenCheckSum", kNull, [&] { ZorFileCheckSum::S_GenCheckSum(nullptr, nullptr); }},
      {"S_CheckCheckSum", kNull, [&] { ZorFileCheckSum::S_CheckCheckSum(nullptr); }},
      {"S_GetInfo dst", kNull, [&] { ZorFileCheckSum::S_GetInfo(&file, nullptr); }},
  };
  for (const auto& [name, code, call] : cases) {
    try {
      call();
      ADD_FAILURE() << name << " was accepted";
    } catch (const ZorEBasic& e) {
      EXPECT_EQ(e.GetError(), code) << name;
      if (code == kNull) {
        EXPECT_EQ(std::string(e.GetMsgText()).rfind("Argument absent : ", 0), 0u) << name;
      }
    }
  }
}
