// kill -9 of a process writing a block file.
//
// A forked writer opens a real file and commits generation after
// generation: each transaction rewrites a fixed set of blocks with the
// generation number and a size that changes from one generation to the
// next (so blocks grow, shrink and move), replaces the side blocks of owner
// 2 by generation % 4 new ones, and only after EndTransaction has returned
// reports "committed g" to the parent through a pipe. The parent kills it
// at a random moment, reopens the file and requires: the file says it was
// not closed (bad-close bit, with "ZorCheckBadOpen" on), the directory and
// overlap checks are clean, and the content is one whole generation, the
// last reported one or the next (committed but not yet reported).
//
// The operating system keeps what a killed process wrote, so most rounds
// run without flushing to the disk; some flush, some use copy-on-write.
// Space left unreferenced by a transaction the kill cut short (lost space)
// is counted and printed, not a failure: the next compaction reclaims it.
#include <zorvane/block_file.h>
#include <zorvane/block_array.h>
#include <zorvane/block_file_stress.h>
#include <zorvane/exception.h>
#include <zorvane/string.h>
#include <zorvane/verification.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "support/killed_writer.h"
#include "support/temp_files.h"

using namespace zorvane;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kFileType = 31, kSignature = 0x4B11;
constexpr int32_t kGenBlocks = 12;
constexpr int32_t kSideOwner = 2;
constexpr int16_t kSideType = 1;

// The bytes of block `slot` at generation g: g and slot, then a pattern
// that depends on both; the size changes with g.
Bytes Pattern(int32_t g, int32_t slot) {
  const size_t n = 8 + static_cast<size_t>((g * 131 + slot * 977) % 2600);
  Bytes b(n);
  memcpy(b.data(), &g, 4);
  memcpy(b.data() + 4, &slot, 4);
  for (size_t k = 8; k < n; ++k) b[k] = static_cast<uint8_t>(g * 31 + slot * 7 + k);
  return b;
}

int32_t SideCount(int32_t g) { return g % 4; }

// With filler blocks between them, the generation's blocks lie far apart
// in the directory: a transaction changes entries on many pages.
int32_t g_spread = 1;
int32_t SlotId(int32_t slot) { return (slot - 1) * g_spread + 1; }

Bytes HandleBytes(const ZorHandle& h) {
  const auto* p = static_cast<const uint8_t*>(h.GetDatas());
  return h.GetSize() ? Bytes(p, p + h.GetSize()) : Bytes();
}

// The writer: runs until killed; exits with 3 on a library error.
[[noreturn]] void Writer(const std::string& path, int fd, int32_t start, int32_t flags, int32_t cache) {
  int rc = 3;
  try {
    const ZorFsa fsa(path.c_str());
    ZorBFile f;
    f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, flags, cache, kFileType, kSignature);
    zortest::ReportToParent(fd, zortest::kOpened);
    for (int32_t g = start + 1;; ++g) {
      f.StartTransaction();
      for (int32_t slot = 1; slot <= kGenBlocks; ++slot) {
        const Bytes b = Pattern(g, slot);
        ZorHandle h;
        h.Init(b.data(), static_cast<uint32_t>(b.size()));
        f.BWriteCopy(SlotId(slot), &h, 0);
      }
      f.BMultiDelete(kSideOwner, kSideType);
      for (int32_t j = 0; j < SideCount(g); ++j) {
        const Bytes b = Pattern(g, 100 + j);
        ZorHandle h;
        h.Init(b.data(), static_cast<uint32_t>(b.size()));
        f.BCreate(&h, kSideOwner, kSideType, 0, true);
      }
      f.EndTransaction();
      zortest::ReportToParent(fd, g);
    }
  } catch (...) {
  }
  _exit(rc);
}

int Faults(ZorBFile* f, bool (ZorBFile::*check)(ZorVerif*), std::string* text) {
  ZorVerif v;
  v.Init(false, 0);
  (f->*check)(&v);
  if (v.GetNbFault()) {
    string s;
    *text += v.GetText(&s);
  }
  return v.GetNbFault();
}

