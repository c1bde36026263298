// ZorBDyn beyond the random model (block_array_model_test.cpp): the exact
// heap layout after edits, writes into shared bytes, searches, and the
// rejection of malformed serialised input with (1, 19).
#include <zorvane/dynamic_blocks.h>
#include <zorvane/exception.h>

#include <gtest/gtest.h>

#include "support/block_file_kit.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

using Bytes = std::string;
using zortest::Le32;
using zortest::PutLe32;

Bytes Serialise(ZorBDyn* d) {
  ZorHandle h;
  d->GetHandle(&h, false);
  return zorvane::test::BytesOf(h);
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
  Bytes b(20 + refs.size() * itemSize, '\0');
  const uint32_t header[] = {1, static_cast<uint32_t>(refs.size()), own.first, own.second, itemSize};
  for (size_t k = 0; k < 5; ++k) PutLe32(&b, 4 * k, header[k]);  // version, count, own reference, item size
  for (size_t k = 0; k < refs.size(); ++k) {
    PutLe32(&b, 20 + k * itemSize, refs[k].first);
    PutLe32(&b, 24 + k * itemSize, refs[k].second);
  }
  return b + heap;
}

void ExpectBadData(const Bytes& form) {
  ZorHandle h = zorvane::test::HandleOf(form);
  for (bool share : {false, true}) {
    ZorBDyn d;
    EXPECT_LIB_ERROR(19, d.Init(&h, share));
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
  EXPECT_EQ(Le32(form, 20), 6u);       // item 1: after the others
  EXPECT_EQ(Le32(form, 20 + 12), 0u);  // item 2: lowered by 3
  EXPECT_EQ(Le32(form, 8), 2u);        // the array's own data, lowered too
  EXPECT_EQ(Le32(form, 20 + 24), 5u);

  d.SetData(2, "BB", 2);  // same length: in place
  EXPECT_EQ(Le32(Serialise(&d), 20 + 12), 0u);
  d.Del(2);
  EXPECT_EQ(DataText(d, 1), "AAAAA");
  EXPECT_EQ(DataText(d, 2), "c");
  EXPECT_EQ(DataText(d, 0), "own");
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
  std::fill(form.end() - 5, form.end(), 0xEE);  // the old heap is no longer read
  EXPECT_EQ(DataText(d, 2), "XYZ");
}

TEST(BDynSearch, DicoAndFindCompareBytesOfTheFixedPart) {
  ZorBDyn d;
  d.Init(5);
  for (const char* fixed : {"\x01" "aaa\x00", "\x02" "abc\x01", "\x03" "abd\x00", "\x04" "abd\xff"}) d.Ins(0, fixed);
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
  PutLe32(&tooMany, 4, 2);                                 // more items than bytes
  ExpectBadData(tooMany);
  Bytes huge = Form({}, {0, 0}, "");
  PutLe32(&huge, 4, 0x40000000);
  PutLe32(&huge, 16, 0x10);                                // count x size past 4 GB
  ExpectBadData(huge);
  ExpectBadData(Form({{1, 3}}, {0, 0}, "abc"));          // past the heap
  ExpectBadData(Form({{0xFFFFFFFF, 2}}, {0, 0}, "ab"));  // offset + length wraps
  ExpectBadData(Form({{0, 2}, {1, 2}}, {0, 0}, "abc"));  // overlap
  ExpectBadData(Form({{0, 2}}, {0, 2}, "ab"));           // one range twice
  ExpectBadData(Form({{0, 1}, {2, 1}}, {0, 0}, "abc"));  // gap
  ExpectBadData(Form({{0, 1}}, {0, 0}, "ab"));           // unreferenced tail

  // Empty references may carry any offset; the form stays as it was.
  const Bytes odd = Form({{99, 0}, {0, 2}}, {1234, 0}, "ab");
  ZorHandle h = zorvane::test::HandleOf(odd);
  ZorBDyn d;
  d.Init(&h, false);
  EXPECT_EQ(Serialise(&d), odd);
  d.SetData(2, nullptr, 0);  // deleting the only range leaves the empty ones alone
  EXPECT_EQ(Le32(Serialise(&d), 20), 99u);
}

TEST(BDynForm, LoadChecksTheTwoPartsAsInit) {
  ZorBDyn d;
  d.Init(4);
  d.Ins(0, "abcd");
  d.SetData(1, "xy", 2);
  ZorHandle heap, items, shortHeap;
  d.Save(&heap, &items);
  shortHeap.Init("x", 1);
  EXPECT_LIB_ERROR(19, d.Load(&shortHeap, &items));
  items.Grow(1);  // not a whole number of items
  EXPECT_LIB_ERROR(19, d.Load(&heap, &items));
  EXPECT_EQ(DataText(d, 1), "xy");  // a rejected load changes nothing
}

// Item numbers run from 1 to the count; the data calls also take 0, the
// array's own data. Anything else, or an array not initialised, is 23.
TEST(BDynErrors, ItemNumbersOutsideTheArray) {
  ZorBDyn d;
  EXPECT_LIB_ERROR(23, d.HasData(0));
  d.Init(4);
  d.Ins(0, "abcd");
  char out[4];
  EXPECT_LIB_ERROR(23, d.Del(0));
  EXPECT_LIB_ERROR(23, d.Set(0, "wxyz"));
  EXPECT_LIB_ERROR(23, d.Get(2, out));
  EXPECT_LIB_ERROR(23, d.SetData(2, "x", 1));
  EXPECT_LIB_ERROR(23, d.HasData(-1));
  d.SetData(0, "own", 3);
  EXPECT_EQ(DataText(d, 0), "own");
}
