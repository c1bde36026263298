// ZorBFile: one pinned example per rule of the block file (the stored
// format, opening and closing, the safety counters, placement and free-space
// reuse, transactions and the order of writes, directory growth, the cache)
// and every error code from a real trigger.
//
// What random sequences check (contents, counts, enumerations, the image
// after each step) is the model test's; crash safety is the power-cut
// test's. Most tests here run on the in-memory fault stream, which records
// each write; the format is read with the kit's own decoder.
#include <zorvane/file_commands.h>
#include <zorvane/messages_bus.h>
#include <zorvane/purger.h>
#include <zorvane/string.h>
#include <zorvane/verification.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "storage/block_file/block_file_impl.h"
#include "support/block_file_kit.h"
#include "support/working_set.h"

using namespace zorvane;
using namespace zortest;
using zorvane::test::BytesOf;
using zorvane::test::ErrorOf;
using zorvane::test::HandleOf;

namespace {

using MemFile = TestFile<>;

// ------------------------------------------------------------ format

TEST(BFileFormat, NewFileIsExactly25600BytesWithItsHeader) {
  FaultStream s;
  ZorBFile::CreateOnStream(&s, 0x12345678, -5, "created by test");
  const std::string& img = s.Image();
  ASSERT_EQ(25600u, img.size());
  EXPECT_EQ("ZorBFile", img.substr(0, 8));
  // Offset 44, the identifier, is random.
  const std::pair<size_t, uint32_t> fields[] = {{8, 1},  {12, 0}, {16, 0}, {20, 0},          {24, 25600},      {28, 0},
                                                {32, 0}, {36, 0}, {40, 0x12345678}, {48, uint32_t(-5)}, {52, 0}};
  for (const auto& [at, value] : fields) EXPECT_EQ(value, Le32(img, at)) << at;
  EXPECT_EQ(std::string("created by test") + std::string(21, '\0'), img.substr(56, 36));
  EXPECT_TRUE(img.substr(92) == std::string(25600 - 92, '\0'));
}

// ------------------------------------------------------------ open, close

TEST(BFileOpen, UpdateCounterGrowsOncePerOpeningAndMarkerClearsAtNormalClose) {
  MemFile m;
  EXPECT_EQ(1u, Le64(m.stream.Image(), 32));
  EXPECT_EQ(4u, Le32(m.stream.Image(), 16));
  m.Create("a");
  m.Create("b");
  EXPECT_EQ(1u, Le64(m.stream.Image(), 32));
  m.file.Close(ZorBfCloseNormal);
  EXPECT_EQ(0u, Le32(m.stream.Image(), 16));
  m.file.OpenOnStream(&m.stream, nullptr, 0, -1, -1, -1);
  EXPECT_EQ(2u, Le64(m.stream.Image(), 32));
  EXPECT_EQ(2u, m.file.GetUpdateCounter());
  m.file.EmptyFile(false);
  EXPECT_EQ(2u, m.file.GetUpdateCounter());
  m.file.EmptyFile(true);  // resets it
  EXPECT_EQ(0u, m.file.GetUpdateCounter());
  m.file.Close(ZorBfCloseNormal);
  // The destructor closes as the open flags say.
  for (int32_t flags : {int32_t{ZorBfOpenCloseNormal}, 0}) {
    {
      ZorBFile f;
      f.OpenOnStream(&m.stream, nullptr, flags, -1, -1, -1);
    }
    EXPECT_EQ(flags ? 0u : 4u, Le32(m.stream.Image(), 16));
  }
}

// With "ZorCheckBadOpen" at 0 the bad open is counted, the close not marked bad.
TEST(BFileOpen, MarkerLeftSetCountsABadOpenAndABadClose) {
  for (int32_t check : {1, 0}) {
    MemFile m;
    m.file.Close(ZorBfCloseAbandon);
    EXPECT_EQ(4u, Le32(m.stream.Image(), 16));
    ZorSetCheckBadOpen(check);
    m.Open();
    ZorSetCheckBadOpen(1);
    EXPECT_EQ(1, m.file.BadOpenCount(false));
    EXPECT_EQ(1u, Le32(m.stream.Image(), 20));
    EXPECT_EQ(check ? 6u : 4u, Le32(m.stream.Image(), 16));
    EXPECT_EQ(check != 0, m.file.IsBadClose(true));
    EXPECT_FALSE(m.file.IsBadClose(false));
    EXPECT_EQ(1, m.file.BadOpenCount(true));
    EXPECT_EQ(0, m.file.BadOpenCount(false));
    EXPECT_EQ(4u, Le32(m.stream.Image(), 16));
    EXPECT_EQ(0u, Le32(m.stream.Image(), 20));
  }
}

TEST(BFileOpen, TolerantOpenAcceptsVersionCrashTypeAndSignature) {
  MemFile m;
  m.Create("x");
  m.file.Close(ZorBfCloseNormal);
  m.Patch32(8, 9);
  m.Patch32(12, 1);
  ZorBFile f;
  f.OpenOnStream(&m.stream, nullptr, ZorBfOpenTolerant, -1, 1234, 5678);
  EXPECT_EQ(1, f.GetCrashFlag(false));
  EXPECT_EQ(1, f.GetCrashFlag(true));
  EXPECT_EQ(0, f.GetCrashFlag(false));
  f.Close(ZorBfCloseNormal);
  EXPECT_EQ(0u, Le32(m.stream.Image(), 12));
}

TEST(BFileOpen, HugeDirectoryCountIsRefusedWithoutAllocating) {
  MemFile m;
  m.file.Close(ZorBfCloseNormal);
  m.Patch32(28, 0x7FFFF);
  EXPECT_LIB_ERROR(32, m.Open());
  m.Open(ZorBfOpenTolerant);
  EXPECT_EQ((25600 - 980) / 24, m.file.GetNbBlock(nullptr, nullptr));
}

// A file cut inside its directory: the tolerant opening reads what is left
// and keeps the recorded count; nothing may add an entry (which would
// shorten the count unreported) until the repair of CheckDir has said what
// it dropped.
TEST(BFileOpen, ACutDirectoryIsShortenedOnlyByTheReportedRepair) {
  MemFile m;
  for (int i = 0; i < 3; ++i) m.Create("x");
  m.file.Close(ZorBfCloseNormal);
  m.SetImage(m.stream.Image().substr(0, 980 + 24 + 10));
  m.Open(ZorBfOpenTolerant);
  EXPECT_EQ(3u, DirCount(m.stream.Image()));
  EXPECT_EQ(3u, m.file.GetRecordedDirCount());
  EXPECT_LIB_ERROR(32, m.file.BCreate(nullptr, 1, 1, 0, true));
  ZorVerif v;
  v.Init(true, 0);
  EXPECT_FALSE(m.file.CheckDir(&v));
  EXPECT_EQ(1, v.GetNbItem(kZorVerifRepaired));
  EXPECT_EQ(2, m.file.BCreate(nullptr, 1, 1, 0, true));
  m.file.Close(ZorBfCloseNormal);
  EXPECT_EQ(2u, DirCount(m.stream.Image()));
}

TEST(BFileOpen, AbsurdBlockExtentIsAnErrorNotACrash) {
  MemFile m;
  const int32_t id = m.Create("abc");
  m.file.Close(ZorBfCloseNormal);
  m.Patch32(980 + 8, 0x7FFFFFF0);  // size
  m.Patch32(980 + 4, 0x7FFFFFF0);  // capacity
  m.Open(ZorBfOpenTolerant);
  ZorHandle h;
  EXPECT_LIB_ERROR(32, m.file.BRead(id, &h));
}

TEST(BFileOpen, AFreeExtentPastTheEndIsNeverWrittenInto) {
  MemFile m;
  m.Create("a");
  m.file.Close(ZorBfCloseNormal);
  // Entry 2: free, at 1 TiB - 4 KiB, capacity 4 KiB.
  const uint64_t pos = (uint64_t(1) << 40) - 4096;
  std::string img = m.stream.Image(), entry(24, '\0');
  PutLe32(&entry, 0, static_cast<uint32_t>(pos));
  PutLe32(&entry, 4, 4096);
  entry[22] = 1;
  entry[23] = static_cast<char>(pos >> 32);
  img.replace(980 + 24, 24, entry);
  PutLe32(&img, 28, 2);
  m.SetImage(img);
  m.Open(ZorBfOpenTolerant);
  const int32_t id = m.Create(std::string(4096, 'q'));
  m.Reopen(ZorBfOpenTolerant);
  EXPECT_EQ(std::string(4096, 'q'), m.Read(id));
  EXPECT_LT(m.stream.Image().size(), 40000u);
}

// ------------------------------------------------------------ Is

// In this order: missing file, magic, type and signature, crash counter,
// version.
TEST(BFileIs, ReportsEachFailureInOrder) {
  TempDir dir;
  ZorFsa missing = dir.Fsa("missing.zbf"), path = dir.Fsa("f.zbf");
  EXPECT_EQ(ZorErr(1, 41), ZorBFile::Is(&missing, false, -1, -1));
  EXPECT_EQ(ZorErr(1, 1000), ZorBFile::Is(&missing, true, -1, -1));  // shown, then 1000
  ZorBFile::Create(&path, 2, 3, nullptr, ZorFsaCreateAlways);
  EXPECT_EQ(25600u, ReadFile(dir.File("f.zbf")).size());
  int32_t type = 0, sig = 0;
  int64_t counter = -1;
  EXPECT_EQ(0, ZorBFile::Is(&path, false, 2, 3, &type, &sig, &counter));
  EXPECT_EQ(2, type);
  EXPECT_EQ(3, sig);
  EXPECT_EQ(0, counter);
  EXPECT_EQ(ZorErr(1, 36), ZorBFile::Is(&path, false, 4, -1));
  EXPECT_EQ(ZorErr(1, 36), ZorBFile::Is(&path, false, 2, 4));
  // Each patch stays: the later ones must win over the earlier.
  const struct {
    size_t at;
    uint32_t value;
    int32_t code;
  } patches[] = {{8, 2, 33}, {8, 0, 34}, {12, 1, 32}, {0, 0, 36}};
  for (const auto& p : patches) {
    std::string img = ReadFile(dir.File("f.zbf"));
    PutLe32(&img, p.at, p.value);
    dir.Make("f.zbf", img);
    EXPECT_EQ(ZorErr(1, p.code), ZorBFile::Is(&path, false, -1, -1)) << p.at;
  }
  dir.Make("short.zbf", "ZorBFile");
  ZorFsa shortPath = dir.Fsa("short.zbf");
  EXPECT_EQ(ZorErr(1, 36), ZorBFile::Is(&shortPath, false, -1, -1));
}

// ------------------------------------------------------------ blocks

TEST(BFileBlocks, ReserveIsRoundedAsAsked) {
  MemFile plain;
  EXPECT_EQ(1024u, plain.Capacity(plain.file.BCreate(nullptr, 1, 1, 0, true)));
  EXPECT_EQ(1025u, plain.Capacity(plain.file.BCreate(nullptr, 1, 1, 1025, true)));
  MemFile rounded(ZorBfOpenRound1K);
  EXPECT_EQ(2048u, rounded.Capacity(rounded.file.BCreate(nullptr, 1, 1, 1025, true)));
  EXPECT_EQ(1024u, rounded.Capacity(rounded.Create("abc")));
  // An empty block still owns its extent on disk once written.
  EXPECT_EQ(25600u + 2048u + 1024u, rounded.stream.Image().size());
}

// A freed extent of need + excess bytes is taken whole below 65,536 excess
// and split at 65,536.
TEST(BFileBlocks, FreeExtentSplitsOnlyWhen64KiBRemain) {
  for (uint32_t excess : {65535u, 65536u}) {
    MemFile m;
    const int32_t big = m.file.BCreate(nullptr, 1, 1, 1000 + excess, true);
    m.Create("keep the end");
    m.file.BDelete(big);
    EXPECT_EQ(big, m.file.BCreate(nullptr, 2, 2, 1000, true));
    const bool split = excess == 65536u;
    EXPECT_EQ(split ? 1000u : 1000u + excess, m.Capacity(big));
    int32_t withSpace = 0;
    m.file.GetNbBlock(&withSpace, nullptr);
    EXPECT_EQ(split ? 1 : 0, withSpace);
    if (split) {
      m.Reopen();
      EXPECT_EQ((RawEntry{25600 + 1000, excess, 0, 0, 0, 0, ZorBfFlagFree}), EntryAt(m.stream.Image(), 3));
    }
  }
}

TEST(BFileBlocks, BestFitPrefersExactThenSmallestLarger) {
  MemFile m;
  std::vector<int32_t> ids;
  for (uint32_t cap : {5000u, 3000u, 4000u, 3000u, 9000u}) ids.push_back(m.file.BCreate(nullptr, 1, 1, cap, true));
  m.Create("guard");  // the freed extents are not at the end
  for (int32_t id : ids) m.file.BDelete(id);
  EXPECT_EQ(ids[2], m.file.BCreate(nullptr, 1, 1, 4000, true));  // exact
  EXPECT_EQ(ids[1], m.file.BCreate(nullptr, 1, 1, 2000, true));  // first of the smallest larger
  EXPECT_EQ(ids[3], m.file.BCreate(nullptr, 1, 1, 2000, true));
  EXPECT_EQ(ids[0], m.file.BCreate(nullptr, 1, 1, 4500, true));
}

// After a bad close free extents are screened: one over a live block is
// never handed out (the kill test's), one clear of every other still is.
TEST(BFileBlocks, AfterABadCloseAFreeExtentClearOfOthersIsReused) {
  MemFile m;
  m.Create("before");
  const int32_t freed = m.file.BCreate(nullptr, 1, 1, 3000, true);
  m.Create("after");
  m.file.BDelete(freed);
  m.file.Close(ZorBfCloseAbandon);
  m.Open();
  EXPECT_EQ(freed, m.file.BCreate(nullptr, 1, 1, 3000, true));
}

// A deleted extent is free at once, inside a transaction too; under
// copy-on-write it waits for the flush (the directory on disk references it).
TEST(BFileBlocks, ADeletedExtentIsReusableAtOnceWithoutCopyOnWrite) {
  for (int32_t flags : {0, int32_t{ZorBfOpenCopyOnWrite}}) {
    MemFile m(flags);
    const int32_t old = m.file.BCreate(nullptr, 1, 1, 3000, true);
    m.file.StartTransaction();
    m.file.BDelete(old);
    EXPECT_EQ(flags ? old + 1 : old, m.file.BCreate(nullptr, 1, 1, 2000, true)) << flags;
    m.file.EndTransaction();
  }
}

// Reserve 0: the size; 0xFFFFFFFF: the source's capacity; else as given.
TEST(BFileBlocks, DuplicateSizesTheReserve) {
  MemFile m;
  const int32_t src = m.Create("payload", 11, 12, 500);
  EXPECT_EQ(7u, m.Capacity(m.file.BDuplicate(src, ZorBfKeepOwner, ZorBfKeepType, 0)));
  EXPECT_EQ(500u, m.Capacity(m.file.BDuplicate(src, 21, 22, 0xFFFFFFFFu)));
  EXPECT_EQ(4000u, m.Capacity(m.file.BDuplicate(src, 21, ZorBfKeepType, 4000)));
}

// A part comes from the cache or, for a block not cached, from the file
// (and the block stays out of the cache); a range outside the block is none.
TEST(BFileBlocks, PartsOfABlockCachedOrNot) {
  MemFile m;
  const int32_t id = m.Create("0123456789", 3, 4, 0);
  m.Reopen();
  char out[4] = {'x', 'x', 'x', 'x'};
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_TRUE(m.file.BReadPart(id, 6, 4, out));
    EXPECT_EQ(std::string(out, 4), "6789");
    EXPECT_FALSE(m.file.BReadPart(id, 7, 4, out));
    EXPECT_FALSE(m.file.BReadPart(id, 11, 0xFFFFFFFFu, out));
    EXPECT_EQ(m.file.GetCacheCount(), pass);
    ZorHandle h;
    m.file.BRead(id, &h);  // cached for the second pass
  }
}

