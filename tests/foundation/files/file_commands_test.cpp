// ZorFsaCmd and ZorFsaScan on a scratch directory: creation modes, errors,
// copies and moves, dates against the C library, unique files, and the scan
// order against a random tree built from a model.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include "platform/env.h"
#include "support/temp_files.h"
#include "support/test_util.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

using namespace zorvane;
using zorvane::test::ErrorOf;

namespace {

class FsaCmdTest : public ::testing::Test {
 protected:
  ZorFsa Path(const char* rel) const { return _dir / rel; }
  std::string Sys(const char* rel) const { return _tmp.File(rel); }
  void Write(const char* rel, const std::string& bytes) const { _tmp.Make(rel, bytes); }
  ZorFsa MakeFsa(const char* rel, const std::string& bytes) const { Write(rel, bytes); return Path(rel); }
  std::string Read(const char* rel) const { return zortest::ReadFile(Sys(rel)); }

  zortest::TempDir _tmp;
  const std::string _sys = _tmp.Path();
  const ZorFsa _dir{_sys.c_str()};
};

}  // namespace

// Every refusal with its Windows number, on one prepared tree; the path the
// error names is the one the caller gave.
TEST_F(FsaCmdTest, RefusalsCarryWindowsNumbers) {
  const ZorFsa file = MakeFsa("a.txt", "a"), other = MakeFsa("b.txt", "b"), dir = Path("d"), missing = Path("none"),
               nested = Path("x/y/z.txt"), through = Path("a.txt/inner"), inside = Path("d/e/self");
  ZorFsaCmd(&inside).Create_File(ZorFsaCreateNew | ZorFsaCreateParents);
  const std::tuple<const char*, int64_t, const ZorFsa*, std::function<void()>> cases[] = {
      {"new over a file", ZorErr(-1, 80), &file, [&] { ZorFsaCmd(&file).Create_File(ZorFsaCreateNew); }},
      {"bad mode", ZorErr(-1, 87), &file, [&] { ZorFsaCmd(&file).Create_File(3); }},
      {"missing parent", ZorErr(-1, 3), &nested, [&] { ZorFsaCmd(&nested).Create_File(ZorFsaCreateNew); }},
      {"new over a dir", ZorErr(-1, 80), &dir, [&] { ZorFsaCmd(&dir).Create_Dir(ZorFsaCreateNew); }},
      {"dir over a file", ZorErr(-1, 80), &file, [&] { ZorFsaCmd(&file).Create_Dir(ZorFsaOpenAlways); }},
      {"file over a dir", ZorErr(-1, 5), &dir, [&] { ZorFsaCmd(&dir).Create_File(ZorFsaOpenAlways); }},
      {"size", ZorErr(-1, 2), &missing, [&] { ZorFsaCmd(&missing).GetLogSize(); }},
      {"date", ZorErr(-1, 2), &missing, [&] { date d; ZorFsaCmd(&missing).GetModif(&d); }},
      {"file on the way", ZorErr(-1, 3), &through, [&] { ZorFsaCmd(&through).GetLogSize(); }},
      {"remove a full dir", ZorErr(-1, 145), &dir, [&] { ZorFsaCmd(&dir).Remove(); }},
      {"rename onto", ZorErr(-1, 80), nullptr, [&] { ZorFsaCmd(&file).Rename(&other); }},
      {"copy onto", ZorErr(-1, 80), nullptr, [&] { ZorFsaCmd::Copy(&file, &other); }},
      {"copy onto itself", ZorErr(-1, 87), nullptr, [&] { ZorFsaCmd::Copy(&file, &file, ZorFsaCopyReplace); }},
      {"copy into itself", ZorErr(-1, 87), nullptr, [&] { ZorFsaCmd::Copy(&dir, &inside); }},
      {"move onto", ZorErr(-1, 80), nullptr, [&] { ZorFsaCmd::Move(&file, &other); }},
      {"compare", ZorErr(-1, 2), &missing, [&] { ZorFsaCmd::S_CompareFile(&file, &missing); }},
      {"scan", ZorErr(-1, 2), &missing, [&] { ZorFsaScan().Init(&missing); }},
  };
  for (const auto& [name, code, path, call] : cases) {
    ZorFsa where;
    EXPECT_EQ(ErrorOf(call, &where), code) << name;
    EXPECT_TRUE(!path || where == *path) << name;
  }
  EXPECT_EQ(Read("b.txt"), "b");
  EXPECT_EQ(Read("a.txt"), "a");
}

