// ZorDyna: the typed values and their not-stored rules, the first-match and
// move-to-end rules, the structural edge cases, attached and shared
// handles, outside bytes that run past their end, and the check.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace zorvane;

namespace {

std::vector<uint8_t> Cell(int32_t k, int32_t l, int32_t c, std::vector<uint8_t> data) {
  std::vector<uint8_t> out(16);
  const uint32_t v[4] = {uint32_t(k), uint32_t(l), uint32_t(c), uint32_t(data.size())};
  for (int i = 0; i < 16; ++i) out[i] = uint8_t(v[i / 4] >> (8 * (i % 4)));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The container's cell places in storage order.
std::vector<std::vector<int32_t>> Order(const ZorDyna& d) {
  std::vector<std::vector<int32_t>> out;
  const auto* b = static_cast<const uint8_t*>(d.GetHandle()->GetDatas());
  for (uint32_t at = 0; at + 16 <= d.GetHandle()->GetSize();) {
    int32_t f[4];
    std::memcpy(f, b + at, 16);
    out.push_back({f[0], f[1], f[2]});
    at += 16 + uint32_t(f[3]);
  }
  return out;
}

}  // namespace

TEST(Dyna, ZeroAndEmptyValuesAreNotStored) {
  ZorDyna d;
  d.Init();
  EXPECT_FALSE(d.SetData(1, 1, 1, int32_t(0)));
  EXPECT_FALSE(d.SetDataQuad(1, 1, 1, 0));
  EXPECT_FALSE(d.SetDataDbl(1, 1, 1, -0.0));
  EXPECT_FALSE(d.SetData(1, 1, 1, decimal()));
  EXPECT_FALSE(d.SetData(1, 1, 1, date()));
  EXPECT_FALSE(d.SetData(1, 1, 1, ""));
  EXPECT_FALSE(d.SetData(1, 1, 1, static_cast<const char*>(nullptr)));
  EXPECT_FALSE(d.InsData(1, 1, 1, 0u, "x"));
  EXPECT_EQ(d.GetHandle()->GetSize(), 0u);
  // A uuid is stored even when null.
  EXPECT_TRUE(d.SetDataUuid(1, 1, 1, ZorUuid()));
  EXPECT_EQ(d.GetSize(1, 1, 1), 16u);

  EXPECT_TRUE(d.SetData(2, 1, 1, int32_t(5)));
  EXPECT_TRUE(d.SetData(2, 1, 1, int32_t(0)));  // removes
  int32_t v = 1;
  EXPECT_FALSE(d.GetData(2, 1, 1, &v, 77));
  EXPECT_EQ(v, 77);
  EXPECT_FALSE(d.IsItemExist(2, 1, 1));
}

TEST(Dyna, TypedValuesRoundTrip) {
  ZorDyna d;
  d.Init();
  ZorUuid u;
  u.New();
  d.SetData(1, 1, 1, "Texte");
  d.SetData(1, 1, 2, int32_t(-7));
  d.SetDataQuad(1, 1, 3, int64_t(1) << 40);
  d.SetDataDbl(1, 1, 4, 2.5);
  d.SetData(1, 1, 5, decimal(1.234567, kZorLogTypeFloat));
  date dt;
  dt.SetValue(150000.5);
  d.SetData(1, 1, 6, dt);
  d.SetDataUuid(1, 1, 7, u);

  string s;
  int32_t n;
  int64_t q;
  double x;
  decimal dec;
  date dd;
  ZorUuid uu;
  EXPECT_TRUE(d.GetData(1, 1, 1, &s));
  EXPECT_STREQ(s.CStr(), "Texte");
  EXPECT_EQ(d.GetSize(1, 1, 1), 6u);
  EXPECT_TRUE(d.GetData(1, 1, 2, &n));
  EXPECT_EQ(n, -7);
  EXPECT_TRUE(d.GetDataQuad(1, 1, 3, &q));
  EXPECT_EQ(q, int64_t(1) << 40);
  EXPECT_TRUE(d.GetData(1, 1, 4, &x));
  EXPECT_EQ(x, 2.5);
  EXPECT_TRUE(d.GetData(1, 1, 5, &dec));
  EXPECT_EQ(dec._getDouble(), ZorFixPrec(1.234567, kZorLogTypeFloat, kZorRoundNearest));
  EXPECT_TRUE(d.GetData(1, 1, 6, &dd));
  EXPECT_EQ(dd.GetValue(), 150000.5);
  EXPECT_TRUE(d.GetDataUuid(1, 1, 7, &uu));
  EXPECT_EQ(uu, u);

  // Absent cells give the defaults and false.
  EXPECT_FALSE(d.GetData(9, 1, 1, &s));
  EXPECT_STREQ(s.CStr(), "");
  EXPECT_FALSE(d.GetDataQuad(9, 1, 1, &q, -1));
  EXPECT_EQ(q, -1);
  EXPECT_FALSE(d.GetData(9, 1, 1, &x, 3.0));
  EXPECT_EQ(x, 3.0);
  EXPECT_FALSE(d.GetDataUuid(9, 1, 1, &uu));
  EXPECT_TRUE(uu.IsNull());

  // Raw reads copy what fits and zero the rest.
  uint8_t buf[8];
  uint32_t got = 0;
  std::memset(buf, 0xEE, sizeof buf);
  EXPECT_TRUE(d.GetData(1, 1, 1, 3, buf, &got));
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(std::memcmp(buf, "Tex\xEE", 4), 0);
  EXPECT_TRUE(d.GetData(1, 1, 2, sizeof buf, buf, &got));
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 8), (std::vector<uint8_t>{0xF9, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
}

TEST(Dyna, SameValueTwiceAndMoveToEnd) {
  ZorDyna d;
  d.Init();
  EXPECT_TRUE(d.SetData(1, 1, 1, "abc"));
  EXPECT_FALSE(d.SetData(1, 1, 1, "abc"));
  EXPECT_TRUE(d.SetData(1, 1, 1, "xyz"));  // same size: in place
  d.SetData(1, 2, 1, int32_t(4));
  d.SetData(1, 3, 1, int32_t(5));
  EXPECT_EQ(Order(d), (std::vector<std::vector<int32_t>>{{1, 1, 1}, {1, 2, 1}, {1, 3, 1}}));
  EXPECT_TRUE(d.SetData(1, 2, 1, "long text"));  // new size: to the end
  EXPECT_EQ(Order(d), (std::vector<std::vector<int32_t>>{{1, 1, 1}, {1, 3, 1}, {1, 2, 1}}));
  string s;
  EXPECT_TRUE(d.GetData(1, 2, 1, &s));
  EXPECT_STREQ(s.CStr(), "long text");
}

TEST(Dyna, FirstMatchWinsOverInsertedDuplicates) {
  ZorDyna d;
  d.Init();
  d.InsData(1, 1, 1, "first");
  d.InsData(1, 1, 1, "second");
  string s;
  d.GetData(1, 1, 1, &s);
  EXPECT_STREQ(s.CStr(), "first");
  EXPECT_EQ(d.GetNbItem(1), 2);
  ZorVerif v;
  v.Init(true);
  EXPECT_FALSE(d.Verif(&v));
  EXPECT_EQ(v.GetNbItem(kZorVerifError), 1);
  EXPECT_EQ(v.GetNbItem(kZorVerifRepaired), 1);
  EXPECT_EQ(d.GetNbItem(1), 1);
  d.GetData(1, 1, 1, &s);
  EXPECT_STREQ(s.CStr(), "first");
  EXPECT_TRUE(d.Verif(nullptr));
}

TEST(Dyna, LineAndColumnEdgeCases) {
  ZorDyna d;
  d.Init();
  for (int32_t line : {1, 3, 4, 7}) {
    d.SetData(1, line, 1, line);
    d.SetData(2, line, 1, line);
  }
  EXPECT_TRUE(d.DelLine(1, 3, 2));
  int32_t v;
  EXPECT_TRUE(d.GetData(1, 5, 1, &v));
  EXPECT_EQ(v, 7);
  EXPECT_FALSE(d.IsItemExist(1, 3, 1));
  EXPECT_EQ(d.GetNbItem(1), 2);
  EXPECT_EQ(d.GetNbItem(2), 4);  // other kinds untouched
  EXPECT_TRUE(d.DelLine(kZorDynaAnyKind, 1, 1));
  EXPECT_EQ(d.GetNbItem(2), 3);
  EXPECT_TRUE(d.GetData(2, 6, 1, &v));
  EXPECT_EQ(v, 7);
  EXPECT_FALSE(d.InsLine(1, 100, 1));
  EXPECT_FALSE(d.DelLine(1, 1, 0));

  EXPECT_EQ(d.FindInCol(2, 1, int32_t(7), 1), 6);
  EXPECT_EQ(d.FindInCol(2, 1, int32_t(7), 50), 49);  // past every line: start - 1
}

TEST(Dyna, FindInColAndLineIgnoreCase) {
  ZorDyna d;
  d.Init();
  d.SetData(1, 4, 2, "Alpha");
  d.SetData(1, 2, 2, "alpha");
  d.SetData(1, 2, 3, "ALPHA");
  EXPECT_EQ(d.FindInCol(1, 2, "ALPHA", 1), 4);  // storage order, not line order
  EXPECT_EQ(d.FindInCol(1, 2, "ALPHA", 5), 4);
  EXPECT_EQ(d.FindInCol(1, 2, "beta", 1), 0);
  EXPECT_EQ(d.FindInLine(1, 2, "alpha", 3), 3);
  EXPECT_EQ(d.FindInLine(2, 2, "alpha", 0), -1);
}

TEST(Dyna, CompactKeepsOrderWithoutGaps) {
  ZorDyna d;
  d.Init();
  d.SetData(1, 40, 1, "c");
  d.SetData(1, 2, 1, "a");
  d.SetData(2, 10, 1, "b");
  EXPECT_TRUE(d.Compact(true));
  string s;
  d.GetData(1, 1, 1, &s);
  EXPECT_STREQ(s.CStr(), "a");
  d.GetData(2, 2, 1, &s);
  EXPECT_STREQ(s.CStr(), "b");
  d.GetData(1, 3, 1, &s);
  EXPECT_STREQ(s.CStr(), "c");
  EXPECT_FALSE(d.Compact(true));
  int32_t lines, cols;
  EXPECT_EQ(d.GetDim(kZorDynaAnyKind, &lines, &cols), 3);
  EXPECT_EQ(cols, 1);
  EXPECT_EQ(d.GetNbKind(), 2);
  EXPECT_EQ(d.GetKindMax(), 2);
}

TEST(Dyna, SortByTextAndDescendingNumbers) {
  ZorDyna d;
  d.Init();
  const char* names[] = {"pear", "Apple", "fig", "apple"};
  for (int32_t i = 0; i < 4; ++i) {
    d.SetData(1, i + 1, 1, names[i]);
    d.SetData(1, i + 1, 2, 10 * (i % 2));  // 0 (absent), 10, 0, 10
  }
  EXPECT_TRUE(d.Sort(1, kZorPhysTypeAnsiString, 1, 1, 4));
  string s;
  const char* sorted[] = {"Apple", "apple", "fig", "pear"};  // equal keys keep their order
  for (int32_t i = 0; i < 4; ++i) {
    d.GetData(1, i + 1, 1, &s);
    EXPECT_STREQ(s.CStr(), sorted[i]);
  }
  // Already descending on column 2 (10, 10, absent, absent): nothing moves.
  EXPECT_FALSE(d.Sort(1, kZorPhysTypeLong, 2, 1, 4, kZorDynaSortDescending));
  EXPECT_TRUE(d.Sort(1, kZorPhysTypeLong, 2, 1, 4));
  int32_t v;
  d.GetData(1, 1, 1, &s);
  EXPECT_STREQ(s.CStr(), "fig");
  EXPECT_FALSE(d.IsItemExist(1, 1, 2));
  d.GetData(1, 4, 2, &v);
  EXPECT_EQ(v, 10);
  d.GetData(1, 4, 1, &s);
  EXPECT_STREQ(s.CStr(), "apple");
}

TEST(Dyna, AttachedHandlesShareTheirRecord) {
  ZorHandle h;
  h.Init(0u);
  ZorDyna a, b;
  a.Init(&h);
  b.Init(&h);
  EXPECT_EQ(a.GetRefCount(), 3u);
  a.SetData(1, 1, 1, "shared");
  string s;
  EXPECT_TRUE(b.GetData(1, 1, 1, &s));
  EXPECT_EQ(h.GetSize(), 16u + 7);

  ZorHandle out;
  a.Detach(&out);
  EXPECT_FALSE(a.IsInit());
  EXPECT_EQ(out.GetRecord(), h.GetRecord());

  // A view of one cell, and a container nested in a cell.
  ZorDyna inner;
  inner.Init();
  inner.SetData(3, 2, 1, "deep");
  b.SetData(5, 1, 1, inner.GetHandle());
  ZorDyna view;
  EXPECT_TRUE(b.SubDyna(&view, 5, 1, 1, true));
  EXPECT_TRUE(view.GetData(3, 2, 1, &s));
  EXPECT_STREQ(s.CStr(), "deep");
  EXPECT_FALSE(b.SubDyna(&view, 5, 1, 2, false));
  EXPECT_EQ(view.GetNbItem(kZorDynaAnyKind), 0);
}

TEST(Dyna, OutsideBytesNeverReadPastTheirEnd) {
  // Each run is copied to a block of exactly its size: ASan catches any
  // read past the end.
  const std::vector<std::vector<uint8_t>> runs = {
      Cell(1, 1, 1, {'o', 'k', 0}) + Cell(1, 2, 1, {1, 2}),
      Cell(1, 1, 1, {'o', 'k', 0}) + std::vector<uint8_t>{1, 2, 3},
  };
  for (size_t i = 0; i < runs.size(); ++i) {
    std::vector<uint8_t> bytes = runs[i];
    if (i == 0) bytes.resize(bytes.size() - 1);  // the second cell's data runs past the end
    auto* exact = new uint8_t[bytes.size()];
    std::memcpy(exact, bytes.data(), bytes.size());
    ZorHandle h;
    h.Attach(ZorCreateHandleFromDataPtr(exact, uint32_t(bytes.size())));
    ZorDyna d;
    d.Init(&h);
    string s;
    EXPECT_TRUE(d.GetData(1, 1, 1, &s));
    EXPECT_FALSE(d.IsItemExist(1, 2, 1));
    EXPECT_EQ(d.GetNbItem(kZorDynaAnyKind), 1);
    EXPECT_EQ(d.FindInCol(1, 1, "nothing", 0), -1);
    EXPECT_FALSE(d.Verif(nullptr));
    ZorVerif v;
    v.Init(false);
    EXPECT_FALSE(d.Verif(&v));
    EXPECT_EQ(v.GetNbItem(kZorVerifError), 1);
    EXPECT_EQ(h.GetSize(), bytes.size());  // no repair without permission
    // An appended cell replaces the unreadable tail and is found.
    EXPECT_TRUE(d.SetData(2, 1, 1, int32_t(9)));
    EXPECT_TRUE(d.IsItemExist(2, 1, 1));
    EXPECT_TRUE(d.Dut(false));
    h.Trash();
    d.Trash();
    delete[] exact;
  }
}

TEST(Dyna, CopiesUnderAnotherKindAndBoxes) {
  ZorDyna src, dst;
  src.Init();
  dst.Init();
  src.SetData(1, 1, 1, "a");
  src.SetData(1, 2, 2, "b");
  src.SetData(2, 1, 1, "c");
  dst.SetData(7, 9, 9, "gone");
  EXPECT_TRUE(src.CopyTo(1, &dst, 7, true));
  EXPECT_EQ(dst.GetNbItem(7), 2);
  EXPECT_FALSE(dst.IsItemExist(7, 9, 9));
  EXPECT_FALSE(src.CopyTo(1, &dst, 7, false));  // nothing changes the second time
  EXPECT_TRUE(src.CopyToRange(&dst, 1, 2, 1, 1, 1, 1, false));
  EXPECT_TRUE(dst.IsItemExist(2, 1, 1));
  EXPECT_FALSE(dst.IsItemExist(1, 2, 2));
}
