// ZorTxtList: the documented examples, then a model of items (identifier,
// code, label and their flags in plain std::string) that random lists,
// random edits, every Find operator, uniqueness, sorting, renumbering and
// the text round trip are checked against.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include "support/temp_files.h"
#include "support/test_util.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

const std::string kSep = "\xA0-\xA0";

// ---------------------------------------------------------------- the model

struct Model {
  bool hasId = false;
  int32_t id = 0;
  std::string code, label;
  bool codeFlag = false, labelFlag = false;

  std::string Text() const { return code + (labelFlag ? kSep + label : ""); }
  std::string Part(uint32_t kind, char sep) const {
    switch (kind) {
      case 1: return hasId ? std::to_string(id) : "";
      case 16: return codeFlag ? code : "";
      case 256: return labelFlag ? label : "";
      case 272: return codeFlag || labelFlag ? Text() : "";
      case 273: return Part(1, sep) + sep + Part(272, sep);
      default: return "";
    }
  }
};

Model Added(const std::string& code, int32_t id, bool noId, const std::string& label) {
  return Model{!noId, noId ? 0 : id, code, label, !code.empty(), !label.empty()};
}

// One line per item: identifier, flags, code and label, for readable diffs.
std::string Describe(const Model& m) {
  return (m.hasId ? std::to_string(m.id) : "-") + " " + std::to_string(m.codeFlag) + std::to_string(m.labelFlag) +
         " [" + m.code + "] [" + m.label + "]";
}

void ExpectSame(const ZorTxtList& list, const std::vector<Model>& model) {
  std::vector<std::string> got, want;
  for (int32_t i = 1; i <= list.GetNbItem(); ++i) {
    Model m;
    string code, label;
    m.hasId = list.Get(i, &code, &m.id, &label);
    m.code = code.CStr(), m.label = label.CStr();
    m.codeFlag = list.GetItemFlags(i) & ZorTxtHasCode, m.labelFlag = list.GetItemFlags(i) & ZorTxtHasLabel;
    EXPECT_EQ(list.GetItemText(i), m.Text()) << "item " << i;
    got.push_back(Describe(m));
  }
  for (const Model& m : model) want.push_back(Describe(m));
  ASSERT_EQ(got, want);
}

// Case-insensitive helpers of the model: fold with the library's case map,
// then plain std::string operations.
std::string Fold(const std::string& s) {
  std::string f(s);
  for (char& c : f) c = ZorToUpper(c);
  return f;
}

// Where b occurs in a ignoring case: 5 anywhere, 6 at the start, 7 at the
// end; an empty b occurs only in an empty a.
bool Occurs(int32_t where, const std::string& a, const std::string& b) {
  if (b.empty() || a.size() < b.size()) return a.empty() && b.empty();
  const std::string fa = Fold(a), fb = Fold(b);
  if (where == 6) return fa.compare(0, fb.size(), fb) == 0;
  if (where == 7) return fa.compare(fa.size() - fb.size(), fb.size(), fb) == 0;
  return fa.find(fb) != std::string::npos;
}

bool TestOp(int32_t op, int32_t cmp, const std::string& a, const std::string& b) {
  const bool negated = op > 100 && op < 108;
  const int32_t base = negated ? op - 100 : op;
  switch (base) {
    case 2: return negated ? cmp <= 0 : cmp > 0;  // 102 is "less or equal"
    case 3: return negated ? cmp >= 0 : cmp < 0;  // 103 is "greater or equal"
    case 5: case 6: case 7: return Occurs(base, a, b) != negated;
    default: return (Fold(a) == Fold(b)) != (op == 101);
  }
}