TEST_F(FsaCmdTest, CreationModesRemoveAndRename) {
  const ZorFsa file = Path("a.txt");
  ZorFsaCmd cmd(&file);
  EXPECT_FALSE(cmd.Exists());
  EXPECT_TRUE(cmd.Create_File(ZorFsaCreateNew));
  EXPECT_TRUE(cmd.Exists());
  EXPECT_FALSE(cmd.IsDir());
  Write("a.txt", "content");
  EXPECT_FALSE(cmd.Create_File(ZorFsaOpenAlways));
  EXPECT_EQ(Read("a.txt"), "content");
  EXPECT_FALSE(cmd.Create_File(ZorFsaCreateAlways));
  EXPECT_EQ(Read("a.txt"), "");

  const ZorFsa nested = Path("x/y/z.txt"), dir = Path("x/y"), newDirs = Path("p/q/r");
  EXPECT_TRUE(ZorFsaCmd(&nested).Create_File(ZorFsaCreateNew | ZorFsaCreateParents));
  EXPECT_TRUE(ZorFsaCmd(&dir).IsDir());
  EXPECT_FALSE(ZorFsaCmd(&dir).Create_Dir(ZorFsaOpenAlways));
  EXPECT_TRUE(ZorFsaCmd(&newDirs).Create_Dir(ZorFsaCreateNew | ZorFsaCreateParents));
  EXPECT_TRUE(ZorFsaCmd(&newDirs).IsDir());

  SCOPED_TRACE("remove and rename");
  const ZorFsa tree = Path("d"), inner = Path("d/e/f.txt");
  ZorFsaCmd(&inner).Create_File(ZorFsaCreateNew | ZorFsaCreateParents);
  ZorFsaCmd dirCmd(&tree);
  EXPECT_TRUE(dirCmd.Remove(ZorFsaRemoveTree));
  EXPECT_FALSE(dirCmd.Exists());
  EXPECT_FALSE(dirCmd.Remove());

  const ZorFsa one = MakeFsa("one.txt", "1"), three = Path("three.txt");
  ZorFsaCmd renamed(&one);
  renamed.Rename(&three);
  EXPECT_EQ(*renamed.GetFsa(), three);
  EXPECT_EQ(Read("three.txt"), "1");
  EXPECT_TRUE(renamed.Exists());
  EXPECT_TRUE(renamed.Remove());
  EXPECT_FALSE(renamed.Exists());

  // On a case-sensitive file system only the named twin goes, whichever
  // spelling the process met first.
  Write("B.txt", "upper");
  const ZorFsa lower = MakeFsa("b.txt", "lower");
  EXPECT_TRUE(ZorFsaCmd(&lower).Remove());
  EXPECT_EQ(Read("B.txt"), "upper");
  EXPECT_FALSE(ZorFsaCmd(&lower).Exists());
}

