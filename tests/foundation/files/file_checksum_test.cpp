// ZorFileCheckSum: the one-call rule, cancellation, idle steps, progress and
// the checksum file. The digest layout under every option is compared with
// hashlib over random trees by file_checksum_oracle.py.
#include <zorvane/zorvane.h>

#include "support/progress_double.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace zorvane {
namespace {

namespace fs = std::filesystem;

class FileCheckSumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    _dir = fs::temp_directory_path() /
           ("zor_checksum_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(_dir);
    fs::create_directories(_dir);
  }
  void TearDown() override {
    ZorSetUserBreak(false);
    fs::remove_all(_dir);
  }

  void Write(const std::string& rel, const std::string& content) {
    fs::create_directories((_dir / rel).parent_path());
    std::ofstream(_dir / rel, std::ios::binary) << content;
  }
  ZorFsa Fsa(const std::string& rel = "") const {
    ZorFsa p;
    p.InitFromPath((rel.empty() ? _dir : _dir / rel).c_str());
    return p;
  }
  static std::string Sum(const ZorFsa& path, bool isDir, const char* options) {
    ZorFileCheckSum sum;
    sum.Init(&path, isDir, options);
    sum.CalcCheckSum(false);
    string out;
    return sum.GetCheckSum(&out, false);
  }
  std::string Tree(const char* options) const { return Sum(Fsa(), true, options); }

  fs::path _dir;
};

TEST_F(FileCheckSumTest, CalcCheckSumRunsOncePerInit) {
  Write("a", "x");
  const ZorFsa dir = Fsa();
  ZorFileCheckSum sum;
  sum.Init(&dir, true, "");
  sum.CalcCheckSum(false);
  try {
    sum.CalcCheckSum(false);
    FAIL() << "second call accepted";
  } catch (const ZorEBasic& e) {
    EXPECT_EQ(e.GetError(), ZorErr(1, 23));
    EXPECT_STREQ(e.GetMsgText(), "ZorFileCheckSum, Only one call by instance");
  }
  // A new Init allows a new call.
  sum.Init(&dir, true, "");
  EXPECT_NO_THROW(sum.CalcCheckSum(false));
}

TEST_F(FileCheckSumTest, UserBreakCancelsUnlessNoCancel) {
  Write("a", std::string(100000, 'a'));
  const ZorFsa dir = Fsa();
  const std::string expected = Tree("");

  ZorSetUserBreak(true);
  zortest::RecordingProgress display;
  ZorFileCheckSum sum;
  sum.Init(&dir, true, "");
  try {
    sum.CalcCheckSum(true, &display);
    FAIL() << "not cancelled";
  } catch (const ZorEBasic& e) {
    EXPECT_EQ(e.GetError(), ZorErr(1, 1000));
  }
  EXPECT_EQ(display.ends, 1);
  EXPECT_FALSE(sum.IsDone());

  EXPECT_EQ(Tree("-NoCancel"), expected);
  ZorSetUserBreak(false);
}

TEST_F(FileCheckSumTest, DisplayCancelStopsMidWay) {
  Write("big", std::string(4 << 20, 'z'));
  const ZorFsa dir = Fsa();
  zortest::RecordingProgress display;
  display.cancelAtStep = 1;
  ZorFileCheckSum sum;
  sum.Init(&dir, true, "");
  EXPECT_THROW(sum.CalcCheckSum(true, &display), ZorEBasic);
  EXPECT_LT(display.GetPos(), 4 << 20);
}

TEST_F(FileCheckSumTest, ProgressCountsBytesOrFiles) {
  Write("a", std::string(40000, 'a'));
  Write("d/b", std::string(3, 'b'));
  Write("d/e/c", "");
  const ZorFsa dir = Fsa();
  zortest::RecordingProgress bytes;
  ZorFileCheckSum sum;
  sum.Init(&dir, true, "");
  sum.CalcCheckSum(true, &bytes);
  EXPECT_EQ(bytes.begins, 1);
  EXPECT_EQ(bytes.ends, 1);
  EXPECT_EQ(bytes.GetTotal(), 40003);
  EXPECT_EQ(bytes.GetPos(), 40003);
  string where;
  EXPECT_NE(bytes.beginTitle.find(dir.GetPath(ZorFsaPathDisplay, &where)), std::string::npos);
  EXPECT_EQ(sum.GetNbFile(), 3);

  zortest::RecordingProgress files;
  sum.Init(&dir, true, "-NoContent");
  sum.CalcCheckSum(true, &files);
  EXPECT_EQ(files.GetPos(), 3);

  zortest::RecordingProgress unused;
  sum.Init(&dir, true, "");
  sum.CalcCheckSum(false, &unused);
  EXPECT_EQ(unused.begins, 0);
}

