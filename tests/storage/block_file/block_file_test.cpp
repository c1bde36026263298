// ZorBFile: the stored format, opening and closing, the safety counters,
// the block operations, transactions and the order of writes, the cache,
// copy-on-write placement, and every error code from a real trigger.
//
// Most tests run on the fault-injecting in-memory stream, which records each
// write; the format tests decode the stored bytes field by field, apart from
// the library's own entry reader; a model test compares random operations
// with a map of expected contents, and the copy-on-write tests check every
// write against the directory that a power cut would fall back to.
#include <zorvane/block_file.h>
#include <zorvane/block_array.h>
#include <zorvane/exception.h>
#include <zorvane/file_commands.h>
#include <zorvane/messages_bus.h>
#include <zorvane/purger.h>
#include <zorvane/string.h>
#include <zorvane/verification.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage/block_file/block_file_impl.h"
#include "support/fault_stream.h"
#include "support/temp_files.h"
#include "support/working_set.h"

using namespace zorvane;
using zortest::FaultStream;

namespace {

// ------------------------------------------------------------ helpers

uint32_t Le32(const std::string& img, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(img[at + static_cast<size_t>(i)]);
  return v;
}
uint64_t Le64(const std::string& img, size_t at) { return Le32(img, at) | (uint64_t(Le32(img, at + 4)) << 32); }
void PutLe32(std::string* img, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*img)[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}

// One directory entry decoded from a file image.
struct Entry {
  uint64_t pos;
  uint32_t capacity, size;
  int32_t owner;
  uint32_t slot;
  int16_t type;
  uint8_t flags;
};
Entry EntryAt(const std::string& img, int32_t id) {
  const size_t at = 980 + static_cast<size_t>(id - 1) * 24;
  Entry e;
  e.pos = Le32(img, at) | (uint64_t(static_cast<uint8_t>(img[at + 23])) << 32);
  e.capacity = Le32(img, at + 4);
  e.size = Le32(img, at + 8);
  e.owner = static_cast<int32_t>(Le32(img, at + 12));
  e.slot = Le32(img, at + 16);
  e.type = static_cast<int16_t>(Le32(img, at + 20) & 0xFFFF);
  e.flags = static_cast<uint8_t>(img[at + 22]);
  return e;
}
uint32_t DirCount(const std::string& img) { return Le32(img, 28); }
// Extents of a file image disjoint and inside [data start, end of file).
void CheckLayout(const std::string& img);

int64_t CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ZorException& e) {
    return e.GetError();
  }
  return 0;
}
#define EXPECT_CODE(n, stmt) EXPECT_EQ(ZorErr(1, n), CodeOf([&] { stmt; }))

ZorHandle Bytes(const std::string& s) {
  ZorHandle h;
  h.Init(static_cast<uint32_t>(s.size()));
  if (!s.empty()) memcpy(h.GetDatas(), s.data(), s.size());
  return h;
}
std::string Text(const ZorHandle& h) {
  if (!h.IsInit() || h.GetSize() == 0) return std::string();
  return std::string(static_cast<const char*>(h.GetDatas()), h.GetSize());
}
std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + seed * 7 + (i >> 8)) & 0xFF);
  return s;
}

// A block file on a fresh in-memory stream.
struct MemFile {
  FaultStream stream;
  ZorBFile file;
  explicit MemFile(int32_t flags = 0, int32_t cache = -1) {
    ZorBFile::CreateOnStream(&stream, 7, 99, "test");
    file.OpenOnStream(&stream, nullptr, flags, cache, 7, 99);
  }
  int32_t Create(const std::string& s, int32_t owner = 1, int16_t type = 1, uint32_t reserve = 0) {
    ZorHandle h = Bytes(s);
    return file.BCreate(&h, owner, type, reserve, true);
  }
  std::string Read(int32_t id) {
    ZorHandle h;
    file.BReadCopy(id, &h);
    return Text(h);
  }
  void Reopen(int32_t flags = 0) {
    file.Close(ZorBfCloseNormal);
    file.OpenOnStream(&stream, nullptr, flags, -1, 7, 99);
  }
};

// ------------------------------------------------------------ format

TEST(BFileFormat, NewFileIsExactly25600BytesWithItsHeader) {
  FaultStream s;
  ZorBFile::CreateOnStream(&s, 0x12345678, -5, "created by test");
  const std::string& img = s.Image();
  ASSERT_EQ(25600u, img.size());
  EXPECT_EQ("ZorBFile", img.substr(0, 8));
  EXPECT_EQ(1u, Le32(img, 8));
  EXPECT_EQ(0u, Le32(img, 12));
  EXPECT_EQ(0u, Le32(img, 16));
  EXPECT_EQ(0u, Le32(img, 20));
  EXPECT_EQ(25600u, Le32(img, 24));
  EXPECT_EQ(0u, Le32(img, 28));
  EXPECT_EQ(0u, Le64(img, 32));
  EXPECT_EQ(0x12345678u, Le32(img, 40));
  EXPECT_EQ(static_cast<uint32_t>(-5), Le32(img, 48));
  EXPECT_EQ(0u, Le32(img, 52));
  EXPECT_EQ(std::string("created by test") + std::string(21, '\0'), img.substr(56, 36));
  EXPECT_TRUE(img.substr(92, 256 + 632) == std::string(256 + 632, '\0'));
  EXPECT_TRUE(img.substr(980) == std::string(25600 - 980, '\0'));
}

TEST(BFileFormat, CreateThroughThePathMakesTheSameFile) {
  zortest::TempDir dir;
  ZorFsa path = dir.Fsa("a.zbf");
  ZorBFile::Create(&path, 2, 3, nullptr, ZorFsaCreateAlways);
  const std::string img = zortest::ReadFile(dir.File("a.zbf"));
  ASSERT_EQ(25600u, img.size());
  EXPECT_EQ("ZorBFile", img.substr(0, 8));
  int32_t type = 0, sig = 0;
  int64_t counter = -1;
  EXPECT_EQ(0, ZorBFile::Is(&path, false, 2, 3, &type, &sig, &counter));
  EXPECT_EQ(2, type);
  EXPECT_EQ(3, sig);
  EXPECT_EQ(0, counter);
}

TEST(BFileFormat, EntriesAreStoredFieldByFieldWithoutMemoryOnlyState) {
  MemFile m;
  const int32_t a = m.Create("hello", -3, -2, 1000);
  const int32_t b = m.Create(std::string(3000, 'x'), 0x01020304, 0x0506);
  m.file.BSetCompact(b, false, 0, 0);
  const std::string& img = m.stream.Image();
  ASSERT_EQ(2u, DirCount(img));
  const Entry ea = EntryAt(img, a), eb = EntryAt(img, b);
  EXPECT_EQ(25600u, ea.pos);
  EXPECT_EQ(1000u, ea.capacity);
  EXPECT_EQ(5u, ea.size);
  EXPECT_EQ(-3, ea.owner);
  EXPECT_EQ(-2, ea.type);
  EXPECT_EQ(0u, ea.slot);
  EXPECT_EQ(0u, ea.flags);
  EXPECT_EQ(25600u + 1000u, eb.pos);
  EXPECT_EQ(3000u, eb.capacity);
  EXPECT_EQ(0x01020304, eb.owner);
  EXPECT_EQ(0x0506, eb.type);
  EXPECT_EQ(ZorBfFlagNoCompact, eb.flags);
  EXPECT_EQ("hello", img.substr(25600, 5));
  EXPECT_TRUE(img.substr(25605, 995) == std::string(995, '\0'));
  EXPECT_EQ(25600u + 1000u + 3000u, img.size());
}

TEST(BFileFormat, FortyBitPositionsRoundTrip) {
  sZorBfBRef e;
  e.SetPos(0x12'3456'789Aull);
  e.capacity = 7;
  e.flags = ZorBfFlagFree | ZorBfFlagDirty | ZorBfFlagPlaced | ZorBfFlagRelease | 0x80;
  e.cacheSlot = 0xDEAD;
  uint8_t bytes[24];
  e.Store(bytes);
  EXPECT_EQ(0x12, bytes[23]);
  EXPECT_EQ(0x9A, bytes[0]);
  EXPECT_EQ(0x81, bytes[22]);
  EXPECT_EQ(0u, uint32_t(bytes[16] | bytes[17] | bytes[18] | bytes[19]));
  sZorBfBRef back;
  back.Load(bytes);
  EXPECT_EQ(0x12'3456'789Aull, back.GetPos());
  EXPECT_EQ(0x81, back.flags);
}

// ------------------------------------------------------------ open, close

TEST(BFileOpen, RoundTripThroughAClosedFile) {
  MemFile m;
  const int32_t a = m.Create("first");
  const int32_t b = m.Create(Pattern(70000, 3), 5, 6);
  m.Reopen();
  EXPECT_EQ("first", m.Read(a));
  EXPECT_EQ(Pattern(70000, 3), m.Read(b));
  int32_t owner = 0, size = 0;
  int16_t type = 0;
  ASSERT_TRUE(m.file.GetBlockInfo(b, &owner, &type, &size, nullptr, nullptr));
  EXPECT_EQ(5, owner);
  EXPECT_EQ(6, type);
  EXPECT_EQ(70000, size);
}

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
}

