// The path tree against a model: interning, reference chains, slot reuse,
// the hash index under growth and removal, case rules, and concurrent use.
#include "foundation/files/path_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using zorvane::ZorPathTree;
using NameCase = zorvane::platform::NameCase;

namespace {

using Chain = std::vector<std::string>;

std::string Upper(const std::string& s) {
  std::string u = s;
  for (char& c : u) c = zorvane::ZorToUpper(c);
  return u;
}

int32_t AcquireChain(ZorPathTree& tree, const Chain& chain) {
  std::vector<std::string_view> views(chain.begin(), chain.end());
  return tree.Acquire(0, views.data(), views.size());
}

std::string Joined(const Chain& chain) {
  std::string out;
  for (const std::string& name : chain) out += (out.empty() ? "" : "/") + name;
  return out;
}

Chain Split(const std::string& text) {
  Chain chain;
  std::istringstream in(text);
  for (std::string name; std::getline(in, name, '/');) chain.push_back(name);
  return chain;
}

// The case rule of the random tests, which only looks at the last name so
// that every spelling of an entry gets the same answer: below "data" names
// are exact, "bc" is absent, elsewhere names fold. It yields so that other
// threads run while Acquire waits for it.
NameCase RuleOfName(const std::string& name) {
  const std::string up = Upper(name);
  return up == "DATA" ? NameCase::kExact : up == "BC" ? NameCase::kUnknown : NameCase::kFolded;
}

NameCase Rule(const std::string& path) {
  std::this_thread::yield();
  return RuleOfName(path.substr(path.rfind('/') + 1));
}

// Whether the children of the first `depth` names fold: below an absent
// entry the rule is not asked again and the answer above stays.
bool ModelFolds(const Chain& chain, size_t depth) {
  bool fold = true, absent = false;
  for (size_t i = 0; i < depth; ++i) {
    absent = absent || RuleOfName(chain[i]) == NameCase::kUnknown;
    if (!absent) fold = RuleOfName(chain[i]) == NameCase::kFolded;
  }
  return fold;
}

// One text per entry: each name upper-cased where its parent folds.
std::string Key(const Chain& chain) {
  Chain key = chain;
  for (size_t i = 0; i < key.size(); ++i)
    if (ModelFolds(chain, i)) key[i] = Upper(key[i]);
  return Joined(key);
}

// The model: the chains held, by handle. Live entries are the distinct keys
// of prefixes of held chains; the count of an entry is the number of handles
// on it plus its live children.
struct Model {
  std::vector<std::pair<int32_t, Chain>> held;

  std::map<std::string, int32_t> ExpectedCounts() const {
    std::map<std::string, int32_t> counts;
    std::set<std::string> live;
    for (const auto& [index, chain] : held) {
      ++counts[Key(chain)];
      Chain prefix;
      for (const std::string& name : chain) {
        prefix.push_back(name);
        live.insert(Key(prefix));
      }
    }
    for (const std::string& path : live) {
      const size_t slash = path.rfind('/');
      if (slash != std::string::npos) ++counts[path.substr(0, slash)];
      counts.emplace(path, 0);
    }
    return counts;
  }
};

std::string TreeText(const ZorPathTree& tree, int32_t index) {
  std::string text;
  tree.AppendPath(index, &text);
  return text;
}

void CheckAgainstModel(const ZorPathTree& tree, const Model& model) {
  const auto counts = model.ExpectedCounts();
  ASSERT_EQ(tree.LiveCount(), counts.size());
  std::map<std::string, int32_t> indexOf;
  for (const auto& [index, chain] : model.held) {
    const std::string key = Key(Split(TreeText(tree, index)));
    ASSERT_EQ(key, Key(chain));
    auto [it, fresh] = indexOf.emplace(key, index);
    ASSERT_EQ(it->second, index) << "two entries for " << key;
    ASSERT_EQ(tree.RefCount(index), counts.at(key)) << key;
    for (int32_t up = tree.Parent(index); up != 0; up = tree.Parent(up))
      ASSERT_EQ(tree.RefCount(up), counts.at(Key(Split(TreeText(tree, up)))));
  }
  // The array never ends with a free slot.
  ASSERT_TRUE(tree.Size() == 0 || tree.RefCount(static_cast<int32_t>(tree.Size())) > 0);
}

std::vector<int32_t> FreeSlotsDescending(const ZorPathTree& tree) {
  std::vector<int32_t> free;
  for (int32_t i = static_cast<int32_t>(tree.Size()); i >= 1; --i)
    if (tree.RefCount(i) == 0) free.push_back(i);
  return free;
}

Chain RandomChain(std::mt19937& rng) {
  static const char* const kNames[] = {"a", "A", "bc", "Bc", "data", "DATA", "f.txt", "\xe9t\xe9", "\xc9T\xc9"};
  Chain chain;
  const int depth = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < depth; ++i) chain.push_back(kNames[rng() % std::size(kNames)]);
  return chain;
}

}  // namespace