// ------------------------------------------------------------ writes

TEST(BFileWrite, AnEmptyBlockWithoutCapacityNeverGetsAnExtent) {
  for (int32_t flags : {0, int32_t{ZorBfOpenCopyOnWrite}}) {
    MemFile m(flags);
    const int32_t id = m.Create("abc");
    m.Create("other");
    m.Write(id, "");
    ASSERT_TRUE(m.file.Compact(ZorBfCompactAll, false, false));
    sZorBfBRef e;
    ASSERT_TRUE(m.file.GetEntry(id, &e));
    EXPECT_EQ(0u, e.capacity);
    EXPECT_FALSE(e.HasPos());
    m.file.StartTransaction();
    m.Write(id, "");
    m.file.BUncach(id);
    EXPECT_TRUE(m.file.CheckDir(nullptr));
    m.Write(id, "grown");
    m.file.EndTransaction();
    EXPECT_TRUE(m.file.CheckDir(nullptr));
    m.Reopen(flags);
    EXPECT_EQ("grown", m.Read(id));
  }
}

// ------------------------------------------------------------ transactions

TEST(BFileTransactions, NestingWritesOnceAtTheOutermostEndAndALockGuardIsOneTransaction) {
  MemFile m;
  m.stream.ClearRecords();
  m.file.StartTransaction();
  m.file.StartTransaction();
  m.Create("one");
  m.file.EndTransaction();
  m.Create("two");
  EXPECT_TRUE(m.stream.Writes().empty());
  EXPECT_EQ(1, m.file.CountTransaction());
  m.file.EndTransaction();
  EXPECT_EQ(0, m.file.CountTransaction());
  EXPECT_EQ(1, m.stream.Flushes());
  EXPECT_EQ(2u, DirCount(m.stream.Image()));
  m.stream.ClearRecords();
  {
    ZorLock guard;
    m.file.Lock(&guard);
    m.Create("a");
    m.Create("b");
    EXPECT_EQ(1, m.file.CountTransaction());
  }
  EXPECT_EQ(0, m.file.CountTransaction());
  EXPECT_EQ(1, m.stream.Flushes());
}

