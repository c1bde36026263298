// Option strings: the quoting rules, removal and separators, reading texts
// written by hand, and a model-based random test in which every writer runs
// against a map of the options that must be readable afterwards.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <variant>

using namespace zorvane;

TEST(OptionWrite, QuotingFollowsTheValue) {
  string s;
  EXPECT_STREQ(ZorAddStrOpt(&s, "Name", "l'an"), "-Name=\"l'an\"");
  s.Clear();
  EXPECT_STREQ(ZorAddStrOpt(&s, "Both", "a'b\"c"), "-Both='a\\'b\"c'");
  s.Clear();
  EXPECT_STREQ(ZorAddStrOpt(&s, "Bs", "c:\\x'"), "-Bs=\"c:\\\\x'\"");
  s.Clear();
  EXPECT_STREQ(ZorAddStrOpt(&s, "Plain", ""), "-Plain=''");
  EXPECT_STREQ(ZorAddStrOpt(&s, "Flag", nullptr), "-Plain='' -Flag");
  EXPECT_STREQ(ZorAddStrOpt(&s, "", "x"), "-Plain='' -Flag");  // empty name: nothing
  EXPECT_STREQ(ZorAddStrOptLong(&s, "n", -12), "-Plain='' -Flag -n=-12");
  EXPECT_STREQ(ZorAddStrOptQuad(&s, "PLAIN", INT64_MIN), "-Flag -n=-12 -PLAIN=-9223372036854775808");
}

TEST(OptionWrite, BaseAndLineFeeds) {
  string s("ignored");
  EXPECT_STREQ(ZorAddStrOpt(&s, "x", "1", "-y\n"), "-y\n-x='1'");
  EXPECT_STREQ(ZorAddStrOpt(&s, "z", "2", s.CStr()), "-y\n-x='1' -z='2'");  // base aliasing dst
  EXPECT_STREQ(ZorDelStrOpt(&s, "X"), "-y\n-z='2'");
  EXPECT_STREQ(ZorDelStrOpt(&s, "y"), "-z='2'");
  EXPECT_STREQ(ZorDelStrOpt(&s, "z", "-a -z=5 -b"), "-a -b");
  EXPECT_STREQ(ZorDelStrOpt(&s, "a"), "-b");
  EXPECT_STREQ(ZorDelStrOpt(&s, nullptr), "-b");
  EXPECT_STREQ(ZorDelStrOpt(&s, "b"), "");
}

TEST(OptionRead, NamesMatchWholeAndIgnoreQuotedText) {
  const char* opts = "-ab='-a -abc' -A-abc=$t$ -a $t$\n-x\x01-abc=7";
  string v;
  EXPECT_TRUE(ZorGetStrOpt(opts, "AB", &v));
  EXPECT_STREQ(v.CStr(), "-a -abc");
  EXPECT_TRUE(ZorGetStrOpt(opts, "a", &v));  // "-A" ended by "-"
  EXPECT_STREQ(v.CStr(), "");
  EXPECT_TRUE(ZorGetStrOpt(opts, "abc", &v));  // the first one, with its tagged block
  EXPECT_STREQ(v.CStr(), " -a ");
  EXPECT_TRUE(ZorGetStrOptBool(opts, "x"));  // ended by a control character
  EXPECT_TRUE(ZorGetStrOptBool("-x\x7f-y", "x"));  // DEL is one too
  EXPECT_FALSE(ZorGetStrOpt(opts, "t", &v));
  EXPECT_FALSE(ZorGetStrOpt(opts, "abcd", &v));
  EXPECT_FALSE(ZorGetStrOptBool(nullptr, "a"));
  EXPECT_FALSE(ZorGetStrOptBool(opts, ""));
}

TEST(OptionRead, NumbersTakeDigitsUpToTheNextDash) {
  const char* opts = "-a=12 x5 -b=-3,75 -c='4' -d=1.2.3 -e -f=abc";
  const struct { const char* name; bool found; int32_t want; } longs[] = {
      {"a", true, 125}, {"b", true, -3}, {"c", true, 4}, {"e", true, 0}, {"f", true, 0}, {"g", false, 0}};
  for (const auto& c : longs) {
    int32_t n = 99;
    EXPECT_EQ(ZorGetStrOptLong(opts, c.name, &n), c.found) << c.name;
    EXPECT_EQ(n, c.want) << c.name;
  }
  int64_t q = 99;
  EXPECT_TRUE(ZorGetStrOptQuad(opts, "b", &q));
  EXPECT_EQ(q, -3);
  decimal d(5);
  EXPECT_TRUE(ZorGetStrOptDecimal(opts, "b", &d));
  EXPECT_DOUBLE_EQ(d._getDouble(), -3.75);
  EXPECT_FALSE(ZorGetStrOptDecimal(opts, "zz", &d));
  EXPECT_TRUE(d.IsNull());
  string v("x");
  EXPECT_FALSE(ZorGetStrOpt(opts, "zz", &v));
  EXPECT_TRUE(v.IsEmpty());
}

