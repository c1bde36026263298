// ZorBGet: layout of an adopted handle, insertion and deletion at the edges,
// sources inside the array, sub-fields and clamped clears, header and
// pinning, and the search rules that the random tests do not reach (the
// first probe of an unhandled type, the reading of a custom comparison,
// inconsistent comparisons). Ordinary ordering is in bget_sort_test.cpp and
// random operation sequences in bget_model_test.cpp.
#include <zorvane/block_array.h>
#include <zorvane/exception.h>

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <random>
#include <vector>

using namespace zorvane;

namespace {

int32_t ItemValue(const ZorBGet& a, int32_t i) {
  int32_t v;
  a.SubGet(i, &v, 0, 4);
  return v;
}

std::vector<int32_t> Values(const ZorBGet& a) {
  std::vector<int32_t> out;
  for (int32_t i = 1; i <= a.GetNbItem(); ++i) out.push_back(ItemValue(a, i));
  return out;
}

ZorBGet LongArray(const std::vector<int32_t>& values) {
  ZorBGet a(0, 4);
  a.Init();
  for (int32_t v : values) a.Ins(0, &v);
  return a;
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

TEST(BGetItems, InsertAtEdgesAndInsideAndDeleteRanges) {
  ZorBGet a = LongArray({1, 2, 3});
  int32_t v = 9;
  EXPECT_EQ(a.Ins(0, &v), 4);
  EXPECT_EQ(a.Ins(5, &v), 5);      // n + 1 appends too
  EXPECT_EQ(a.Ins(99, nullptr), 6);  // far past the end: appended zeros
  v = 0;
  EXPECT_EQ(a.Ins(1, &v), 1);      // shifts every item up
  EXPECT_EQ(Values(a), (std::vector<int32_t>{0, 1, 2, 3, 9, 9, 0}));

  EXPECT_EQ(a.InsRange(2, nullptr, 0), 0);
  const int32_t three[] = {-1, -2, -3};
  EXPECT_EQ(a.InsRange(2, three, 3), 2);
  EXPECT_EQ(Values(a), (std::vector<int32_t>{0, -1, -2, -3, 1, 2, 3, 9, 9, 0}));

  a.DelRange(8, 100);  // clamped to the end
  a.Del(1);
  a.DelRange(0, 2);    // no item 0: nothing
  EXPECT_EQ(Values(a), (std::vector<int32_t>{-1, -2, -3, 1, 2, 3}));
  a.Swap(1, 6);
  a.Swap(2, 2);
  EXPECT_EQ(Values(a), (std::vector<int32_t>{3, -2, -3, 1, 2, -1}));
}

TEST(BGetItems, SourceInsideTheArrayIsCopiedBeforeTheBytesMove) {
  // Large enough that the insertion reallocates the block.
  std::vector<int32_t> values(1000);
  std::iota(values.begin(), values.end(), 0);
  ZorBGet a(0, 4);
  a.Init();
  a.InsRange(0, values.data(), 1000);
  a.Ins(1, a[500]);
  EXPECT_EQ(ItemValue(a, 1), 499);
  a.InsRange(1, a[1], 1001);  // the whole array before itself
  EXPECT_EQ(a.GetNbItem(), 2002);
  EXPECT_EQ(ItemValue(a, 1002), 499);
  EXPECT_EQ(ItemValue(a, 2002), 999);
  const int32_t at = a.SubIns(3, static_cast<char*>(a[1000]) + 2, 2, 2);
  EXPECT_EQ(at, 3);
  EXPECT_EQ(ItemValue(a, 3), ItemValue(a, 1001) & 0xFFFF0000);
}

TEST(BGetItems, SubFieldsAndMultiClearClampTheRange) {
  ZorBGet a(4, 8);
  a.Init();
  a.SetNbItem(5, true);
  for (int32_t i = 1; i <= 5; ++i) std::memset(a[i], 0xAB, 8);
  EXPECT_EQ(a.MultiClear(-3, 2, 2, 3), 2);
  EXPECT_EQ(a.MultiClear(4, 99, 0, -1), 2);
  EXPECT_EQ(a.MultiClear(4, 3, 0, -1), 0);
  EXPECT_EQ(a.MultiClear(6, 9, 0, -1), 0);
  const uint8_t partly[8] = {0xAB, 0xAB, 0, 0, 0, 0xAB, 0xAB, 0xAB};
  const uint8_t whole[8] = {};
  EXPECT_EQ(std::memcmp(a[1], partly, 8), 0);
  EXPECT_EQ(std::memcmp(a[2], partly, 8), 0);
  EXPECT_NE(std::memcmp(a[3], partly, 8), 0);
  EXPECT_EQ(std::memcmp(a[5], whole, 8), 0);

  a.SetNbItem(7, true);
  EXPECT_EQ(std::memcmp(a[7], whole, 8), 0);
  a.SetNbItem(2, false);
  EXPECT_EQ(a.GetNbItem(), 2);
  a.Clear();
  EXPECT_EQ(a.GetNbItem(), 0);
  EXPECT_EQ(a.GetHandle()->GetSize(), 4u);
}

TEST(BGetHandle, HeaderLocksDetachAndCopy) {
  ZorBGet a(6, 4);
  a.Init();
  a.SetHeader("header");
  int32_t v = 42;
  a.Ins(0, &v);
  {
    ZorLock guard;
    auto* first = static_cast<char*>(a.Lock(&guard));
    EXPECT_EQ(first, a[1]);
    EXPECT_TRUE(ZorIsHandleLocked(a.GetHandle()->GetRecord()));
    ZorLock headerGuard;
    EXPECT_EQ(std::memcmp(a.LockHeader(&headerGuard), "header", 6), 0);
  }
  EXPECT_FALSE(ZorIsHandleLocked(a.GetHandle()->GetRecord()));

  ZorBGet copy;
  a.CopyTo(&copy);
  EXPECT_EQ(copy.GetHeaderSize(), 6u);
  EXPECT_EQ(copy.GetItemSize(), 4u);
  v = 7;
  copy.Set(1, &v);
  EXPECT_EQ(ItemValue(a, 1), 42);  // a private copy

  ZorHandle out;
  a.Detach(&out);
  EXPECT_FALSE(a.IsInit());
  EXPECT_EQ(out.GetSize(), 10u);
  EXPECT_EQ(out.GetRefCount(), 1u);
}

TEST(BGetSearch, EdgesOfBinarySearch) {
  ZorBGet a(0, 4);
  a.Init();
  const int32_t key = 5;
  EXPECT_EQ(a.Dico(kZorPhysTypeLong, 0, &key), -1);
  EXPECT_EQ(a.Find(kZorPhysTypeLong, 0, &key), -1);

  a = LongArray({10, 20, 30, 40, 50});
  const int32_t small = 1, big = 99, mid = 35, found = 40;
  EXPECT_EQ(a.Dico(kZorPhysTypeLong, 0, &small), -1);
  EXPECT_EQ(a.Dico(kZorPhysTypeLong, 0, &big), -6);
  EXPECT_EQ(a.Dico(kZorPhysTypeLong, 0, &mid), -4);
  EXPECT_EQ(a.Dico(kZorPhysTypeLong, 0, &found), 4);
  // A type that searching does not handle gives the first probe.
  EXPECT_EQ(a.Dico(kZorPhysTypeAnsiChar, 0, &small), 3);
  EXPECT_EQ(a.Dico(kZorPhysTypeBlobRef, 0, &small), 3);
  EXPECT_EQ(a.Find(kZorPhysTypeUnicodeStr, 0, &found), -1);
}

TEST(BGetSearch, FindForwardAndBackwardOnDuplicates) {
  ZorBGet a = LongArray({3, 7, 3, 9, 7, 3});
  const int32_t three = 3, seven = 7, none = 4;
  EXPECT_EQ(a.Find(kZorPhysTypeLong, 0, &three, false), 1);
  EXPECT_EQ(a.Find(kZorPhysTypeLong, 0, &three, true), 6);
  EXPECT_EQ(a.Find(kZorPhysTypeLong, 0, &seven, true), 5);
  EXPECT_EQ(a.Find(kZorPhysTypeLong, 0, &none, true), -1);
}

TEST(BGetSearch, ExtremeSignedKeysOrderInSortAndDico) {
  ZorBGet a = LongArray({2000000000, -2000000000, 0, 1, -1});
  a.Sort(kZorPhysTypeLong, 0, false);
  EXPECT_EQ(Values(a), (std::vector<int32_t>{-2000000000, -1, 0, 1, 2000000000}));
  const int32_t hi = 2000000000, lo = -2000000000, beyond = 2147483647;
  EXPECT_EQ(a.Dico(kZorPhysTypeLong, 0, &hi), 5);
  EXPECT_EQ(a.Dico(kZorPhysTypeLong, 0, &lo), 1);
  EXPECT_EQ(a.Dico(kZorPhysTypeLong, 0, &beyond), -6);
  a.Sort(kZorPhysTypeLong, 0, true);
  EXPECT_EQ(Values(a), (std::vector<int32_t>{2000000000, 1, 0, -1, -2000000000}));
}

namespace {
// The item's value minus the key's: the custom searches read the result as
// the key's comparison against the item, so this finds keys in an array
// sorted in descending order.
int32_t ItemMinusKey(const void* item, const void* key, int32_t) {
  int32_t a, b;
  std::memcpy(&a, item, 4);
  std::memcpy(&b, key, 4);
  return a < b ? -1 : (a > b ? 1 : 0);
}

int32_t Coin(const void*, const void*, int32_t) {
  static std::mt19937 rng(7);
  return static_cast<int32_t>(rng() % 3) - 1;
}
}  // namespace

TEST(BGetSearch, CustomComparisonIsReadAsKeyAgainstItem) {
  ZorBGet a = LongArray({5, 1, 4, 2, 3});
  a.SortEx(ItemMinusKey, false, 4);
  EXPECT_EQ(Values(a), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  a.SortEx(ItemMinusKey, true, 4);
  EXPECT_EQ(Values(a), (std::vector<int32_t>{5, 4, 3, 2, 1}));
  for (int32_t k = 1; k <= 5; ++k) EXPECT_EQ(a.DicoEx(ItemMinusKey, &k, 4), 6 - k);
  const int32_t six = 6, zero = 0, between = 3;
  EXPECT_EQ(a.DicoEx(ItemMinusKey, &six, 4), -1);
  EXPECT_EQ(a.DicoEx(ItemMinusKey, &zero, 4), -6);
  EXPECT_EQ(a.FindEx(ItemMinusKey, &between, true, 4), 3);
}

TEST(BGetSort, InconsistentComparisonStaysInsideTheArray) {
  // A comparison that answers at random must still leave a permutation of
  // the items (AddressSanitizer would see a scan running off the array).
  std::vector<int32_t> values(5000);
  std::iota(values.begin(), values.end(), 0);
  ZorBGet a(0, 4);
  a.Init();
  a.InsRange(0, values.data(), 5000);
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
    ZorBGet a(0, 4);
    a.Init();
    a.InsRange(0, input.data(), n);
    a.Sort(kZorPhysTypeLong, 0, false);
    std::vector<int32_t> expected = input;
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(Values(a), expected);
  }
}
