// The buffered stream: random operations against a model over each kind of
// underlying byte store, write coalescing, and exclusive access dropping the
// window.
#include <zorvane/exception.h>
#include <zorvane/stream_cache.h>

#include <gtest/gtest.h>

#include <string>

#include "support/fault_stream.h"
#include "support/stream_model.h"
#include "support/temp_files.h"

using namespace zorvane;
using zortest::Exercise;
using zortest::FaultStream;


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
  dir.Make("f", "file");
  const ZorFsa path = dir.Fsa("f");
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