int32_t ModelFind(const std::vector<Model>& items, const std::string& text, uint32_t kind, int32_t start, int32_t op) {
  if (items.empty()) return -1;
  const bool swap = op >= 1000;
  const int32_t base = swap ? op - 1000 : op;
  if (base == 99) return 1;
  if (base == 199) return -1;
  const bool ordering = base == 2 || base == 3 || base == 102 || base == 103;
  for (int32_t i = std::max(start, 1); i <= static_cast<int32_t>(items.size()); ++i) {
    const Model& m = items[i - 1];
    if (kind == 1 && !text.empty() && ordering && m.hasId) {
      const int64_t v = std::strtoll(text.c_str(), nullptr, 10);
      const int64_t a = swap ? v : m.id, b = swap ? m.id : v;
      if (TestOp(base, a < b ? -1 : (a > b), "", "")) return i;
    } else {
      std::string a = m.Part(kind, ':'), b = text;
      if (swap) std::swap(a, b);
      if (TestOp(base, ZorStrICmp(a.c_str(), b.c_str()), a, b)) return i;
    }
  }
  return -1;
}

// ---------------------------------------------------------------- random data

struct Gen {
  std::mt19937 rng;
  explicit Gen(uint32_t seed) : rng(seed) {}
  int32_t Int(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }

  // Short texts from a small alphabet (so that repeats and case variants are
  // common), sometimes long enough to leave the item's inline buffer.
  std::string Text(int32_t maxLen = 4, bool allowSep = false) {
    static const char* const kPieces[] = {"a", "A", "b", "B", "\xE9", "\xC9", "1", "0", " ", "-"};
    std::string s;
    for (int32_t n = Int(0, maxLen); n > 0; --n) s += kPieces[Int(0, 9)];
    if (Int(0, 9) == 0) s += std::string(static_cast<size_t>(Int(60, 70)), "xY"[Int(0, 1)]);
    if (allowSep && Int(0, 7) == 0) s += kSep + "z";
    return s;
  }
  Model Item() {
    const bool noId = Int(0, 3) == 0;
    return Added(Text(), Int(-20, 200), noId, Int(0, 1) ? Text(4, true) : "");
  }
  // Fills the list with n random items; returns its model.
  std::vector<Model> Fill(ZorTxtList* list, int32_t n) {
    list->Init(static_cast<const char*>(nullptr), ':', ';');
    std::vector<Model> model;
    for (int32_t i = 0; i < n; ++i) {
      const Model& m = model.emplace_back(Item());
      list->Add(m.code.c_str(), m.id, !m.hasId, m.label.c_str());
    }
    return model;
  }
};

std::string Str(const string& s) { return std::string(s.CStr(), s.Len()); }

// ---------------------------------------------------------------- examples

TEST(TxtList, DelimitedTextWithIdentifiersAndIndexesOutside) {
  ZorTxtList list;
  EXPECT_FALSE(list.IsInit());
  list.Init("10:Red;20:Green;;Blue", ':', ';');
  EXPECT_TRUE(list.IsInit());
  ExpectSame(list, {Added("Red", 10, false, ""), Added("Green", 20, false, ""), Added("Blue", 0, true, "")});

  list.Init(("-5:a" + kSep + "b;2147483648:big;-2147483648:min;7;:x;;;").c_str(), ':', ';');
  ExpectSame(list, {Added("a", -5, false, "b"), Added("2147483648:big", 0, true, ""),
                    Added("min", INT32_MIN, false, ""), Added("7", 0, true, ""), Added(":x", 0, true, "")});

  list.Init("12:", ':', ';');  // an identifier with an empty text still has a code flag
  EXPECT_EQ(list.GetNbItem(), 1);
  EXPECT_EQ(list.GetItemFlags(1), ZorTxtHasId | ZorTxtHasCode);
  list.Init("1:a;2:b", 0, 0);  // no separator: one run; no identifier character
  ExpectSame(list, {Added("1:a;2:b", 0, true, "")});

  list.Init("a;b", ':', ';');  // indexes outside the list
  string s;
  EXPECT_LIB_ERROR(18, list.GetItem(3, &s, ZorTxtKindCode));
  EXPECT_LIB_ERROR(18, list.Del(0));
  EXPECT_LIB_ERROR(18, list.Ins(4, "x"));
  EXPECT_EQ(list.Ins(3, "c"), 3);
}

