// ZorDyna beyond its stored form (which cell_container_oracle.py checks byte
// by byte): the typed getters and their defaults, the value and text
// searches, text sorting, attached and shared handles, nested containers,
// and outside bytes that run past their end.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace zorvane;

TEST(Dyna, TypedValuesAndDefaults) {
  ZorDyna d;
  d.Init();
  EXPECT_EQ(d.GetKindMax(), 0);
  EXPECT_FALSE(d.SetData(1, 1, 1, decimal()));
  EXPECT_FALSE(d.SetData(1, 1, 1, date()));
  EXPECT_FALSE(d.SetData(1, 1, 1, static_cast<const char*>(nullptr)));
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
  EXPECT_FALSE(d.GetData(9, 1, 1, &n, 77));
  EXPECT_EQ(n, 77);
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
  d.SetData(4, 1, 1, 1);
  d.SetData(2, 1, 1, 1);
  EXPECT_EQ(d.GetNbKind(), 3);
  EXPECT_EQ(d.GetKindMax(), 4);

  // A repair reports what it removed: the second cell at one place.
  d.InsData(4, 1, 1, "second");
  ZorVerif v;
  v.Init(true);
  EXPECT_FALSE(d.Verif(&v));
  EXPECT_EQ(v.GetNbItem(kZorVerifRepaired), 1);
}

TEST(Dyna, SearchesByValueAndText) {
  ZorDyna d;
  d.Init();
  for (int32_t line : {1, 3, 6}) d.SetData(2, line, 1, line);
  EXPECT_EQ(d.FindInCol(2, 1, int32_t(6), 1), 6);
  EXPECT_EQ(d.FindInCol(2, 1, int32_t(6), 50), 49);  // past every line: start - 1
  EXPECT_EQ(d.FindInLine(2, 3, int32_t(3), 0), 1);
  d.SetData(1, 4, 2, "Alpha");
  d.SetData(1, 2, 2, "alpha");
  d.SetData(1, 2, 3, "ALPHA");
  EXPECT_EQ(d.FindInCol(1, 2, "ALPHA", 1), 4);  // storage order, not line order
  EXPECT_EQ(d.FindInLine(1, 2, "alpha", 3), 3);
  EXPECT_EQ(d.FindInLine(2, 2, "alpha", 0), -1);
}

TEST(Dyna, SortByTextIgnoresCaseAndKeepsEqualKeys) {
  ZorDyna d;
  d.Init();
  const char* names[] = {"pear", "Apple", "fig", "apple"};
  for (int32_t i = 0; i < 4; ++i) d.SetData(1, i + 1, 1, names[i]);
  EXPECT_TRUE(d.Sort(1, kZorPhysTypeAnsiString, 1, 1, 4));
  string s;
  const char* sorted[] = {"Apple", "apple", "fig", "pear"};
  for (int32_t i = 0; i < 4; ++i) {
    d.GetData(1, i + 1, 1, &s);
    EXPECT_STREQ(s.CStr(), sorted[i]);
  }
  EXPECT_FALSE(d.Sort(1, kZorPhysTypeString, 1, 1, 4));
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
  // The run is copied to a block of exactly its size: ASan catches any read
  // past the end. The second cell's data runs one byte past it.
  constexpr uint32_t kSize = 16 + 3 + 16 + 1;
  const uint32_t heads[2][4] = {{1, 1, 1, 3}, {1, 2, 1, 2}};
  auto* exact = new uint8_t[kSize]();
  std::memcpy(exact, heads[0], 16);
  std::memcpy(exact + 16, "ok", 3);
  std::memcpy(exact + 19, heads[1], 16);
  ZorHandle h;
  h.Attach(ZorCreateHandleFromDataPtr(exact, kSize));
  ZorDyna d;
  d.Init(&h);
  string s;
  EXPECT_TRUE(d.GetData(1, 1, 1, &s));
  EXPECT_FALSE(d.IsItemExist(1, 2, 1));
  EXPECT_EQ(d.FindInCol(1, 1, "nothing", 0), -1);
  EXPECT_FALSE(d.Verif(nullptr));
  EXPECT_EQ(h.GetSize(), kSize);  // no repair without permission
  EXPECT_TRUE(d.SetData(2, 1, 1, int32_t(9)));
  EXPECT_TRUE(d.Dut(false));
  h.Trash();
  d.Trash();
  delete[] exact;
}
