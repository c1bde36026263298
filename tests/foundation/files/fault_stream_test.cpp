// The fault-injecting test stream on a small workload: its records, its
// armed faults, what a power cut may leave, and its distant play.
#include <zorvane/exception.h>
#include <zorvane/stream.h>

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "support/fault_stream.h"

using namespace zorvane;
using zortest::FaultStream;

namespace {

void WriteAt(iZorStream* s, uint64_t offset, const std::string& data) {
  s->Seek(static_cast<int64_t>(offset), ZorSeekSet);
  s->Write(data.data(), static_cast<uint32_t>(data.size()));
}

}  // namespace

TEST(FaultStream, RecordsWritesSizesAndFlushes) {
  FaultStream s("0123456789");
  WriteAt(&s, 2, "ab");
  WriteAt(&s, 12, "xyz");  // past the end: a zero gap
  s.SetSize(8);
  s.Flush();
  EXPECT_EQ(s.Image(), std::string("01ab4567"));
  EXPECT_EQ(s.Durable(), s.Image());
  EXPECT_EQ(s.Writes(), (std::vector<FaultStream::WriteRecord>{{2, 2}, {12, 3}}));
  EXPECT_EQ(s.SizeChanges(), std::vector<uint64_t>{8});
  EXPECT_EQ(s.Flushes(), 1);
  EXPECT_EQ(s.BytesWritten(), 5u);
  char buf[20];
  s.Seek(6, ZorSeekSet);
  EXPECT_EQ(s.Read(buf, 20), 2u);
  EXPECT_EQ(s.Seek(-3, ZorSeekEnd), 5u);
}

TEST(FaultStream, ArmedFaultFiresOnceWithoutEffect) {
  FaultStream s("abc");
  s.FailAt(FaultStream::Op::kWrite, 2, ZorErr(-1, 112));
  WriteAt(&s, 0, "x");
  int64_t err = 0;
  try {
    WriteAt(&s, 1, "y");
  } catch (const ZorEBasic& e) {
    err = e.GetError();
  }
  EXPECT_EQ(err, ZorErr(-1, 112));
  EXPECT_TRUE(s.Fired());
  EXPECT_EQ(s.Image(), "xbc");
  WriteAt(&s, 1, "y");  // the next one works again
  EXPECT_EQ(s.Image(), "xyc");

  s.FailAt(FaultStream::Op::kAny, 3);
  s.GetSize();
  s.Flush();
  EXPECT_THROW(s.Seek(0, ZorSeekSet), ZorEBasic);
  s.Close();
  EXPECT_THROW(s.GetSize(), ZorEBasic);
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
    if (!resized) {
      EXPECT_GE(cut.size(), base.size());
    }
    for (size_t i = 0; i < cut.size(); ++i)
      if (possible[i].find(cut[i]) == std::string::npos) {
        ASSERT_EQ(cut[i], '\0') << "seed " << seed << " byte " << i;
      }
    outcomes.insert(cut);
  }
  EXPECT_GT(outcomes.size(), 45u);
}

TEST(FaultStream, PowerCutIsReproducibleAndTearsAtSectors) {
  auto run = [](uint32_t seed) {
    FaultStream s(std::string(2048, '.'));
    WriteAt(&s, 100, std::string(1800, 'W'));
    return s.PowerCut(seed, 512);
  };
  bool torn = false;
  for (uint32_t seed = 0; seed < 50; ++seed) {
    const std::string a = run(seed);
    EXPECT_EQ(a, run(seed));
    // Pieces change only at sector boundaries (or at the write's ends).
    for (size_t i = 1; i < a.size(); ++i)
      if (a[i] != a[i - 1]) {
        EXPECT_TRUE(i % 512 == 0 || i == 100 || i == 1900) << i;
      }
    const size_t ws = std::count(a.begin(), a.end(), 'W');
    torn |= ws != 0 && ws != 1800;
  }
  EXPECT_TRUE(torn);
}

TEST(FaultStream, DistantPlay) {
  FaultStream s(std::string(5 * 1024, 'a'));
  s.SetDistant(true, 1024);
  int calls = 0;
  ZorDelegate::Thunk thunk = [](void* o, int32_t) { ++*static_cast<int*>(o); };
  ZorDelegate d(&calls, thunk);
  s.Command(ZorStmCmdSetChangeCallback, &d, nullptr, nullptr, nullptr);
  EXPECT_TRUE(s.IsDistant());
  EXPECT_EQ(s.GetChunkSize(), 1024u);
  s.ForeignWrite(2000, "zz");
  EXPECT_TRUE(s.IsRangeChanged(1024, 1));
  EXPECT_FALSE(s.IsRangeChanged(0, 1024));
  s.BeginExclusive();
  s.BeginExclusive();
  EXPECT_EQ(calls, 1);
  s.EndExclusive();
  s.EndExclusive();
  char buf[1024];
  s.Seek(1024, ZorSeekSet);
  s.Read(buf, 1024);
  EXPECT_FALSE(s.IsRangeChanged(1024, 1024));
  s.BeginExclusive();
  s.EndExclusive();
  EXPECT_EQ(calls, 1);
}