// The generation the file holds when every block agrees with it, else -1
// (what disagrees goes to why).
int32_t ReadGeneration(ZorBFile* f, int32_t fillers, std::string* why) {
  ZorHandle h;
  f->BReadCopy(1, &h);
  int32_t g = -1;
  if (h.GetSize() >= 8) memcpy(&g, h.GetDatas(), 4);
  for (int32_t slot = 1; slot <= kGenBlocks; ++slot) {
    f->BReadCopy(SlotId(slot), &h);
    if (HandleBytes(h) != Pattern(g, slot)) *why += " block " + std::to_string(slot);
  }
  ZorBGet ids(0, 4);
  ids.Init();
  f->BGetID(kSideOwner, kSideOwner, kSideType, kSideType, &ids, 0, true);
  std::set<Bytes> side, expected;
  for (int32_t i = 1; i <= ids.GetNbItem(); ++i) {
    int32_t id;
    ids.Get(i, &id);
    f->BReadCopy(id, &h);
    side.insert(HandleBytes(h));
  }
  for (int32_t j = 0; j < SideCount(g); ++j) expected.insert(Pattern(g, 100 + j));
  if (ids.GetNbItem() != SideCount(g) || side != expected)
    *why += " side blocks (" + std::to_string(ids.GetNbItem()) + " for " + std::to_string(SideCount(g)) + ")";
  int32_t used = 0;
  f->BExist(0, &used);
  if (used != kGenBlocks + fillers + SideCount(g)) *why += " " + std::to_string(used) + " blocks";
  return why->empty() ? g : -1;
}

// Puts the whole file at generation g.
void WriteGeneration(ZorBFile* f, int32_t g) {
  f->StartTransaction();
  for (int32_t slot = 1; slot <= kGenBlocks; ++slot) {
    const Bytes b = Pattern(g, slot);
    ZorHandle h;
    h.Init(b.data(), static_cast<uint32_t>(b.size()));
    f->BWriteCopy(SlotId(slot), &h, 0);
  }
  f->BMultiDelete(kSideOwner, kSideType);
  for (int32_t j = 0; j < SideCount(g); ++j) {
    const Bytes b = Pattern(g, 100 + j);
    ZorHandle h;
    h.Init(b.data(), static_cast<uint32_t>(b.size()));
    f->BCreate(&h, kSideOwner, kSideType, 0, true);
  }
  f->EndTransaction();
}

struct Tally {
  int kills = 0, afterOpen = 0, aheadOfReport = 0, lostSpace = 0, generations = 0, mixed = 0;
};

