// The event journal against an in-memory store: the record's fields, the
// types and flags, the update bracket, and the deletion by priority checked
// against a model that states the rule as a threshold instead of a loop.
#include <zorvane/zorvane.h>
#include <zorvane/event_journal.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

// Records in insertion order; an update that ends without commit puts back
// what the store held at its start.
class MemoryStore : public iZorEventStore {
 public:
  struct Rec {
    double moment;
    int32_t type;
    std::string text, user, machine;
  };

  void BeginUpdate() override { ++begins; _saved = records; }
  void EndUpdate(bool commit) override {
    commit ? ++commits : ++rollbacks;
    if (!commit) records = _saved;
  }
  uint32_t Count() override { return static_cast<uint32_t>(records.size()); }
  uint32_t DeleteTypes(int32_t first, int32_t last) override {
    const size_t before = records.size();
    std::erase_if(records, [&](const Rec& r) { return r.type >= first && r.type <= last; });
    return static_cast<uint32_t>(before - records.size());
  }
  void Add(const sZorEventRecord& r) override {
    if (failAdd) throw ZorEBasic("test", 1, 1, ZorErr(1, 3), "add failed", nullptr);
    records.push_back({r.moment.GetValue(), r.type, r.text, r.user, r.machine});
  }
  void Empty() override { records.clear(); }
  const char* GetUserName(string* dst) override { return dst->Assign(user.c_str()); }

  std::vector<int32_t> Types() const {
    std::vector<int32_t> types;
    for (const auto& r : records) types.push_back(r.type);
    return types;
  }
  void Fill(const std::vector<int32_t>& types) {
    records.clear();
    for (int32_t t : types) records.push_back({0, t, "old", "", ""});
  }

  std::vector<Rec> records;
  std::string user = "anna";
  bool failAdd = false;
  int begins = 0, commits = 0, rollbacks = 0;

 private:
  std::vector<Rec> _saved;
};

struct StoreScope {
  explicit StoreScope(iZorEventStore* store) : previous(ZorSetEventStore(store)) {}
  ~StoreScope() { ZorSetEventStore(previous); }
  iZorEventStore* const previous;
};

// The rule restated: the records kept are those whose priority is above the
// smallest threshold that leaves fewer than the maximum (all of them when
// there are fewer already); then the new record.
int32_t ModelPriority(int32_t type) {
  static const int32_t kPriority[] = {0, 4, 2, 7, 1, 6, 4, 5, 8};  // by type 0 to 8; others as 0
  return type >= 0 && type <= 8 ? kPriority[type] : 0;
}

std::vector<int32_t> ModelAdd(std::vector<int32_t> types, int32_t type, uint32_t flags, bool emptyText) {
  if ((flags & ZorEvtNoStore) || (emptyText && type != 2 && type != 3)) return types;
  if (flags & ZorEvtEmptyFirst) types.clear();
  if (types.size() >= kZorEventMax) {
    int32_t threshold = 0;
    auto above = [&](int32_t p) {
      return std::count_if(types.begin(), types.end(), [&](int32_t t) { return ModelPriority(t) > p; });
    };
    while (above(threshold) >= static_cast<long>(kZorEventMax)) ++threshold;
    std::erase_if(types, [&](int32_t t) { return ModelPriority(t) <= threshold; });
  }
  types.push_back(type >= 0 && type <= 8 ? type : 0);
  return types;
}

}  // namespace

TEST(EventJournal, RecordFieldsLegalEventsFailuresAndNoStore) {
  MemoryStore store;
  StoreScope scope(&store);
  date before, after;
  before.ServerDate(true);
  ZorLogEvent("backup of books done", ZorEvtNote, 0);
  after.ServerDate(true);

  ASSERT_EQ(store.records.size(), 1u);
  const auto& r = store.records[0];
  EXPECT_EQ(r.type, ZorEvtNote);
  EXPECT_EQ(r.text, "Backup of books done");  // the first letter only
  EXPECT_EQ(r.user, "anna");
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(r.machine, host);
  EXPECT_GE(r.moment, before.GetValue());
  EXPECT_LE(r.moment, after.GetValue());
  EXPECT_EQ(store.begins, 1);
  EXPECT_EQ(store.commits, 1);

  // Types, flags and empty texts are in the random test; here the legal
  // event, the failed addition and the missing store.
  store.records.clear();
  ZorLegalEvent("\xE9tat sign\xE9");
  EXPECT_EQ(store.Types(), (std::vector<int32_t>{8}));
  EXPECT_EQ(store.records.back().text, "\xC9tat sign\xE9");

  // A failed addition undoes its deletions.
  store.Fill(std::vector<int32_t>(kZorEventMax, ZorEvtUnknown));
  store.failAdd = true;
  EXPECT_THROW(ZorLogEvent("x", ZorEvtNote, 0), ZorEBasic);
  EXPECT_EQ(store.records.size(), kZorEventMax);
  EXPECT_EQ(store.rollbacks, 1);
  EXPECT_EQ(store.commits, 2);  // the note's and the legal event's

  // A journal full of the highest priority: every record goes.
  store.failAdd = false;
  store.Fill(std::vector<int32_t>(kZorEventMax, ZorEvtLegal));
  ZorLogEvent("x", ZorEvtNote, 0);
  EXPECT_EQ(store.Types(), (std::vector<int32_t>{ZorEvtNote}));

  ZorSetEventStore(nullptr);
  ZorLogEvent("nowhere", ZorEvtNote, 0);  // no store: nothing, and no failure
  EXPECT_EQ(store.records.size(), 1u);
}

TEST(EventJournal, RandomJournalsFollowTheModel) {
  std::mt19937 rng(20660401);
  MemoryStore store;
  StoreScope scope(&store);
  auto anyType = [&] { return static_cast<int32_t>(rng() % 16) - 3; };  // -3 .. 12
  for (int round = 0; round < 40; ++round) {
    // A journal near the limit, sometimes beyond it (written by another tool),
    // with a skewed mix so that some priority levels are missing.
    std::vector<int32_t> types(900 + rng() % 250);
    const int32_t common = anyType();
    for (auto& t : types) t = (rng() % 3 == 0) ? anyType() : common;
    store.Fill(types);
    std::vector<int32_t> model = types;
    for (int step = 0; step < 30; ++step) {
      const int32_t type = anyType();
      const uint32_t roll = rng() % 20;
      const uint32_t flags = roll == 0 ? uint32_t{ZorEvtNoStore} : roll == 1 ? uint32_t{ZorEvtEmptyFirst} : 0u;
      const bool emptyText = rng() % 10 == 0;
      ZorLogEvent(emptyText ? "" : "event", type, flags);
      model = ModelAdd(model, type, flags, emptyText);
      ASSERT_EQ(store.Types(), model) << "round " << round << " step " << step;
    }
  }
}
