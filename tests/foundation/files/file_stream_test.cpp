// Streams over files: the local-file stream (share modes and locks between
// processes, opening, data, asynchronous mode, helpers), shared ("distant")
// files whose changes are reported chunk by chunk, and the buffered stream
// with the fault-injecting test stream it runs on.
#include <zorvane/exception.h>
#include <zorvane/file_commands.h>
#include <zorvane/stream.h>
#include <zorvane/stream_cache.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>

#include "platform/env.h"
#include "support/fault_stream.h"
#include "support/stream_model.h"
#include "support/temp_files.h"
#include "support/test_util.h"

using namespace zorvane;
using zortest::Exercise, zortest::FaultStream, zortest::ReadFile, zortest::RunInChild, zortest::TempDir;
using zorvane::test::BytesOf, zorvane::test::ErrorOf;

namespace {

eZorStreamPerm Perm(uint32_t access, uint32_t share) { return static_cast<eZorStreamPerm>(access | share); }

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

// What Windows decides for a second open while a first one is open: each
// opener's sharing must allow the other's access.
bool SharingAllows(uint32_t share, uint32_t access) {
  if (share == ZorShareReadWrite) return true;
  return share == ZorShareRead && access == ZorPermRead;
}

// 0: opened; otherwise the error number raised.
int TryOpen(const ZorFsa& path, eZorStreamPerm perm) {
  ZorStdStream s;
  return ZorErrNumber(ErrorOf([&] { s.Init(&path, perm, 0); }));
}

constexpr uint32_t kAccesses[] = {ZorPermRead, ZorPermReadWrite};
constexpr uint32_t kShares[] = {ZorShareExclusive, ZorShareRead, ZorShareReadWrite};

}  // namespace

// Each round opens anew: a share mode left behind by the previous round's
// stream would refuse its first open.
TEST(StdStreamShare, MatrixBetweenProcessesAndWithinOne) {
  TempDir dir;
  const ZorFsa path = dir.MakeFsa("f", "data");
  for (uint32_t a1 : kAccesses)
    for (uint32_t s1 : kShares)
      for (uint32_t a2 : kAccesses)
        for (uint32_t s2 : kShares) {
          ZorStdStream first;
          ASSERT_TRUE(first.Init(&path, Perm(a1, s1), 0));
          const int expected = SharingAllows(s1, a2) && SharingAllows(s2, a1) ? 0 : 32;
          SCOPED_TRACE(testing::Message() << "first " << (a1 | s1) << " second " << (a2 | s2));
          EXPECT_EQ(RunInChild([&] { return TryOpen(path, Perm(a2, s2)); }), expected);
          EXPECT_EQ(TryOpen(path, Perm(a2, s2)), expected);
        }
}