TEST_F(FsaCmdTest, SizesQuietMissingFilesFreeSpaceAndPathChecks) {
  const ZorFsa file = MakeFsa("data.bin", std::string(10000, 'x'));
  ZorFsaCmd cmd(&file);
  EXPECT_EQ(cmd.GetLogSize(), 10000);
  EXPECT_GE(cmd.GetPhysSize(), 10000);
  EXPECT_EQ(cmd.GetPhysSize() % 512, 0);
  // A sparse file: far more logical than physical bytes.
  ASSERT_EQ(truncate(Sys("data.bin").c_str(), 1 << 30), 0);
  EXPECT_EQ(cmd.GetLogSize(), 10000);  // kept until refreshed
  cmd.RefreshState();
  EXPECT_EQ(cmd.GetLogSize(), 1 << 30);
  EXPECT_LT(cmd.GetPhysSize(), 1 << 20);

  const ZorFsa missing = Path("none.bin");
  ZorFsaCmd quiet(&missing, ZorFsaCmdQuiet);
  date d;
  EXPECT_EQ(quiet.GetLogSize(), 0);
  EXPECT_FALSE(quiet.GetModif(&d));
  EXPECT_TRUE(d.IsEmpty());
  EXPECT_FALSE(quiet.IsDir());
  EXPECT_FALSE(quiet.IsRdWr());

  SCOPED_TRACE("free space and path checks");
  struct statvfs vfs {};
  ASSERT_EQ(statvfs(_sys.c_str(), &vfs), 0);
  const uint64_t expected = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  const ZorFsa notYet = Path("not/yet/there");
  const uint64_t got = ZorFsaCmd(&notYet).GetDiskFreeSpaceA();
  EXPECT_NEAR(static_cast<double>(got), static_cast<double>(expected), 64.0 * 1024 * 1024);

  const std::pair<const char*, bool> texts[] = {{"/a/b", true},        {"C:\\a", true},        {"a/b", false},
                                                {"!Tel!0102", false}, {"!Net!srv/x", false}, {"", false}};
  for (const auto& [text, isFile] : texts) EXPECT_EQ(ZorFsaCmd::S_IsFilePath(text), isFile) << text;
}

