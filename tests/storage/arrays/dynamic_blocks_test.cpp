// ZorBDyn: the exact heap layout after edits, the serialised form's round
// trip, sharing of the given bytes, clearing, and rejection of malformed
// serialised input with (1, 19). Random operation sequences are in
// bget_model_test.cpp.
#include <zorvane/dynamic_blocks.h>
#include <zorvane/exception.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes* b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) (*b)[at + k] = static_cast<uint8_t>(v >> (8 * k));
}
uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

Bytes Serialise(ZorBDyn* d) {
  ZorHandle h;
  d->GetHandle(&h, false);
  const auto* p = static_cast<const uint8_t*>(h.GetDatas());
  return Bytes(p, p + h.GetSize());
}

std::string DataText(const ZorBDyn& d, int32_t i) {
  void* p;
  int32_t len;
  d.GetDataEx(i, &p, &len);
  return len ? std::string(static_cast<const char*>(p), len) : std::string();
}

// A serialised array: `items` fixed parts of 4 bytes with the given
// references, the own reference, and the heap.
Bytes Form(const std::vector<std::pair<uint32_t, uint32_t>>& refs, std::pair<uint32_t, uint32_t> own,
           const std::string& heap, uint32_t itemSize = 12) {
  Bytes b(20 + refs.size() * itemSize, 0);
  Put32(&b, 0, 1);
  Put32(&b, 4, static_cast<uint32_t>(refs.size()));
  Put32(&b, 8, own.first);
  Put32(&b, 12, own.second);
  Put32(&b, 16, itemSize);
  for (size_t k = 0; k < refs.size(); ++k) {
    Put32(&b, 20 + k * itemSize, refs[k].first);
    Put32(&b, 24 + k * itemSize, refs[k].second);
  }
  b.insert(b.end(), heap.begin(), heap.end());
  return b;
}

void ExpectBadData(const Bytes& form) {
  ZorHandle h;
  h.Init(form.data(), static_cast<uint32_t>(form.size()));
  for (bool share : {false, true}) {
    ZorBDyn d;
    try {
      d.Init(&h, share);
      ADD_FAILURE() << "accepted";
    } catch (const ZorEBasic& e) {
      EXPECT_EQ(e.GetError(), ZorErr(1, 19));
    }
  }
}

}  // namespace

TEST(BDynHeap, LongerDataMovesToTheEndAndLowersTheOffsetsAbove) {
  ZorBDyn d;
  d.Init(4);
  for (int k = 0; k < 3; ++k) d.Ins(0, nullptr);
  d.SetData(1, "aaa", 3);
  d.SetData(2, "bb", 2);
  d.SetDynData("own", 3);
  d.SetData(3, "c", 1);
  d.SetData(1, "AAAAA", 5);  // longer: deleted at 0, appended at the end

  const Bytes form = Serialise(&d);
  EXPECT_EQ(std::string(form.begin() + 20 + 3 * 12, form.end()), "bbownc" "AAAAA");
  EXPECT_EQ(Get32(form, 20), 6u);       // item 1: after the others
  EXPECT_EQ(Get32(form, 20 + 12), 0u);  // item 2: lowered by 3
  EXPECT_EQ(Get32(form, 8), 2u);        // the array's own data, lowered too
  EXPECT_EQ(Get32(form, 20 + 24), 5u);

  d.SetData(2, "BB", 2);  // same length: in place
  EXPECT_EQ(Get32(Serialise(&d), 20 + 12), 0u);
  d.Del(2);
  EXPECT_EQ(DataText(d, 1), "AAAAA");
  EXPECT_EQ(DataText(d, 2), "c");
  EXPECT_EQ(DataText(d, 0), "own");
}

TEST(BDynForm, DetachedHandleRestoresItemsDataVersionAndItemSize) {
  ZorBDyn d;
  d.Init(6);
  d.SetVersion(7);
  d.Ins(0, "fixed1");
  d.Ins(0, "fixed2");
  d.SetData(2, "two", 3);
  d.SetDynData("mine", 4);

  ZorHandle h;
  d.GetHandle(&h, true);
  EXPECT_EQ(d.GetNbItem(), 0);
  EXPECT_EQ(d.GetVersion(), 7);
  EXPECT_EQ(d.GetFixedSize(), 6u);
  EXPECT_FALSE(d.HasData(0));

  ZorBDyn back;
  back.Init(&h, false);
  EXPECT_EQ(back.GetVersion(), 7);
  EXPECT_EQ(back.GetFixedSize(), 6u);
  ASSERT_EQ(back.GetNbItem(), 2);
  char fixed[6];
  back.Get(2, fixed);
  EXPECT_EQ(std::string(fixed, 6), "fixed2");
  EXPECT_FALSE(back.HasData(1));
  EXPECT_EQ(DataText(back, 2), "two");
  EXPECT_EQ(DataText(back, 0), "mine");
  ZorHandle own;
  EXPECT_TRUE(back.GetDynData(&own));
  ZorHandle none;
  EXPECT_FALSE(back.GetData(1, &none));
  EXPECT_EQ(none.GetSize(), 0u);
}

