// ZorBFile: the stored format, opening and closing, the safety counters,
// the block operations, transactions and the order of writes, the cache,
// copy-on-write placement, and every error code from a real trigger.
//
// Most tests run on the fault-injecting in-memory stream, which records each
// write; the format tests decode the bytes with an independent reader
// (tests/storage/bfile_layout.py through Python's struct) and a model test
// compares random operations with a map of expected contents.
#include <zorvane/bfile.h>
#include <zorvane/bget.h>
#include <zorvane/exception.h>
#include <zorvane/fsa_cmd.h>
#include <zorvane/purger.h>
#include <zorvane/string.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/fault_stream.h"
#include "support/temp_files.h"

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

}  // namespace
