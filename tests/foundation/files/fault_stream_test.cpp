// The fault-injecting test stream: its armed faults and what a power cut may
// leave. Its records and distant play are used by the stream cache tests.
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