// Rounds of fork, kill and check on one file. With copy-on-write the
// content must be one whole generation; without it a transaction written
// out in place can be interrupted half way (counted, then the file is put
// back to a whole generation).
void RunKills(bool copyOnWrite, int rounds, uint32_t seed, Tally* t, int32_t fillers = 0) {
  zortest::TempDir dir;
  const std::string path = dir.File("killed.zbf");
  const ZorFsa fsa(path.c_str());
  ZorSetCheckBadOpen(1);
  ZorBFile::Create(&fsa, kFileType, kSignature, "kill", ZorFsaCreateAlways);
  g_spread = 1 + fillers / kGenBlocks;
  {
    ZorBFile f;
    f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, 0, 8, kFileType, kSignature);
    f.StartTransaction();
    for (int32_t id = 1, slot = 1; id <= kGenBlocks * g_spread; ++id) {
      const bool isSlot = id == SlotId(slot);
      const Bytes b = isSlot ? Pattern(0, slot++) : Bytes(4, static_cast<uint8_t>(id));
      ZorHandle h;
      h.Init(b.data(), static_cast<uint32_t>(b.size()));
      ASSERT_EQ(f.BCreate(&h, isSlot ? 1 : 3, 0, 0, true), id);
    }
    f.EndTransaction();
    f.Close(ZorBfCloseNormal);
  }
  std::mt19937 rng(seed);
  int32_t g = 0;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int32_t flags = copyOnWrite ? ZorBfOpenCopyOnWrite : 0;
    if (rng() % 4) flags |= ZorBfOpenNoFlush;
    const int32_t cache = static_cast<int32_t>(3 + rng() % 16);
    const bool duringOpen = rng() % 10 == 0;
    const int delay = static_cast<int>(rng() % (duringOpen ? 3000 : 80000));
    const zortest::KilledRound r =
        zortest::KillWriter(g, delay, duringOpen, [&](int fd) { Writer(path, fd, g, flags, cache); });
    ASSERT_FALSE(r.exitedByItself) << "the writer failed (flags " << flags << ")";
    ++t->kills;
    // Salvage, which reads the file as it stands, sees what the journal
    // holds too: the generation the opening below recovers.
    int32_t salvaged = -2;
    const std::string copy = dir.File("salvaged.zbf");
    if (copyOnWrite && rng() % 4 == 0) {
      const ZorFsa copyFsa(copy.c_str());
      ZorFsaCmd(&copyFsa, ZorFsaCmdQuiet).Remove();
      ZorBFile::Salvage(&fsa, &copyFsa, nullptr, nullptr, nullptr);
      ZorBFile s;
      s.Open(&copyFsa, ZorPermRead, ZorShareRead, 0, 8, kFileType, kSignature);
      std::string ignored;
      salvaged = ReadGeneration(&s, kGenBlocks * (g_spread - 1), &ignored);
      s.Close(ZorBfCloseNormal);
    }

    ZorBFile f;
    f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, ZorBfOpenNoFlush, 8, kFileType, kSignature);
    if (r.opened) {
      ++t->afterOpen;
      EXPECT_TRUE(f.IsBadClose(false)) << "a killed writer's file looks closed";
      EXPECT_GE(f.BadOpenCount(false), 1);
    }
    std::string text, lost, why;
    EXPECT_EQ(Faults(&f, &ZorBFile::CheckDir, &text), 0) << text;
    EXPECT_EQ(Faults(&f, &ZorBFile::CheckCrossBlock, &text), 0) << text;
    if (Faults(&f, &ZorBFile::CheckLostSpace, &lost)) {
      // Reclaimed as free space, so that each round counts its own.
      ++t->lostSpace;
      ZorSetCheckLevel(2);
      ZorVerif repair;
      repair.Init(true, 5);
      f.CheckLostSpace(&repair);
      ZorSetCheckLevel(0);
      EXPECT_TRUE(f.CheckLostSpace(nullptr)) << "lost space left after the repair:\n" << lost;
    }
    const int32_t fill = kGenBlocks * (g_spread - 1);
    int32_t now = ReadGeneration(&f, fill, &why);
    if (now < 0) {
      EXPECT_FALSE(copyOnWrite) << "not one generation after the report of " << r.lastReported << ":" << why;
      ++t->mixed;
      now = r.lastReported + 1;
      WriteGeneration(&f, now);
    } else {
      EXPECT_TRUE(now == r.lastReported || now == r.lastReported + 1)
          << "generation " << now << " after the report of " << r.lastReported;
      if (salvaged != -2) {
        EXPECT_EQ(salvaged, now) << "salvage";
      }
      if (now == r.lastReported + 1) ++t->aheadOfReport;
      // A block created now takes free space, which must not overlap a
      // committed block: read from the disk, the generation is intact.
      ZorHandle probe;
      probe.Init(static_cast<uint32_t>(1 + rng() % 3000));
      const int32_t id = f.BCreate(&probe, 5, 0, 0, true);
      f.BMultiUncach(ZorBfAnyOwner, ZorBfAnyType);
      EXPECT_EQ(ReadGeneration(&f, fill + 1, &why), now) << "after a create:" << why;
      f.BDelete(id);
    }
    t->generations += now - g;
    g = now;
    f.IsBadClose(true);
    f.BadOpenCount(true);
    f.Close(ZorBfCloseNormal);
    if (round == 0) {
      // Nor does a reader leave one, copy-on-write flag or not.
      ZorBFile r;
      r.Open(&fsa, ZorPermRead, ZorShareRead, ZorBfOpenCopyOnWrite, 8, kFileType, kSignature);
      r.Close(ZorBfCloseNormal);
    }
    EXPECT_FALSE(std::filesystem::exists(path + kZorBfJournalSuffix)) << "a journal after a normal close";
    if (::testing::Test::HasFailure()) {
      printf("seed %u flags %#x cache %d delay %d us%s\n", seed, flags, cache, delay, duringOpen ? " during the open" : "");
      return;
    }
  }
}