TEST(PathTree, RandomAcquireReleaseMatchesModel) {
  ZorPathTree tree(Rule);
  Model model;
  std::mt19937 rng(7);
  for (int step = 0; step < 1500; ++step) {
    // About forty handles held, so that entries are freed and reused often.
    const unsigned op = rng() % 10;
    if ((op < 5 && model.held.size() < 40) || model.held.empty()) {
      const Chain chain = RandomChain(rng);
      const std::vector<int32_t> free = FreeSlotsDescending(tree);
      const uint32_t sizeBefore = tree.Size();
      const uint32_t liveBefore = tree.LiveCount();
      const int32_t index = AcquireChain(tree, chain);
      // New entries take the highest free slots first, then grow the array,
      // in the order they were created (root side first).
      std::vector<int32_t> created;
      for (int32_t i = index; i != 0 && created.size() < tree.LiveCount() - liveBefore; i = tree.Parent(i))
        created.insert(created.begin(), i);
      for (size_t k = 0; k < created.size(); ++k) {
        const int32_t want = k < free.size() ? free[k] : static_cast<int32_t>(sizeBefore + 1 + (k - free.size()));
        ASSERT_EQ(created[k], want) << "step " << step;
      }
      model.held.emplace_back(index, chain);
    } else if (op < 7) {
      const auto& [index, chain] = model.held[rng() % model.held.size()];
      tree.AddRef(index);
      model.held.emplace_back(index, chain);
    } else {
      const size_t k = rng() % model.held.size();
      tree.Release(model.held[k].first);
      model.held.erase(model.held.begin() + static_cast<std::ptrdiff_t>(k));
    }
    CheckAgainstModel(tree, model);
  }
  for (const auto& [index, chain] : model.held) tree.Release(index);
  EXPECT_EQ(tree.LiveCount(), 0u);
  EXPECT_EQ(tree.Size(), 0u);
}

TEST(PathTree, ManySiblingsSurviveGrowthAndRemoval) {
  // Thousands of names under one parent make long probe runs in the index;
  // removing a random half must leave every other name findable.
  ZorPathTree tree;
  const int32_t root = AcquireChain(tree, {"root"});
  std::vector<int32_t> children;
  for (int i = 0; i < 6000; ++i) {
    const std::string name = "n" + std::to_string(i);
    const std::string_view view(name);
    children.push_back(tree.Acquire(root, &view, 1));
  }
  std::mt19937 rng(3);
  std::vector<int> order(children.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::shuffle(order.begin(), order.end(), rng);
  std::set<int> gone(order.begin(), order.begin() + 3000);
  for (int i : gone) tree.Release(children[static_cast<size_t>(i)]);
  for (int i = 0; i < 6000; ++i) {
    if (gone.count(i)) continue;
    const std::string name = "N" + std::to_string(i);
    const std::string_view view(name);
    const int32_t again = tree.Acquire(root, &view, 1);
    ASSERT_EQ(again, children[static_cast<size_t>(i)]) << name;
    tree.Release(again);
  }
  EXPECT_EQ(tree.LiveCount(), 3001u);
}

TEST(PathTree, ConcurrentInterningAndReleasing) {
  // Threads intern overlapping paths in random case and release them; every
  // handle must read back its own text, equal texts held by one thread must
  // share an entry, and the tree must be empty at the end.
  ZorPathTree tree(Rule);
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  std::vector<std::string> errors(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&tree, &errors, t] {
      std::mt19937 rng(static_cast<unsigned>(100 + t));
      std::vector<std::pair<int32_t, Chain>> held;
      for (int step = 0; step < 6000 && errors[t].empty(); ++step) {
        if (held.size() < 50 && rng() % 3 != 0) {
          Chain chain = RandomChain(rng);
          const int32_t index = AcquireChain(tree, chain);
          if (Key(Split(TreeText(tree, index))) != Key(chain)) errors[t] = "wrong text for " + Joined(chain);
          for (const auto& [other, c] : held)
            if ((Key(c) == Key(chain)) != (other == index)) errors[t] = "split or merged " + Joined(c);
          held.emplace_back(index, chain);
        } else if (!held.empty()) {
          const size_t k = rng() % held.size();
          tree.Release(held[k].first);
          held.erase(held.begin() + static_cast<std::ptrdiff_t>(k));
        }
      }
      for (const auto& [index, chain] : held) tree.Release(index);
    });
  }
  for (std::thread& th : threads) th.join();
  for (const std::string& e : errors) EXPECT_EQ(e, "");
  EXPECT_EQ(tree.LiveCount(), 0u);
  EXPECT_EQ(tree.Size(), 0u);
}