TEST_F(FsaCmdTest, DatesFollowTheSystemClockInLocalTime) {
  const ZorFsa file = MakeFsa("dated.txt", "x");
  ZorFsaCmd cmd(&file);
  sZorFsaInfo info;
  ASSERT_TRUE(cmd.GetInfos(&info));
  EXPECT_EQ(info.attributes, ZorFsaAttrNormal);
  EXPECT_EQ(info.logSize, 1u);

  // Set 14 July 2021 10:20:30 local time; the C library says which Unix
  // second that is.
  info.modification.Set(14, 7, 2021, nullptr, 10, 20, 30);
  info.access.Clear();  // left alone
  cmd.SetInfos(&info);
  std::tm local{};
  local.tm_year = 121, local.tm_mon = 6, local.tm_mday = 14, local.tm_hour = 10, local.tm_min = 20, local.tm_sec = 30;
  local.tm_isdst = -1;
  struct stat st {};
  ASSERT_EQ(stat(Sys("dated.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, mktime(&local));
  date modif;
  ASSERT_TRUE(cmd.GetModif(&modif));
  EXPECT_EQ(modif.Compare(&info.modification), 0);

  // The creation date is not after now, and not after the modification
  // date of a fresh file.
  const ZorFsa fresh = MakeFsa("fresh.txt", "y");
  date created, now;
  ZorFsaCmd freshCmd(&fresh);
  ASSERT_TRUE(freshCmd.GetCreation(&created));
  now.Today(true);
  EXPECT_LE(created.GetValue(), now.GetValue() + 1.0 / 86400);
  EXPECT_GE(created.GetValue(), now.GetValue() - 60.0 / 86400);

  // Read-only on and off.
  info.attributes = ZorFsaAttrReadOnly;
  info.modification.Clear();
  cmd.SetInfos(&info);
  ASSERT_EQ(stat(Sys("dated.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  cmd.GetInfos(&info);
  EXPECT_EQ(info.attributes, ZorFsaAttrReadOnly);
  EXPECT_TRUE(geteuid() == 0 || !cmd.IsRdWr());  // root may write anyway
  info.attributes = 0;
  cmd.SetInfos(&info);
  EXPECT_TRUE(cmd.IsRdWr());
  const ZorFsa hidden = Path(".hidden");
  ZorFsaCmd(&hidden).Create_Dir(ZorFsaCreateNew);
  ZorFsaCmd(&hidden).GetInfos(&info);
  EXPECT_EQ(info.attributes, ZorFsaAttrHidden | ZorFsaAttrDirectory);
}

TEST_F(FsaCmdTest, CopyMoveAndCompare) {
  std::string big(300000, '\0');
  std::mt19937 rng(5);
  for (char& c : big) c = static_cast<char>(rng());
  const ZorFsa src = MakeFsa("src.bin", big), dst = Path("dst.bin");
  sZorFsaInfo info;
  ZorFsaCmd srcCmd(&src);
  srcCmd.GetInfos(&info);
  info.modification.Set(1, 2, 2020, nullptr, 3, 4, 5);
  srcCmd.SetInfos(&info);

  ZorFsaCmd::Copy(&src, &dst);
  EXPECT_EQ(Read("dst.bin"), big);
  EXPECT_TRUE(ZorFsaCmd::S_CompareFile(&src, &dst));
  date copied;
  ZorFsaCmd(&dst).GetModif(&copied);
  EXPECT_EQ(copied.Compare(&info.modification), 0);

  // Same size, one byte different; then a different size.
  big[123456] ^= 1;
  Write("dst.bin", big);
  EXPECT_FALSE(ZorFsaCmd::S_CompareFile(&src, &dst));
  Write("dst.bin", "short");
  EXPECT_FALSE(ZorFsaCmd::S_CompareFile(&src, &dst));
  ZorFsaCmd::Copy(&src, &dst, ZorFsaCopyReplace);
  EXPECT_TRUE(ZorFsaCmd::S_CompareFile(&src, &dst));
  {
    // The second file ends early, as if another process cut it meanwhile.
    struct ShrinkingSecond : platform::EnvWrapper {
      ShrinkingSecond() : EnvWrapper(&platform::CurrentEnv()) {}
      int reads = 0;
      int Read(int fd, void* b, size_t n, size_t* d) override {
        if (++reads != 2) return EnvWrapper::Read(fd, b, n, d);
        *d = 0;
        return 0;
      }
    } shrinking;
    platform::ScopedEnv scope(&shrinking);
    EXPECT_FALSE(ZorFsaCmd::S_CompareFile(&src, &dst));
  }

  // A tree, then a move of it.
  Write("dst.bin", "x");
  const ZorFsa tree = Path("tree"), leaf = Path("tree/a/b.txt"), copy = Path("copy");
  ZorFsaCmd(&leaf).Create_File(ZorFsaCreateNew | ZorFsaCreateParents);
  Write("tree/a/b.txt", "leaf");
  Write("tree/top.txt", "top");
  ZorFsaCmd::Copy(&tree, &copy);
  EXPECT_EQ(Read("copy/a/b.txt"), "leaf");
  EXPECT_EQ(Read("copy/top.txt"), "top");
  const ZorFsa moved = Path("moved");
  ZorFsaCmd::Move(&copy, &moved);
  EXPECT_FALSE(ZorFsaCmd(&copy).Exists());
  EXPECT_EQ(Read("moved/a/b.txt"), "leaf");
  ZorFsaCmd::Move(&src, &dst, ZorFsaCopyReplace);
  EXPECT_EQ(Read("dst.bin").size(), big.size());
}

TEST_F(FsaCmdTest, UniqueAndTemporaryFiles) {
  std::set<std::string> names;
  ZorFsaCmd dirCmd(&_dir);
  string name;
  for (int i = 0; i < 200; ++i) {
    ZorFsa created;
    dirCmd.Create_UniqueFile("inv", ".tmp", &created);
    ASSERT_TRUE(_dir.IsParent(&created));
    created.GetName(&name);
    ASSERT_EQ(name.Len(), 3u + 6u + 4u) << name.CStr();
    ASSERT_EQ(std::string(name.CStr()).substr(0, 3), "inv");
    ASSERT_TRUE(ZorFsaCmd(&created).Exists());
    ASSERT_TRUE(names.insert(name.CStr()).second) << "repeated " << name.CStr();
  }
  setenv("TMPDIR", _sys.c_str(), 1);
  ZorFsa temp, tempDir;
  ZorFsaCmd::S_GetTempDir(&tempDir);
  EXPECT_EQ(tempDir, _dir);
  ZorFsaCmd::S_OpenTempo(&temp);
  EXPECT_TRUE(_dir.IsParent(&temp));
  EXPECT_STREQ(temp.GetName(&name, ZorFsaNameExt), "tmp");
  unsetenv("TMPDIR");
  ZorFsaCmd::S_GetTempDir(&tempDir);
  EXPECT_EQ(tempDir, ZorFsa("/tmp"));
}

TEST_F(FsaCmdTest, ScanVisitsAModelTreeInOrder) {
  // A random tree (mixed case, accents, hidden names, names that differ only
  // in case) is created from a model; the scan must give each directory's
  // files, then each of its sub-directories followed by its content, both
  // sorted by the library's collation (equal names by their bytes).
  std::mt19937 rng(17);
  const char* const stems[] = {"alpha", "Beta", "\xc3\xa9t\xc3\xa9", "Zed", "z10", "z9", "_u", "Mid.dle", "ALPHA"};
  std::map<std::string, std::vector<std::pair<std::string, bool>>> children;  // parent -> name, is a directory
  std::set<std::string> taken;
  std::vector<std::string> dirList = {""};
  for (int i = 0; i < 120; ++i) {
    const std::string parent = dirList[rng() % dirList.size()];
    const std::string name = std::string(stems[rng() % std::size(stems)]) + std::to_string(rng() % 4);
    const std::string rel = parent.empty() ? name : parent + "/" + name;
    if (!taken.insert(rel).second) continue;
    const bool isDir = rng() % 4 == 0 && dirList.size() < 25;
    if (isDir) {
      ASSERT_EQ(mkdir(Sys(rel.c_str()).c_str(), 0777), 0);
      dirList.push_back(rel);
    } else {
      Write(rel.c_str(), rel);
    }
    children[parent].emplace_back(name, isDir);
  }
  Write(".hidden", "h");
  Write("bad\xff", "not UTF-8");
  ASSERT_EQ(symlink(_sys.c_str(), Sys("loop").c_str()), 0);  // back to the root: listed, not entered
  children[""].emplace_back("loop", true);

  auto before = [](const std::pair<std::string, bool>& x, const std::pair<std::string, bool>& y) {
    if (x.second != y.second) return !x.second;
    string a, b;
    ZorDecodefromUTF8(x.first.c_str(), &a);
    ZorDecodefromUTF8(y.first.c_str(), &b);
    const int32_t c = ZorStrICmp(a.CStr(), b.CStr());
    return c < 0 || (c == 0 && ZorStrCmp(a.CStr(), b.CStr()) < 0);
  };
  std::vector<std::pair<std::string, bool>> expected, seen;
  std::function<void(const std::string&)> walk = [&](const std::string& parent) {
    auto list = children[parent];
    std::sort(list.begin(), list.end(), before);
    for (const auto& [name, isDir] : list) {
      const std::string rel = parent.empty() ? name : parent + "/" + name;
      expected.emplace_back(rel, isDir);
      if (isDir && rel != "loop") walk(rel);
    }
  };
  walk("");

  ZorFsaScan scan;
  scan.Init(&_dir, ZorFsaScanRecurse | ZorFsaScanDirs);
  ZorFsa entry;
  string rel, sys;
  while (scan.Next(&entry)) {
    scan.GetRelPath(&rel);
    ZorEncodeToUTF8(rel.CStr(), &sys);
    ASSERT_EQ(scan.IsDir(), ZorFsaCmd(&entry).IsDir()) << sys.CStr();
    ASSERT_TRUE(scan.IsDir() || scan.GetSize() == static_cast<int64_t>(sys.Len())) << sys.CStr();
    seen.emplace_back(sys.CStr(), scan.IsDir());
  }
  EXPECT_EQ(seen, expected);

  // Without recursion: the root's own entries only; hidden names on request.
  scan.Init(&_dir, ZorFsaScanHidden);
  std::set<std::string> top;
  while (scan.Next(&entry)) top.insert(scan.GetRelPath(&rel));
  EXPECT_TRUE(top.count(".hidden"));
  for (const std::string& f : top) EXPECT_EQ(f.find('/'), std::string::npos);
}
