// ZorPnv: the name rule and its errors, the missing-name modes, message
// parameters, the resource-text reader on hand-made texts, and a random
// round trip through the resource writer.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace zorvane;

namespace {

const std::string kSep = "\xA0-\xA0";
const char kUndefined[] = "<** Non d\xE9" "finie **>";

std::string Str(const string& s) { return std::string(s.CStr(), s.Len()); }

std::string Value(const ZorPnv& pnv, const char* name, char mode = 'E') {
  string v;
  return pnv.GetTxt(&v, name, mode);
}

std::vector<std::pair<std::string, std::string>> Entries(const ZorPnv& pnv) {
  std::vector<std::pair<std::string, std::string>> out;
  for (int32_t i = 1; i <= pnv.GetNbLines(); ++i) {
    string name, value;
    EXPECT_FALSE(pnv.Get(i, &name, nullptr, &value));  // entries have no identifier
    out.emplace_back(Str(name), Str(value));
  }
  return out;
}

// Runs fn, which must raise ZorEBasic; returns "code message".
template <class F>
std::string Raised(F fn) {
  try {
    fn();
  } catch (const ZorEBasic& e) {
    return std::to_string(ZorErrNumber(e.GetError())) + " " + e.GetMsgText();
  }
  return "nothing raised";
}

using Entry = std::pair<std::string, std::string>;

TEST(Pnv, NameRuleAndErrors) {
  ZorPnv pnv;
  EXPECT_FALSE(pnv.IsInit());
  pnv.AddTxt("_x2", "a");
  pnv.AddTxt("Total_HT", "b");
  pnv.AddTxt("\xE9t\xE9", "c");  // accented letters are letters
  EXPECT_TRUE(pnv.IsInit());
  for (const char* bad : {"2nd", "", "a b", "a-b", "a:b", "x\xA0"})
    EXPECT_EQ(Raised([&] { pnv.AddTxt(bad, "v"); }), std::string("19 The name '") + bad + "' is invalid.");
  EXPECT_EQ(Raised([&] { pnv.AddTxt("total_ht", "again"); }), "19 The name 'total_ht' already exists");
  EXPECT_EQ(Entries(pnv), (std::vector<Entry>{{"_x2", "a"}, {"Total_HT", "b"}, {"\xE9t\xE9", "c"}}));

  pnv.AddTxt("TOTAL_HT", "second", false);  // not unique: a second entry, the first one wins
  EXPECT_EQ(pnv.GetNbLines(), 4);
  EXPECT_EQ(Value(pnv, "total_ht"), "b");
  EXPECT_TRUE(pnv.IsNameExist("_X2"));
  EXPECT_FALSE(pnv.IsNameExist("x2"));
  EXPECT_FALSE(pnv.IsNameExist(nullptr));
}

TEST(Pnv, MissingNameModes) {
  ZorPnv pnv;
  pnv.Init();
  pnv.AddTxt("Empty", "");
  pnv.AddTxt("Full", "text");
  const struct { const char* name; char mode; const char* want; } cases[] = {
      {"Absent", 'T', "T_Absent"}, {"Absent", 'C', "Absent"}, {"Absent", 'N', kUndefined}, {"Absent", 'x', ""},
      {"empty", 'N', kUndefined},  {"empty", 'C', ""},        {"FULL", 'N', "text"}};
  for (const auto& c : cases) EXPECT_EQ(Value(pnv, c.name, c.mode), c.want) << c.name << " " << c.mode;
  EXPECT_EQ(Raised([&] { Value(pnv, "Absent", 'E'); }), "23 Le nom recherch\xE9 'Absent' n'existe pas.");
}

TEST(Pnv, UpdatesAndEscapes) {
  ZorPnv pnv;
  pnv.AddTxt("Msg", "a\\tb\\n\\\"c\\\\d\\x", true, true);
  EXPECT_EQ(Value(pnv, "Msg"), "a\tb\n\"c\\\\d\\x");
  EXPECT_FALSE(pnv.UpdateTxt("Missing", "v"));
  EXPECT_FALSE(pnv.UpdateTxt("msg", "A\tB\n\"C\\\\D\\X"));  // equal but for case
  EXPECT_TRUE(pnv.UpdateTxt("msg", "x\\ty", true));
  EXPECT_EQ(Value(pnv, "Msg"), "x\ty");
  EXPECT_TRUE(pnv.UpdateTxt("msg", ""));
  EXPECT_EQ(Value(pnv, "Msg", 'N'), kUndefined);
  EXPECT_EQ(pnv.GetItemFlags(1), ZorTxtHasCode);  // no label left
}

// The value decoder of AddTxt undoes the library's escaper on any text
// without backslashes (with them the escaped form is ambiguous).
TEST(Pnv, UnescapeUndoesEscape) {
  std::mt19937 rng(23);
  static const char kChars[] = "\t\n\v\f\r\"'an";
  for (int32_t round = 0; round < 500; ++round) {
    std::string text;
    for (int32_t n = static_cast<int32_t>(rng() % 12); n > 0; --n) text += kChars[rng() % (sizeof(kChars) - 1)];
    string escaped, back;
    ZorEscapeString(text.c_str(), &escaped, round & 1);
    EXPECT_EQ(ZorUnEscapeString(escaped.CStr(), &back), text);
    std::string inPlace(escaped.CStr());
    EXPECT_EQ(ZorUnEscapeString(inPlace.data(), inPlace.data()), text);
  }
}

TEST(Pnv, ParametersAndList) {
  ZorPnv pnv;
  pnv.AddTxt("NotFound", "Fichier ^0 introuvable");
  pnv.AddTxt("Three", "^2/^1/^0 ^^0 ^5");
  string out;
  EXPECT_STREQ(pnv.GetPrm(&out, "notfound", "a.txt"), "Fichier a.txt introuvable");
  EXPECT_STREQ(pnv.GetPrm(&out, "Three", "x", nullptr, "z"), "z//x ^0 ^5");
  EXPECT_EQ(Raised([&] { pnv.GetPrm(&out, "Nope", "a"); }), "23 Le nom recherch\xE9 'Nope' n'existe pas.");

  pnv.AddTxt("Bare", "");
  pnv.GetList(&out);
  EXPECT_EQ(Str(out), "NotFound" + kSep + "Fichier ^0 introuvable\nThree" + kSep + "^2/^1/^0 ^^0 ^5\nBare");
  pnv.AddTxt("Past", "^5s|^9q|^4");  // typed placeholders past the five texts stay as written
  EXPECT_STREQ(pnv.GetPrm(&out, "Past", "a", "b", "c", "d", "e"), "^5s|^9q|e");
}

TEST(PnvRsrc, LinesCommentsAndContinuations) {
  ZorPnv pnv;
  pnv.AddRsrcTxt(
      "// header\r\n"
      "First:one\r\n"
      "// between\n"
      "  +Second:two\n"       // a "+" with no open entry of that name starts one
      ":, more\n"              // an empty name continues
      " + second: and more\n"  // a continuation of the same name (any case)
      "\n"
      "Third\n"                // a name alone
      "Fourth : a:b \t\x01z\n"  // spaces before the colon are not part of the name
      "Fifth:x",                // the end of the text closes the last entry
      false);
  EXPECT_EQ(Entries(pnv), (std::vector<Entry>{{"First", "one"},
                                              {"Second", "two, more and more"},
                                              {"Third", ""},
                                              {"Fourth", " a:b z"},
                                              {"Fifth", "x"}}));
}

TEST(PnvRsrc, Escapes) {
  ZorPnv with, without;
  const char* text = "A:l1\\nl2\\tt \\\\n \\x\\\nB:\\n";
  with.AddRsrcTxt(text, true);
  without.AddRsrcTxt(text, false);
  EXPECT_EQ(Entries(with), (std::vector<Entry>{{"A", "l1\nl2\tt \\\\n \\x\\"}, {"B", "\n"}}));
  EXPECT_EQ(Entries(without), (std::vector<Entry>{{"A", "l1\\nl2\\tt \\\\n \\x\\"}, {"B", "\\n"}}));
}

TEST(PnvRsrc, BadTextsChangeNothing) {
  ZorPnv pnv;
  pnv.AddTxt("Kept", "1");
  EXPECT_EQ(Raised([&] { pnv.AddRsrcTxt("New:2\n// note\nKEPT:3\n", false); }), "19 The name 'KEPT' already exists");
  EXPECT_EQ(Raised([&] { pnv.AddRsrcTxt("A:1\nA:2\n", false); }), "19 The name 'A' already exists");
  EXPECT_EQ(Raised([&] { pnv.AddRsrcTxt("Ok:1\nbad name:2\n", false); }), "19 The name 'bad name' is invalid.");
  EXPECT_EQ(Raised([&] { pnv.AddRsrcTxt(":orphan\n", false); }), "19 The name '' is invalid.");
  EXPECT_EQ(Entries(pnv), (std::vector<Entry>{{"Kept", "1"}}));

  pnv.AddRsrcTxt("New:2\n// two entries around a comment\nOther:3", false);
  EXPECT_EQ(pnv.GetNbLines(), 3);
  pnv.AddRsrcTxt(nullptr, true);
  pnv.AddRsrcTxt("\n \n+\n//\n", true);
  EXPECT_EQ(pnv.GetNbLines(), 3);
}

TEST(PnvRsrc, HeaderIsTwoCommentLines) {
  ZorPnv pnv;
  pnv.AddTxt("N", "v");
  string out;
  const std::string text = pnv.GetRsrcTxt(&out, 0, 0, true);
  ASSERT_EQ(text.compare(0, 3, "// "), 0);
  const size_t second = text.find("\n// ");
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(text.substr(text.find('\n', second + 1) + 1), "N:\n:v\n");
  ZorPnv back;
  back.AddRsrcTxt(text.c_str(), false);
  EXPECT_EQ(Entries(back), Entries(pnv));
}

// The writer's output reads back as the same entries, for any value, line
// width and escape setting; without escapes, or for control characters
// other than LF and TAB, the control characters are dropped.
TEST(PnvRsrc, RandomRoundTrip) {
  std::mt19937 rng(17);
  auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  static const char* const kValuePieces[] = {"\\", "n", "t", "\n", "\t", "\r", ":", "+", " ", "/", "a", "\xE9",
                                             "^", "\xA0-\xA0"};
  for (int32_t round = 0; round < 300; ++round) {
    ZorPnv pnv;
    std::vector<Entry> expected;
    const bool escapes = pick(0, 1);
    for (int32_t n = pick(0, 6); n > 0; --n) {
      std::string name = "n" + std::to_string(expected.size()) + std::string(static_cast<size_t>(pick(0, 3)), '_');
      std::string value, kept;
      for (int32_t k = pick(0, 12); k > 0; --k) value += kValuePieces[pick(0, 13)];
      for (char c : value)
        if (!ZorIsCtrl(c) || (escapes && (c == '\n' || c == '\t'))) kept += c;
      pnv.AddTxt(name.c_str(), value.c_str());
      expected.emplace_back(name, kept);
    }
    const uint32_t width = static_cast<uint32_t>(pick(0, 4));
    string text;
    pnv.GetRsrcTxt(&text, width, escapes ? ZorPnvRsrcEscapes : 0, pick(0, 1));
    ZorPnv back;
    back.AddRsrcTxt(text.CStr(), escapes);
    ASSERT_EQ(Entries(back), expected) << "width " << width << " escapes " << escapes << "\n" << text.CStr();
  }
}

}  // namespace
