// Shared ("distant") files forced on a local disk: every change another
// opener made is reported, chunk by chunk, through the change callback and
// IsRangeChanged, before this one works on the file. Forked processes
// updating one file through the bracket are the block file's distant
// sharing test.
#include <zorvane/exception.h>
#include <zorvane/stream.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "support/temp_files.h"

using namespace zorvane;
using zortest::TempDir;

namespace {

constexpr uint32_t kChunk = 4096;
const eZorStreamPerm kShared = ZorPermReadWrite | ZorShareReadWrite;

class DistantTest : public testing::Test {
 protected:
  void SetUp() override { ZorSetForceDistant(true); }
  void TearDown() override { ZorSetForceDistant(false); }

  TempDir dir;
};

// Counts the change callbacks a stream made.
struct Changes {
  int calls = 0;
  bool everything = false;
  static void Fn(void* context, iZorStream*, bool everything) {
    auto* c = static_cast<Changes*>(context);
    ++c->calls;
    c->everything = everything;
  }
  void Watch(iZorStream* s) { s->Command(ZorStmCmdSetChangeCallback, nullptr, reinterpret_cast<void*>(&Fn), this, nullptr); }
};

void WriteAt(iZorStream* s, uint64_t offset, const std::string& data) {
  s->Seek(static_cast<int64_t>(offset), ZorSeekSet);
  s->Write(data.data(), static_cast<uint32_t>(data.size()));
}

std::string ReadAt(iZorStream* s, uint64_t offset, uint32_t n) {
  std::string buf(n, '\0');
  s->Seek(static_cast<int64_t>(offset), ZorSeekSet);
  buf.resize(s->Read(buf.data(), n));
  return buf;
}

}  // namespace

TEST_F(DistantTest, ReportsExactlyTheChunksAnotherOpenerWrote) {
  const ZorFsa path = dir.MakeFsa("f", std::string(10 * kChunk, 'a'));
  ZorStdStream a, b;
  ASSERT_TRUE(a.Init(&path, kShared, 0));
  ASSERT_TRUE(b.Init(&path, kShared, 0));
  ASSERT_TRUE(b.IsDistant());
  EXPECT_EQ(b.GetChunkSize(), kChunk);
  Changes seen;
  seen.Watch(&b);

  // Nothing changed yet: no call, nothing stale.
  b.BeginExclusive();
  b.EndExclusive();
  EXPECT_EQ(seen.calls, 0);
  EXPECT_FALSE(b.IsRangeChanged(0, 10 * kChunk));

  a.BeginExclusive();
  WriteAt(&a, 3 * kChunk + 10, "xy");           // chunk 3
  WriteAt(&a, 6 * kChunk - 1, std::string(2, 'z'));  // chunks 5 and 6
  a.EndExclusive();
  EXPECT_FALSE(a.IsRangeChanged(0, 10 * kChunk));  // its own writes are not news to it

  b.BeginExclusive();
  EXPECT_EQ(seen.calls, 1);
  EXPECT_FALSE(seen.everything);
  EXPECT_FALSE(b.IsRangeChanged(0, 3 * kChunk));
  EXPECT_TRUE(b.IsRangeChanged(3 * kChunk, 1));
  EXPECT_TRUE(b.IsRangeChanged(3 * kChunk - 1, 2));
  EXPECT_FALSE(b.IsRangeChanged(4 * kChunk, kChunk));
  EXPECT_TRUE(b.IsRangeChanged(5 * kChunk + 100, 1));
  EXPECT_TRUE(b.IsRangeChanged(6 * kChunk, 1));
  EXPECT_FALSE(b.IsRangeChanged(7 * kChunk, 3 * kChunk));
  // Reading a part of a chunk does not refresh it; reading it whole does.
  EXPECT_EQ(ReadAt(&b, 3 * kChunk + 10, 2), "xy");
  EXPECT_TRUE(b.IsRangeChanged(3 * kChunk, 1));
  ReadAt(&b, 3 * kChunk, kChunk);
  EXPECT_FALSE(b.IsRangeChanged(3 * kChunk, kChunk));
  // Writing a chunk whole refreshes it too.
  WriteAt(&b, 5 * kChunk, std::string(2 * kChunk, 'b'));
  EXPECT_FALSE(b.IsRangeChanged(5 * kChunk, 2 * kChunk));
  b.EndExclusive();

  // b's writes reach a, and a second Begin without news calls nothing.
  Changes seenByA;
  seenByA.Watch(&a);
  a.BeginExclusive();
  EXPECT_EQ(seenByA.calls, 1);
  EXPECT_TRUE(a.IsRangeChanged(5 * kChunk, 1));
  EXPECT_FALSE(a.IsRangeChanged(3 * kChunk, 1));
  a.EndExclusive();
  a.BeginExclusive();
  a.EndExclusive();
  EXPECT_EQ(seenByA.calls, 1);
}

