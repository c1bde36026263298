// ZorBGet beyond the random models (block_array_model_test.cpp for the
// edits, block_array_sort_test.cpp for ordering): the layout of an adopted
// handle, pinning, the first probe of an unhandled type, and sorts with
// inconsistent comparisons or adversarial inputs.
#include <zorvane/block_array.h>
#include <zorvane/exception.h>

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "support/test_util.h"

using namespace zorvane;

namespace {

std::vector<int32_t> Values(const ZorBGet& a) {
  std::vector<int32_t> out(a.GetNbItem());
  for (int32_t i = 1; i <= a.GetNbItem(); ++i) a.SubGet(i, &out[i - 1], 0, 4);
  return out;
}

ZorBGet LongArray(const std::vector<int32_t>& values) {
  ZorBGet a(0, 4);
  a.Init();
  a.InsRange(0, values.data(), static_cast<int32_t>(values.size()));
  return a;
}

int32_t Coin(const void*, const void*, int32_t) {
  static std::mt19937 rng(7);
  return static_cast<int32_t>(rng() % 3) - 1;
}

}  // namespace

TEST(BGetLayout, CountComesFromHandleSizeAndSharesAdoptedRecord) {
  ZorHandle h;
  h.Init(92);
  std::memset(h.GetDatas(), 7, 92);
  ZorBGet a(20, 24);
  a.Init(&h);
  EXPECT_EQ(a.GetNbItem(), 3);
  EXPECT_EQ(a.GetRefCount(), 2u);  // shared, not copied
  a.ClearItem(2);
  EXPECT_EQ(static_cast<uint8_t*>(h.GetDatas())[20 + 24], 0);

  // Bytes past the last whole item are not an item and survive appends.
  h.SetSize(95);
  EXPECT_EQ(a.GetNbItem(), 3);
  EXPECT_EQ(a.Ins(0, nullptr), 4);
  EXPECT_EQ(a.GetHandle()->GetSize(), 95u + 24u);

  // A handle shorter than the header holds nothing; the first insertion
  // grows the header with zeros.
  ZorHandle shortH;
  shortH.Init("abc", 3);
  ZorBGet b(8, 4);
  b.Init(&shortH);
  EXPECT_EQ(b.GetNbItem(), 0);
  int32_t v = 5;
  EXPECT_EQ(b.Ins(0, &v), 1);
  uint8_t header[8];
  b.GetHeader(header);
  EXPECT_EQ(std::memcmp(header, "abc\0\0\0\0\0", 8), 0);
}

// Byte counts are 32-bit: 2 GiB of items is refused (1, 1) before anything
// is allocated.
TEST(BGetLayout, TwoGiBOfItemsAreRefused) {
  ZorBGet a(0, 0x10000);
  a.Init();
  EXPECT_LIB_ERROR(1, a.SetNbItem(0x8000, false));
  EXPECT_LIB_ERROR(1, a.InsRange(0, nullptr, 0x8000));
  EXPECT_EQ(a.GetNbItem(), 0);
}

TEST(BGetHandle, LocksPinTheItemsAndTheHeader) {
  ZorBGet a(6, 4);
  a.Init();
  a.SetHeader("header");
  int32_t v = 42;
  a.Ins(0, &v);
  {
    ZorLock guard;
    EXPECT_EQ(a.Lock(&guard), a[1]);
    EXPECT_TRUE(ZorIsHandleLocked(a.GetHandle()->GetRecord()));
    ZorLock headerGuard;
    EXPECT_EQ(std::memcmp(a.LockHeader(&headerGuard), "header", 6), 0);
  }
  EXPECT_FALSE(ZorIsHandleLocked(a.GetHandle()->GetRecord()));
}

TEST(BGetSearch, EmptyArrayAndTypesThatSearchingDoesNotHandle) {
  ZorBGet a(0, 4);
  a.Init();
  const int32_t key = 5;
  EXPECT_EQ(a.Dico(kZorPhysTypeLong, 0, &key), -1);
  EXPECT_EQ(a.Find(kZorPhysTypeLong, 0, &key), -1);
  a = LongArray({10, 20, 30, 40, 50});
  // Such a type gives the first probe, or nothing for a linear search.
  EXPECT_EQ(a.Dico(kZorPhysTypeAnsiChar, 0, &key), 3);
  EXPECT_EQ(a.Dico(kZorPhysTypeBlobRef, 0, &key), 3);
  EXPECT_EQ(a.Find(kZorPhysTypeUnicodeStr, 0, &key), -1);
}

TEST(BGetSort, InconsistentComparisonStaysInsideTheArray) {
  // A comparison that answers at random must still leave a permutation of
  // the items (AddressSanitizer would see a scan running off the array).
  std::vector<int32_t> values(5000);
  std::iota(values.begin(), values.end(), 0);
  ZorBGet a = LongArray(values);
  a.SortEx(Coin, false, 4);
  std::vector<int32_t> after = Values(a);
  std::sort(after.begin(), after.end());
  EXPECT_EQ(after, values);
}

TEST(BGetSort, BadlyOrderedInputsStayFast) {
  // Patterns that defeat a naive quicksort: equal keys, sorted, reversed,
  // organ pipe, and the median-of-three killer; quadratic time on 60000
  // items would take minutes under the sanitizers.
  const int32_t n = 60000;
  std::vector<std::vector<int32_t>> inputs(5, std::vector<int32_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    inputs[0][i] = 7;
    inputs[1][i] = i;
    inputs[2][i] = n - i;
    inputs[3][i] = i < n / 2 ? i : n - i;
    inputs[4][i] = (i % 2) ? i : n / 2 + i / 2;
  }
  for (const auto& input : inputs) {
    ZorBGet a = LongArray(input);
    a.Sort(kZorPhysTypeLong, 0, false);
    std::vector<int32_t> expected = input;
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(Values(a), expected);
  }
}