TEST(TxtList, PartsOfAnItem) {
  ZorTxtList list;
  list.Add("A001", 5, false, "Chair");
  string s;
  EXPECT_EQ(list.GetItemText(1), "A001" + kSep + "Chair");
  EXPECT_EQ(list.GetItem(1, &s, ZorTxtKindLabel), 5);
  EXPECT_STREQ(s.CStr(), "Chair");
  list.GetItem(1, &s, ZorTxtKindCode);
  EXPECT_STREQ(s.CStr(), "A001");
  list.GetItem(1, &s, ZorTxtKindIdText, ':');
  EXPECT_EQ(Str(s), "5:A001" + kSep + "Chair");
  list.GetItem(1, &s, 17);
  EXPECT_STREQ(s.CStr(), "");

  string code, label;
  EXPECT_TRUE(ZorGetRecordCode(("x" + kSep + "y" + kSep + "z").c_str(), &code, &label));
  EXPECT_STREQ(code.CStr(), "x");
  EXPECT_EQ(Str(label), "y" + kSep + "z");
  EXPECT_FALSE(ZorGetRecordCode("x\xA0-", &code, &label));  // incomplete separator
  EXPECT_STREQ(label.CStr(), "");
}

// Texts past 63 bytes live on the heap; the random edits move items in and
// out of it. Here the copies, which must not share those texts.
TEST(TxtList, LongTextsLiveOnTheHeapAndCopyDeeply) {
  ZorTxtList list;
  list.Add(std::string(63, 'a').c_str());
  list.Add(std::string(64, 'b').c_str());
  EXPECT_EQ(list.GetRecord(1)->longText, nullptr);
  ASSERT_NE(list.GetRecord(2)->longText, nullptr);
  ZorTxtList copy(list), assigned;
  assigned = list;
  assigned = assigned;
  EXPECT_NE(copy.GetRecord(2)->longText, list.GetRecord(2)->longText);
  list.Set(2, "short", 0, true, nullptr);  // frees the original's heap text
  list.Trash();
  ZorTxtList moved(std::move(assigned));
  EXPECT_EQ(assigned.GetNbItem(), 0);
  EXPECT_EQ(copy.GetItemText(2), std::string(64, 'b'));
  EXPECT_EQ(moved.GetItemText(2), std::string(64, 'b'));
}

// ---------------------------------------------------------------- against the model

TEST(TxtListModel, RandomEditsMatchTheModel) {
  Gen g(7);
  for (int32_t round = 0; round < 40; ++round) {
    ZorTxtList list;
    std::vector<Model> model = g.Fill(&list, g.Int(0, 6));
    for (int32_t step = 0; step < 60; ++step) {
      const int32_t n = static_cast<int32_t>(model.size());
      const int32_t pick = n ? g.Int(1, n) : 0;
      switch (n ? g.Int(0, 6) : 0) {
        case 0: {
          const Model m = g.Item();
          const int32_t at = g.Int(1, n + 1);
          EXPECT_EQ(list.Ins(at, m.code.c_str(), m.id, !m.hasId, m.label.c_str()), at);
          model.insert(model.begin() + at - 1, m);
          break;
        }
        case 1: {
          const int32_t count = g.Int(-1, 3);
          list.Del(pick, count);
          if (count > 0) model.erase(model.begin() + pick - 1, model.begin() + std::min(n, pick - 1 + count));
          break;
        }
        case 2: {
          const int32_t other = g.Int(1, n);
          list.Swap(pick, other);
          std::swap(model[pick - 1], model[other - 1]);
          break;
        }
        case 3:
          list.Invert();
          std::reverse(model.begin(), model.end());
          break;
        case 4: {
          // null keeps a part, empty removes it, anything else replaces it
          const int32_t which = g.Int(0, 2);
          const std::string code = g.Text(), label = g.Text(4, true);
          const char* c = which == 0 ? nullptr : code.c_str();
          const char* l = which == 1 ? nullptr : label.c_str();
          const bool noId = g.Int(0, 1);
          const int32_t id = g.Int(-5, 5);
          list.Set(pick, c, id, noId, l);
          Model& m = model[pick - 1];
          if (c) m.code = code, m.codeFlag = !code.empty();
          if (l) m.label = label, m.labelFlag = !label.empty();
          if (!noId) m.hasId = true, m.id = id;
          break;
        }
        case 5: {
          static const uint32_t kKinds[] = {1, 16, 256, 272, 273, 2};
          const uint32_t kind = kKinds[g.Int(0, 5)];
          list.ClearItem(pick, kind);
          Model& m = model[pick - 1];
          if (kind == 1 || kind == 273) m.hasId = false, m.id = 0;
          if (kind == 16 || kind >= 272) m.code.clear(), m.codeFlag = false;
          if (kind == 256 || kind >= 272) m.label.clear(), m.labelFlag = false;
          break;
        }
        default: {
          const int32_t first = g.Int(-3, 3), step = g.Int(-2, 5), from = g.Int(0, n), to = g.Int(0, n + 2);
          const bool all = g.Int(0, 1);
          list.Renum(first, step, from, to, all);
          int32_t next = first;
          for (int32_t i = std::max(from, 1); i <= std::min(to, n); ++i) {
            Model& m = model[i - 1];
            if (!m.hasId && !all) continue;
            m.hasId = true, m.id = next, next += step;
          }
        }
      }
      ASSERT_NO_FATAL_FAILURE(ExpectSame(list, model)) << "round " << round << " step " << step;
    }
  }
}

