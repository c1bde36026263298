// Block files shared by several processes.
//
// Two kinds of tests. On the fault-injecting stream, a "peer" is a block
// file on its own in-memory image; what one peer commits reaches the other
// as a foreign write of exactly the bytes that differ, which is how the
// distant stream reports another process's work. This makes revalidation
// and differential writes deterministic and observable write by write. On
// real files forced distant, forked processes share one file through the
// local-file stream's bracket and change log (ZorBfStress and two small
// workloads of their own).
#include <zorvane/block_file_stress.h>
#include <zorvane/stream.h>
#include <zorvane/string.h>
#include <zorvane/verification.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support/block_file_kit.h"

using namespace zorvane;
using namespace zortest;
using zorvane::test::BytesOf;
using zorvane::test::HandleOf;

namespace {

std::string FreshImage() {
  FaultStream s;
  ZorBFile::CreateOnStream(&s, kKitType, kKitSignature, "distant");
  return s.Image();
}

// One process: a block file over its own image of the shared file.
struct Peer : TestFile<> {
  Peer(const std::string& image, int32_t flags, uint32_t chunk = 4096, int32_t cache = -1) {
    file.Close(ZorBfCloseAbandon);
    stream.SetImage(image);
    stream.SetDistant(true, chunk);
    Open(flags, cache);
  }
};

// What `from` committed reaches `to` as another process's writes: every run
// of differing bytes, and the growth of the file.
void Propagate(const Peer& from, Peer* to) {
  const std::string& a = from.stream.Image();
  const std::string b = to->stream.Image();
  ASSERT_GE(a.size(), b.size());
  for (size_t i = 0; i < a.size();) {
    if (i < b.size() && a[i] == b[i]) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < a.size() && (j >= b.size() || a[j] != b[j])) ++j;
    to->stream.ForeignWrite(i, a.substr(i, j - i));
    i = j;
  }
}

// Only the outermost transaction takes the stream's bracket (reads inside
// take none; a local file's reads none at all); the open marker belongs to
// local files only.
TEST(BFileDistantWrite, OutermostTransactionsAreBracketedByTheStream) {
  Peer p(FreshImage(), 0);
  EXPECT_TRUE(p.file.IsDistant());
  p.stream.ClearRecords();
  for (int depth : {1, 2}) {
    p.file.StartTransaction();
    EXPECT_EQ(1, p.stream.BracketDepth()) << depth;
  }
  p.Read(p.Create("shared"));
  EXPECT_EQ(1, p.stream.Brackets());
  TestFile<> local;
  local.stream.ClearRecords();
  local.Read(local.Create("local"));
  EXPECT_EQ(0, local.stream.Brackets());
  p.file.EndTransaction();
  EXPECT_EQ(1, p.stream.BracketDepth());
  p.file.EndTransaction();
  EXPECT_EQ(0, p.stream.BracketDepth());
  EXPECT_EQ(0u, Le32(p.stream.Image(), kZorBfHdrState) & kZorBfStateOpenMarker);
}

// ------------------------------------------------------------ differential writes

// A block at a known place, committed, with the stream's records cleared.
struct OneBlock {
  explicit OneBlock(uint32_t size, uint32_t chunk = 4096, int32_t flags = 0)
      : peer(FreshImage(), flags, chunk), content(Pattern(size, size)) {
    id = peer.Create(content);
    peer.stream.ClearRecords();
  }
  uint64_t Pos() { return EntryAt(peer.stream.Image(), id).pos; }
  Peer peer;
  std::string content;
  int32_t id = 0;
};

TEST(BFileDistantWrite, UnchangedRewriteWritesNothingAndLeavesTheBlockClean) {
  OneBlock b(50000);
  b.peer.file.StartTransaction();
  ZorHandle h;
  b.peer.file.BRead(b.id, &h);
  b.peer.file.BWrite(b.id, 0);
  EXPECT_EQ(b.peer.file.GetDirtyCount(), 0);
  b.peer.Write(b.id, b.content);  // a copy of the same bytes
  EXPECT_EQ(b.peer.file.GetDirtyCount(), 0);
  b.peer.file.EndTransaction();
  EXPECT_TRUE(b.peer.stream.Writes().empty());
  // One byte, the last one, is enough to make it dirty.
  b.peer.file.StartTransaction();
  static_cast<char*>(h.GetDatas())[49999] ^= 1;
  b.peer.file.BWrite(b.id, 0);
  EXPECT_EQ(b.peer.file.GetDirtyCount(), 1);
  b.peer.file.EndTransaction();
}