TEST(BDynForm, SharedInitWritesIntoTheGivenBytesUntilAResize) {
  Bytes form = Form({{0, 2}, {2, 3}}, {0, 0}, "abxyz");
  ZorHandle h;
  h.Attach(ZorCreateHandleFromDataPtr(form.data(), static_cast<uint32_t>(form.size())));
  ZorBDyn d;
  d.Init(&h, true);
  d.Set(1, "FIX!");
  EXPECT_EQ(std::memcmp(&form[28], "FIX!", 4), 0);
  d.SetData(2, "XYZ", 3);  // same length: in place, in the caller's heap
  EXPECT_EQ(std::string(form.end() - 3, form.end()), "XYZ");
  d.SetData(1, "longer", 6);  // the heap resizes and gets its own block
  EXPECT_EQ(DataText(d, 1), "longer");
  EXPECT_EQ(DataText(d, 2), "XYZ");
  std::fill(form.end() - 5, form.end(), 0xEE);  // the old heap is no longer read
  EXPECT_EQ(DataText(d, 2), "XYZ");

  ZorBDyn copied;
  Bytes again = Form({{0, 2}}, {0, 0}, "ab");
  ZorHandle h2;
  h2.Init(again.data(), static_cast<uint32_t>(again.size()));
  copied.Init(&h2, false);
  copied.SetData(1, "CD", 2);
  EXPECT_EQ(std::memcmp(static_cast<char*>(h2.GetDatas()) + 32, "ab", 2), 0);
}

TEST(BDynForm, ClearKeepsItemSizeAndOptionallyTheOwnData) {
  ZorBDyn d;
  d.Init(3);
  d.SetVersion(9);
  d.Ins(0, "abc");
  d.SetData(1, "data", 4);
  d.SetDynData("own", 3);
  d.Clear(true);
  EXPECT_EQ(d.GetNbItem(), 0);
  EXPECT_EQ(d.GetVersion(), 1);
  EXPECT_EQ(d.GetFixedSize(), 3u);
  EXPECT_EQ(DataText(d, 0), "own");
  EXPECT_EQ(Serialise(&d).size(), 20u + 3u);
  d.Clear(false);
  EXPECT_FALSE(d.HasData(0));
  EXPECT_EQ(Serialise(&d).size(), 20u);
}

TEST(BDynSearch, DicoAndFindCompareBytesOfTheFixedPart) {
  ZorBDyn d;
  d.Init(5);
  d.Ins(0, "\x01" "aaa\x00");
  d.Ins(0, "\x02" "abc\x01");
  d.Ins(0, "\x03" "abd\x00");
  d.Ins(0, "\x04" "abd\xff");
  EXPECT_EQ(d.Dico(1, "abd", 3), 3);
  EXPECT_EQ(d.Dico(1, "abd\xff", 4), 4);
  EXPECT_EQ(d.Dico(1, "abe", 3), -5);
  EXPECT_EQ(d.Dico(1, "a", 1), 2);  // the first probe matches already
  EXPECT_EQ(d.Find(1, "abd", 3), 3);
  EXPECT_EQ(d.Find(1, "zzz", 3), -1);
}

TEST(BDynForm, MalformedSerialisedInputIsBadData) {
  ExpectBadData({});
  ExpectBadData(Bytes(19, 0));
  ExpectBadData(Form({}, {0, 0}, "", 7));                // item size below the reference
  Bytes tooMany = Form({{0, 0}}, {0, 0}, "");
  Put32(&tooMany, 4, 2);                                 // more items than bytes
  ExpectBadData(tooMany);
  Bytes huge = Form({}, {0, 0}, "");
  Put32(&huge, 4, 0x40000000);
  Put32(&huge, 16, 0x10);                                // count x size past 4 GB
  ExpectBadData(huge);
  ExpectBadData(Form({{1, 3}}, {0, 0}, "abc"));          // past the heap
  ExpectBadData(Form({{0xFFFFFFFF, 2}}, {0, 0}, "ab"));  // offset + length wraps
  ExpectBadData(Form({{0, 2}, {1, 2}}, {0, 0}, "abc"));  // overlap
  ExpectBadData(Form({{0, 2}}, {0, 2}, "ab"));           // one range twice
  ExpectBadData(Form({{0, 1}, {2, 1}}, {0, 0}, "abc"));  // gap
  ExpectBadData(Form({{0, 1}}, {0, 0}, "ab"));           // unreferenced tail

  // Empty references may carry any offset; the form stays as it was.
  const Bytes odd = Form({{99, 0}, {0, 2}}, {1234, 0}, "ab");
  ZorHandle h;
  h.Init(odd.data(), static_cast<uint32_t>(odd.size()));
  ZorBDyn d;
  d.Init(&h, false);
  EXPECT_EQ(Serialise(&d), odd);
  d.SetData(2, nullptr, 0);  // deleting the only range leaves the empty ones alone
  EXPECT_EQ(Get32(Serialise(&d), 20), 99u);
}

TEST(BDynForm, LoadChecksTheTwoPartsAsInit) {
  ZorBDyn d;
  d.Init(4);
  d.Ins(0, "abcd");
  d.SetData(1, "xy", 2);
  ZorHandle heap, items;
  d.Save(&heap, &items);
  EXPECT_EQ(heap.GetSize(), 2u);
  EXPECT_EQ(items.GetSize(), 32u);

  ZorBDyn loaded;
  loaded.Load(&heap, &items);
  EXPECT_EQ(DataText(loaded, 1), "xy");

  ZorHandle shortHeap;
  shortHeap.Init("x", 1);
  EXPECT_THROW(loaded.Load(&shortHeap, &items), ZorEBasic);
  items.Grow(1);  // not a whole number of items
  EXPECT_THROW(loaded.Load(&heap, &items), ZorEBasic);
  EXPECT_EQ(DataText(loaded, 1), "xy");  // a rejected load changes nothing

  ZorBDyn empty;
  EXPECT_FALSE(loaded.Copy(&empty));
  EXPECT_FALSE(loaded.IsInit());
}