// A failed write raises and rolls its transaction back; a guard released
// while unwinding reports the failure without raising a second time.
TEST(BFileTransactions, AFailedFlushRollsBackAndAGuardNeverThrowsASecondTime) {
  MemFile m;
  const int32_t id = m.Create("before");
  m.stream.FailAt(FaultStream::Op::kWrite, 1);
  EXPECT_EQ(ZorErr(-1, 112), ErrorOf([&] { m.Write(id, "after!"); }));
  EXPECT_EQ(0, m.file.CountTransaction());
  EXPECT_EQ("before", m.Read(id));
  // Same on a normal exit: the failure is reported, not raised, and the
  // transaction is rolled back.
  for (bool unwinding : {true, false}) {
    try {
      ZorLock guard;
      m.file.Lock(&guard);
      m.Write(id, "after");
      m.stream.FailAt(FaultStream::Op::kWrite, 1);
      if (unwinding) throw std::runtime_error("the caller's own failure");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(m.stream.Fired()) << unwinding;
    if (unwinding) { EXPECT_EQ(0, m.file.CountTransaction()); }
  }
  EXPECT_EQ(0, m.file.GetDirtyCount());
  m.file.StartTransaction();
  m.file.EndTransaction();
  m.Reopen();
  EXPECT_EQ("before", m.Read(id));
}

TEST(BFileTransactions, FlushOrderIsDataAscendingThenDirectoryThenHeaderThenSync) {
  TestFile<DurableStream> r;
  for (uint32_t i = 0; i < 6; ++i) r.Create(Pattern(2000, i));
  r.stream.Start();
  r.file.StartTransaction();
  for (int32_t i : {5, 2, 6, 1}) r.Write(i, Pattern(1500, 40u + static_cast<uint32_t>(i)));
  r.Create("new block");
  r.file.EndTransaction();
  const auto& w = r.stream.Writes();
  ASSERT_EQ(4u + 1u + 2u, w.size());
  for (size_t i = 1; i < 5; ++i) EXPECT_LT(w[i - 1].offset, w[i].offset);
  EXPECT_GE(w[0].offset, 25600u);
  EXPECT_EQ((FaultStream::WriteRecord{980, 7 * 24}), w[5]);  // entries 1..7 in one write
  EXPECT_EQ((FaultStream::WriteRecord{0, 980}), w[6]);
  EXPECT_EQ(std::vector<size_t>{7}, r.stream.flushAfter);
}

TEST(BFileTransactions, AdjacentAppendedBlocksGoOutInFewWrites) {
  MemFile r;
  r.stream.ClearRecords();
  r.file.StartTransaction();
  for (int i = 0; i < 200; ++i) r.Create(Pattern(100 + static_cast<size_t>(i) * 13, 3));
  r.Create(Pattern(300000, 4));  // larger than one gathered write
  r.file.EndTransaction();
  const auto& w = r.stream.Writes();
  EXPECT_LE(w.size(), 2u + 2u + 2u);
  for (size_t i = 1; i + 2 < w.size(); ++i) EXPECT_EQ(w[i - 1].offset + w[i - 1].length, w[i].offset);
}

// Asking a file for its size can make the next flush write its inode too:
// commits that only append never ask, the opening knows the size.
TEST(BFileTransactions, AppendingCommitsNeverAskTheStreamItsSize) {
  for (int32_t flags : {0, int32_t{ZorBfOpenCopyOnWrite}}) {
    TestFile<> r(flags);
    r.Create("first");
    const int asked = r.stream.Count(FaultStream::Op::kGetSize);
    for (uint32_t i = 0; i < 20; ++i) r.Create(Pattern(300 + i * 7, i));
    EXPECT_EQ(asked, r.stream.Count(FaultStream::Op::kGetSize)) << flags;
  }
}

TEST(BFileTransactions, NoFlushFlagSkipsTheSyncAndAnIdleTransactionWritesNothing) {
  TestFile<DurableStream> r(ZorBfOpenNoFlush);
  r.stream.Start();
  r.Create("x");
  EXPECT_TRUE(r.stream.flushAfter.empty());
  TestFile<DurableStream> idle;
  idle.file.StartTransaction();
  idle.file.EndTransaction();  // syncs the header written at the opening
  idle.stream.Start();
  idle.file.StartTransaction();
  idle.file.EndTransaction();
  EXPECT_TRUE(idle.stream.Writes().empty());
  EXPECT_TRUE(idle.stream.flushAfter.empty());
}

// ------------------------------------------------------------ directory growth

TEST(BFileGrowth, The1001stEntryMovesDataStartAndTheBlocksBelowIt) {
  MemFile m;
  Model model;
  m.file.StartTransaction();
  for (uint32_t i = 0; i < 30; ++i) model[m.Create(Pattern(1000, i), 1, 1, 1000)] = Block{1, 1, Pattern(1000, i)};
  for (int i = 30; i < 1000; ++i) model[m.file.BCreate(nullptr, 2, 2, 100, true)] = Block{2, 2, ""};
  m.file.EndTransaction();
  EXPECT_EQ(25600u, DataStart(m.stream.Image()));
  const uint64_t endBefore = m.stream.Image().size();
  model[m.Create("the 1001st")] = Block{1, 1, "the 1001st"};
  const std::string& img = m.stream.Image();
  EXPECT_EQ(49152u, DataStart(img));
  // The block at 48,600 straddled the new data start: the part of its old
  // extent beyond 49,152 stays as free space in a new entry.
  ASSERT_EQ(1002u, DirCount(img));
  EXPECT_EQ((RawEntry{49152, 49600 - 49152, 0, 0, 0, 0, ZorBfFlagFree}), EntryAt(img, 1002));
  // The 24 blocks that started below 49,152 were copied past the old end.
  EXPECT_GE(EntryAt(img, 1).pos, endBefore);
  ExpectImage(img, &model, false);
  m.Reopen();
  EXPECT_TRUE(SameBlocks(ReadAll(m.file), model));
}

TEST(BFileGrowth, TwoThousandEntriesTakeTwoStepsOnly) {
  MemFile m(ZorBfOpenNoFlush);
  for (int t = 0; t < 2; ++t) {
    m.file.StartTransaction();
    for (uint32_t i = 0; i < 1000; ++i) m.Create(Pattern(1000, i));
    m.file.EndTransaction();
  }
  EXPECT_EQ(49152u, m.file.GetDataStart());
  EXPECT_LE(m.file.GetDirCount(), 2000);
  m.Reopen();
  EXPECT_TRUE(m.file.CheckDir(nullptr) && m.file.CheckCrossBlock(nullptr));
}

TEST(BFileGrowth, AFileShorterThanItsDataStartIsExtendedBeforeAppending) {
  MemFile m;
  m.file.Close(ZorBfCloseNormal);
  m.SetImage(m.stream.Image().substr(0, 980));
  m.Open();
  const int32_t id = m.Create("data");
  m.Reopen();
  EXPECT_EQ(25600u, EntryAt(m.stream.Image(), id).pos);
  EXPECT_EQ("data", m.Read(id));
}

TEST(BFileGrowth, The524288thEntryRaises16) {
  const uint32_t count = 524287, dataStart = 12601344;
  MemFile m;
  m.file.Close(ZorBfCloseNormal);
  std::string img = m.stream.Image().substr(0, 980);
  img.resize(dataStart, '\0');
  PutLe32(&img, 24, dataStart);
  PutLe32(&img, 28, count);
  m.SetImage(img);
  m.Open();
  EXPECT_EQ(static_cast<int32_t>(count), m.file.GetDirCount());
  EXPECT_LIB_ERROR(16, m.file.BCreate(nullptr, 1, 1, 0, true));
  m.file.BDelete(7);
  EXPECT_EQ(7, m.file.BCreate(nullptr, 1, 1, 0, true));
}

// ------------------------------------------------------------ copy-on-write

// A killed process stops between writes, never inside one: the header and
// the entries it already counted commit in one write, after the new entries.
TEST(BFileCopyOnWrite, HeaderAndCountedEntriesCommitInOneWrite) {
  TestFile<DurableStream> c(ZorBfOpenCopyOnWrite);
  for (uint32_t i = 0; i < 5; ++i) c.Create(Pattern(500, i));
  c.stream.Start();
  c.file.StartTransaction();
  c.Write(4, Pattern(500, 50));
  c.Create("new");
  c.file.EndTransaction();
  EXPECT_EQ("", c.stream.Violation(c.file.GetDataStart()));
  const auto& w = c.stream.Writes();
  ASSERT_GE(w.size(), 2u);
  EXPECT_EQ((FaultStream::WriteRecord{0, 980u + 5u * 24u}), w.back());  // header + entries 1..5
  EXPECT_TRUE(std::any_of(w.begin(), w.end() - 1, [](const auto& x) { return x.offset == 980 + 5 * 24; }));
}

// A block created after EmptyFile in the same transaction lands after the
// old area, which becomes free space at the flush.
TEST(BFileCopyOnWrite, EmptyFileFreesTheOldAreaAtTheFlush) {
  TestFile<DurableStream> c(ZorBfOpenCopyOnWrite, 8);
  for (uint32_t i = 0; i < 3; ++i) c.Create(Pattern(5000, i));
  c.stream.Start();
  c.file.StartTransaction();
  c.file.EmptyFile(false);
  const int32_t during = c.Create("during");
  c.file.EndTransaction();
  EXPECT_EQ("", c.stream.Violation(c.file.GetDataStart()));
  ExpectImage(c.stream.Image(), nullptr, false);
  EXPECT_EQ(25600u + 15000u, EntryAt(c.stream.Image(), during).pos);
  const int32_t after = c.Create("after");
  EXPECT_EQ(25600u, EntryAt(c.stream.Image(), after).pos);
}

// ------------------------------------------------------------ cache

// The cache raises its limit instead of evicting while evictions come close
// together and the process's resident memory is small: the eviction tests
// hold a large working set so that the outcome does not depend on how much
// memory the test process happens to use.
TEST(BFileCache, EvictionDropsTheOldestCleanBlocksByTheRule) {
  BusyWorkingSet busy;
  MemFile m(0, 6);
  for (uint32_t i = 0; i < 8; ++i) m.Create(Pattern(100, i));
  // Creation shares the callers' handles; uncache to start from nothing.
  m.file.BMultiUncach(ZorBfAnyOwner, ZorBfAnyType);
  EXPECT_EQ(0, m.file.GetCacheCount());
  ZorHandle held;
  m.file.BRead(1, &held);  // referenced outside: never dropped
  for (int32_t id = 2; id <= 6; ++id) m.Read(id);
  EXPECT_EQ(6, m.file.GetCacheCount());
  // count 6, third 2, keep (6 - 2) - 4 / 5 = 4: two clean blocks go, the
  // oldest ones that only the cache holds (2 and 3); then the new one comes in.
  m.Read(7);
  EXPECT_EQ(5, m.file.GetCacheCount());
  EXPECT_EQ(1, m.file.BUsed(1));
  ZorHandle probe;
  m.file.BRead(1, &probe);
  EXPECT_EQ(held.GetDatas(), probe.GetDatas());
  for (int32_t id = 4; id <= 7; ++id) {
    m.file.BRead(id, &probe);
    EXPECT_EQ(5, m.file.GetCacheCount()) << "block " << id << " was dropped";
  }
  // Without a holder, block 1 is the oldest clean block and goes first.
  MemFile n(0, 6);
  for (uint32_t i = 0; i < 8; ++i) n.Create(Pattern(100, i));
  n.file.BMultiUncach(ZorBfAnyOwner, ZorBfAnyType);
  for (int32_t id = 1; id <= 7; ++id) n.Read(id);
  n.Read(1);
  EXPECT_EQ(6, n.file.GetCacheCount()) << "block 1 was kept";
}

// One dirty block among six: (6 - 1) - 4 = one clean block goes.
TEST(BFileCache, DirtyBlocksCountAgainstTheCleanOnesToDrop) {
  BusyWorkingSet busy;
  MemFile m(0, 6);
  for (uint32_t i = 0; i < 8; ++i) m.Create(Pattern(100, i));
  m.file.BMultiUncach(ZorBfAnyOwner, ZorBfAnyType);
  m.file.StartTransaction();
  m.Write(1, Pattern(100, 50));
  for (int32_t id = 2; id <= 6; ++id) m.Read(id);
  ASSERT_EQ(6, m.file.GetCacheCount());
  m.Read(7);
  EXPECT_EQ(6, m.file.GetCacheCount());
  m.file.EndTransaction();
}

TEST(BFileCache, DirtyBlocksOnlyCacheHeldAreWrittenOutByEviction) {
  BusyWorkingSet busy;
  MemFile m(0, 4);
  m.file.StartTransaction();
  for (uint32_t i = 0; i < 10; ++i) m.Create(Pattern(500, i));
  EXPECT_LE(m.file.GetCacheCount(), 5);
  EXPECT_LT(m.file.GetDirtyCount(), 10);
  m.file.EndTransaction();
  m.Reopen();
  for (int32_t id = 1; id <= 10; ++id) EXPECT_EQ(Pattern(500, static_cast<uint32_t>(id - 1)), m.Read(id));
}

TEST(BFileCache, UncachingWritesDirtyBlocksAndKeepsHeldOnes) {
  MemFile m;
  const int32_t a = m.Create(std::string(300, 'a'));
  m.file.StartTransaction();
  m.Write(a, std::string(300, 'z'));
  m.stream.ClearRecords();
  m.file.BUncach(a);
  EXPECT_EQ(1u, m.stream.Writes().size());
  EXPECT_EQ(0, m.file.GetCacheCount());
  ZorHandle held;
  m.file.BRead(a, &held);
  m.file.BMultiUncach(ZorBfAnyOwner, ZorBfAnyType);
  EXPECT_EQ(1, m.file.GetCacheCount());
  m.file.EndTransaction();
  EXPECT_EQ(std::string(300, 'z'), m.stream.Image().substr(25600, 300));
}

TEST(BFileCache, PurgeGivesBackCleanMemoryAndWritesDirtyBlocks) {
  MemFile m;
  for (uint32_t i = 0; i < 5; ++i) m.Read(m.Create(Pattern(10000, i)));
  EXPECT_EQ(5, m.file.GetCacheCount());
  EXPECT_TRUE(m.file.Purge(15000));
  EXPECT_EQ(3, m.file.GetCacheCount());
  m.file.StartTransaction();
  m.Write(5, Pattern(10000, 50));
  EXPECT_TRUE(ZorIsPurgerRegistered(&m.file));
  EXPECT_FALSE(ZorPurgeMemory(1 << 30));  // cannot free a GiB
  EXPECT_EQ(0, m.file.GetCacheCount());
  m.file.EndTransaction();
  m.Reopen();
  EXPECT_EQ(Pattern(10000, 50), m.Read(5));
  EXPECT_EQ(Pattern(10000, 3), m.Read(4));
}

// ------------------------------------------------------------ errors

// Every code of the failure table, each from a real trigger, carrying the
// file's path. Code 1 (a work array that cannot grow during a flush) needs
// the allocator to fail and is not provoked here.
TEST(BFileErrors, EveryCodeFromARealTrigger) {
  MemFile m(0, -1, true);
  auto expect = [&](int32_t code, const std::function<void()>& f) {
    ZorFsa where;
    EXPECT_EQ(ZorErr(1, code), ErrorOf(f, &where));
    EXPECT_TRUE(where == m.path) << code;
  };
  ZorHandle h = HandleOf("x");
  const int32_t id = m.file.BCreate(&h, 1, 1, 0, true);
  expect(15, [&] { m.file.EndTransaction(); });
  expect(16, [&] {
    ZorHandle big;
    big.Init(104857601);
    m.file.BCreate(&big, 1, 1, 0, true);
  });
  expect(22, [&] {
    ZorHandle held;
    m.file.BRead(id, &held);
    m.file.EmptyFile(false);
  });
  expect(23, [&] { m.file.BRead(0, &h); });
  expect(23, [&] { m.file.BRead(id + 1, &h); });
  EXPECT_EQ(0, m.file.BUsed(id + 1));
  h.Trash();
  m.file.BUncach(id);
  expect(23, [&] { m.file.BWrite(id, 0); });  // BWrite needs the block in the cache
  m.file.BDelete(id);
  m.file.BDelete(id);  // a free entry is ignored
  using Call = std::function<void()>;
  for (const Call& onFree : std::vector<Call>{[&] { m.file.BReadCopy(id, &h); },
                                              [&] { m.file.BWriteCopy(id, &h, 0); },
                                              [&] { m.file.BDuplicate(id, ZorBfKeepOwner, ZorBfKeepType, 0); },
                                              [&] { m.file.BIsCompact(id); },
                                              [&] { m.file.BSetCompact(id, false, 0, 0); },
                                              [&] { m.file.BSetOwner(id, 5); }, [&] { m.file.BSetType(id, 5); }})
    expect(23, onFree);
  ZorSetCheckLevel(2);
  m.file.BRead(id, &h);
  m.file.BWrite(99, 0);
  ZorSetCheckLevel(0);
  m.file.Close(ZorBfCloseNormal);
  m.file.Open(&m.path, ZorPermRead, ZorShareRead, 0, -1, -1, -1);
  EXPECT_FALSE(m.file.IsWriteEnable());
  for (const Call& change : std::vector<Call>{[&] { m.file.StartTransaction(); }, [&] { m.file.SetUserRel(5); },
                                              [&] { m.file.SetCreaStr("x"); }, [&] { m.file.EmptyFile(false); },
                                              [&] { m.file.BCreate(nullptr, 1, 1, 0, true); }})
    expect(24, change);
  EXPECT_EQ(m.file.GetStream(), m.file.SetModeBackup(true));  // nothing happens
  m.file.Close(ZorBfCloseNormal);
  const struct {
    size_t at;
    uint32_t value;  // patched in, then put back
    int32_t flags, type, signature, code;
  } opens[] = {{52, 0, 0, 9, -1, 36},  {52, 0, 0, -1, 9, 36},       {12, 1, 0, -1, -1, 32},
               {8, 2, 0, -1, -1, 33},  {8, 0, 0, -1, -1, 34},       {28, 5000, 0, -1, -1, 32},
               {0, 0, ZorBfOpenTolerant, -1, -1, 36}};
  for (const auto& o : opens) {
    const std::string good = m.Image();
    m.Patch32(o.at, o.value);
    expect(o.code, [&] {
      m.file.Open(&m.path, ZorPermReadWrite, ZorShareExclusive, o.flags, -1, o.type, o.signature);
    });
    EXPECT_FALSE(m.file.IsOpen());
    m.SetImage(good);
  }
  m.dir.Make("text.zbf", std::string(2000, 'x'));
  const ZorFsa text = m.dir.Fsa("text.zbf"), out = m.dir.Fsa("out.zbf");
  EXPECT_EQ(ZorErr(1, 36), ErrorOf([&] { ZorBFile::Salvage(&text, &out, nullptr, nullptr, nullptr); }));
}

// The representation's state that no outside input can damage is damaged
// directly, to prove that the internal-fault checks fire.
TEST(BFileErrors, InternalFaultsAreCrashesWithTheirTexts) {
  auto crash = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const ZorECrash& e) {
      EXPECT_EQ(ZorErr(1, 13), e.GetError());
      return std::string(e.GetMsgText());
    }
    return std::string("no fault");
  };
  MemFile m;
  ZorBFile::Rep::Of(m.file)._header[0] = 'X';
  EXPECT_EQ("erreur interne", crash([&] { m.file.SetUserRel(3); }));
  MemFile r;
  r.Create("a");
  r.file.StartTransaction();
  ZorBFile::Rep& rep = ZorBFile::Rep::Of(r.file);
  rep._changedLow = 1;
  rep._changedHigh = rep._dirCount() + 5;
  EXPECT_EQ("internal error", crash([&] { r.file.EndTransaction(); }));
  EXPECT_EQ(0, r.file.CountTransaction());
}