TEST(TxtListModel, EveryFindOperatorMatchesBruteForce) {
  static const int32_t kOps[] = {0, 1, 2, 3, 5, 6, 7, 101, 102, 103, 105, 106, 107, 4, 50, 99, 199};
  static const uint32_t kKinds[] = {1, 16, 256, 272, 273, 0};
  Gen g(11);
  for (int32_t round = 0; round < 300; ++round) {
    ZorTxtList list;
    std::vector<Model> model = g.Fill(&list, g.Int(0, 12));
    const int32_t n = static_cast<int32_t>(model.size());
    for (int32_t q = 0; q < 40; ++q) {
      const uint32_t kind = kKinds[g.Int(0, 5)];
      std::string text;
      switch (g.Int(0, 3)) {  // a part of some item, a piece of one, a number, anything
        case 0: if (n) text = model[g.Int(0, n - 1)].Part(kind, ':'); break;
        case 1:
          if (!n) break;
          text = Fold(model[g.Int(0, n - 1)].Part(kind, ':'));
          text = text.substr(g.Int(0, static_cast<int32_t>(text.size())));
          text.resize(g.Int(0, static_cast<int32_t>(text.size())));
          break;
        case 2: text = std::to_string(g.Int(-30, 210)); break;
        default: text = g.Text(); break;
      }
      const int32_t op = kOps[g.Int(0, 16)] + (g.Int(0, 1) ? 1000 : 0);
      const int32_t start = g.Int(-1, n + 1);
      EXPECT_EQ(list.Find(text.c_str(), kind, start, op), ModelFind(model, text, kind, start, op))
          << "text '" << text << "' kind " << kind << " op " << op << " start " << start;
    }
  }
}

