// The buffered stream: random operations against a model over each kind of
// underlying byte store, write coalescing, and exclusive access dropping the
// window. First the fault-injecting test stream it runs on, which the
// block file's crash tests use too: its armed faults and what a power cut
// may leave.
#include <zorvane/exception.h>
#include <zorvane/stream_cache.h>

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "support/fault_stream.h"
#include "support/stream_model.h"
#include "support/temp_files.h"

using namespace zorvane;
using zortest::Exercise;
using zortest::FaultStream;

namespace {

void WriteAt(iZorStream* s, uint64_t offset, const std::string& data) {
  s->Seek(static_cast<int64_t>(offset), ZorSeekSet);
  s->Write(data.data(), static_cast<uint32_t>(data.size()));
}

}  // namespace

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

TEST(StreamCache, RandomOperationsOverAStream) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    std::string initial(3000 + seed * 1000, 'i');
    FaultStream inner(initial);
    ZorStreamCache cache;
    cache.Init(&inner, 1024);
    EXPECT_EQ(inner.LockCount(), 1);
    const std::string model = Exercise(&cache, initial, seed, 1024);
    cache.Flush();
    EXPECT_EQ(inner.Image(), model);
    EXPECT_EQ(inner.Flushes() > 0, true);
    cache.Close();
    EXPECT_EQ(inner.LockCount(), 0);
    EXPECT_FALSE(inner.IsClosed());  // a stream it did not open stays open
  }
}

TEST(StreamCache, RandomOperationsOverAHandleAndAFile) {
  ZorHandle h;
  h.Init("hello", 5);
  {
    ZorStreamCache cache;
    cache.Init(&h, 512);
    const std::string model = Exercise(&cache, "hello", 9, 512);
    cache.Close();
    EXPECT_EQ(std::string(static_cast<char*>(h.GetDatas()), h.GetSize()), model);
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

TEST(StreamCache, SmallWritesReachTheStreamTogether) {
  FaultStream inner;
  ZorStreamCache cache;
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