// A sparse file ending 2 KiB short of 2^40: a small block still fits (its
// position's fifth byte stored and read back), an appended block of 2 KiB
// would reach the limit.
TEST(BFileErrors, AnExtentReachingTwoToTheFortyRaises16) {
  MemFile m(0, -1, true);
  m.file.Close(ZorBfCloseNormal);
  std::filesystem::resize_file(m.dir.File("t.zbf"), (uint64_t(1) << 40) - 2048);
  m.Open();
  const int32_t id = m.Create("far");
  m.Reopen();
  sZorBfBRef e;
  ASSERT_TRUE(m.file.GetEntry(id, &e));
  EXPECT_EQ((uint64_t(1) << 40) - 2048, e.GetPos());
  EXPECT_EQ("far", m.Read(id));
  EXPECT_LIB_ERROR(16, m.file.BCreate(nullptr, 1, 1, 2048, true));
  EXPECT_EQ(0, m.file.CountTransaction());
  m.Write(id, "FAR");  // the refused block is gone: later transactions commit
  m.Reopen();
  EXPECT_EQ("FAR", m.Read(id));
}

// ------------------------------------------------------------ header

TEST(BFileHeader, SettersStoreWhatGettersReadAcrossAReopening) {
  MemFile m;
  m.file.SetFType(41);
  m.file.SetFGuId(-42);
  m.file.SetSignature(43);
  m.file.SetUserRel(44);
  m.file.SetCreaStr("a creation string longer than thirty-five characters");
  int32_t in[64];
  for (int i = 0; i < 64; ++i) in[i] = i * 1000 - 7;
  m.file.SetUserArray(in);
  m.file.SetUserData(63, 12345);
  EXPECT_LIB_ERROR(23, m.file.SetUserData(64, 1));
  m.file.Close(ZorBfCloseNormal);
  const std::string& img = m.stream.Image();
  const uint32_t fields[] = {41, static_cast<uint32_t>(-42), 43, 44};
  for (size_t k = 0; k < 4; ++k) EXPECT_EQ(fields[k], Le32(img, 40 + 4 * k)) << 40 + 4 * k;
  EXPECT_EQ(std::string("a creation string longer than thirt") + '\0', img.substr(56, 36));
  EXPECT_EQ(static_cast<uint32_t>(-7), Le32(img, 92));
  EXPECT_EQ(12345u, Le32(img, 92 + 63 * 4));
  m.Patch32(92 + 64 * 4, 77);  // the reserved area past the user array
  m.file.OpenOnStream(&m.stream, nullptr, 0, -1, 41, 43);
  string crea;
  EXPECT_STREQ("a creation string longer than thirt", m.file.GetCreaStr(&crea));
  int32_t out[64];
  m.file.GetUserArray(out);
  EXPECT_EQ(in[5], out[5]);
  EXPECT_EQ(12345, m.file.GetUserData(63));
  EXPECT_EQ(0, m.file.GetUserData(64));
  EXPECT_EQ(-42, m.file.GetFGuId());
  EXPECT_EQ(44, m.file.GetUserRel());
}

