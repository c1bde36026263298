// ZorFileCheckSum: the one-call rule, cancellation, progress, missing files
// and the checksum file. file_checksum_oracle.py compares the digest under
// every option, worked in idle steps, with hashlib over random trees.
#include <zorvane/zorvane.h>

#include "support/progress_double.h"
#include "support/temp_files.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <string>

using namespace zorvane;
using zortest::TempDir;

namespace {

std::string Sum(const ZorFsa& path, bool isDir, const char* options) {
  ZorFileCheckSum sum;
  sum.Init(&path, isDir, options);
  sum.CalcCheckSum(false);
  string out;
  return sum.GetCheckSum(&out, false);
}

ZorFsa Dir(const TempDir& dir) { return ZorFsa(dir.Path().c_str()); }

}  // namespace

TEST(FileCheckSum, OneCallPerInitAndCancellation) {
  TempDir dir;
  dir.Make("a", std::string(4 << 20, 'a'));
  const ZorFsa top = Dir(dir);
  ZorFileCheckSum sum;
  EXPECT_FALSE(sum.DoIdle(10));  // not initialised
  sum.Init(&top, true, "");
  sum.CalcCheckSum(false);
  const std::string expected = Sum(top, true, "");
  std::string message;
  try {
    sum.CalcCheckSum(false);
    ADD_FAILURE() << "second call accepted";
  } catch (const ZorEBasic& e) {
    EXPECT_EQ(e.GetError(), ZorErr(1, 23));
    message = e.GetMsgText();
  }
  EXPECT_EQ(message, "ZorFileCheckSum, Only one call by instance");

  ZorSetUserBreak(true);
  zortest::RecordingProgress display;
  sum.Init(&top, true, "");
  EXPECT_EQ(test::ErrorOf([&] { sum.CalcCheckSum(true, &display); }), ZorErr(1, 1000));
  EXPECT_EQ(display.ends, 1);
  EXPECT_FALSE(sum.IsDone());
  EXPECT_EQ(Sum(top, true, "-NoCancel"), expected);
  ZorSetUserBreak(false);

  zortest::RecordingProgress cancelling;
  cancelling.cancelAtStep = 1;
  sum.Init(&top, true, "");
  EXPECT_EQ(test::ErrorOf([&] { sum.CalcCheckSum(true, &cancelling); }), ZorErr(1, 1000));
  EXPECT_LT(cancelling.GetPos(), 4 << 20);
}

TEST(FileCheckSum, ProgressCountsBytesOrFiles) {
  TempDir dir;
  dir.Make("a", std::string(40000, 'a'));
  std::filesystem::create_directories(dir.File("d/e"));
  dir.Make("d/b", "bbb");
  dir.Make("d/e/c");
  const ZorFsa top = Dir(dir);
  zortest::RecordingProgress bytes, files, unused;
  ZorFileCheckSum sum;
  sum.Init(&top, true, "");
  sum.CalcCheckSum(true, &bytes);
  EXPECT_EQ(bytes.begins, 1);
  EXPECT_EQ(bytes.ends, 1);
  EXPECT_EQ(bytes.GetTotal(), 40003);
  EXPECT_EQ(bytes.GetPos(), 40003);
  EXPECT_NE(bytes.beginTitle.find(dir.Path()), std::string::npos);
  EXPECT_EQ(sum.GetNbFile(), 3);
  sum.Init(&top, true, "-NoContent");
  sum.CalcCheckSum(true, &files);
  EXPECT_EQ(files.GetPos(), 3);
  sum.Init(&top, true, "");
  sum.CalcCheckSum(false, &unused);
  EXPECT_EQ(unused.begins, 0);
}