// The chunk of a one-byte change, as the stream's preferred size makes it.
class BFileDistantChunk : public ::testing::TestWithParam<std::pair<uint32_t, uint32_t>> {};

TEST_P(BFileDistantChunk, OneChangedByteWritesTheAlignedChunkHoldingIt) {
  const auto [preferred, expected] = GetParam();
  OneBlock b(200000, preferred);
  const uint64_t pos = b.Pos();
  for (const uint64_t offset : {uint64_t{0}, uint64_t{70001}, uint64_t{199999}}) {
    b.peer.stream.ClearRecords();
    std::string changed = b.peer.Read(b.id);
    changed[offset] ^= 0x5A;
    b.peer.Write(b.id, changed);
    const uint64_t at = pos + offset;
    const uint64_t from = std::max(pos, at / expected * expected);
    const uint64_t to = std::min(pos + 200000, (at / expected + 1) * expected);
    std::vector<FaultStream::WriteRecord> data;
    for (const auto& w : b.peer.stream.Writes())
      if (w.offset >= pos && w.offset < pos + 200000) data.push_back(w);
    ASSERT_EQ(data.size(), 1u) << "offset " << offset;
    EXPECT_EQ(data[0].offset, from);
    EXPECT_EQ(data[0].length, to - from);
    EXPECT_TRUE(b.peer.stream.Image().substr(pos, 200000) == changed);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BFileDistantChunk,
                         ::testing::Values(std::make_pair(0u, 2048u), std::make_pair(512u, 1024u),
                                           std::make_pair(1024u, 1024u), std::make_pair(4096u, 4096u),
                                           std::make_pair(32768u, 32768u), std::make_pair(65536u, 32768u)));

// ------------------------------------------------------------ revalidation

// Another process changed the first byte of a block in place (header and
// directory unchanged): that block leaves the cache, the other cached one,
// in another chunk, stays.
TEST(BFileDistantRevalidate, OnlyTheBlockWhoseBytesChangedLeavesTheCache) {
  const std::string image = FreshImage();
  Peer a(image, 0), b(image, 0);
  std::string changed = Pattern(8000, 1);
  const int32_t one = a.Create(changed), two = a.Create(Pattern(3000, 2));
  Propagate(a, &b);
  changed[0] ^= 1;
  b.Write(one, changed);
  Propagate(b, &a);
  ASSERT_EQ(2, a.file.GetCacheCount());
  a.file.StartTransaction();
  EXPECT_EQ(1, a.file.GetCacheCount());
  EXPECT_EQ(changed, a.Read(one));
  EXPECT_EQ(Pattern(3000, 2), a.Read(two));
  a.file.EndTransaction();
}

// A flush that fails after the bracket brought in another process's work
// rolls back to that work, not to what this process last committed: the
// next transaction (which the stream has no news for) must not reuse the
// other's block.
TEST(BFileDistantRevalidate, AFailedFlushRollsBackToWhatTheBracketRead) {
  for (const int32_t flags : {0, static_cast<int32_t>(ZorBfOpenCopyOnWrite)}) {
    const std::string image = FreshImage();
    Peer a(image, flags), b(image, flags);
    const int32_t theirs = a.Create(Pattern(5000, 1));
    Propagate(a, &b);
    b.file.StartTransaction();
    b.Create(Pattern(700, 2));
    b.stream.FailAt(FaultStream::Op::kWrite, 1);
    EXPECT_THROW(b.file.EndTransaction(), ZorEBasic) << flags;
    b.stream.Disarm();
    b.Create(Pattern(5000, 3));
    EXPECT_TRUE(Pattern(5000, 1) == b.Read(theirs)) << flags;
    ZorVerif v;
    v.Init(false);
    EXPECT_TRUE(b.file.CheckCrossBlock(&v)) << flags;
  }
}

// Model-based: two processes alternate transactions of the kit's workload
// on one file; every few transactions both must show exactly the committed
// state (the other one through the revalidation of a read outside a
// transaction), and a block one of them holds shows the committed bytes
// after the holder's next bracket.
//                           create shared copy dup del multi range retag tags flag uncache purge read compact empty
const Mix kDistantMix =    {30,    25,    15,  5,  12, 2,    0,    3,    0,   0,   3,      2,    5,   0,       0};

class BFileDistantModel : public ::testing::TestWithParam<std::tuple<int32_t, uint32_t, int32_t>> {};

TEST_P(BFileDistantModel, TwoProcessesAlternatingRandomTransactions) {
  const auto [flags, chunk, cache] = GetParam();
  const std::string image = FreshImage();
  Peer a(image, flags, chunk, cache), b(image, flags, chunk, cache);
  Peer* peers[2] = {&a, &b};
  Workload work(static_cast<uint32_t>(flags) + chunk + static_cast<uint32_t>(cache));
  ZorHandle held[2];
  int32_t heldId[2] = {0, 0};
  std::string heldBytes[2];
  for (int step = 0; step < 120; ++step) {
    const int x = static_cast<int>(work.rng() % 2);
    Peer* p = peers[x];
    Peer* other = peers[1 - x];
    // The bracket revalidates what p holds: re-read in place (the same
    // record) while the block exists, else let go with the bytes it had.
    if (heldId[x]) {
      p->file.StartTransaction();
      const auto it = work.model.find(heldId[x]);
      ASSERT_EQ(BytesOf(held[x]), it != work.model.end() ? it->second.bytes : heldBytes[x])
          << "step " << step << " id " << heldId[x];
      ZorHandle again;
      if (it != work.model.end()) p->file.BRead(heldId[x], &again);
      ASSERT_TRUE(it == work.model.end() || again.GetRecord() == held[x].GetRecord()) << "step " << step;
      p->file.EndTransaction();
    }
    heldId[x] = 0;
    held[x].Trash();
    p->file.StartTransaction();
    for (int n = 1 + static_cast<int>(work.rng() % 4); n > 0; --n) work.Step(p->file, kDistantMix);
    p->file.EndTransaction();
    ASSERT_FALSE(HasFatalFailure()) << work.Log();
    Propagate(*p, other);
    if (!work.model.empty() && work.rng() % 3 == 0) {
      heldId[1 - x] = work.Pick();
      other->file.BRead(heldId[1 - x], &held[1 - x]);
      heldBytes[1 - x] = work.model.at(heldId[1 - x]).bytes;
    }
    if (step % 10 == 9) {
      ASSERT_TRUE(SameBlocks(ReadAll(a.file), work.model)) << "a at step " << step;
      ASSERT_TRUE(SameBlocks(ReadAll(b.file), work.model)) << "b at step " << step;
    }
  }
  EXPECT_EQ(CheckFaults(a.file), "");
}

INSTANTIATE_TEST_SUITE_P(Variants, BFileDistantModel,
                         ::testing::Values(std::make_tuple(0, 4096u, -1), std::make_tuple(ZorBfOpenCopyOnWrite, 0u, 6),
                                           std::make_tuple(0, 1024u, 6)));

// ------------------------------------------------------------ dead writers

// A process that dies inside its bracket after writing published nothing:
// the mark it left in the change log tells everyone that everything may
// have changed, also those that take the bracket after the mark is gone.
TEST(BFileDistantStream, WriterKilledInsideItsBracketMeansEverythingToTheOthers) {
  TempDir dir;
  ZorSetForceDistant(true);
  dir.Make("f", std::string(4 * 4096, 'a'));
  const ZorFsa path = dir.Fsa("f");
  const eZorStreamPerm shared = ZorPermReadWrite | ZorShareReadWrite;
  struct Seen {
    int calls = 0;
    bool everything = false;
    static void Fn(void* c, iZorStream*, bool all) {
      static_cast<Seen*>(c)->calls++;
      static_cast<Seen*>(c)->everything = all;
    }
  } seenB, seenC;
  ZorStdStream b, c;
  ASSERT_TRUE(b.Init(&path, shared, 0));
  ASSERT_TRUE(c.Init(&path, shared, 0));
  b.Command(ZorStmCmdSetChangeCallback, nullptr, reinterpret_cast<void*>(&Seen::Fn), &seenB, nullptr);
  c.Command(ZorStmCmdSetChangeCallback, nullptr, reinterpret_cast<void*>(&Seen::Fn), &seenC, nullptr);

  // A writer in a child process writes one byte inside its bracket, then
  // leaves the bracket or dies inside it.
  auto writer = [&](uint64_t at, bool dies) {
    return RunInChild([&] {
      ZorStdStream a;
      a.Init(&path, shared, 0);
      a.BeginExclusive();
      a.Seek(static_cast<int64_t>(at), ZorSeekSet);
      a.Write("x", 1);
      if (dies) kill(getpid(), SIGKILL);
      a.EndExclusive();
      return 0;
    });
  };
  // A clean writer: only what it wrote is news.
  ASSERT_EQ(writer(5000, false), 0);
  b.BeginExclusive();
  EXPECT_EQ(seenB.calls, 1);
  EXPECT_FALSE(seenB.everything);
  EXPECT_FALSE(b.IsRangeChanged(3 * 4096, 1));
  b.EndExclusive();

  EXPECT_EQ(writer(9000, true), -1);
  b.BeginExclusive();
  EXPECT_EQ(seenB.calls, 2);
  EXPECT_TRUE(seenB.everything);
  EXPECT_TRUE(b.IsRangeChanged(9000, 1));
  b.EndExclusive();
  c.BeginExclusive();  // after b cleared the mark
  EXPECT_TRUE(seenC.everything);
  c.EndExclusive();
  b.BeginExclusive();  // and once cleared, quiet again
  EXPECT_EQ(seenB.calls, 2);
  b.EndExclusive();
  b.Close();
  c.Close();
  ZorSetForceDistant(false);
}

// Bytes a dead writer appended past the end the directory knows are cut
// off by the next opening before it appends, so no lost space remains.
TEST(BFileDistantStream, AnOpeningCutsADeadWritersTailBeforeAppending) {
  TempDir dir;
  const ZorFsa path = dir.Fsa("s.zbf");
  ZorBFile::Create(&path, kKitType, kKitSignature, "dead tail", ZorFsaCreateAlways);
  ZorSetForceDistant(true);
  const int killed = RunInChild([&] {
    ZorStdStream a;
    a.Init(&path, ZorPermReadWrite | ZorShareReadWrite, 0);
    a.BeginExclusive();
    const std::string garbage(70000, 'g');
    a.Seek(static_cast<int64_t>(a.GetSize()), ZorSeekSet);
    a.Write(garbage.data(), static_cast<uint32_t>(garbage.size()));
    kill(getpid(), SIGKILL);
    return 0;
  });
  EXPECT_EQ(killed, -1);
  ZorBFile f;
  f.Open(&path, ZorPermReadWrite, ZorShareReadWrite, ZorBfOpenCopyOnWrite | ZorBfOpenNoFlush, 8, kKitType,
         kKitSignature);
  ZorHandle h = HandleOf(Pattern(3000, 7));
  f.BCreate(&h, 1, 1, 0, true);
  EXPECT_TRUE(f.CheckLostSpace(nullptr));
  f.Close(ZorBfCloseNormal);
  ZorSetForceDistant(false);
}

// ------------------------------------------------------------ processes

// ZorBfStress runs: every transaction serialised, every block intact. A
// process killed inside its transaction leaves it undecided; one killed at
// a random moment, flush included, may leave lost space (see
// zorvane/block_file_stress.h) and nothing else.
TEST(BFileDistantProcesses, SharedByForkedProcesses) {
  constexpr int32_t kCow = ZorBfOpenCopyOnWrite | ZorBfOpenNoFlush;
  // The options in their order: processes, transactions, open flags, cache,
  // seed (the kill time when there is one), force distant, killed process,
  // transaction it dies in, kill time, random kills.
  struct Case {
    sZorBfStressOptions opt;
    int64_t counter;  // -1: what was committed
  };
  const Case cases[] = {
      {{4, 500, kCow, -1, 1, true, 0, 0, -1, 0}, 2000},
      {{3, 60, 0, 5, 1, true, 0, 0, -1, 0}, 180},  // in place, OS flushes, evictions inside transactions
      {{3, 150, kCow, 8, 1, true, 2, 40, -1, 0}, 2 * 150 + 39},
      {{3, 200, kCow, 8, 0, true, 1, 0, 0, 0}, -1},  // killed at once
      {{3, 200, kCow, 8, 60, true, 1, 0, 60, 0}, -1},
      {{3, 200, kCow, 8, 170, true, 1, 0, 170, 0}, -1},
      {{3, 200, kCow, 8, 330, true, 1, 0, 330, 0}, -1},
  };
  TempDir dir;
  for (const auto& [opt, counter] : cases) {
    SCOPED_TRACE(std::to_string(opt.processes) + " processes, killed " + std::to_string(opt.killProcess));
    const ZorFsa path = dir.Fsa("shared.zbf");
    sZorBfStressResult r;
    ZorVerif report;
    report.Init(false);
    string text;
    ZorBfStress(&path, &opt, &r, &report);
    EXPECT_EQ(r.discrepancies, opt.killAfterMs >= 0 ? r.lostSpaceFaults : 0) << report.GetText(&text);
    EXPECT_EQ(r.counter, counter >= 0 ? counter : r.committed);
    EXPECT_EQ(r.undecided, opt.killInTransaction ? 1 : r.undecided);
    if (opt.killAfterMs <= 0) { EXPECT_EQ(r.killed, opt.killProcess ? 1 : 0); }  // the later kills may come too late
    EXPECT_TRUE(r.serialised);
    const std::string blocksLine = "Blocs marqu\xe9s intacts : " + std::to_string(r.blocksVerified) + ",";
    EXPECT_NE(std::string(report.GetText(&text)).find(blocksLine), std::string::npos) << report.GetText(&text);
  }
}

// A reader that never writes sees whole transactions: a block rewritten in
// place by the writer is never read half old, half new, and the counter the
// header carries never goes back.
TEST(BFileDistantProcesses, ReaderOutsideTransactionsSeesWholeTransactions) {
  TempDir dir;
  const ZorFsa path = dir.Fsa("reader.zbf");
  ZorSetForceDistant(true);
  ZorBFile::Create(&path, kKitType, kKitSignature, "reader", ZorFsaCreateAlways);
  {
    ZorBFile f;
    f.Open(&path, ZorPermReadWrite, ZorShareReadWrite, 0, -1, kKitType, kKitSignature);
    ASSERT_EQ(f.BCreate(nullptr, 1, 1, 200000, true), 1);
    f.Close(ZorBfCloseNormal);
  }
  constexpr int kRounds = 300;
  const pid_t writer = fork();
  if (writer == 0) {
    int rc = 0;
    try {
      ZorBFile f;
      f.Open(&path, ZorPermReadWrite, ZorShareReadWrite, ZorBfOpenNoFlush, -1, kKitType, kKitSignature);
      for (int v = 1; v <= kRounds; ++v) {
        f.StartTransaction();
        // The same size every time: rewritten in place, chunk by chunk.
        ZorHandle h;
        h.Init(150000);
        memset(h.GetDatas(), v & 0xFF, 150000);
        f.BWriteCopy(1, &h, 0);
        f.SetUserData(0, v);
        f.EndTransaction();
      }
      f.Close(ZorBfCloseNormal);
    } catch (...) {
      rc = 1;
    }
    _exit(rc);
  }
  int torn = 0, backwards = 0, reads = 0;
  {
    ZorBFile f;
    f.Open(&path, ZorPermRead, ZorShareReadWrite, 0, -1, kKitType, kKitSignature);
    int last = 0;
    int status = 0;
    while (waitpid(writer, &status, WNOHANG) == 0 || reads == 0) {
      ZorHandle h;
      f.BReadCopy(1, &h);
      ++reads;
      const auto* p = static_cast<const uint8_t*>(h.GetDatas());
      for (uint32_t i = 1; i < h.GetSize(); ++i)
        if (p[i] != p[0]) {
          ++torn;
          break;
        }
      const int v = f.GetUserData(0);
      if (v < last) ++backwards;
      last = v;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(f.GetUserData(0), kRounds);
    f.Close(ZorBfCloseNormal);
  }
  ZorSetForceDistant(false);
  EXPECT_GT(reads, 1);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(backwards, 0);
}

}  // namespace
