// The local-file stream: share modes and byte-range locks between processes,
// reads and writes against an in-memory model, asynchronous mode, opening by
// ZorOpenStream and the stream helpers.
#include <zorvane/exception.h>
#include <zorvane/file_commands.h>
#include <zorvane/stream.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <string>

#include "platform/env.h"
#include "support/stream_model.h"
#include "support/temp_files.h"
#include "support/test_util.h"

using namespace zorvane;
using zortest::ReadFile;
using zortest::RunInChild;
using zortest::TempDir;
using zorvane::test::ErrorOf;

namespace {

eZorStreamPerm Perm(uint32_t access, uint32_t share) { return static_cast<eZorStreamPerm>(access | share); }

// What Windows decides for a second open while a first one is open: each
// opener's sharing must allow the other's access.
bool SharingAllows(uint32_t share, uint32_t access) {
  if (share == ZorShareReadWrite) return true;
  return share == ZorShareRead && access == ZorPermRead;
}

// 0: opened; otherwise the error number raised.
int TryOpen(const ZorFsa& path, eZorStreamPerm perm) {
  ZorStdStream s;
  const int64_t err = ErrorOf([&] { s.Init(&path, perm, 0); });
  return ZorErrNumber(err);
}

constexpr uint32_t kAccesses[] = {ZorPermRead, ZorPermReadWrite};
constexpr uint32_t kShares[] = {ZorShareExclusive, ZorShareRead, ZorShareReadWrite};

}  // namespace

// ---------------------------------------------------------------- share modes

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

// ---------------------------------------------------------------- byte-range locks

// Locks are per open file description: another stream of the same process
// conflicts, and closing another descriptor of the file keeps them.
TEST(StdStreamLock, ConflictsBetweenOpenersAndRelease) {
  TempDir dir;
  const std::string file = dir.Make("f", std::string(1000, 'x'));
  const ZorFsa path = dir.Fsa("f");
  const eZorStreamPerm shared = Perm(ZorPermReadWrite, ZorShareReadWrite);
  ZorStdStream s, other;
  ASSERT_TRUE(s.Init(&path, shared, 0));
  s.Lock(100, 50);
  close(open(file.c_str(), O_RDONLY));  // classic process-wide locks would vanish here
  {
    ZorStdStream t;
    ASSERT_TRUE(t.Init(&path, shared, 0));
  }
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

// ---------------------------------------------------------------- opening

// What cannot be opened, with the error and the path it names. A FIFO would
// block the open until a writer came: the alarm ends a hanging test instead
// of waiting for ever.
TEST(StdStreamOpen, RefusedOpensAndWhatIsNotARegularFile) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  dir.Make("f", "abc");
  const ZorFsa fifo = dir.Fsa("fifo"), device("/dev/null"), file = dir.Fsa("f"), copy = dir.Fsa("copy");
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
  EXPECT_EQ(ZorOpenStream(&fifo, ZorPermRead, &guard, ZorStmNoRaise), nullptr);
  EXPECT_EQ(ZorOpenStream(&missing, ZorPermRead, &guard, ZorStmNoRaise), nullptr);
  alarm(0);
  EXPECT_FALSE(guard.IsInit());
  EXPECT_FALSE(ZorFsaCmd(&copy).Exists());

  const ZorFsa path = dir.Fsa("f");
  ZorStdStream s;
  EXPECT_FALSE(s.Init(&path, static_cast<eZorStreamPerm>(2), 0));
  EXPECT_FALSE(s.Init(&path, static_cast<eZorStreamPerm>(0x30), 0));
  EXPECT_FALSE(s.IsInit());
  ASSERT_TRUE(s.Init(&path, Perm(ZorPermRead, ZorShareRead), 0));
  EXPECT_TRUE(s.IsReadOnly());
  EXPECT_EQ(ErrorOf([&] { s.Write("x", 1); }), ZorErr(-1, 5));
  EXPECT_EQ(ErrorOf([&] { s.SetSize(0); }), ZorErr(-1, 5));
  EXPECT_EQ(ErrorOf([&] { s.Seek(-1, ZorSeekSet); }), ZorErr(-1, 87));
}

TEST(StdStreamOpen, GuardOwnsTheStreamAndTheLastUnlockCloses) {
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
}