TEST(BFileOpen, MarkerLeftSetCountsABadOpenAndABadClose) {
  MemFile m;
  m.file.Close(ZorBfCloseAbandon);
  EXPECT_EQ(4u, Le32(m.stream.Image(), 16));
  m.file.OpenOnStream(&m.stream, nullptr, 0, -1, -1, -1);
  EXPECT_EQ(1, m.file.BadOpenCount(false));
  EXPECT_TRUE(m.file.IsBadClose(false));
  EXPECT_EQ(1u, Le32(m.stream.Image(), 20));
  EXPECT_EQ(6u, Le32(m.stream.Image(), 16));
  EXPECT_TRUE(m.file.IsBadClose(true));
  EXPECT_FALSE(m.file.IsBadClose(false));
  EXPECT_EQ(1, m.file.BadOpenCount(true));
  EXPECT_EQ(0, m.file.BadOpenCount(false));
  EXPECT_EQ(4u, Le32(m.stream.Image(), 16));
  EXPECT_EQ(0u, Le32(m.stream.Image(), 20));
}

TEST(BFileOpen, CheckBadOpenZeroCountsWithoutMarkingBadClose) {
  MemFile m;
  m.file.Close(ZorBfCloseAbandon);
  ZorSetCheckBadOpen(0);
  m.file.OpenOnStream(&m.stream, nullptr, 0, -1, -1, -1);
  ZorSetCheckBadOpen(1);
  EXPECT_EQ(1, m.file.BadOpenCount(false));
  EXPECT_FALSE(m.file.IsBadClose(false));
}

TEST(BFileOpen, DestructorClosesWithModeFromOpenFlags) {
  FaultStream s;
  ZorBFile::CreateOnStream(&s, 1, 1, nullptr);
  {
    ZorBFile f;
    f.OpenOnStream(&s, nullptr, ZorBfOpenCloseNormal, -1, -1, -1);
  }
  EXPECT_EQ(0u, Le32(s.Image(), 16));
  {
    ZorBFile f;
    f.OpenOnStream(&s, nullptr, 0, -1, -1, -1);
  }
  EXPECT_EQ(4u, Le32(s.Image(), 16));
}

TEST(BFileOpen, TolerantOpenStillRefusesAForeignMagic) {
  std::string img(25600, '\0');
  memcpy(img.data(), "ZorBFilX", 8);
  FaultStream s(img);
  ZorBFile f;
  EXPECT_CODE(36, f.OpenOnStream(&s, nullptr, ZorBfOpenTolerant, -1, -1, -1));
  EXPECT_FALSE(f.IsOpen());
}

TEST(BFileOpen, TolerantOpenAcceptsVersionCrashTypeAndSignature) {
  MemFile m;
  m.Create("x");
  m.file.Close(ZorBfCloseNormal);
  std::string img = m.stream.Image();
  PutLe32(&img, 8, 9);
  PutLe32(&img, 12, 1);
  m.stream.SetImage(img);
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
  std::string img = m.stream.Image();
  PutLe32(&img, 28, 0x7FFFF);
  m.stream.SetImage(img);
  ZorBFile f;
  EXPECT_CODE(32, f.OpenOnStream(&m.stream, nullptr, 0, -1, -1, -1));
  f.OpenOnStream(&m.stream, nullptr, ZorBfOpenTolerant, -1, -1, -1);
  EXPECT_EQ((25600 - 980) / 24, f.GetNbBlock(nullptr, nullptr));
}

// A file cut inside its directory: the tolerant opening reads what is left
// and keeps the recorded count; nothing may add an entry (which would
// shorten the count unreported) until the repair of CheckDir has said what
// it dropped.
TEST(BFileOpen, ACutDirectoryIsShortenedOnlyByTheReportedRepair) {
  MemFile m;
  for (int i = 0; i < 3; ++i) m.Create("x");
  m.file.Close(ZorBfCloseNormal);
  m.stream.SetImage(m.stream.Image().substr(0, 980 + 24 + 10));
  ZorBFile f;
  f.OpenOnStream(&m.stream, nullptr, ZorBfOpenTolerant, -1, -1, -1);
  EXPECT_EQ(3u, DirCount(m.stream.Image()));
  EXPECT_EQ(3u, f.GetRecordedDirCount());
  EXPECT_CODE(32, f.BCreate(nullptr, 1, 1, 0, true));
  ZorVerif v;
  v.Init(true, 0);
  EXPECT_FALSE(f.CheckDir(&v));
  EXPECT_EQ(1, v.GetNbItem(kZorVerifRepaired));
  EXPECT_EQ(2, f.BCreate(nullptr, 1, 1, 0, true));
  f.Close(ZorBfCloseNormal);
  EXPECT_EQ(2u, DirCount(m.stream.Image()));
}

TEST(BFileOpen, AbsurdBlockExtentIsAnErrorNotACrash) {
  MemFile m;
  const int32_t id = m.Create("abc");
  m.file.Close(ZorBfCloseNormal);
  std::string img = m.stream.Image();
  PutLe32(&img, 980 + 8, 0x7FFFFFF0);  // size
  PutLe32(&img, 980 + 4, 0x7FFFFFF0);  // capacity
  m.stream.SetImage(img);
  ZorBFile f;
  f.OpenOnStream(&m.stream, nullptr, ZorBfOpenTolerant, -1, -1, -1);
  ZorHandle h;
  EXPECT_CODE(32, f.BRead(id, &h));
}

TEST(BFileOpen, AFreeExtentPastTheEndIsNeverWrittenInto) {
  MemFile m;
  m.Create("a");
  m.file.Close(ZorBfCloseNormal);
  std::string img = m.stream.Image();
  // Entry 2: free, at 1 TiB - 4 KiB, capacity 4 KiB.
  std::string entry(24, '\0');
  const uint64_t pos = (uint64_t(1) << 40) - 4096;
  PutLe32(&entry, 0, static_cast<uint32_t>(pos));
  PutLe32(&entry, 4, 4096);
  entry[22] = 1;
  entry[23] = static_cast<char>(pos >> 32);
  img.replace(980 + 24, 24, entry);
  PutLe32(&img, 28, 2);
  m.stream.SetImage(img);
  m.file.OpenOnStream(&m.stream, nullptr, ZorBfOpenTolerant, -1, -1, -1);
  const int32_t id = m.Create(std::string(4096, 'q'));
  m.Reopen(ZorBfOpenTolerant);
  EXPECT_EQ(std::string(4096, 'q'), m.Read(id));
  EXPECT_LT(m.stream.Image().size(), 40000u);
}

// Mutated files give library errors, never a crash or a runaway allocation.
TEST(BFileOpen, MutatedFilesFailCleanly) {
  MemFile m;
  std::vector<int32_t> ids;
  for (int i = 0; i < 12; ++i) ids.push_back(m.Create(Pattern(300 + 700 * static_cast<size_t>(i), 5)));
  m.file.BDelete(ids[3]);
  m.file.Close(ZorBfCloseNormal);
  const std::string good = m.stream.Image();
  std::mt19937 rng(77);
  for (int round = 0; round < 300; ++round) {
    std::string img = good;
    for (int k = 0, n = 1 + static_cast<int>(rng() % 6); k < n; ++k) {
      const size_t at = rng() % 2 ? 980 + rng() % (12 * 24) : rng() % 980;
      img[at] = static_cast<char>(rng());
    }
    FaultStream s(img);
    ZorBFile f;
    try {
      f.OpenOnStream(&s, nullptr, rng() % 2 ? ZorBfOpenTolerant : 0, 4, -1, -1);
      for (int32_t id = 1; id <= 13; ++id) {
        ZorHandle h;
        try {
          f.BReadCopy(id, &h);
          if (rng() % 3 == 0) {
            ZorHandle more = Bytes(Pattern(rng() % 5000, 1));
            f.BWriteCopy(id, &more, 0);
          }
        } catch (const ZorException&) {
        }
      }
      f.BCreate(nullptr, 1, 1, rng() % 100000, true);
      f.Close(ZorBfCloseNormal);
    } catch (const ZorException&) {
    }
    EXPECT_LT(s.Image().size(), uint64_t(64) << 20) << round;
  }
}

// ------------------------------------------------------------ Is

TEST(BFileIs, ReportsEachFailureInOrder) {
  zortest::TempDir dir;
  ZorFsa missing = dir.Fsa("missing.zbf");
  EXPECT_EQ(ZorErr(1, 41), ZorBFile::Is(&missing, false, -1, -1));
  ZorFsa path = dir.Fsa("f.zbf");
  ZorBFile::Create(&path, 2, 3, nullptr, ZorFsaCreateAlways);
  EXPECT_EQ(0, ZorBFile::Is(&path, false, -1, -1));
  EXPECT_EQ(ZorErr(1, 36), ZorBFile::Is(&path, false, 4, -1));
  EXPECT_EQ(ZorErr(1, 36), ZorBFile::Is(&path, false, 2, 4));
  auto patch = [&](size_t at, uint32_t v) {
    std::string img = zortest::ReadFile(dir.File("f.zbf"));
    PutLe32(&img, at, v);
    dir.Make("f.zbf", img);
  };
  patch(8, 2);
  EXPECT_EQ(ZorErr(1, 33), ZorBFile::Is(&path, false, -1, -1));
  patch(8, 0);
  EXPECT_EQ(ZorErr(1, 34), ZorBFile::Is(&path, false, -1, -1));
  patch(12, 1);  // crash counter wins over the version
  EXPECT_EQ(ZorErr(1, 32), ZorBFile::Is(&path, false, -1, -1));
  patch(0, 0);  // magic wins over everything
  EXPECT_EQ(ZorErr(1, 36), ZorBFile::Is(&path, false, -1, -1));
  dir.Make("short.zbf", "ZorBFile");
  ZorFsa shortPath = dir.Fsa("short.zbf");
  EXPECT_EQ(ZorErr(1, 36), ZorBFile::Is(&shortPath, false, -1, -1));
}