TEST_F(DistantTest, WritesOutsideTheBracketAndSizeChangesArePublished) {
  const ZorFsa path = dir.MakeFsa("f", std::string(4 * kChunk, 'a'));
  ZorStdStream b;
  ASSERT_TRUE(b.Init(&path, kShared, 0));
  ZorDelegate::Thunk thunk = [](void* o, int32_t arg) { *static_cast<int32_t*>(o) = arg + 10; };
  int32_t delegateArg = 0;
  ZorDelegate d(&delegateArg, thunk);
  b.Command(ZorStmCmdSetChangeCallback, &d, nullptr, nullptr, nullptr);
  {
    ZorStdStream a;
    ASSERT_TRUE(a.Init(&path, kShared, 0));
    WriteAt(&a, 2 * kChunk, "q");  // outside any bracket: published at close
    a.BeginExclusive();
    a.SetSize(kChunk + 5);          // chunks 1 to 3 change
    a.EndExclusive();
  }
  b.BeginExclusive();
  EXPECT_EQ(delegateArg, 10);  // called with 0: only some ranges
  EXPECT_FALSE(b.IsRangeChanged(0, kChunk));
  EXPECT_TRUE(b.IsRangeChanged(kChunk + 4, 1));
  EXPECT_TRUE(b.IsRangeChanged(3 * kChunk, 1));
  // A read that reaches the end refreshes the chunk in which the file ends.
  EXPECT_EQ(ReadAt(&b, kChunk, 3 * kChunk).size(), 5u);
  EXPECT_FALSE(b.IsRangeChanged(kChunk, kChunk));
  b.EndExclusive();
}

TEST_F(DistantTest, WrappedResetOrDamagedLogMeansEverything) {
  const ZorFsa path = dir.MakeFsa("f", std::string(4 * kChunk, 'a'));
  const std::string log = dir.File("f.zsl");
  ZorStdStream a, b;
  ASSERT_TRUE(a.Init(&path, kShared, 0));
  ASSERT_TRUE(b.Init(&path, kShared, 0));
  Changes seen;
  seen.Watch(&b);

  // More publications than the log holds: b cannot know which.
  for (int i = 0; i < 1100; ++i) {
    a.BeginExclusive();
    WriteAt(&a, 0, "x");
    a.EndExclusive();
  }
  b.BeginExclusive();
  EXPECT_TRUE(seen.everything);
  EXPECT_TRUE(b.IsRangeChanged(1000 * kChunk, 1));  // past the end too
  ReadAt(&b, 0, 4 * kChunk);
  EXPECT_FALSE(b.IsRangeChanged(0, 4 * kChunk));
  b.EndExclusive();

  // Too many separate runs in one publication: one "everything" entry.
  a.BeginExclusive();
  for (int i = 0; i < 600; ++i) WriteAt(&a, static_cast<uint64_t>(i) * 2 * kChunk, "y");
  a.EndExclusive();
  b.BeginExclusive();
  EXPECT_FALSE(seen.everything);
  EXPECT_TRUE(b.IsRangeChanged(kChunk, 1));  // never written, but covered by the entry
  b.EndExclusive();

  // A damaged log is reset by the next writer: a new generation.
  { std::ofstream(log, std::ios::binary | std::ios::in | std::ios::out) << "garbage!"; }
  a.BeginExclusive();
  WriteAt(&a, 0, "z");
  a.EndExclusive();
  seen.everything = false;
  b.BeginExclusive();
  EXPECT_TRUE(seen.everything);
  b.EndExclusive();
}

TEST_F(DistantTest, ReadersShareTheBracketAndWritersExcludeThem) {
  const ZorFsa path = dir.MakeFsa("f", "data");
  ZorStdStream r1, r2, w;
  ASSERT_TRUE(r1.Init(&path, ZorPermRead | ZorShareReadWrite, 0));
  ASSERT_TRUE(r2.Init(&path, ZorPermRead | ZorShareReadWrite, 0));
  r1.BeginExclusive();
  r2.BeginExclusive();  // would block forever if readers excluded each other
  r2.EndExclusive();
  ASSERT_TRUE(w.Init(&path, kShared, 0));
  // A writer waits for the reader: checked from a child, which must still be
  // blocked after a while.
  const pid_t pid = fork();
  if (pid == 0) {
    ZorStdStream cw;
    cw.Init(&path, kShared, 0);
    cw.BeginExclusive();
    _exit(0);
  }
  usleep(100000);
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0);
  r1.EndExclusive();
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(DistantTest, LocalFilesAreNotDistantWithoutTheSwitchAndTheLogGoesWithTheFile) {
  const ZorFsa path = dir.MakeFsa("f", "data");
  {
    ZorStdStream s;
    ASSERT_TRUE(s.Init(&path, kShared, ZorStmDeleteOnClose));
    EXPECT_EQ(access(dir.File("f.zsl").c_str(), F_OK), 0);
  }
  EXPECT_NE(access(dir.File("f").c_str(), F_OK), 0);
  EXPECT_NE(access(dir.File("f.zsl").c_str(), F_OK), 0);
  ZorSetForceDistant(false);
  const ZorFsa local = dir.MakeFsa("g", "data");
  ZorStdStream s;
  ASSERT_TRUE(s.Init(&local, kShared, 0));
  EXPECT_FALSE(s.IsDistant());
  EXPECT_FALSE(s.IsRangeChanged(0, 4));
  s.BeginExclusive();  // still brackets, without a log
  s.EndExclusive();
  EXPECT_NE(access(dir.File("g.zsl").c_str(), F_OK), 0);
}