TEST_F(FileCheckSumTest, IdleStepsGiveTheSameDigest) {
  Write("f", std::string(5 * ZorFileCheckSum::kBlockSize + 7, 'q'));
  const ZorFsa file = Fsa("f");
  ZorFileCheckSum sum;
  EXPECT_FALSE(sum.DoIdle(10));  // not initialised
  sum.Init(&file, false, "");
  int calls = 1;
  while (!sum.DoIdle(0)) ++calls;
  // One step to open, one per block read: a zero budget stops after each.
  EXPECT_GE(calls, 7);
  string idle;
  sum.GetCheckSum(&idle, false);
  EXPECT_EQ(std::string(idle.CStr()), Sum(file, false, ""));
}

TEST_F(FileCheckSumTest, AutoDetectFollowsTheFileSystem) {
  Write("f", "content");
  Write("d/g", "more");
  EXPECT_EQ(Sum(Fsa(), false, "-AutoDetect"), Sum(Fsa(), true, ""));
  EXPECT_EQ(Sum(Fsa("f"), true, "-AutoDetect"), Sum(Fsa("f"), false, ""));
}

TEST_F(FileCheckSumTest, MissingFileCountsWithSizeZero) {
  const ZorFsa missing = Fsa("absent.dat");
  ZorFileCheckSum sum;
  sum.Init(&missing, false, "");
  string digest;
  sum.GetCheckSum(&digest, false);  // completes the work by itself
  EXPECT_EQ(sum.GetNbFile(), 1);
  string expected;
  EXPECT_STREQ(digest.CStr(), ZorMD5::S_Digest("absent.dat\0\0\0\0\0\0\0\0", 18, &expected));
}

TEST_F(FileCheckSumTest, ChecksumFileOfATree) {
  Write("a", "alpha");
  Write("s/b", "beta");
  const ZorFsa dir = Fsa();
  const std::string before = Tree("-NoSize");
  ZorFileCheckSum::S_GenCheckSum(&dir, "-NoSize");
  ASSERT_TRUE(fs::exists(_dir / ZorFileCheckSum::kCheckSumFileName));
  EXPECT_EQ(Tree("-NoSize"), before);  // the checksum file is not part of the digest

  string info, value;
  ASSERT_TRUE(ZorFileCheckSum::S_GetInfo(&dir, &info));
  ASSERT_TRUE(ZorGetStrOpt(info.CStr(), "ChkSum", &value));
  EXPECT_EQ(std::string(value.CStr()), before);
  int32_t nbFile = 0;
  EXPECT_TRUE(ZorGetStrOptLong(info.CStr(), "NbFile", &nbFile));
  EXPECT_EQ(nbFile, 2);
  ASSERT_TRUE(ZorGetStrOpt(info.CStr(), "OrgOptions", &value));
  EXPECT_STREQ(value.CStr(), "-NoSize");
  ASSERT_TRUE(ZorGetStrOpt(info.CStr(), "OrgDirPath", &value));
  EXPECT_STREQ(value.CStr(), _dir.c_str());
  EXPECT_FALSE(ZorGetStrOptBool(info.CStr(), "OrgFilePath"));
  ASSERT_TRUE(ZorGetStrOpt(info.CStr(), "GenDate", &value));
  date stamp;
  EXPECT_TRUE(stamp.SetTimeStamp(value.CStr()));
  for (const char* key : {"Mach", "User", "Version"}) EXPECT_TRUE(ZorGetStrOptBool(info.CStr(), key)) << key;

  EXPECT_TRUE(ZorFileCheckSum::S_CheckCheckSum(&dir));
  Write("s/b", "BETA");
  EXPECT_FALSE(ZorFileCheckSum::S_CheckCheckSum(&dir));
  Write("s/b", "beta");
  Write("s/new", "");
  EXPECT_FALSE(ZorFileCheckSum::S_CheckCheckSum(&dir));
  fs::remove(_dir / ZorFileCheckSum::kCheckSumFileName);
  fs::remove(_dir / "s/new");
  EXPECT_FALSE(ZorFileCheckSum::S_CheckCheckSum(&dir));
  EXPECT_FALSE(ZorFileCheckSum::S_GetInfo(&dir, &info));
}

TEST_F(FileCheckSumTest, ChecksumFileOfOneFile) {
  Write("data.bin", "payload");
  const ZorFsa file = Fsa("data.bin");
  ZorFileCheckSum sum;
  sum.Init(&file, false, "-NoFileName");
  sum.CalcCheckSum(false);
  sum.GenCheckSumFile();
  ASSERT_TRUE(fs::exists(_dir / "data.bin.chk"));
  string stored, value;
  ASSERT_TRUE(sum.ReadCheckSumFile(&stored));
  ASSERT_TRUE(ZorGetStrOpt(stored.CStr(), "OrgFilePath", &value));
  EXPECT_STREQ(value.CStr(), (_dir / "data.bin").c_str());

  EXPECT_TRUE(ZorFileCheckSum::S_CheckCheckSum(&file));
  fs::rename(_dir / "data.bin", _dir / "other.bin");
  fs::rename(_dir / "data.bin.chk", _dir / "other.bin.chk");
  // Stored without the name: a renamed file still matches.
  const ZorFsa renamed = Fsa("other.bin");
  EXPECT_TRUE(ZorFileCheckSum::S_CheckCheckSum(&renamed));
}

}  // namespace
}  // namespace zorvane