TEST(StdStreamShare, RacingExclusiveOpenersNeverBothWin) {
  TempDir dir;
  const ZorFsa path = dir.MakeFsa("f");
  // Each child repeatedly opens exclusively and checks that nobody else is
  // inside (a marker file created with O_EXCL while holding the file).
  const std::string marker = dir.File("inside");
  auto worker = [&] {
    for (int i = 0; i < 40; ++i) {
      ZorStdStream s;
      if (!s.Init(&path, Perm(ZorPermReadWrite, ZorShareExclusive), ZorStmNoRaise)) continue;
      const int fd = open(marker.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
      if (fd < 0) return 1;
      close(fd);
      usleep(200);
      unlink(marker.c_str());
    }
    return 0;
  };
  pid_t pids[3];
  for (pid_t& pid : pids) {
    pid = fork();
    if (pid == 0) _exit(worker());
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
}

// Locks are per open file description: another stream of the same process
// conflicts, and closing another descriptor of the file keeps them.
TEST(StdStreamLock, ConflictsBetweenOpenersAndRelease) {
  TempDir dir;
  const ZorFsa path = dir.MakeFsa("f", std::string(1000, 'x'));
  const eZorStreamPerm shared = Perm(ZorPermReadWrite, ZorShareReadWrite);
  ZorStdStream s, other;
  ASSERT_TRUE(s.Init(&path, shared, 0));
  s.Lock(100, 50);
  close(open(dir.File("f").c_str(), O_RDONLY));  // classic process-wide locks would vanish here
  ASSERT_TRUE(ZorStdStream().Init(&path, shared, 0));  // nor may closing another stream drop them
  auto childLock = [&](int64_t off, uint32_t len) {
    return RunInChild([&] {
      ZorStdStream t;
      t.Init(&path, shared, 0);
      return ZorErrNumber(ErrorOf([&] { t.Lock(off, len); }));
    });
  };
  EXPECT_EQ(childLock(120, 10), 33);
  EXPECT_EQ(childLock(90, 11), 33);    // overlaps the first byte
  EXPECT_EQ(childLock(149, 1), 33);    // the last byte
  EXPECT_EQ(childLock(150, 10), 0);    // just after
  EXPECT_EQ(childLock(90, 10), 0);     // just before
  ASSERT_TRUE(other.Init(&path, shared, 0));
  EXPECT_EQ(ZorErrNumber(ErrorOf([&] { other.Lock(140, 20); })), 33);
  s.UnLock(100, 50);
  EXPECT_EQ(childLock(120, 10), 0);
  EXPECT_EQ(ErrorOf([&] { other.Lock(140, 20); }), 0);
}

// What cannot be opened, with the error and the path it names. A FIFO would
// block the open until a writer came: the alarm ends a hanging test instead
// of waiting for ever.
TEST(StdStreamOpen, RefusedOpensAndWhatIsNotARegularFile) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  const ZorFsa fifo = dir.Fsa("fifo"), device("/dev/null"), file = dir.MakeFsa("f", "abc"), copy = dir.Fsa("copy");
  const ZorFsa missing = dir.Fsa("missing"), inMissingDir = dir.Fsa("nodir/f"), folder(dir.Path().c_str());
  const ZorFsa web("!Htp!www.example.org/f");  // no file service behind it
  ZorLock guard;
  const std::tuple<const char*, int64_t, const ZorFsa*, std::function<void()>> cases[] = {
      {"missing", ZorErr(-1, 2), &missing, [&] { ZorOpenStream(&missing, ZorPermRead, &guard, 0); }},
      {"missing dir", ZorErr(-1, 3), &inMissingDir, [&] { ZorOpenStream(&inMissingDir, ZorPermRead, &guard, 0); }},
      {"web", ZorErr(1, 87), &web, [&] { ZorOpenStream(&web, ZorPermRead, &guard, 0); }},
      {"directory", ZorErr(-1, 5), &folder, [&] { ZorOpenStream(&folder, ZorPermRead, &guard, 0); }},
      {"read", ZorErr(-1, 1), &fifo, [&] { ZorOpenStream(&fifo, ZorPermRead, &guard, 0); }},
      {"read/write", ZorErr(-1, 1), &fifo, [&] { ZorOpenStream(&fifo, Perm(ZorPermReadWrite, ZorShareRead), &guard, 0); }},
      {"device", ZorErr(-1, 1), &device, [&] { ZorOpenStream(&device, ZorPermRead, &guard, 0); }},
      {"emptied", ZorErr(-1, 1), &fifo, [&] { ZorFsaCmd(&fifo).Create_File(ZorFsaCreateAlways); }},
      {"copied from", ZorErr(-1, 1), &fifo, [&] { ZorFsaCmd::Copy(&fifo, &copy); }},
      {"copied onto", ZorErr(-1, 1), &fifo, [&] { ZorFsaCmd::Copy(&file, &fifo, ZorFsaCopyReplace); }},
      {"compared", ZorErr(-1, 1), &fifo, [&] { ZorFsaCmd::S_CompareFile(&file, &fifo); }},
  };
  alarm(20);
  for (const auto& [name, code, path, open] : cases) {
    ZorFsa where;
    EXPECT_EQ(ErrorOf(open, &where), code) << name;
    EXPECT_EQ(where, *path) << name;
  }
  try {
    ZorOpenStream(&web, ZorPermRead, &guard, 0);
  } catch (const ZorEBasic& e) {
    EXPECT_STREQ(e.GetMsgText(), "Le service de fichiers du serveur est absent : le fichier distant est inaccessible.");
  }
  EXPECT_EQ(ZorOpenStream(&fifo, ZorPermRead, &guard, ZorStmNoRaise), nullptr);
  EXPECT_EQ(ZorOpenStream(&missing, ZorPermRead, &guard, ZorStmNoRaise), nullptr);
  alarm(0);
  EXPECT_FALSE(guard.IsInit());
  EXPECT_FALSE(ZorFsaCmd(&copy).Exists());

  ZorStdStream s;
  EXPECT_FALSE(s.Init(&file, static_cast<eZorStreamPerm>(2), 0));
  EXPECT_FALSE(s.Init(&file, static_cast<eZorStreamPerm>(0x30), 0));
  EXPECT_FALSE(s.IsInit());
  ASSERT_TRUE(s.Init(&file, Perm(ZorPermRead, ZorShareRead), 0));
  EXPECT_TRUE(s.IsReadOnly());
  EXPECT_EQ(ErrorOf([&] { s.Write("x", 1); }), ZorErr(-1, 5));
  EXPECT_EQ(ErrorOf([&] { s.SetSize(0); }), ZorErr(-1, 5));
  EXPECT_EQ(ErrorOf([&] { s.Seek(-1, ZorSeekSet); }), ZorErr(-1, 87));
}

TEST(StdStreamOpen, GuardOwnsTheStreamTheLastUnlockClosesAndDeleteOnClose) {
  TempDir dir;
  const ZorFsa path = dir.MakeFsa("f", "abc");
  const eZorStreamPerm excl = Perm(ZorPermReadWrite, ZorShareExclusive);
  {
    ZorLock guard;
    iZorStream* s = ZorOpenStream(&path, excl, &guard, 0);
    ASSERT_NE(s, nullptr);
    ZorLock extra;
    EXPECT_EQ(s->Lock(&extra), s);
    guard.Trash();
    EXPECT_EQ(TryOpen(path, excl), 32);  // still pinned by the second lock
    char buf[3];
    EXPECT_EQ(s->Read(buf, 3), 3u);
    extra.Trash();
    EXPECT_EQ(TryOpen(path, excl), 0);
  }
  // Without a guard the caller's Unlock releases it.
  iZorStream* s = ZorOpenStream(&path, excl, nullptr, 0);
  EXPECT_EQ(TryOpen(path, excl), 32);
  s->Unlock();
  EXPECT_EQ(TryOpen(path, excl), 0);

  SCOPED_TRACE("delete on close");
  ZorStdStream d;
  ASSERT_TRUE(d.Init(&path, excl, ZorStmDeleteOnClose | ZorStmTemporary));
  EXPECT_GE(d.Command(ZorStmCmdGetDescriptor, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_FALSE(d.IsDistant());
  EXPECT_EQ(d.GetChunkSize(), 0u);
  d.Flush();
  EXPECT_EQ(access(dir.File("f").c_str(), F_OK), 0);
  d.Close();
  EXPECT_NE(access(dir.File("f").c_str(), F_OK), 0);
}

// The system may transfer fewer bytes than asked (signals, network file
// systems): here it never moves more than 7 at a time.
struct ShortTransfers : platform::EnvWrapper {
  ShortTransfers() : EnvWrapper(&platform::CurrentEnv()) {}
  static size_t Cap(size_t n) { return std::min<size_t>(n, 7); }
  int Read(int fd, void* b, size_t n, size_t* d) override { return EnvWrapper::Read(fd, b, Cap(n), d); }
  int PRead(int fd, void* b, size_t n, uint64_t o, size_t* d) override { return EnvWrapper::PRead(fd, b, Cap(n), o, d); }
  int Write(int fd, const void* b, size_t n, size_t* d) override { return EnvWrapper::Write(fd, b, Cap(n), d); }
  int PWrite(int fd, const void* b, size_t n, uint64_t o, size_t* d) override {
    return EnvWrapper::PWrite(fd, b, Cap(n), o, d);
  }
};

TEST(StdStreamData, RandomOperationsMatchAModel) {
  TempDir dir;
  const ZorFsa path = dir.MakeFsa("f");
  ShortTransfers env;
  platform::ScopedEnv scope(&env);
  ZorStdStream s;
  ASSERT_TRUE(s.Init(&path, Perm(ZorPermReadWrite, ZorShareExclusive), 0));
  const std::string model = zortest::Exercise(&s, "", 12345, 300);
  s.Flush();
  EXPECT_EQ(ReadFile(dir.File("f")), model);
}

TEST(StdStreamData, HandleAndTextHelpers) {
  TempDir dir;
  const ZorFsa path = dir.MakeFsa("f", "0123456789");
  ZorLock guard;
  iZorStream* s = ZorOpenStream(&path, Perm(ZorPermReadWrite, ZorShareExclusive), &guard, 0);
  ZorHandle h;
  EXPECT_EQ(ZorReadHandle(s, &h, 3, 4), 4);
  EXPECT_EQ(BytesOf(h), "3456");
  EXPECT_EQ(ZorReadHandle(s, &h, -1, -1), 3);  // the rest, from the current position
  EXPECT_EQ(BytesOf(h), "789");
  EXPECT_EQ(ZorReadHandle(s, &h, 8, 10), 2);  // short at the end
  EXPECT_EQ(h.GetSize(), 2u);

  h.Init("AB", 2);
  ZorWriteHandle(s, &h, 4, false);
  ZorWriteString(s, "cd", -1);
  ZorWriteString(s, "efgh", 1);
  ZorWriteString(s, "zz", 0);
  EXPECT_EQ(ReadFile(dir.File("f")), "0123ABcde9");
  ZorWriteHandle(s, &h, 1, true);
  EXPECT_EQ(ReadFile(dir.File("f")), "0AB");

  const ZorFsa copyPath = dir.MakeFsa("g");
  ZorLock copyGuard;
  iZorStream* c = ZorOpenStream(&copyPath, Perm(ZorPermReadWrite, ZorShareExclusive), &copyGuard, 0);
  std::string big(3 << 20, '\0');
  std::mt19937 rng(7);
  for (char& ch : big) ch = static_cast<char>(rng());
  s->Seek(0, ZorSeekSet);
  s->Write(big.data(), static_cast<uint32_t>(big.size()));
  s->Seek(5, ZorSeekSet);
  EXPECT_EQ(ZorCopyS2L(s, c, 1000), 1000);
  EXPECT_EQ(ZorCopyS2L(s, c, -1), static_cast<int64_t>(big.size() - 1005));
  EXPECT_EQ(ReadFile(dir.File("g")), big.substr(5));
}

TEST(StdStreamAsync, KeptPositionRecordedSizeAndLargeFilesWithTheBackgroundThread) {
  TempDir dir;
  const ZorFsa path = dir.MakeFsa("f", std::string(50, 'a'));
  ZorStdStream s;
  ASSERT_TRUE(s.Init(&path, Perm(ZorPermReadWrite, ZorShareRead), ZorStmAsync));
  EXPECT_EQ(s.GetFlags() & ZorStmReadAhead, 0u);
  EXPECT_EQ(s.Seek(10, ZorSeekSet), 10u);
  EXPECT_EQ(s.Seek(5, ZorSeekCur), 15u);
  EXPECT_EQ(s.Seek(-3, ZorSeekEnd), 15u);  // from the end leaves the position
  s.Seek(90, ZorSeekSet);
  s.Write("0123456789", 10);
  EXPECT_EQ(s.GetPosition(), 100u);
  EXPECT_EQ(s.GetSize(), 100u);
  // Someone else grows the file: closing sets it back to the recorded size.
  ASSERT_EQ(truncate(dir.File("f").c_str(), 500), 0);
  EXPECT_EQ(s.GetSize(), 100u);
  s.Close();
  EXPECT_EQ(ReadFile(dir.File("f")).size(), 100u);

  ZorStdStream r;
  ASSERT_TRUE(r.Init(&path, Perm(ZorPermRead, ZorShareRead), ZorStmAsync));
  EXPECT_NE(r.GetFlags() & ZorStmReadAhead, 0u);

  SCOPED_TRACE("large files");
  std::string data(9 << 20, '\0');
  std::mt19937 rng(99);
  for (size_t i = 0; i < data.size(); i += 4) data[i] = static_cast<char>(rng());
  const ZorFsa bigPath = dir.MakeFsa("big", data);
  {
    ZorStdStream r;
    ASSERT_TRUE(r.Init(&bigPath, Perm(ZorPermRead, ZorShareRead), ZorStmAsync));
    std::string back(data.size(), '\0');
    for (size_t off = 0; off < back.size(); off += 65536) ASSERT_EQ(r.Read(&back[off], 65536), 65536u);
    EXPECT_EQ(r.Read(&back[0], 1), 0u);
    EXPECT_TRUE(back == data);
  }
  {
    ZorStdStream w;
    ASSERT_TRUE(w.Init(&bigPath, Perm(ZorPermReadWrite, ZorShareExclusive), ZorStmAsync));
    std::reverse(data.begin(), data.end());
    for (size_t off = 0; off < data.size(); off += 100000)
      w.Write(&data[off], static_cast<uint32_t>(std::min<size_t>(100000, data.size() - off)));
    w.Flush();
  }
  EXPECT_TRUE(ReadFile(dir.File("big")) == data);
}

namespace {

constexpr uint32_t kChunk = 4096;
const eZorStreamPerm kShared = ZorPermReadWrite | ZorShareReadWrite;

class DistantTest : public testing::Test {
 protected:
  void SetUp() override { ZorSetForceDistant(true); }
  void TearDown() override { ZorSetForceDistant(false); }

  TempDir dir;
};

// Keeps what the last change callback of a stream said.
struct Changes {
  bool everything = false;
  static void Fn(void* context, iZorStream*, bool all) { static_cast<Changes*>(context)->everything = all; }
  void Watch(iZorStream* s) { s->Command(ZorStmCmdSetChangeCallback, nullptr, reinterpret_cast<void*>(&Fn), this, nullptr); }
};

}  // namespace

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

// The armed fault is what the crash tests of the block file rely on: it
// fires once, at the chosen call, and leaves the image untouched.
TEST(FaultStream, ArmedFaultFiresOnceWithoutEffect) {
  FaultStream s("abc");
  s.FailAt(FaultStream::Op::kWrite, 2, ZorErr(-1, 112));
  WriteAt(&s, 0, "x");
  EXPECT_THROW(WriteAt(&s, 1, "y"), ZorEBasic);
  EXPECT_TRUE(s.Fired());
  EXPECT_EQ(s.Image(), "xbc");
  WriteAt(&s, 1, "y");
  EXPECT_EQ(s.Image(), "xyc");
}

// Every byte after a cut is one the disk could hold: the flushed byte, a byte
// some unflushed write put at that place, or a zero of a size change.
TEST(FaultStream, PowerCutKeepsFlushedDataAndOnlyWrittenBytes) {
  std::set<std::string> outcomes;
  for (uint32_t seed = 0; seed < 60; ++seed) {
    std::mt19937 rng(seed);
    std::string base(4096, '\0');
    for (char& c : base) c = static_cast<char>('a' + rng() % 26);
    FaultStream s(base);
    std::vector<std::string> possible(8192);
    for (size_t i = 0; i < base.size(); ++i) possible[i] += base[i];
    bool resized = false;
    for (int w = 0; w < 6; ++w) {
      if (rng() % 5 == 0) {
        s.SetSize(3000 + rng() % 3000);
        resized = true;
        continue;
      }
      const uint64_t off = rng() % 5000;
      std::string data(1 + rng() % 1500, static_cast<char>('0' + w));
      WriteAt(&s, off, data);
      for (size_t i = 0; i < data.size(); ++i) possible[off + i] += data[i];
    }
    const std::string cut = s.PowerCut(seed);
    EXPECT_EQ(s.Durable(), cut);
    EXPECT_TRUE(resized || cut.size() >= base.size());
    for (size_t i = 0; i < cut.size(); ++i)
      ASSERT_TRUE(possible[i].find(cut[i]) != std::string::npos || cut[i] == '\0') << "seed " << seed << " byte " << i;
    outcomes.insert(cut);
  }
  EXPECT_GT(outcomes.size(), 45u);
}

TEST(StreamCache, RandomOperationsOverAHandleAndAFile) {
  ZorHandle h;
  h.Init("hello", 5);
  {
    ZorStreamCache cache;
    cache.Init(&h, 512);
    const std::string model = Exercise(&cache, "hello", 9, 512);
    cache.Close();
    EXPECT_EQ(BytesOf(h), model);
  }
  zortest::TempDir dir;
  const ZorFsa path = dir.MakeFsa("f", "file");
  ZorStreamCache cache;
  ASSERT_TRUE(cache.Init(&path, ZorPermReadWrite | ZorShareExclusive, 0));
  const std::string model = Exercise(&cache, "file", 11, ZorStreamCache::kDefaultWindow);
  cache.Close();
  EXPECT_TRUE(zortest::ReadFile(dir.File("f")) == model);
  const ZorFsa missing = dir.Fsa("missing");
  EXPECT_FALSE(cache.Init(&missing, ZorPermRead, ZorStmNoRaise));
}

TEST(StreamCache, UnopenedCacheRefusesAndSmallWritesReachTheStreamTogether) {
  FaultStream inner;
  ZorStreamCache cache;
  char c;
  EXPECT_EQ(ErrorOf([&] { cache.Read(&c, 1); }), ZorErr(-1, 6));  // invalid handle
  cache.Init(&inner, 4096);
  for (int i = 0; i < 1000; ++i) cache.Write("abcd", 4);
  EXPECT_TRUE(inner.Writes().empty());
  cache.Flush();
  // 4000 bytes in one window: one write.
  EXPECT_EQ(inner.Writes(), (std::vector<FaultStream::WriteRecord>{{0, 4000}}));
  EXPECT_EQ(inner.BytesWritten(), 4000u);
}

TEST(StreamCache, ExclusiveAccessDropsTheWindow) {
  FaultStream inner(std::string(100, 'a'));
  inner.SetDistant(true, 4096);
  ZorStreamCache cache;
  cache.Init(&inner, 4096);
  char c;
  cache.Read(&c, 1);
  inner.ForeignWrite(50, "Z");
  cache.Seek(50, ZorSeekSet);
  cache.Read(&c, 1);
  EXPECT_EQ(c, 'a');  // the window is older than the change
  EXPECT_TRUE(cache.IsRangeChanged(50, 1));
  cache.BeginExclusive();
  cache.Seek(50, ZorSeekSet);
  cache.Read(&c, 1);
  EXPECT_EQ(c, 'Z');
  cache.Seek(0, ZorSeekSet);
  cache.Write("W", 1);
  cache.EndExclusive();  // passes the write on before the end of the bracket
  EXPECT_EQ(inner.Image()[0], 'W');
}
