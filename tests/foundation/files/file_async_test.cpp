// File copies in idle steps: the steps, the progress text, the completion
// call and what a failed or cancelled copy leaves.
#include <zorvane/exception.h>
#include <zorvane/file_async.h>
#include <zorvane/string.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "support/temp_files.h"

using namespace zorvane;
using zortest::ReadFile;
using zortest::TempDir;

namespace {

struct Calls {
  std::vector<int32_t> args;
  void operator()(int32_t arg) { args.push_back(arg); }
};

}  // namespace

TEST(FileAsync, CopiesInStepsAndCallsBackOnce) {
  TempDir dir;
  std::string data((3 << 20) + 12345, '\0');
  std::mt19937 rng(5);
  for (char& c : data) c = static_cast<char>(rng());
  const ZorFsa from = dir.MakeFsa("src", data), to = dir.MakeFsa("dst", "old content that must go");
  Calls calls;
  const ZorDelegate done = ZorDelegate::Callable(&calls);
  ZorFileAsync copy;
  copy.Init(&from, &to, &done, 1 << 20);
  int steps = 0;
  string text;
  while (copy.Idle()) {
    ++steps;
    copy.GetProgressText(&text);
    EXPECT_NE(std::string(text.CStr()).find(" %"), std::string::npos);
  }
  EXPECT_EQ(steps, 4);  // open, then three full steps; the fourth ends it
  EXPECT_TRUE(copy.IsDone());
  EXPECT_EQ(copy.GetError(), 0);
  EXPECT_EQ(calls.args, std::vector<int32_t>{0});
  EXPECT_NE(std::string(copy.GetProgressText(&text)).find("100 %"), std::string::npos);
  EXPECT_TRUE(ReadFile(dir.File("dst")) == data);
  EXPECT_FALSE(copy.Idle());
  EXPECT_EQ(calls.args.size(), 1u);

  const ZorFsa empty = dir.MakeFsa("empty");  // nothing to copy: done at 100 %
  copy.Init(&empty, &to, &done);
  copy.Run();
  EXPECT_NE(std::string(copy.GetProgressText(&text)).find("100 %"), std::string::npos);
}

TEST(FileAsync, FailuresAndCancellationLeaveNoTarget) {
  TempDir dir;
  Calls calls;
  const ZorDelegate done = ZorDelegate::Callable(&calls);
  const ZorFsa missing = dir.Fsa("missing"), to = dir.Fsa("dst");
  ZorFileAsync copy;
  copy.Init(&missing, &to, &done);
  copy.Run();
  EXPECT_EQ(copy.GetError(), ZorErr(-1, 2));
  EXPECT_EQ(calls.args, std::vector<int32_t>{2});
  EXPECT_NE(access(dir.File("dst").c_str(), F_OK), 0);

  const ZorFsa from = dir.MakeFsa("src", std::string(5 << 20, 'x'));
  copy.Init(&from, &to, &done, 1 << 20);
  copy.Idle();
  copy.Idle();
  EXPECT_EQ(access(dir.File("dst").c_str(), F_OK), 0);
  copy.Cancel();
  EXPECT_EQ(copy.GetError(), ZorErr(1, 1000));
  EXPECT_EQ(calls.args.back(), 1000);
  EXPECT_NE(access(dir.File("dst").c_str(), F_OK), 0);
}