TEST(FileCheckSum, AutoDetectAndMissingFiles) {
  TempDir dir;
  const ZorFsa top = Dir(dir), file = dir.MakeFsa("f", "content"), missing = dir.Fsa("absent.dat");
  EXPECT_EQ(Sum(top, false, "-AutoDetect"), Sum(top, true, ""));
  EXPECT_EQ(Sum(file, true, "-AutoDetect"), Sum(file, false, ""));
  // A missing file counts with its name and a zero size.
  ZorFileCheckSum sum;
  sum.Init(&missing, false, "");
  string digest, expected;
  sum.GetCheckSum(&digest, false);  // completes the work by itself
  EXPECT_EQ(sum.GetNbFile(), 1);
  EXPECT_STREQ(digest.CStr(), ZorMD5::S_Digest("absent.dat\0\0\0\0\0\0\0\0", 18, &expected));
}

TEST(FileCheckSum, ChecksumFileOfATreeAndOfOneFile) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("s"));
  dir.Make("a", "alpha");
  dir.Make("s/b", "beta");
  const ZorFsa top = Dir(dir);
  const std::string before = Sum(top, true, "-NoSize");
  ZorFileCheckSum::S_GenCheckSum(&top, "-NoSize");
  EXPECT_EQ(Sum(top, true, "-NoSize"), before);  // the checksum file is not part of the digest

  string info, value;
  int32_t nbFile = 0;
  ASSERT_TRUE(ZorFileCheckSum::S_GetInfo(&top, &info));
  const std::pair<const char*, std::string> stored[] = {
      {"ChkSum", before}, {"OrgOptions", "-NoSize"}, {"OrgDirPath", dir.Path()}};
  for (const auto& [key, want] : stored) {
    ASSERT_TRUE(ZorGetStrOpt(info.CStr(), key, &value)) << key;
    EXPECT_EQ(std::string(value.CStr()), want) << key;
  }
  EXPECT_TRUE(ZorGetStrOptLong(info.CStr(), "NbFile", &nbFile));
  EXPECT_EQ(nbFile, 2);
  EXPECT_FALSE(ZorGetStrOptBool(info.CStr(), "OrgFilePath"));
  date stamp;
  EXPECT_TRUE(ZorGetStrOpt(info.CStr(), "GenDate", &value) && stamp.SetTimeStamp(value.CStr()));
  for (const char* key : {"Mach", "User", "Version"}) EXPECT_TRUE(ZorGetStrOptBool(info.CStr(), key)) << key;

  EXPECT_TRUE(ZorFileCheckSum::S_CheckCheckSum(&top));
  dir.Make("s/b", "BETA");
  EXPECT_FALSE(ZorFileCheckSum::S_CheckCheckSum(&top));
  dir.Make("s/b", "beta");
  dir.Make("s/new");
  EXPECT_FALSE(ZorFileCheckSum::S_CheckCheckSum(&top));
  std::filesystem::remove(dir.File(ZorFileCheckSum::kCheckSumFileName));
  std::filesystem::remove(dir.File("s/new"));
  EXPECT_FALSE(ZorFileCheckSum::S_CheckCheckSum(&top));
  EXPECT_FALSE(ZorFileCheckSum::S_GetInfo(&top, &info));

  // One file, stored without its name: a renamed file still matches.
  const ZorFsa file = dir.Fsa("a");
  ZorFileCheckSum sum;
  sum.Init(&file, false, "-NoFileName");
  sum.CalcCheckSum(false);
  sum.GenCheckSumFile();
  ASSERT_TRUE(sum.ReadCheckSumFile(&info));
  ASSERT_TRUE(ZorGetStrOpt(info.CStr(), "OrgFilePath", &value));
  EXPECT_EQ(std::string(value.CStr()), dir.File("a"));
  EXPECT_TRUE(ZorFileCheckSum::S_CheckCheckSum(&file));
  std::filesystem::rename(dir.File("a"), dir.File("o"));
  std::filesystem::rename(dir.File("a.chk"), dir.File("o.chk"));
  const ZorFsa renamed = dir.Fsa("o");
  EXPECT_TRUE(ZorFileCheckSum::S_CheckCheckSum(&renamed));
}