TEST(BFileHeader, UnchangedValuesWriteNothingAndNewFilesGetDifferentIdentifiers) {
  MemFile m;
  m.file.SetUserRel(5);
  m.stream.ClearRecords();
  m.file.SetUserRel(5);
  m.file.SetUserData(3, 0);
  EXPECT_TRUE(m.stream.Writes().empty());
  std::set<uint32_t> ids;
  for (int i = 0; i < 20; ++i) {
    FaultStream s;
    ZorBFile::CreateOnStream(&s, 1, 1, nullptr);
    ids.insert(Le32(s.Image(), 44));
  }
  EXPECT_GT(ids.size(), 15u);
}

TEST(BFileSafety, CrashCounterBracketsReachTheDiskAtOnce) {
  MemFile m;
  m.file.SetSecuFlag();
  EXPECT_EQ(1u, Le32(m.stream.Image(), 12));
  m.file.SetSecuFlag();
  EXPECT_EQ(2, m.file.GetCrashFlag(false));
  EXPECT_EQ(2, m.file.GetCrashFlag(true));  // only exactly 1 is reset
  for (uint32_t left : {1u, 0u}) {
    m.file.ClrSecuFlag();
    EXPECT_EQ(left, Le32(m.stream.Image(), 12));
  }
}

TEST(BFileSafety, BackupModeMakesTheFileLookClosed) {
  MemFile m;
  EXPECT_EQ(&m.stream, m.file.SetModeBackup(true));
  EXPECT_EQ(0u, Le32(m.stream.Image(), 16));
  ZorBFile copy;
  FaultStream snapshot(m.stream.Image());
  copy.OpenOnStream(&snapshot, nullptr, 0, -1, -1, -1);
  EXPECT_EQ(0, copy.BadOpenCount(false));
  m.file.SetModeBackup(false);
  EXPECT_EQ(4u, Le32(m.stream.Image(), 16));
}