// Uniqueness against a pairwise comparison, sorting against a stable sort
// with the library's collation, and the text form read back, on random lists.
TEST(TxtListModel, UniquenessSortAndTextRoundTrip) {
  Gen g(3);
  for (int32_t round = 0; round < 300; ++round) {
    ZorTxtList list;
    std::vector<Model> model = g.Fill(&list, g.Int(0, 12));
    const uint32_t kind = std::vector<uint32_t>{1, 16, 256, 272, 273}[g.Int(0, 4)];
    std::vector<std::pair<int32_t, std::string>> repeats;  // from the last item down
    for (int32_t i = static_cast<int32_t>(model.size()); i >= 2; --i)
      for (int32_t j = 1; j < i; ++j)
        if (ZorStrIEq(model[i - 1].Part(kind, '=').c_str(), model[j - 1].Part(kind, '=').c_str())) {
          repeats.emplace_back(i, model[i - 1].Part(kind, '='));
          break;
        }
    EXPECT_EQ(list.IsUnicItem(kind, nullptr, '='), repeats.empty() ? 0 : repeats.front().first);
    ZorTxtList dups;
    dups.Add("stale");
    ASSERT_EQ(list.IsUnicItem(kind, &dups, '='), static_cast<int32_t>(repeats.size()));
    for (size_t k = 0; k < repeats.size(); ++k) {
      string part;
      EXPECT_EQ(dups.GetItem(static_cast<int32_t>(k) + 1, &part, ZorTxtKindText), repeats[k].first);
      EXPECT_EQ(Str(part), repeats[k].second);
    }

    const bool descending = g.Int(0, 1), byId = g.Int(0, 1);
    list.Sort(descending, byId);
    std::stable_sort(model.begin(), model.end(), [&](const Model& a, const Model& b) {
      const Model &x = descending ? b : a, &y = descending ? a : b;
      return byId ? x.id < y.id : ZorStrICmp(x.code.c_str(), y.code.c_str()) < 0;
    });
    ASSERT_NO_FATAL_FAILURE(ExpectSame(list, model)) << "round " << round;

    // Codes that are empty or start with digits would not read back as they
    // were: the text form cannot tell them from an identifier prefix.
    for (int32_t i = 1; i <= list.GetNbItem(); ++i) {
      Model& m = model[i - 1];
      m.code = "c" + m.code, m.codeFlag = true;
      list.Set(i, m.code.c_str(), 0, true, nullptr);
    }
    string text;
    list.GetText(&text, ZorTxtKindIdText, '#', ';');
    ZorTxtList back;
    back.Init(text.CStr(), '#', ';');
    ASSERT_NO_FATAL_FAILURE(ExpectSame(back, model)) << text.CStr();
  }
}

// ---------------------------------------------------------------- other sources

TEST(TxtList, FromFileAndFromRows) {
  zortest::TempDir dir;
  const ZorFsa path = dir.MakeFsa("colors.txt", "1|Red\n2|Green\n");
  ZorTxtList list;
  list.Init(&path, '|', '\n');
  ExpectSame(list, {Added("Red", 1, false, ""), Added("Green", 2, false, "")});

  const ZorFsa empty = dir.MakeFsa("empty.txt");
  ZorTxtList none;
  none.Init(&empty, '|', '\n');
  EXPECT_TRUE(none.IsInit());
  EXPECT_EQ(none.GetNbItem(), 0);

  const ZorFsa missing = dir.Fsa("missing.txt");
  EXPECT_THROW(list.Init(&missing, '|', '\n'), ZorEBasic);
  EXPECT_EQ(list.GetNbItem(), 2);  // unchanged by the failure

  struct Rows : iZorTxtListSource {
    int32_t at = 0;
    bool NextRow() override { return ++at <= 3; }
    bool GetRowId(int32_t* id) override { return at != 2 && (*id = at * 7, true); }
    const char* GetRowText(string* dst) override {
      return dst->Assign(at == 3 ? ("k" + kSep + "v").c_str() : "12:plain");
    }
  } rows;
  list.Init(&rows);
  ExpectSame(list, {Added("12:plain", 7, false, ""), Added("12:plain", 0, true, ""), Added("k", 21, false, "v")});

  struct Sink : iZorTxtListSink {
    std::string seen;
    void AddRow(int32_t index, const int32_t* id, const char* code, const char* label) override {
      seen += std::to_string(index) + "/" + (id ? std::to_string(*id) : "-") + "/" + code + "/" + label + " ";
    }
  } sink;
  EXPECT_EQ(list.GetList(&sink), 3);
  EXPECT_EQ(sink.seen, "1/7/12:plain/ 2/-/12:plain/ 3/21/k/v ");
}

}  // namespace
