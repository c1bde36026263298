// ZorSort beyond what the oracle sees: the size rule, the temporary file
// (gone with the sort; a missing temporary directory gives 5) and a full
// disk while runs are written (3), unknown methods (23).
#include <gtest/gtest.h>
#include <zorvane/zorvane.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "platform/env.h"
#include "support/fault_env.h"
#include "support/temp_files.h"
#include "support/test_util.h"

namespace zorvane {
namespace {

// A key of one Long part at offset 0 of the caller's value.
sZorKey LongKey() {
  sZorKey key;
  key.nbPart = key.nbPart2 = 1;
  key.partType[0] = kZorPhysTypeLong;
  key.partLen[0] = key.keyLen = 8;
  return key;
}

void Fill(ZorSort* sort, int32_t* value, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    *value = (i * 7919) % n;
    sort->Add();
  }
}

auto FilesIn(const std::string& dir) { return std::distance(std::filesystem::directory_iterator(dir), {}); }

TEST(Sort, SizeRuleTemporaryFileAndErrors) {
  const sZorKey key = LongKey();
  int32_t value = 0;
  ZorSort sort;
  sort.Init(&key, &value, 4, 1000, 5000, false);  // 5,000,000 bytes: external
  EXPECT_FALSE(sort.GetState() & kZorSortInMemory);
  sort.Init(&key, &value, 4, 1000, 4000, false);  // 4,000,000 bytes: in memory
  EXPECT_TRUE(sort.GetState() & kZorSortInMemory);
  EXPECT_LIB_ERROR(23, sort.Init(&key, &value, 4, 4, -6, false));
  EXPECT_LIB_ERROR(23, sort.Init(&key, &value, 4, 0x7FFFFFFF, -1, false));  // no 2 GiB item

  zortest::TempDir tmp;
  const char* saved = getenv("TMPDIR");
  const std::string before = saved ? saved : "";
  setenv("TMPDIR", tmp.Path().c_str(), 1);
  sort.Init(&key, &value, 4, 4, kZorSortExternal, false);
  Fill(&sort, &value, 10000);
  EXPECT_EQ(FilesIn(tmp.Path()), 1);  // runs were spilled
  sort.Validate();
  int32_t first = -1;
  ASSERT_TRUE(sort.ReadN(1, &first));
  sort.Trash();
  EXPECT_EQ(FilesIn(tmp.Path()), 0);  // delete on close

  {
    zortest::FaultEnv env;
    platform::ScopedEnv scoped(&env);
    env.FillDiskAfter(1000);
    sort.Init(&key, &value, 4, 4, kZorSortExternal, false);
    EXPECT_LIB_ERROR(3, Fill(&sort, &value, 10000));
    sort.Trash();
  }
  setenv("TMPDIR", tmp.File("missing").c_str(), 1);
  sort.Init(&key, &value, 4, 4, kZorSortExternal, false);
  EXPECT_LIB_ERROR(5, Fill(&sort, &value, 10000));
  saved ? setenv("TMPDIR", before.c_str(), 1) : unsetenv("TMPDIR");
}

}  // namespace
}  // namespace zorvane