TEST(BFileSafety, ChangeMessagesFlowWhileEnabled) {
  struct Seen {
    std::vector<int64_t> blocks;
    std::set<void*> senders;
  } seen;
  auto listener = [](void* ctx, int32_t msg, int32_t sub, void* obj, int64_t a, int64_t, int64_t, int64_t, int64_t) {
    if (msg != 43 || sub != 37) return;
    static_cast<Seen*>(ctx)->blocks.push_back(a);
    static_cast<Seen*>(ctx)->senders.insert(obj);
  };
  ZorMessageListener previous = ZorSetMessageListener(listener, &seen);
  MemFile m;
  m.file.SetDoMsg(false);  // while off, a disable does not count below zero
  const int32_t id = m.Create("x");
  EXPECT_TRUE(seen.blocks.empty());
  m.file.SetDoMsg(true);
  m.Read(id);
  m.file.SetUserRel(9);
  m.file.SetDoMsg(false);
  const size_t whileOn = seen.blocks.size();
  m.Read(id);
  ZorSetMessageListener(previous, nullptr);
  EXPECT_NE(seen.blocks.end(), std::find(seen.blocks.begin(), seen.blocks.end(), id));
  EXPECT_NE(seen.blocks.end(), std::find(seen.blocks.begin(), seen.blocks.end(), 0));
  EXPECT_EQ(whileOn, seen.blocks.size());
  EXPECT_EQ(std::set<void*>{&m.file}, seen.senders);  // the file object itself
}