TEST(OptionRead, UnterminatedValuesRunToTheEnd) {
  string v;
  EXPECT_TRUE(ZorGetStrOpt("-a='xy\\' -b", "a", &v));
  EXPECT_STREQ(v.CStr(), "xy' -b");
  EXPECT_FALSE(ZorGetStrOptBool("-a='xy\\' -b", "b"));
  EXPECT_TRUE(ZorGetStrOpt("-a=$q$text -b", "a", &v));
  EXPECT_STREQ(v.CStr(), "text -b");
  EXPECT_TRUE(ZorGetStrOpt("-a=$5 -b", "a", &v));  // a lone "$" is plain text
  EXPECT_STREQ(v.CStr(), "$5");
  EXPECT_TRUE(ZorGetStrOptBool("-a=$5 -b", "b"));
}

TEST(OptionWrite, DecimalsAndBlocksKeepTheirExactText) {
  string s;
  decimal d(-1234.5678, kZorLogTypeFloat);
  ZorAddStrOptDecimal(&s, "Rate", &d);
  EXPECT_STREQ(s.CStr(), "-Rate=-1234.5678");
  decimal back;
  EXPECT_TRUE(ZorGetStrOptDecimal(s.CStr(), "rate", &back));
  EXPECT_DOUBLE_EQ(back._getDouble(), d._getDouble());
  ZorAddStrCDataOpt(&s, "Body", "x $1$ y $$ z$");
  EXPECT_TRUE(ZorGetStrOptDecimal(s.CStr(), "rate", &back));
}

namespace {

struct Flag {};
using Value = std::variant<Flag, std::string, int64_t>;

std::string Upper(const std::string& name) {
  std::string out;
  for (char c : name) out += ZorToUpper(c);
  return out;
}

// Names that are prefixes of one another and differ only in case.
const char* const kNames[] = {"a", "ab", "abc", "AB", "b", "Mode", "mode2", "x_1", "Z"};

std::string RandomText(std::mt19937& rng) {
  static const char kAlphabet[] = "ab -='\"\\$$1\n\t\x7f\xe9xyz-a-ab";
  std::string out;
  const int n = static_cast<int>(rng() % 12);
  for (int i = 0; i < n; ++i) out += kAlphabet[rng() % (sizeof kAlphabet - 1)];
  return out;
}

void CheckAgainstModel(const string& s, const std::map<std::string, Value>& model) {
  for (const char* name : kNames) {
    auto it = model.find(Upper(name));
    string text;
    int64_t q = 42;
    const bool found = ZorGetStrOpt(s.CStr(), name, &text);
    ASSERT_EQ(found, it != model.end()) << name << " in " << s.CStr();
    EXPECT_EQ(ZorGetStrOptBool(s.CStr(), name), found);
    EXPECT_EQ(ZorGetStrOptQuad(s.CStr(), name, &q), found);
    if (!found) {
      EXPECT_TRUE(text.IsEmpty());
      EXPECT_EQ(q, 0);
    } else if (auto* t = std::get_if<std::string>(&it->second)) {
      ASSERT_EQ(std::string(text.CStr()), *t) << name << " in " << s.CStr();
    } else if (auto* n = std::get_if<int64_t>(&it->second)) {
      EXPECT_EQ(q, *n) << name << " in " << s.CStr();
    } else {
      EXPECT_TRUE(text.IsEmpty());
    }
  }
}

}  // namespace

TEST(OptionModel, RandomWritesReadBack) {
  std::mt19937 rng(1909);
  for (int round = 0; round < 300; ++round) {
    string s;
    std::map<std::string, Value> model;
    if (rng() % 3 == 0) s = "\n";
    for (int step = 0; step < 25; ++step) {
      const char* name = kNames[rng() % std::size(kNames)];
      const std::string key = Upper(name);
      const uint32_t op = rng() % 6;
      switch (op) {
        case 0:
        case 1: {
          const std::string text = RandomText(rng);
          if (op == 0) ZorAddStrOpt(&s, name, text.c_str());
          else ZorAddStrCDataOpt(&s, name, text.c_str());
          model[key] = text;
          break;
        }
        case 2: {
          const int64_t v = static_cast<int64_t>(rng()) - (1ll << 31);
          ZorAddStrOptLong(&s, name, static_cast<int32_t>(v));
          model[key] = static_cast<int64_t>(static_cast<int32_t>(v));
          break;
        }
        case 3: {
          const int64_t v = (static_cast<int64_t>(rng()) << 32 | rng()) - (1ll << 62);
          ZorAddStrOptQuad(&s, name, v);
          model[key] = v;
          break;
        }
        case 4: {
          const bool on = rng() % 2;
          ZorAddStrOptBool(&s, name, on);
          if (on) model[key] = Flag{}; else model.erase(key);
          break;
        }
        default:
          ZorDelStrOpt(&s, name);
          model.erase(key);
          break;
      }
      CheckAgainstModel(s, model);
      if (HasFatalFailure()) return;
    }
  }
}