void Print(const char* what, const Tally& t, double seconds) {
  printf("[ kill ] %s: %d kills (%d after the open), %d generations committed, %d states one generation ahead of "
         "the last report, %d not one whole generation, %d with lost space, %.1f s\n",
         what, t.kills, t.afterOpen, t.generations, t.aheadOfReport, t.mixed, t.lostSpace, seconds);
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(BFileKill, CopyOnWriteKeepsOneCommittedGenerationAndMarksTheBadClose) {
  Tally t;
  const auto start = std::chrono::steady_clock::now();
  RunKills(true, 110 * zortest::CrashScale(), 20261205, &t);
  Print("copy-on-write", t, Since(start));
  EXPECT_GE(t.kills, 100);
}

// A directory of many pages: each transaction changes entries a thousand
// apart, and the writes of the directory span pages a kill can separate.
TEST(BFileKill, CopyOnWriteOverAManyPageDirectory) {
  Tally t;
  const auto start = std::chrono::steady_clock::now();
  RunKills(true, 25 * zortest::CrashScale(), 4242, &t, 12000);
  Print("copy-on-write, 12,000 blocks", t, Since(start));
}

// Shared by forked processes (ZorBfStress), writers killed at random
// moments and replaced: every committed transaction is counted exactly, a
// killed writer's last one is in the file whole or not at all, and the
// checks are clean (the journal leaves no lost space either).
TEST(BFileKill, SharedFileWritersKilledAtRandomMoments) {
  zortest::TempDir dir;
  const ZorFsa path = dir.Fsa("stress.zbf");
  sZorBfStressOptions opt;
  opt.processes = 4;
  opt.transactions = 150 * zortest::CrashScale();
  opt.openFlags = ZorBfOpenCopyOnWrite | ZorBfOpenNoFlush;
  opt.cacheBlocks = 8;
  opt.kills = 5 * zortest::CrashScale();
  opt.seed = 9;
  sZorBfStressResult r;
  ZorVerif report;
  report.Init(false);
  string text;
  ZorBfStress(&path, &opt, &r, &report);
  printf("[ kill ] shared file: %d killed, %lld committed, %d undecided\n", r.killed,
         static_cast<long long>(r.committed), r.undecided);
  EXPECT_EQ(r.discrepancies, 0) << report.GetText(&text);
  EXPECT_NE(std::string(report.GetText(&text)).find("Compteur : " + std::to_string(r.counter) + ","), std::string::npos);
  EXPECT_EQ(r.counter, r.committed);
  EXPECT_GE(r.killed, 1);  // a victim may end its work before the signal comes, more so under load
}

// After a bad close (without a journal) the directory may hold a free
// extent over a used block: it is never handed out, and the check reports
// it.
TEST(BFileKill, AfterABadCloseAFreeExtentOverAUsedBlockIsNeverHandedOut) {
  zortest::TempDir dir;
  const std::string name = dir.File("overlap.zbf");
  const ZorFsa fsa(name.c_str());
  ZorBFile::Create(&fsa, kFileType, kSignature, "overlap", ZorFsaCreateAlways);
  const Bytes a = Pattern(1, 1);
  sZorBfBRef e;
  {
    ZorBFile f;
    f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, 0, 8, kFileType, kSignature);
    ZorHandle h;
    h.Init(a.data(), static_cast<uint32_t>(a.size()));
    f.BCreate(&h, 1, 0, 0, true);
    f.BCreate(&h, 1, 0, 0, true);
    f.GetEntry(1, &e);
    f.Close(ZorBfCloseNormal);
  }
  std::string img = zortest::ReadFile(name);
  e.flags = ZorBfFlagFree;  // entry 2: free, over block 1's extent
  e.Store(img.data() + kZorBfHeaderSize + kZorBfEntrySize);
  img[kZorBfHdrState] = static_cast<char>(img[kZorBfHdrState] | kZorBfStateOpenMarker);
  dir.Make("overlap.zbf", img);
  ZorBFile f;
  f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, 0, 8, kFileType, kSignature);
  ZorHandle h, back;
  h.Init(static_cast<uint32_t>(a.size()));
  memset(h.GetDatas(), 0x5A, a.size());
  f.BCreate(&h, 2, 0, 0, true);
  f.BMultiUncach(ZorBfAnyOwner, ZorBfAnyType);
  f.BReadCopy(1, &back);
  EXPECT_EQ(HandleBytes(back), a);
  std::string text;
  EXPECT_GT(Faults(&f, &ZorBFile::CheckCrossBlock, &text), 0);
  f.Close(ZorBfCloseAbandon);
}

// Without copy-on-write blocks are rewritten in place: a kill may leave a
// transaction half written, but the directory stays sound.
TEST(BFileKill, InPlaceWritesKeepASoundDirectory) {
  Tally t;
  const auto start = std::chrono::steady_clock::now();
  RunKills(false, 30, 77, &t);
  Print("in place", t, Since(start));
}