// ------------------------------------------------------------ close

// A scratch file (transactions disabled: they do nothing) keeps its blocks
// in memory and vanishes at its close.
TEST(BFileClose, ModeTwoRemovesTheFileAndScratchFilesVanish) {
  MemFile m(0, -1, true);
  m.file.Close(ZorBfCloseRemove);
  EXPECT_FALSE(ZorFsaCmd(&m.path, ZorFsaCmdQuiet).Exists());
  ZorBFile::Create(&m.path, kKitType, kKitSignature, nullptr, ZorFsaCreateAlways);
  m.Open(ZorBfOpenNoTransaction);
  m.file.StartTransaction();
  m.file.EndTransaction();
  m.file.EndTransaction();
  EXPECT_EQ(0x7FFFFFFF, m.file.CountTransaction());
  ZorHandle h = HandleOf("scratch");
  const int32_t id = m.file.BCreate(&h, 1, 1, 0, true);
  h.Trash();
  EXPECT_EQ("scratch", m.Read(id));
  m.file.Close(ZorBfCloseNormal);
  EXPECT_FALSE(ZorFsaCmd(&m.path, ZorFsaCmdQuiet).Exists());
}

TEST(BFileClose, OpenFailureLeavesTheObjectClosedAndTheStreamAlone) {
  FaultStream s(std::string(100, 'x'));
  ZorBFile f;
  EXPECT_LIB_ERROR(36, f.OpenOnStream(&s, nullptr, 0, -1, -1, -1));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(s.IsClosed());
  EXPECT_FALSE(ZorIsPurgerRegistered(&f));
}

}  // namespace