TEST(StdStreamOpen, DeleteOnCloseAndDescriptor) {
  TempDir dir;
  const std::string file = dir.Make("f", "abc");
  const ZorFsa path = dir.Fsa("f");
  ZorStdStream s;
  ASSERT_TRUE(s.Init(&path, Perm(ZorPermReadWrite, ZorShareExclusive), ZorStmDeleteOnClose | ZorStmTemporary));
  EXPECT_GE(s.Command(ZorStmCmdGetDescriptor, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_FALSE(s.IsDistant());
  EXPECT_EQ(s.GetChunkSize(), 0u);
  s.Flush();
  EXPECT_EQ(access(file.c_str(), F_OK), 0);
  s.Close();
  EXPECT_NE(access(file.c_str(), F_OK), 0);
}

// ---------------------------------------------------------------- data

// The system may transfer fewer bytes than asked (signals, network file
// systems): here it never moves more than 7 at a time.
struct ShortTransfers : platform::EnvWrapper {
  ShortTransfers() : EnvWrapper(&platform::CurrentEnv()) {}
  int Read(int fd, void* b, size_t n, size_t* d) override { return EnvWrapper::Read(fd, b, std::min<size_t>(n, 7), d); }
  int PRead(int fd, void* b, size_t n, uint64_t o, size_t* d) override {
    return EnvWrapper::PRead(fd, b, std::min<size_t>(n, 7), o, d);
  }
  int Write(int fd, const void* b, size_t n, size_t* d) override { return EnvWrapper::Write(fd, b, std::min<size_t>(n, 7), d); }
  int PWrite(int fd, const void* b, size_t n, uint64_t o, size_t* d) override {
    return EnvWrapper::PWrite(fd, b, std::min<size_t>(n, 7), o, d);
  }
};

TEST(StdStreamData, RandomOperationsMatchAModel) {
  TempDir dir;
  const std::string file = dir.Make("f");
  const ZorFsa path = dir.Fsa("f");
  ShortTransfers env;
  platform::ScopedEnv scope(&env);
  ZorStdStream s;
  ASSERT_TRUE(s.Init(&path, Perm(ZorPermReadWrite, ZorShareExclusive), 0));
  const std::string model = zortest::Exercise(&s, "", 12345, 300);
  s.Flush();
  EXPECT_EQ(ReadFile(file), model);
}

TEST(StdStreamData, HandleAndTextHelpers) {
  TempDir dir;
  const std::string file = dir.Make("f", "0123456789");
  const ZorFsa path = dir.Fsa("f");
  ZorLock guard;
  iZorStream* s = ZorOpenStream(&path, Perm(ZorPermReadWrite, ZorShareExclusive), &guard, 0);
  ZorHandle h;
  EXPECT_EQ(ZorReadHandle(s, &h, 3, 4), 4);
  EXPECT_EQ(std::string(static_cast<char*>(h.GetDatas()), h.GetSize()), "3456");
  EXPECT_EQ(ZorReadHandle(s, &h, -1, -1), 3);  // the rest, from the current position
  EXPECT_EQ(std::string(static_cast<char*>(h.GetDatas()), h.GetSize()), "789");
  EXPECT_EQ(ZorReadHandle(s, &h, 8, 10), 2);  // short at the end
  EXPECT_EQ(h.GetSize(), 2u);

  h.Init("AB", 2);
  ZorWriteHandle(s, &h, 4, false);
  ZorWriteString(s, "cd", -1);
  ZorWriteString(s, "efgh", 1);
  ZorWriteString(s, "zz", 0);
  EXPECT_EQ(ReadFile(file), "0123ABcde9");
  ZorWriteHandle(s, &h, 1, true);
  EXPECT_EQ(ReadFile(file), "0AB");

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

// ---------------------------------------------------------------- asynchronous mode

TEST(StdStreamAsync, KeptPositionAndRecordedSize) {
  TempDir dir;
  const std::string file = dir.Make("f", std::string(50, 'a'));
  const ZorFsa path = dir.Fsa("f");
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
  ASSERT_EQ(truncate(file.c_str(), 500), 0);
  EXPECT_EQ(s.GetSize(), 100u);
  s.Close();
  EXPECT_EQ(ReadFile(file).size(), 100u);

  ZorStdStream r;
  ASSERT_TRUE(r.Init(&path, Perm(ZorPermRead, ZorShareRead), ZorStmAsync));
  EXPECT_NE(r.GetFlags() & ZorStmReadAhead, 0u);
}

TEST(StdStreamAsync, LargeFilesReadAndWrittenWithTheBackgroundThread) {
  TempDir dir;
  std::string data(9 << 20, '\0');
  std::mt19937 rng(99);
  for (size_t i = 0; i < data.size(); i += 4) data[i] = static_cast<char>(rng());
  const std::string file = dir.Make("big", data);
  const ZorFsa path = dir.Fsa("big");
  {
    ZorStdStream r;
    ASSERT_TRUE(r.Init(&path, Perm(ZorPermRead, ZorShareRead), ZorStmAsync));
    std::string back(data.size(), '\0');
    for (size_t off = 0; off < back.size(); off += 65536) ASSERT_EQ(r.Read(&back[off], 65536), 65536u);
    EXPECT_EQ(r.Read(&back[0], 1), 0u);
    EXPECT_TRUE(back == data);
  }
  {
    ZorStdStream w;
    ASSERT_TRUE(w.Init(&path, Perm(ZorPermReadWrite, ZorShareExclusive), ZorStmAsync));
    std::reverse(data.begin(), data.end());
    for (size_t off = 0; off < data.size(); off += 100000)
      w.Write(&data[off], static_cast<uint32_t>(std::min<size_t>(100000, data.size() - off)));
    w.Flush();
  }
  EXPECT_TRUE(ReadFile(file) == data);
}