// ------------------------------------------------------------ blocks

TEST(BFileBlocks, ReserveIsRoundedAsAsked) {
  MemFile plain;
  const int32_t a = plain.file.BCreate(nullptr, 1, 1, 0, true);
  const int32_t b = plain.file.BCreate(nullptr, 1, 1, 1025, true);
  uint32_t cap = 0;
  plain.file.GetBlockInfo(a, nullptr, nullptr, nullptr, &cap, nullptr);
  EXPECT_EQ(1024u, cap);
  plain.file.GetBlockInfo(b, nullptr, nullptr, nullptr, &cap, nullptr);
  EXPECT_EQ(1025u, cap);
  MemFile rounded(ZorBfOpenRound1K);
  const int32_t c = rounded.file.BCreate(nullptr, 1, 1, 1025, true);
  const int32_t d = rounded.Create("abc");
  rounded.file.GetBlockInfo(c, nullptr, nullptr, nullptr, &cap, nullptr);
  EXPECT_EQ(2048u, cap);
  rounded.file.GetBlockInfo(d, nullptr, nullptr, nullptr, &cap, nullptr);
  EXPECT_EQ(1024u, cap);
  // An empty block still owns its extent on disk once written.
  EXPECT_EQ(25600u + 2048u + 1024u, rounded.stream.Image().size());
}

// A freed extent of need + excess bytes is taken whole below 65,536 excess
// and split at 65,536.
TEST(BFileBlocks, FreeExtentSplitsOnlyWhen64KiBRemain) {
  for (uint32_t excess : {65535u, 65536u}) {
    MemFile m;
    const int32_t big = m.file.BCreate(nullptr, 1, 1, 1000 + excess, true);
    const int32_t tail = m.Create("keep the end");
    m.file.BDelete(big);
    const int32_t id = m.file.BCreate(nullptr, 2, 2, 1000, true);
    EXPECT_EQ(big, id);
    uint32_t cap = 0;
    m.file.GetBlockInfo(id, nullptr, nullptr, nullptr, &cap, nullptr);
    int32_t withSpace = 0, empty = 0;
    m.file.GetNbBlock(&withSpace, &empty);
    sZorBfBRef rest;
    if (excess == 65535u) {
      EXPECT_EQ(1000u + excess, cap);
      EXPECT_EQ(0, withSpace);
    } else {
      EXPECT_EQ(1000u, cap);
      EXPECT_EQ(1, withSpace);
      ASSERT_TRUE(m.file.GetEntry(3, &rest));
      EXPECT_EQ(25600u + 1000u, rest.GetPos());
      EXPECT_EQ(excess, rest.capacity);
      EXPECT_TRUE(rest.IsFree());
    }
    EXPECT_EQ("keep the end", m.Read(tail));
  }
}

TEST(BFileBlocks, BestFitPrefersExactThenSmallestLarger) {
  MemFile m;
  std::vector<int32_t> ids;
  for (uint32_t cap : {5000u, 3000u, 4000u, 3000u, 9000u}) ids.push_back(m.file.BCreate(nullptr, 1, 1, cap, true));
  const int32_t guard = m.Create("guard");
  for (int32_t id : ids) m.file.BDelete(id);
  EXPECT_EQ(ids[2], m.file.BCreate(nullptr, 1, 1, 4000, true));  // exact
  EXPECT_EQ(ids[1], m.file.BCreate(nullptr, 1, 1, 2000, true));  // first of the smallest larger
  EXPECT_EQ(ids[3], m.file.BCreate(nullptr, 1, 1, 2000, true));
  EXPECT_EQ(ids[0], m.file.BCreate(nullptr, 1, 1, 4500, true));
  EXPECT_EQ("guard", m.Read(guard));
}

TEST(BFileBlocks, DuplicateKeepsOrReplacesTagsAndSizesTheReserve) {
  MemFile m;
  const int32_t src = m.Create("payload", 11, 12, 500);
  m.file.BSetCompact(src, false, 0, 0);
  const int32_t same = m.file.BDuplicate(src, ZorBfKeepOwner, ZorBfKeepType, 0);
  const int32_t other = m.file.BDuplicate(src, 21, 22, 0xFFFFFFFFu);
  const int32_t roomy = m.file.BDuplicate(src, 21, ZorBfKeepType, 4000);
  int32_t owner;
  int16_t type;
  uint32_t cap;
  uint8_t flags;
  m.file.GetBlockInfo(same, &owner, &type, nullptr, &cap, &flags);
  EXPECT_EQ(11, owner);
  EXPECT_EQ(12, type);
  EXPECT_EQ(7u, cap);
  EXPECT_FALSE(m.file.BIsCompact(same));
  m.file.GetBlockInfo(other, &owner, &type, nullptr, &cap, nullptr);
  EXPECT_EQ(21, owner);
  EXPECT_EQ(22, type);
  EXPECT_EQ(500u, cap);
  m.file.GetBlockInfo(roomy, &owner, &type, nullptr, &cap, nullptr);
  EXPECT_EQ(12, type);
  EXPECT_EQ(4000u, cap);
  m.Reopen();
  EXPECT_EQ("payload", m.Read(same));
  EXPECT_EQ("payload", m.Read(roomy));
}

TEST(BFileBlocks, SelectionWildcardsAndRanges) {
  MemFile m;
  std::map<int32_t, std::pair<int32_t, int16_t>> tags;
  for (int32_t owner = 1; owner <= 4; ++owner)
    for (int16_t type = 1; type <= 3; ++type) tags[m.Create("b", owner, type)] = {owner, type};
  auto live = [&] {
    std::vector<int32_t> ids;
    for (auto& [id, t] : tags)
      if (m.file.BExist(id, nullptr)) ids.push_back(id);
    return ids;
  };
  m.file.BMultiDelete(ZorBfKeepOwner, ZorBfAnyType);
  m.file.BMultiDelete(ZorBfAnyOwner, ZorBfKeepType);
  EXPECT_EQ(12u, live().size());
  m.file.BMultiDelete(2, ZorBfAnyType);
  m.file.BMultiDelete(ZorBfAnyOwner, 3);
  m.file.BRangeDelete(3, 4, 2, 2);
  for (auto& [id, t] : tags) {
    const bool gone = t.first == 2 || t.second == 3 || (t.first >= 3 && t.second == 2);
    EXPECT_EQ(!gone, m.file.BExist(id, nullptr)) << id;
  }
  int32_t count = 0;
  EXPECT_TRUE(m.file.BExist(0, &count));
  EXPECT_EQ(4, count);

  ZorBGet ids(0, 8);
  m.file.BGetID(ZorBfAnyOwner, 0, 1, 1, &ids, 4, true);
  ASSERT_EQ(3, ids.GetNbItem());
  int32_t first = 0;
  ids.SubGet(1, &first, 4, 4);
  EXPECT_EQ(live().front(), first);

  m.file.BChangeOwner(ZorBfAnyOwner, 9, 1, 1);
  m.file.BChangeType(1, 7, 9, 9);
  EXPECT_NE(0, m.file.BGetOTBlockId(9, 7, 0));
  EXPECT_EQ(0, m.file.BGetOTBlockId(9, 1, 0));
  EXPECT_EQ(0, m.file.BGetOTBlockId(9, 7, 1024));

  m.file.BMultiDelete(ZorBfAnyOwner, ZorBfAnyType);
  EXPECT_EQ(0, m.file.GetNbBlock(nullptr, nullptr));
  m.Reopen();
  EXPECT_EQ(0, m.file.GetNbBlock(nullptr, nullptr));
  EXPECT_EQ(25600u, m.stream.Image().size());
}

