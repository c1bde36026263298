// Editing, search and comparison members of `string` beyond the storage
// model (string_storage_test.cpp): the documented examples, with
// brute-force models for the searches.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using zorvane::string;

namespace {

std::string Text(const string& s) { return std::string(s.CStr(), s.Len()); }

TEST(StringEdit, ClipAndFill) {
  string s("name=value;rest");
  EXPECT_STREQ(s.ClipTo(";="), "name");
  EXPECT_STREQ(s.ClipTo(nullptr), "name");
  EXPECT_STREQ(s.Fill('z', 3), "zzz");
  EXPECT_STREQ(s.Fill('z', 0), "");
}

TEST(StringEdit, TruncDot) {
  const char* text = "abcdefghijklmnop";
  const struct { uint32_t n; int32_t mode; const char* want; } cases[] = {
      {10, 0, "abc...mnop"}, {10, 1, "abcdefg..."}, {10, -1, "...jklmnop"}, {4, 0, "a..."},
      {5, 0, "a...p"},       {15, 0, "abcdef...klmnop"}, {3, 1, "..."},  {1, -1, "."},
      {0, 0, ""},            {16, 0, text},         {40, 1, text},
  };
  for (const auto& c : cases) {
    string s(text);
    EXPECT_STREQ(s.TruncDot(c.n, c.mode), c.want) << c.n << " " << c.mode;
  }
}

TEST(StringEdit, Split) {
  string s("key = value = more"), left("x"), right("y");
  EXPECT_TRUE(s.Split(" = ", &left, &right));
  EXPECT_EQ(Text(left), "key");
  EXPECT_EQ(Text(right), "value = more");
  EXPECT_EQ(Text(s), "key = value = more");

  EXPECT_TRUE(s.Split(" = ", &left, nullptr, 4));  // rest goes to this string
  EXPECT_EQ(Text(left), "key = value");
  EXPECT_EQ(Text(s), "more");

  EXPECT_FALSE(s.Split("#", &left, &right));
  EXPECT_EQ(Text(left), "");
  EXPECT_EQ(Text(right), "more");
  EXPECT_EQ(Text(s), "more");

  string t("aXbxc");
  EXPECT_TRUE(t.Split("x", &left, &right, 0, true));
  EXPECT_EQ(Text(left), "a");
  EXPECT_TRUE(t.Split('x', &left, &t));
  EXPECT_EQ(Text(left), "aXb");
  EXPECT_EQ(Text(t), "c");
}

// Contain against a brute force written from the description, over random
// texts of a small alphabet so that matches are frequent.
int32_t ContainModel(const std::string& t, const std::string& s, bool ic, int32_t start) {
  auto fold = [](std::string x) {
    for (char& c : x) c = zorvane::ZorToUpper(c);
    return x;
  };
  const std::string hay = ic ? fold(t) : t, needle = ic ? fold(s) : s;
  const int64_t len = hay.size(), n = needle.size();
  if (n == 0) return len == 0 ? 0 : -1;
  auto at = [&](int64_t i) { return i >= 0 && i + n <= len && hay.compare(i, n, needle) == 0; };
  if (start >= 0) {
    for (int64_t i = start; i + n <= len; ++i)
      if (at(i)) return static_cast<int32_t>(i);
    return -1;
  }
  int64_t from = std::min<int64_t>(-int64_t{start}, len);
  if (from + n > len) from = len - n;
  for (int64_t i = from; i >= 0; --i)
    if (at(i)) return static_cast<int32_t>(i);
  return -1;
}

TEST(StringEdit, ContainMatchesModel) {
  std::mt19937 rng(7);
  auto random = [&](int maxLen) {
    std::string s(rng() % (maxLen + 1), ' ');
    for (char& c : s) c = "abAB\xe9\xc9"[rng() % 6];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string t = random(12), s = random(3);
    const bool ic = rng() % 2;
    const int32_t start = static_cast<int32_t>(rng() % 30) - 15;
    EXPECT_EQ(string(t.c_str()).Contain(s.c_str(), ic, start), ContainModel(t, s, ic, start))
        << '"' << t << "\" \"" << s << "\" " << ic << " " << start;
  }
}

TEST(StringEdit, StartEndPos) {
  string s("Hello.World");
  EXPECT_TRUE(s.StartWith("hello", true));
  EXPECT_FALSE(s.StartWith("hello"));
  EXPECT_TRUE(s.EndWith("World"));
  EXPECT_FALSE(s.EndWith("xHello.World"));
  EXPECT_FALSE(s.StartWith(""));
  EXPECT_TRUE(string().StartWith(""));
  EXPECT_TRUE(string().EndWith(""));

  EXPECT_EQ(s.PosCh('o'), 4);
  EXPECT_EQ(s.PosCh('o', 5), 7);
  EXPECT_EQ(s.PosCh('o', -3), 4);
  EXPECT_EQ(s.PosCh('z'), -1);
  EXPECT_EQ(s.PosCh('o', 11), -1);  // from the end on
  EXPECT_EQ(s.PosRCh('o'), 7);
  EXPECT_EQ(s.PosRCh('o', 6), 4);
  EXPECT_EQ(s.PosRCh('o', 99), 7);
  EXPECT_EQ(s.PosRCh('H', 0), 0);
  EXPECT_EQ(s.PosRCh('z'), -1);
  EXPECT_EQ(string().PosRCh('a'), -1);
}

// ReplaceStr against a model: match positions chosen greedily from the chosen
// end, at most |count|, then replaced.
std::string ReplaceModel(const std::string& t, const std::string& f, const std::string& r, int32_t count,
                         int32_t* replaced) {
  std::vector<size_t> hits;
  const size_t limit = count < 0 ? -int64_t{count} : count;
  if (count > 0) {
    for (size_t i = 0; i + f.size() <= t.size() && hits.size() < limit;)
      if (t.compare(i, f.size(), f) == 0) hits.push_back(i), i += f.size();
      else ++i;
  } else {
    for (int64_t i = int64_t(t.size()) - int64_t(f.size()); i >= 0 && hits.size() < limit;)
      if (t.compare(i, f.size(), f) == 0) hits.insert(hits.begin(), i), i -= f.size();
      else --i;
  }
  std::string out = t;
  for (size_t k = hits.size(); k-- > 0;) out.replace(hits[k], f.size(), r);
  *replaced = static_cast<int32_t>(hits.size());
  return out;
}

TEST(StringEdit, ReplaceStr) {
  string s("One one ONE");
  EXPECT_EQ(s.ReplaceStr("one", nullptr, false, 2), 2);
  EXPECT_EQ(Text(s), "  ONE");
  EXPECT_EQ(s.ReplaceStr("ONE", "x", true, 0), 0);
  EXPECT_EQ(s.ReplaceStr("", "x"), 0);
  EXPECT_EQ(s.ReplaceStr(nullptr, "x"), 0);
  EXPECT_EQ(string("ab").ReplaceStr("abc", "x"), 0);
  EXPECT_EQ(string().ReplaceStr("a", "x"), 0);

  std::mt19937 rng(11);
  for (int i = 0; i < 5000; ++i) {
    std::string t(rng() % 20, ' '), f(1 + rng() % 3, ' ');
    for (char& c : t) c = "aab"[rng() % 3];
    for (char& c : f) c = "aab"[rng() % 3];
    const std::string r(rng() % 4, 'R');
    const int32_t count = static_cast<int32_t>(rng() % 9) - 4;
    string z(t.c_str());
    int32_t want = 0;
    const std::string expect = count == 0 ? t : ReplaceModel(t, f, r, count, &want);
    EXPECT_EQ(z.ReplaceStr(f.c_str(), r.c_str(), true, count), want) << t << " " << f << " " << count;
    EXPECT_EQ(Text(z), expect);
  }
}

// The orderings themselves are checked against the collation table by the
// oracle; here the members and operators that reach them.
TEST(StringEdit, ComparisonMembersAndOperators) {
  EXPECT_TRUE(string("abc") == "ABC");
  EXPECT_LT(string("a").Cmp("A"), 0);
  EXPECT_EQ(string("abc").ICmp("ABC"), 0);
  EXPECT_TRUE(string("a") < string("\xe1"));
  EXPECT_TRUE("\xe1" < string("b"));
  EXPECT_FALSE(string("a") < "A");  // equal ignoring case
  EXPECT_TRUE(string("a") <= "A");
  EXPECT_TRUE(string("ab") > "A");
  EXPECT_TRUE(string("ab") >= string("AB"));
  EXPECT_TRUE("x" != string("y"));
  EXPECT_EQ(string("abX").Cmp("abY", 2), 0);
  EXPECT_EQ(string("ABx").ICmp("aby", 2), 0);
  string a("abc"), b = a + "def" + string("!");
  EXPECT_EQ(Text(b), "abcdef!");
  EXPECT_EQ(Text("<" + a), "<abc");
}

TEST(StringEdit, CaseMembers) {
  string s;
  EXPECT_STREQ(s.Upper("\xe9t\xe9 \xff\xe6", true), "ETE Y_");
  EXPECT_STREQ(s.Lower("\xc9T\xc9"), "\xe9t\xe9");
  EXPECT_STREQ(string("hELLO").Title(true), "Hello");
  EXPECT_STREQ(string("hELLO").Title(false), "HELLO");
}

TEST(StringEdit, CatalogueTexts) {
  string s;
  EXPECT_STREQ(s.StdEmpty(), "<Vide>");
  s = "x";
  EXPECT_STREQ(s.StdEmpty(), "x");
  EXPECT_STREQ(s.Load(1, 100, 15), "<Vide>");
  EXPECT_STREQ(s.Load(1, 100, 30000), "");
}

TEST(StringEdit, CopyToBuffer) {
  string s("abcdef");
  char buf[4] = {'?', '?', '?', '?'};
  EXPECT_STREQ(s.CopyToBuffer(buf, 4), "abc");
  EXPECT_STREQ(s.CopyToBuffer(buf, 1), "");
}

}  // namespace