TEST(BFileBlocks, SizesAndCounts) {
  MemFile m;
  const int32_t a = m.Create("12345", 1, 1, 100);
  const int32_t b = m.Create("123", 1, 1, 0);
  m.file.BDelete(b);
  const int32_t c = m.file.BCreate(nullptr, 1, 1, 0, true);
  int32_t dirBytes, used;
  uint32_t reserved;
  EXPECT_EQ(25600u + 100u + 3u + 1024u, m.file.GetSize(&dirBytes, &used, &reserved));
  EXPECT_EQ(3 * 24, dirBytes);
  EXPECT_EQ(5, used);
  EXPECT_EQ(100u + 1024u, reserved);
  EXPECT_EQ(5, m.file.BGetSize(a));
  EXPECT_EQ(0, m.file.BGetSize(b));
  EXPECT_EQ(0, m.file.BGetSize(c));
  EXPECT_EQ(0, m.file.BGetSize(99));
  EXPECT_FALSE(m.file.GetBlockInfo(b, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(m.file.GetBlockInfo(4, nullptr, nullptr, nullptr, nullptr, nullptr));
}

// ------------------------------------------------------------ writes

TEST(BFileWrite, SharedMemoryChangedThenDeclared) {
  MemFile m;
  const int32_t id = m.Create("abcdef", 1, 1, 10);
  ZorHandle h;
  m.file.BRead(id, &h);
  memcpy(h.GetDatas(), "ABC", 3);
  h.Init(8);
  memcpy(static_cast<char*>(h.GetDatas()) + 6, "gh", 2);
  m.file.BWrite(id, 0);
  ZorHandle again;
  m.file.BRead(id, &again);
  EXPECT_EQ(h.GetDatas(), again.GetDatas());
  m.Reopen();
  EXPECT_EQ("ABCdefgh", m.Read(id));
}

TEST(BFileWrite, GrowthKeepsTheIdAndFreesTheOldExtentAfterTheFlush) {
  MemFile m;
  const int32_t id = m.Create(std::string(1000, 'a'), 3, 4);
  const int32_t after = m.Create("after");
  m.file.StartTransaction();
  ZorHandle h;
  m.file.BRead(id, &h);
  h.Init(5000);
  memset(h.GetDatas(), 'b', 5000);
  m.file.BWrite(id, 100);
  uint32_t cap = 0;
  int32_t owner = 0;
  m.file.GetBlockInfo(id, &owner, nullptr, nullptr, &cap, nullptr);
  EXPECT_EQ(5100u, cap);
  EXPECT_EQ(3, owner);
  // The old extent belongs to another entry, released at the flush only.
  const int32_t holder = m.file.GetDirCount();
  sZorBfBRef e;
  ASSERT_TRUE(m.file.GetEntry(holder, &e));
  EXPECT_EQ(ZorBfFlagFree | ZorBfFlagRelease, e.flags);
  const int32_t fresh = m.file.BCreate(nullptr, 1, 1, 1000, true);
  EXPECT_NE(holder, fresh);
  m.file.EndTransaction();
  ASSERT_TRUE(m.file.GetEntry(holder, &e));
  EXPECT_EQ(ZorBfFlagFree, e.flags);
  EXPECT_EQ(25600u, e.GetPos());
  EXPECT_EQ(holder, m.file.BCreate(nullptr, 1, 1, 1000, true));
  m.Reopen();
  EXPECT_EQ(std::string(5000, 'b'), m.Read(id));
  EXPECT_EQ("after", m.Read(after));
}

TEST(BFileWrite, AnEmptyBlockWithoutCapacityNeverGetsAnExtent) {
  for (int32_t flags : {0, int32_t{ZorBfOpenCopyOnWrite}}) {
    MemFile m(flags);
    const int32_t id = m.Create("abc");
    m.Create("other");
    ZorHandle empty;
    empty.Init(0);
    m.file.BWriteCopy(id, &empty, 0);
    ASSERT_TRUE(m.file.Compact(ZorBfCompactAll, false, false));
    sZorBfBRef e;
    ASSERT_TRUE(m.file.GetEntry(id, &e));
    EXPECT_EQ(0u, e.capacity);
    EXPECT_FALSE(e.HasPos());
    m.file.StartTransaction();
    m.file.BWriteCopy(id, &empty, 0);
    m.file.BUncach(id);
    EXPECT_TRUE(m.file.CheckDir(nullptr));
    ZorHandle grown = Bytes("grown");
    m.file.BWriteCopy(id, &grown, 0);
    m.file.EndTransaction();
    EXPECT_TRUE(m.file.CheckDir(nullptr));
    m.Reopen(flags);
    EXPECT_EQ("grown", m.Read(id));
  }
}

TEST(BFileWrite, WriteCopyReplacesTheContent) {
  MemFile m;
  const int32_t id = m.Create("old");
  ZorHandle data = Bytes(Pattern(3000, 9));
  m.file.BWriteCopy(id, &data, 0);
  memset(data.GetDatas(), 0, 10);  // the cache holds its own copy
  m.Reopen();
  EXPECT_EQ(Pattern(3000, 9), m.Read(id));
}

// ------------------------------------------------------------ transactions

TEST(BFileTransactions, NestingWritesOnceAtTheOutermostEnd) {
  MemFile m;
  m.stream.ClearRecords();
  m.file.StartTransaction();
  m.file.StartTransaction();
  m.Create("one");
  m.file.EndTransaction();
  m.Create("two");
  EXPECT_TRUE(m.stream.Writes().empty());
  EXPECT_EQ(2, m.file.CountTransaction() + 1);
  m.file.EndTransaction();
  EXPECT_EQ(0, m.file.CountTransaction());
  EXPECT_EQ(1, m.stream.Flushes());
  EXPECT_EQ(2u, DirCount(m.stream.Image()));
}

TEST(BFileTransactions, UnmatchedEndRaises15AndDisabledTransactionsDoNothing) {
  MemFile m;
  EXPECT_CODE(15, m.file.EndTransaction());
  MemFile scratch(ZorBfOpenNoTransaction);
  scratch.file.StartTransaction();
  scratch.file.EndTransaction();
  scratch.file.EndTransaction();
  EXPECT_EQ(0x7FFFFFFF, scratch.file.CountTransaction());
  const int32_t id = scratch.Create("kept in memory");
  EXPECT_EQ("kept in memory", scratch.Read(id));
}

TEST(BFileTransactions, ALockGuardIsOneTransaction) {
  MemFile m;
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

TEST(BFileTransactions, AGuardReleasedWhileUnwindingNeverThrowsASecondTime) {
  MemFile m;
  const int32_t id = m.Create("before");
  try {
    ZorLock guard;
    m.file.Lock(&guard);
    ZorHandle h = Bytes("after");
    m.file.BWriteCopy(id, &h, 0);
    m.stream.FailAt(FaultStream::Op::kWrite, 1);
    throw std::runtime_error("the caller's own failure");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(m.stream.Fired());
  EXPECT_EQ(0, m.file.CountTransaction());
  // Same on a normal exit: the block is still dirty, its write fails again,
  // and the failure is reported, not raised.
  {
    ZorLock guard;
    m.file.Lock(&guard);
    m.stream.FailAt(FaultStream::Op::kWrite, 1);
  }
  EXPECT_TRUE(m.stream.Fired());
  EXPECT_EQ(1, m.file.GetDirtyCount());
  // The next transaction writes it.
  m.file.StartTransaction();
  m.file.EndTransaction();
  m.Reopen();
  EXPECT_EQ("after", m.Read(id));
}

// A stream that also records where, among the writes, each OS flush fell.
class OrderedStream : public FaultStream {
 public:
  std::vector<size_t> flushAfter;  // number of writes before each flush
  void Flush() override {
    flushAfter.push_back(Writes().size());
    FaultStream::Flush();
  }
};

struct Recorded {
  OrderedStream stream;
  ZorBFile file;
  explicit Recorded(int32_t flags) {
    ZorBFile::CreateOnStream(&stream, 1, 1, nullptr);
    file.OpenOnStream(&stream, nullptr, flags, -1, -1, -1);
  }
  int32_t Create(const std::string& s, uint32_t reserve = 0) {
    ZorHandle h = Bytes(s);
    return file.BCreate(&h, 1, 1, reserve, true);
  }
  void Rewrite(int32_t id, const std::string& s) {
    ZorHandle h = Bytes(s);
    file.BWriteCopy(id, &h, 0);
  }
  void Clear() {
    stream.ClearRecords();
    stream.flushAfter.clear();
  }
};

TEST(BFileTransactions, FlushOrderIsDataAscendingThenDirectoryThenHeaderThenSync) {
  Recorded r(0);
  std::vector<int32_t> ids;
  for (int i = 0; i < 6; ++i) ids.push_back(r.Create(Pattern(2000, static_cast<uint32_t>(i))));
  r.Clear();
  r.file.StartTransaction();
  for (int i : {4, 1, 5, 0}) r.Rewrite(ids[static_cast<size_t>(i)], Pattern(1500, 40u + static_cast<uint32_t>(i)));
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
  Recorded r(0);
  r.Clear();
  r.file.StartTransaction();
  std::vector<int32_t> ids;
  for (int i = 0; i < 200; ++i) ids.push_back(r.Create(Pattern(100 + static_cast<size_t>(i) * 13, 3), 0));
  r.Create(Pattern(300000, 4));  // larger than one gathered write
  r.file.EndTransaction();
  const auto& w = r.stream.Writes();
  EXPECT_LE(w.size(), 2u + 2u + 2u);
  for (size_t i = 1; i + 2 < w.size(); ++i) EXPECT_EQ(w[i - 1].offset + w[i - 1].length, w[i].offset);
  r.file.Close(ZorBfCloseNormal);
  ZorBFile f;
  f.OpenOnStream(&r.stream, nullptr, 0, -1, -1, -1);
  for (int i = 0; i < 200; ++i) {
    ZorHandle h;
    f.BReadCopy(ids[static_cast<size_t>(i)], &h);
    ASSERT_EQ(Pattern(100 + static_cast<size_t>(i) * 13, 3), Text(h)) << i;
  }
}

TEST(BFileTransactions, NoFlushFlagSkipsTheSyncAndAnIdleTransactionWritesNothing) {
  Recorded r(ZorBfOpenNoFlush);
  r.Create("x");
  EXPECT_TRUE(r.stream.flushAfter.empty());
  Recorded idle(0);
  idle.file.StartTransaction();
  idle.file.EndTransaction();  // syncs the header written at the opening
  idle.Clear();
  idle.file.StartTransaction();
  idle.file.EndTransaction();
  EXPECT_TRUE(idle.stream.Writes().empty());
  EXPECT_TRUE(idle.stream.flushAfter.empty());
}

// ------------------------------------------------------------ directory growth

TEST(BFileGrowth, The1001stEntryMovesDataStartAndTheBlocksBelowIt) {
  MemFile m;
  std::vector<int32_t> ids;
  m.file.StartTransaction();
  for (int i = 0; i < 30; ++i) ids.push_back(m.Create(Pattern(1000, static_cast<uint32_t>(i)), 1, 1, 1000));
  for (int i = 30; i < 1000; ++i) ids.push_back(m.file.BCreate(nullptr, 2, 2, 100, true));
  m.file.EndTransaction();
  EXPECT_EQ(25600u, Le32(m.stream.Image(), 24));
  const uint64_t endBefore = m.stream.Image().size();
  ids.push_back(m.Create("the 1001st"));
  const std::string& img = m.stream.Image();
  EXPECT_EQ(49152u, Le32(img, 24));
  // The block at 48,600 straddled the new data start: the part of its old
  // extent beyond 49,152 stays as free space in a new entry.
  ASSERT_EQ(1002u, DirCount(img));
  const Entry tail = EntryAt(img, 1002);
  EXPECT_EQ(ZorBfFlagFree, tail.flags);
  EXPECT_EQ(49152u, tail.pos);
  EXPECT_EQ(49600u - 49152u, tail.capacity);
  for (uint32_t id = 1; id <= DirCount(img); ++id) {
    const Entry e = EntryAt(img, static_cast<int32_t>(id));
    if (e.flags & ZorBfFlagFree) continue;
    EXPECT_GE(e.pos, 49152u) << id;
    EXPECT_LE(e.pos + e.capacity, img.size()) << id;
  }
  // The 24 blocks that started below 49,152 were copied past the old end.
  EXPECT_GE(EntryAt(img, ids[0]).pos, endBefore);
  m.Reopen();
  for (int i = 0; i < 30; ++i) EXPECT_EQ(Pattern(1000, static_cast<uint32_t>(i)), m.Read(ids[static_cast<size_t>(i)]));
  EXPECT_EQ("the 1001st", m.Read(ids.back()));
}

TEST(BFileGrowth, TwoThousandEntriesTakeTwoStepsOnly) {
  MemFile m(ZorBfOpenNoFlush);
  for (int t = 0; t < 2; ++t) {
    m.file.StartTransaction();
    for (int i = 0; i < 1000; ++i) m.Create(Pattern(1000, static_cast<uint32_t>(i)));
    m.file.EndTransaction();
  }
  EXPECT_EQ(49152u, m.file.GetDataStart());
  EXPECT_LE(m.file.GetDirCount(), 2000);
  CheckLayout(m.stream.Image());
}

TEST(BFileGrowth, AFileShorterThanItsDataStartIsExtendedBeforeAppending) {
  FaultStream seed;
  ZorBFile::CreateOnStream(&seed, 1, 1, nullptr);
  FaultStream s(seed.Image().substr(0, 980));
  ZorBFile f;
  f.OpenOnStream(&s, nullptr, 0, -1, -1, -1);
  ZorHandle h = Bytes("data");
  const int32_t id = f.BCreate(&h, 1, 1, 0, true);
  f.Close(ZorBfCloseNormal);
  EXPECT_EQ(25600u, EntryAt(s.Image(), id).pos);
  f.OpenOnStream(&s, nullptr, 0, -1, -1, -1);
  ZorHandle back;
  f.BReadCopy(id, &back);
  EXPECT_EQ("data", Text(back));
}

TEST(BFileGrowth, The524288thEntryRaises16) {
  const uint32_t count = 524287;
  const uint32_t dataStart = 12601344;
  std::string img(dataStart, '\0');
  FaultStream seed;
  ZorBFile::CreateOnStream(&seed, 1, 1, nullptr);
  img.replace(0, 980, seed.Image().substr(0, 980));
  PutLe32(&img, 24, dataStart);
  PutLe32(&img, 28, count);
  FaultStream s(img);
  ZorBFile f;
  f.OpenOnStream(&s, nullptr, 0, -1, -1, -1);
  EXPECT_EQ(static_cast<int32_t>(count), f.GetDirCount());
  EXPECT_CODE(16, f.BCreate(nullptr, 1, 1, 0, true));
  f.BDelete(7);
  EXPECT_EQ(7, f.BCreate(nullptr, 1, 1, 0, true));
}

// ------------------------------------------------------------ copy-on-write

struct Extent {
  uint64_t begin, end;
  int32_t id;
};
// The extents that the directory of a file image gives to used blocks.
std::vector<Extent> UsedExtents(const std::string& img) {
  std::vector<Extent> out;
  if (img.size() < 980) return out;
  const uint32_t count = DirCount(img);
  for (uint32_t id = 1; id <= count && 980 + id * 24 <= img.size(); ++id) {
    const Entry e = EntryAt(img, static_cast<int32_t>(id));
    if (!(e.flags & ZorBfFlagFree) && (e.pos != 0) && e.capacity != 0)
      out.push_back({e.pos, e.pos + e.capacity, static_cast<int32_t>(id)});
  }
  return out;
}

// Records, at each OS flush, the extents the durable directory references,
// so that every write can be checked against the state a power cut would
// fall back to.
class DurableStream : public FaultStream {
 public:
  std::vector<size_t> flushAfter;               // writes before each flush
  std::vector<std::vector<Extent>> referenced;  // [0]: before any flush
  void Start() {
    ClearRecords();
    flushAfter.clear();
    referenced.assign(1, UsedExtents(Image()));
  }
  void Flush() override {
    FaultStream::Flush();
    flushAfter.push_back(Writes().size());
    referenced.push_back(UsedExtents(Image()));
  }
  // The first write that overwrites an extent of the directory last made
  // durable, a directory write while block data written before it is not
  // yet flushed, or a header write while directory entries are not yet
  // flushed; "" when none.
  std::string Violation(uint32_t dataStart) const {
    size_t state = 0;
    bool dataPending = false, directoryPending = false;
    for (size_t i = 0; i < Writes().size(); ++i) {
      while (state < flushAfter.size() && flushAfter[state] <= i) {
        ++state;
        dataPending = directoryPending = false;
      }
      const auto& w = Writes()[i];
      for (const Extent& x : referenced[state])
        if (w.offset < x.end && x.begin < w.offset + w.length)
          return "write " + std::to_string(i) + " at " + std::to_string(w.offset) + " hits block " +
                 std::to_string(x.id);
      const bool directory = w.offset >= 980 && w.offset < dataStart;
      if (!directory && w.offset >= 980) dataPending = true;
      if (directory && dataPending) return "directory write " + std::to_string(i) + " before the data barrier";
      if (directory) directoryPending = true;
      if (w.offset == 0 && directoryPending) return "header write " + std::to_string(i) + " before the directory barrier";
    }
    return std::string();
  }
};

struct CowFile {
  DurableStream stream;
  ZorBFile file;
  std::map<int32_t, std::string> model;
  explicit CowFile(int32_t cache) {
    ZorBFile::CreateOnStream(&stream, 1, 1, nullptr);
    file.OpenOnStream(&stream, nullptr, ZorBfOpenCopyOnWrite, cache, -1, -1);
  }
  void RandomOp(std::mt19937& rng) {
    const uint32_t pick = rng() % 10;
    const size_t n = rng() % 3 == 0 ? rng() % 70000 : rng() % 3000;
    if (pick < 4 || model.empty()) {
      ZorHandle h = Bytes(Pattern(n, rng()));
      const int32_t id = file.BCreate(&h, 1, 1, rng() % 2 ? 0 : rng() % 4000, true);
      model[id] = Text(h);
      return;
    }
    auto it = model.begin();
    std::advance(it, static_cast<long>(rng() % model.size()));
    if (pick < 8) {
      ZorHandle h = Bytes(Pattern(n, rng()));
      file.BWriteCopy(it->first, &h, static_cast<int32_t>(rng() % 2000));
      it->second = Text(h);
    } else {
      file.BDelete(it->first);
      model.erase(it);
    }
  }
};

TEST(BFileCopyOnWrite, NoWriteTouchesAnExtentOfTheDurableDirectory) {
  for (int32_t cache : {-1, 4}) {
    CowFile c(cache);
    std::mt19937 rng(1234 + static_cast<uint32_t>(cache));
    for (int t = 0; t < 120; ++t) {
      c.stream.Start();
      c.file.StartTransaction();
      const int ops = 1 + static_cast<int>(rng() % 12);
      for (int k = 0; k < ops; ++k) c.RandomOp(rng);
      c.file.EndTransaction();
      const std::string v = c.stream.Violation(c.file.GetDataStart());
      ASSERT_EQ("", v) << "transaction " << t << " cache " << cache;
    }
    c.file.Close(ZorBfCloseNormal);
    ZorBFile again;
    again.OpenOnStream(&c.stream, nullptr, 0, -1, -1, -1);
    for (auto& [id, text] : c.model) {
      ZorHandle h;
      again.BReadCopy(id, &h);
      EXPECT_EQ(text, Text(h)) << id;
    }
  }
}

TEST(BFileCopyOnWrite, DirectoryGrowthNeverOverwritesWhatTheOldDirectoryReferences) {
  CowFile c(-1);
  std::vector<int32_t> ids;
  c.file.StartTransaction();
  for (int i = 0; i < 30; ++i) {
    ZorHandle h = Bytes(Pattern(900, static_cast<uint32_t>(i)));
    ids.push_back(c.file.BCreate(&h, 1, 1, 1000, true));
  }
  for (int i = 30; i < 1000; ++i) c.file.BCreate(nullptr, 2, 2, 10, true);
  c.file.EndTransaction();
  c.stream.Start();
  c.file.StartTransaction();
  ZorHandle h = Bytes("over the step");
  c.file.BCreate(&h, 1, 1, 0, true);
  // Enough entries for the directory itself to reach past 25,600.
  for (int i = 0; i < 100; ++i) c.file.BCreate(nullptr, 3, 3, 10, true);
  ZorHandle again = Bytes(Pattern(900, 77));
  c.file.BWriteCopy(ids[3], &again, 0);
  c.file.EndTransaction();
  EXPECT_EQ(49152u, c.file.GetDataStart());
  EXPECT_EQ("", c.stream.Violation(c.file.GetDataStart()));
  c.file.Close(ZorBfCloseNormal);
  ZorBFile f;
  f.OpenOnStream(&c.stream, nullptr, 0, -1, -1, -1);
  ZorHandle out;
  f.BReadCopy(ids[3], &out);
  EXPECT_EQ(Pattern(900, 77), Text(out));
  f.BReadCopy(ids[29], &out);
  EXPECT_EQ(Pattern(900, 29), Text(out));
}

// A killed process stops between writes, never inside one: the header and
// the entries it already counted commit in one write, after the new entries.
TEST(BFileCopyOnWrite, HeaderAndCountedEntriesCommitInOneWrite) {
  CowFile c(-1);
  std::vector<int32_t> ids;
  for (int i = 0; i < 5; ++i) {
    ZorHandle h = Bytes(Pattern(500, static_cast<uint32_t>(i)));
    ids.push_back(c.file.BCreate(&h, 1, 1, 0, true));
  }
  c.stream.Start();
  c.file.StartTransaction();
  ZorHandle changed = Bytes(Pattern(500, 50));
  c.file.BWriteCopy(ids[3], &changed, 0);
  ZorHandle added = Bytes("new");
  c.file.BCreate(&added, 1, 1, 0, true);
  c.file.EndTransaction();
  EXPECT_EQ("", c.stream.Violation(c.file.GetDataStart()));
  const auto& w = c.stream.Writes();
  ASSERT_GE(w.size(), 2u);
  const auto& last = w.back();
  EXPECT_EQ(0u, last.offset);
  EXPECT_EQ(980u + 5u * 24u, last.length);  // header + entries 1..5 (4 changed, 6 is new)
  bool newEntriesBefore = false;
  for (size_t i = 0; i + 1 < w.size(); ++i)
    if (w[i].offset >= 980 + 5 * 24 && w[i].offset < 25600) newEntriesBefore = true;
  EXPECT_TRUE(newEntriesBefore);
}

TEST(BFileCopyOnWrite, ExtentsFreedInATransactionAreReusedOnlyAfterItsFlush) {
  CowFile c(-1);
  ZorHandle h = Bytes(std::string(5000, 'a'));
  const int32_t a = c.file.BCreate(&h, 1, 1, 0, true);
  c.file.StartTransaction();
  c.file.BDelete(a);
  const int32_t b = c.file.BCreate(nullptr, 1, 1, 5000, true);
  ZorHandle in;
  c.file.BReadCopy(b, &in);
  c.file.EndTransaction();
  sZorBfBRef ea, eb;
  ASSERT_TRUE(c.file.GetEntry(a, &ea));
  ASSERT_TRUE(c.file.GetEntry(b, &eb));
  EXPECT_NE(ea.GetPos(), eb.GetPos());
  EXPECT_EQ(25600u, ea.GetPos());
  EXPECT_TRUE(ea.IsFree());
  EXPECT_EQ(a, c.file.BCreate(nullptr, 1, 1, 5000, true));  // free now
}

// ------------------------------------------------------------ cache

// The cache raises its limit instead of evicting while evictions come close
// together and the process's resident memory is small: the eviction tests
// hold a large working set so that the outcome does not depend on how much
// memory the test process happens to use.
TEST(BFileCache, EvictionDropsTheOldestCleanBlocksByTheRule) {
  zortest::BusyWorkingSet busy;
  MemFile m(0, 6);
  std::vector<int32_t> ids;
  for (int i = 0; i < 8; ++i) ids.push_back(m.Create(Pattern(100, static_cast<uint32_t>(i))));
  // Creation shares the callers' handles; uncache to start from nothing.
  for (int32_t id : ids) m.file.BUncach(id);
  EXPECT_EQ(0, m.file.GetCacheCount());
  ZorHandle held;
  m.file.BRead(ids[0], &held);  // referenced outside: never dropped
  for (int i = 1; i < 6; ++i) m.Read(ids[static_cast<size_t>(i)]);
  EXPECT_EQ(6, m.file.GetCacheCount());
  // count 6, third 2, keep (6 - 2) - 4 / 5 = 4: two clean blocks go, the
  // oldest ones that only the cache holds (ids[1], ids[2]); then the new one
  // comes in.
  m.Read(ids[6]);
  EXPECT_EQ(5, m.file.GetCacheCount());
  EXPECT_EQ(1, m.file.BUsed(ids[0]));
  ZorHandle probe;
  EXPECT_EQ(Pattern(100, 0), Text(held));
  m.file.BRead(ids[0], &probe);
  EXPECT_EQ(held.GetDatas(), probe.GetDatas());
}

TEST(BFileCache, DirtyBlocksOnlyCacheHeldAreWrittenOutByEviction) {
  zortest::BusyWorkingSet busy;
  MemFile m(0, 4);
  m.file.StartTransaction();
  std::vector<int32_t> ids;
  for (int i = 0; i < 10; ++i) {
    ZorHandle h = Bytes(Pattern(500, static_cast<uint32_t>(i)));
    ids.push_back(m.file.BCreate(&h, 1, 1, 0, true));
  }
  EXPECT_LE(m.file.GetCacheCount(), 5);
  EXPECT_LT(m.file.GetDirtyCount(), 10);
  m.file.EndTransaction();
  m.Reopen();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Pattern(500, static_cast<uint32_t>(i)), m.Read(ids[static_cast<size_t>(i)]));
}

TEST(BFileCache, UsedCountsOutsideReferencesAndEmptyFileRefusesThem) {
  MemFile m;
  const int32_t a = m.Create("a");
  const int32_t b = m.Create("b");
  EXPECT_EQ(0, m.file.BUsed(a));
  ZorHandle h1, h2;
  m.file.BRead(a, &h1);
  m.file.BRead(a, &h2);
  EXPECT_EQ(2, m.file.BUsed(a));
  EXPECT_EQ(0, m.file.BUsed(b));
  EXPECT_EQ(1, m.file.BUsed(0));
  EXPECT_EQ(0, m.file.BUsed(77));
  EXPECT_CODE(22, m.file.EmptyFile(false));
  EXPECT_TRUE(m.file.BExist(a, nullptr));
  h1.Trash();
  h2.Trash();
  m.file.StartTransaction();
  ZorHandle h3;
  m.file.BRead(b, &h3);
  ZorHandle grown = Bytes("bb");
  m.file.BWriteCopy(b, &grown, 0);
  h3.Trash();
  m.file.EmptyFile(true);  // a dirty block held only by the cache is fine
  m.file.EndTransaction();
  EXPECT_EQ(0, m.file.GetNbBlock(nullptr, nullptr));
  EXPECT_EQ(0u, m.file.GetUpdateCounter());
  EXPECT_EQ(25600u, m.stream.Image().size());
}

// Emptied on its own, the file ends as a new one, its old blocks intact
// until the empty header is on disk; a block created after EmptyFile in the
// same transaction lands after the old area, which becomes free space.
TEST(BFileCache, EmptyFileUnderCopyOnWriteFreesTheOldAreaAtTheFlush) {
  CowFile c(8);
  auto fill = [&] {
    for (int i = 0; i < 3; ++i) {
      ZorHandle h = Bytes(Pattern(5000, static_cast<uint32_t>(i)));
      c.file.BCreate(&h, 1, 1, 0, true);
    }
  };
  fill();
  c.stream.Start();
  c.file.EmptyFile(false);
  EXPECT_EQ("", c.stream.Violation(c.file.GetDataStart()));
  EXPECT_EQ(0u, DirCount(c.stream.Image()));
  EXPECT_EQ(25600u, c.stream.Image().size());
  fill();
  c.stream.Start();
  c.file.StartTransaction();
  c.file.EmptyFile(false);
  ZorHandle fresh = Bytes("during");
  const int32_t during = c.file.BCreate(&fresh, 1, 1, 0, true);
  c.file.EndTransaction();
  EXPECT_EQ("", c.stream.Violation(c.file.GetDataStart()));
  CheckLayout(c.stream.Image());
  sZorBfBRef e;
  ASSERT_TRUE(c.file.GetEntry(during, &e));
  EXPECT_EQ(25600u + 15000u, e.GetPos());  // not inside the area being released
  ZorHandle after = Bytes("after");
  const int32_t reused = c.file.BCreate(&after, 1, 1, 0, true);
  ASSERT_TRUE(c.file.GetEntry(reused, &e));
  EXPECT_EQ(25600u, e.GetPos());
}

TEST(BFileCache, UncachingWritesDirtyBlocksAndKeepsHeldOnes) {
  MemFile m;
  const int32_t a = m.Create(std::string(300, 'a'));
  m.file.StartTransaction();
  ZorHandle h = Bytes(std::string(300, 'z'));
  m.file.BWriteCopy(a, &h, 0);
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
  std::vector<int32_t> ids;
  for (int i = 0; i < 5; ++i) ids.push_back(m.Create(Pattern(10000, static_cast<uint32_t>(i))));
  for (int32_t id : ids) m.Read(id);
  EXPECT_EQ(5, m.file.GetCacheCount());
  EXPECT_TRUE(m.file.Purge(15000));
  EXPECT_EQ(3, m.file.GetCacheCount());
  m.file.StartTransaction();
  ZorHandle h = Bytes(Pattern(10000, 50));
  m.file.BWriteCopy(ids[4], &h, 0);
  EXPECT_TRUE(ZorIsPurgerRegistered(&m.file));
  EXPECT_TRUE(ZorPurgeMemory(1 << 30) == false);  // cannot free a GiB
  EXPECT_EQ(0, m.file.GetCacheCount());
  m.file.EndTransaction();
  m.Reopen();
  EXPECT_EQ(Pattern(10000, 50), m.Read(ids[4]));
  EXPECT_EQ(Pattern(10000, 3), m.Read(ids[3]));
}

// ------------------------------------------------------------ errors

// Every code of the failure table, each from a real trigger, carrying the
// file's path. Code 1 (a work array that cannot grow during a flush) needs
// the allocator to fail and is not provoked here.
TEST(BFileErrors, EveryCodeFromARealTrigger) {
  zortest::TempDir dir;
  ZorFsa path = dir.Fsa("e.zbf");
  ZorBFile::Create(&path, 2, 3, nullptr, ZorFsaCreateAlways);
  auto codeAndPath = [&](const std::function<void()>& f) -> std::pair<int64_t, bool> {
    try {
      f();
    } catch (const ZorException& e) {
      return {e.GetError(), *e.GetFsa() == path};
    }
    return {0, false};
  };
  auto expect = [&](int32_t code, const std::function<void()>& f) {
    const auto [err, withPath] = codeAndPath(f);
    EXPECT_EQ(ZorErr(1, code), err);
    EXPECT_TRUE(withPath) << code;
  };
  auto patch = [&](size_t at, uint32_t v) {
    std::string img = zortest::ReadFile(dir.File("e.zbf"));
    PutLe32(&img, at, v);
    dir.Make("e.zbf", img);
  };
  {
    ZorBFile f;
    f.Open(&path, ZorPermReadWrite, ZorShareExclusive, 0, -1, 2, 3);
    ZorHandle h = Bytes("x");
    const int32_t id = f.BCreate(&h, 1, 1, 0, true);
    expect(15, [&] { f.EndTransaction(); });
    expect(16, [&] {
      ZorHandle big;
      big.Init(104857601);
      f.BCreate(&big, 1, 1, 0, true);
    });
    expect(22, [&] {
      ZorHandle held;
      f.BRead(id, &held);
      f.EmptyFile(false);
    });
    expect(23, [&] { f.BRead(0, &h); });
    expect(23, [&] { f.BRead(id + 1, &h); });
    h.Trash();
    f.BUncach(id);
    expect(23, [&] { f.BWrite(id, 0); });  // BWrite needs the block in the cache
    f.BDelete(id);
    f.BDelete(id);  // a free entry is ignored
    expect(23, [&] { f.BReadCopy(id, &h); });
    expect(23, [&] { f.BIsCompact(id); });
    ZorSetCheckLevel(2);
    f.BRead(id, &h);
    f.BWrite(99, 0);
    ZorSetCheckLevel(0);
    f.Close(ZorBfCloseNormal);
  }
  {
    ZorBFile f;
    f.Open(&path, ZorPermRead, ZorShareRead, 0, -1, -1, -1);
    EXPECT_FALSE(f.IsWriteEnable());
    expect(24, [&] { f.StartTransaction(); });
    expect(24, [&] { f.SetUserRel(5); });
    expect(24, [&] { f.SetCreaStr("x"); });
    expect(24, [&] { f.EmptyFile(false); });
    expect(24, [&] { f.BCreate(nullptr, 1, 1, 0, true); });
    EXPECT_EQ(f.GetStream(), f.SetModeBackup(true));  // nothing happens
    f.Close(ZorBfCloseNormal);
  }
  ZorBFile f;
  expect(36, [&] { f.Open(&path, ZorPermReadWrite, ZorShareExclusive, 0, -1, 9, -1); });
  expect(36, [&] { f.Open(&path, ZorPermReadWrite, ZorShareExclusive, 0, -1, -1, 9); });
  patch(12, 1);
  expect(32, [&] { f.Open(&path, ZorPermReadWrite, ZorShareExclusive, 0, -1, -1, -1); });
  patch(12, 0);
  patch(8, 2);
  expect(33, [&] { f.Open(&path, ZorPermReadWrite, ZorShareExclusive, 0, -1, -1, -1); });
  patch(8, 0);
  expect(34, [&] { f.Open(&path, ZorPermReadWrite, ZorShareExclusive, 0, -1, -1, -1); });
  patch(8, 1);
  patch(28, 5000);
  expect(32, [&] { f.Open(&path, ZorPermReadWrite, ZorShareExclusive, 0, -1, -1, -1); });
  patch(28, 0);
  patch(0, 0);
  expect(36, [&] { f.Open(&path, ZorPermReadWrite, ZorShareExclusive, ZorBfOpenTolerant, -1, -1, -1); });
  EXPECT_FALSE(f.IsOpen());
  ZorFsa missing = dir.Fsa("none.zbf");
  EXPECT_EQ(ZorErr(1, 41), ZorBFile::Is(&missing, false, -1, -1));
}

// The representation's state that no outside input can damage is damaged
// directly, to prove that the internal-fault checks fire.
TEST(BFileErrors, InternalFaultsAreCrashesWithTheirTexts) {
  MemFile m;
  ZorBFile::Rep::Of(m.file)._header[0] = 'X';
  try {
    m.file.SetUserRel(3);
    ADD_FAILURE() << "no fault";
  } catch (const ZorECrash& e) {
    EXPECT_EQ(ZorErr(1, 13), e.GetError());
    EXPECT_STREQ("erreur interne", e.GetMsgText());
  }
  MemFile r;
  r.Create("a");
  r.file.StartTransaction();
  ZorBFile::Rep& rep = ZorBFile::Rep::Of(r.file);
  rep._changedLow = 1;
  rep._changedHigh = rep._dirCount() + 5;
  try {
    r.file.EndTransaction();
    ADD_FAILURE() << "no fault";
  } catch (const ZorECrash& e) {
    EXPECT_EQ(ZorErr(1, 13), e.GetError());
    EXPECT_STREQ("internal error", e.GetMsgText());
  }
  EXPECT_EQ(0, r.file.CountTransaction());
}

// A sparse file ending 2 KiB short of 2^40: an appended block of 2 KiB
// would reach the limit.
TEST(BFileErrors, AnExtentReachingTwoToTheFortyRaises16) {
  zortest::TempDir dir;
  const ZorFsa path = dir.Fsa("huge.zbf");
  ZorBFile::Create(&path, 7, 99, "test", ZorFsaCreateAlways);
  std::filesystem::resize_file(dir.File("huge.zbf"), (uint64_t(1) << 40) - 2048);
  ZorBFile f;
  f.Open(&path, ZorPermReadWrite, ZorShareExclusive, 0, -1, 7, 99);
  EXPECT_CODE(16, f.BCreate(nullptr, 1, 1, 2048, true));
  EXPECT_EQ(0, f.CountTransaction());
}

TEST(BFileErrors, AFailedWriteLeavesTheTransactionClosedAndTheDataRetried) {
  MemFile m;
  const int32_t id = m.Create("before");
  m.stream.FailAt(FaultStream::Op::kWrite, 1);
  ZorHandle h = Bytes("after!");
  EXPECT_EQ(ZorErr(-1, 112), CodeOf([&] { m.file.BWriteCopy(id, &h, 0); }));
  EXPECT_EQ(0, m.file.CountTransaction());
  m.file.StartTransaction();
  m.file.EndTransaction();
  m.Reopen();
  EXPECT_EQ("after!", m.Read(id));
}

// ------------------------------------------------------------ model

// Random operations against a map of expected contents, with reopenings,
// under each placement and cache setting. After every transaction the
// extents of the directory on disk must be disjoint and inside
// [data start, end of file).
void CheckLayout(const std::string& img) {
  const uint64_t dataStart = Le32(img, 24);
  std::vector<Extent> all;
  for (uint32_t id = 1; id <= DirCount(img); ++id) {
    const Entry e = EntryAt(img, static_cast<int32_t>(id));
    EXPECT_EQ(0u, e.slot);
    EXPECT_EQ(0, e.flags & ZorBfFlagMemoryOnly);
    if (e.pos == 0) continue;
    ASSERT_GE(e.pos, dataStart) << id;
    ASSERT_LE(e.pos + e.capacity, img.size()) << id;
    if (!(e.flags & ZorBfFlagFree)) {
      ASSERT_LE(e.size, e.capacity) << id;
    }
    all.push_back({e.pos, e.pos + e.capacity, static_cast<int32_t>(id)});
  }
  std::sort(all.begin(), all.end(), [](const Extent& a, const Extent& b) { return a.begin < b.begin; });
  for (size_t i = 1; i < all.size(); ++i)
    ASSERT_LE(all[i - 1].end, all[i].begin) << all[i - 1].id << " overlaps " << all[i].id;
}

TEST(BFileModel, RandomOperationsMatchAMap) {
  for (int32_t flags : {0, int32_t{ZorBfOpenCopyOnWrite}, ZorBfOpenRound1K | ZorBfOpenNoFlush}) {
    for (int32_t cache : {-1, 5}) {
      SCOPED_TRACE(testing::Message() << "flags " << flags << " cache " << cache);
      MemFile m(flags, cache);
      std::map<int32_t, std::string> model;
      std::map<int32_t, int32_t> owners;
      std::mt19937 rng(static_cast<uint32_t>(flags * 31 + cache));
      for (int t = 0; t < 150; ++t) {
        const bool txn = rng() % 2 == 0;
        if (txn) m.file.StartTransaction();
        for (int k = 0, n = 1 + static_cast<int>(rng() % 8); k < n; ++k) {
          const uint32_t pick = rng() % 12;
          const size_t size = rng() % 5 == 0 ? rng() % 80000 : rng() % 2500;
          if (pick < 4 || model.empty()) {
            const std::string text = Pattern(size, rng());
            const int32_t owner = static_cast<int32_t>(rng() % 3);
            const int32_t id = m.Create(text, owner, 1, rng() % 3000);
            model[id] = text;
            owners[id] = owner;
            continue;
          }
          auto it = model.begin();
          std::advance(it, static_cast<long>(rng() % model.size()));
          if (pick < 7) {
            ZorHandle h;
            m.file.BRead(it->first, &h);  // change the shared memory, then declare it
            const std::string text = Pattern(size, rng());
            h.Init(static_cast<uint32_t>(text.size()));
            if (!text.empty()) memcpy(h.GetDatas(), text.data(), text.size());
            m.file.BWrite(it->first, static_cast<int32_t>(rng() % 500));
            it->second = text;
          } else if (pick < 9) {
            m.file.BDelete(it->first);
            model.erase(it);
          } else if (pick < 10) {
            const int32_t id = m.file.BDuplicate(it->first, 2, 2, 0);
            model[id] = it->second;
            owners[id] = -1;  // type 2: never selected below
          } else if (pick < 11) {
            EXPECT_EQ(it->second, m.Read(it->first));
          } else {
            const int32_t owner = static_cast<int32_t>(rng() % 3);
            m.file.BMultiDelete(owner, 1);
            for (auto j = model.begin(); j != model.end();) j = owners[j->first] == owner ? model.erase(j) : std::next(j);
          }
        }
        if (txn) m.file.EndTransaction();
        CheckLayout(m.stream.Image());
        if (rng() % 25 == 0) m.Reopen(flags);
      }
      m.Reopen(flags);
      int32_t used = 0;
      m.file.BExist(0, &used);
      EXPECT_EQ(static_cast<int32_t>(model.size()), used);
      for (auto& [id, text] : model) EXPECT_EQ(text, m.Read(id)) << id;
    }
  }
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
  EXPECT_CODE(23, m.file.SetUserData(64, 1));
  m.file.Close(ZorBfCloseNormal);
  const std::string& img = m.stream.Image();
  EXPECT_EQ(41u, Le32(img, 40));
  EXPECT_EQ(static_cast<uint32_t>(-42), Le32(img, 44));
  EXPECT_EQ(43u, Le32(img, 48));
  EXPECT_EQ(44u, Le32(img, 52));
  EXPECT_EQ(std::string("a creation string longer than thirt") + '\0', img.substr(56, 36));
  EXPECT_EQ(static_cast<uint32_t>(-7), Le32(img, 92));
  EXPECT_EQ(12345u, Le32(img, 92 + 63 * 4));
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

TEST(BFileHeader, UnchangedValuesWriteNothing) {
  MemFile m;
  m.file.SetUserRel(5);
  m.stream.ClearRecords();
  m.file.SetUserRel(5);
  m.file.SetUserData(3, 0);
  EXPECT_TRUE(m.stream.Writes().empty());
}

TEST(BFileHeader, NewFilesGetDifferentIdentifiers) {
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
  m.file.ClrSecuFlag();
  EXPECT_EQ(1u, Le32(m.stream.Image(), 12));
  // A file left with the counter set refuses to open until repaired.
  m.file.Close(ZorBfCloseAbandon);
  ZorBFile f;
  EXPECT_CODE(32, f.OpenOnStream(&m.stream, nullptr, 0, -1, -1, -1));
  f.OpenOnStream(&m.stream, nullptr, ZorBfOpenTolerant, -1, -1, -1);
  EXPECT_EQ(1, f.GetCrashFlag(true));
  f.Close(ZorBfCloseNormal);
  f.OpenOnStream(&m.stream, nullptr, 0, -1, -1, -1);
  f.SetSecuFlag();
  f.ClrSecuFlag();
  EXPECT_EQ(0u, Le32(m.stream.Image(), 12));
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

// ------------------------------------------------------------ close, distant seams

TEST(BFileClose, ModeTwoRemovesTheFileAndScratchFilesVanish) {
  zortest::TempDir dir;
  ZorFsa path = dir.Fsa("gone.zbf");
  ZorBFile::Create(&path, 1, 1, nullptr, ZorFsaCreateAlways);
  ZorBFile f;
  f.Open(&path, ZorPermReadWrite, ZorShareExclusive, 0, -1, -1, -1);
  f.Close(ZorBfCloseRemove);
  EXPECT_FALSE(ZorFsaCmd(&path, ZorFsaCmdQuiet).Exists());
  ZorBFile::Create(&path, 1, 1, nullptr, ZorFsaCreateAlways);
  f.Open(&path, ZorPermReadWrite, ZorShareExclusive, ZorBfOpenNoTransaction, -1, -1, -1);
  ZorHandle h = Bytes("scratch");
  const int32_t id = f.BCreate(&h, 1, 1, 0, true);
  h.Trash();
  ZorHandle back;
  f.BReadCopy(id, &back);
  EXPECT_EQ("scratch", Text(back));
  f.Close(ZorBfCloseNormal);
  EXPECT_FALSE(ZorFsaCmd(&path, ZorFsaCmdQuiet).Exists());
}

TEST(BFileClose, OpenFailureLeavesTheObjectClosedAndTheStreamAlone) {
  FaultStream s(std::string(100, 'x'));
  ZorBFile f;
  EXPECT_CODE(36, f.OpenOnStream(&s, nullptr, 0, -1, -1, -1));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(s.IsClosed());
  EXPECT_FALSE(ZorIsPurgerRegistered(&f));
}

TEST(BFileDistant, OutermostTransactionsAreBracketedByTheStream) {
  FaultStream s;
  ZorBFile::CreateOnStream(&s, 1, 1, nullptr);
  s.SetDistant(true, 4096);
  ZorBFile f;
  f.OpenOnStream(&s, nullptr, 0, -1, -1, -1);
  EXPECT_TRUE(f.IsDistant());
  EXPECT_EQ(0, s.BracketDepth());
  f.StartTransaction();
  EXPECT_EQ(1, s.BracketDepth());
  f.StartTransaction();
  EXPECT_EQ(1, s.BracketDepth());
  ZorHandle h = Bytes("shared");
  const int32_t id = f.BCreate(&h, 1, 1, 0, true);
  f.EndTransaction();
  f.EndTransaction();
  EXPECT_EQ(0, s.BracketDepth());
  // The open marker belongs to local files only.
  EXPECT_EQ(0u, Le32(s.Image(), 16) & 4);
  f.Close(ZorBfCloseNormal);
  f.OpenOnStream(&s, nullptr, 0, -1, -1, -1);
  ZorHandle back;
  f.BReadCopy(id, &back);
  EXPECT_EQ("shared", Text(back));
}

}  // namespace
