// ZorDyna against a map model: random sequences of writes, line and column
// inserts, deletes and swaps (plain and range forms), box clears, kind
// changes, sorts, compaction and copies. After every step the container
// must hold exactly the model's cells: same count, same bytes at every
// place, and the run must parse as whole cells with no place twice.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

using namespace zorvane;

namespace {

using Place = std::tuple<int32_t, int32_t, int32_t>;
using Bytes = std::vector<uint8_t>;
using Model = std::map<Place, Bytes>;

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// The run read back independently of the container.
Model Parse(const ZorDyna& d) {
  Model m;
  const auto* b = static_cast<const uint8_t*>(d.GetHandle()->GetDatas());
  const uint32_t n = d.GetHandle()->GetSize();
  uint32_t at = 0;
  while (at < n) {
    EXPECT_GE(n - at, 16u) << "loose bytes at " << at;
    if (n - at < 16) break;
    const uint32_t size = Le32(b + at + 12);
    EXPECT_GT(size, 0u);
    EXPECT_LE(size, n - at - 16);
    const Place p{static_cast<int32_t>(Le32(b + at)), static_cast<int32_t>(Le32(b + at + 4)),
                  static_cast<int32_t>(Le32(b + at + 8))};
    EXPECT_TRUE(m.emplace(p, Bytes(b + at + 16, b + at + 16 + size)).second) << "place twice";
    at += 16 + size;
  }
  return m;
}

void ExpectSame(const ZorDyna& d, const Model& m, int step) {
  ASSERT_EQ(Parse(d), m) << "step " << step;
  ASSERT_EQ(d.GetNbItem(kZorDynaAnyKind), static_cast<int32_t>(m.size()));
  for (const auto& [p, bytes] : m) {
    ZorHandle h;
    ASSERT_TRUE(d.GetData(std::get<0>(p), std::get<1>(p), std::get<2>(p), &h));
    ASSERT_EQ(Bytes(static_cast<uint8_t*>(h.GetDatas()), static_cast<uint8_t*>(h.GetDatas()) + h.GetSize()), bytes);
  }
}

// Applies f to every place; f answers false to drop the cell. Returns
// whether anything changed, as the container answers.
template <class F>
bool Remap(Model* m, F f) {
  Model out;
  bool changed = false;
  for (const auto& [p, bytes] : *m) {
    Place q = p;
    if (!f(&q)) {
      changed = true;
      continue;
    }
    changed |= q != p;
    out[q] = bytes;
  }
  *m = out;
  return changed;
}

struct Rng {
  std::mt19937 gen;
  int32_t In(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(gen); }
  bool Chance(int percent) { return In(1, 100) <= percent; }
};

int32_t& Along(Place* q, bool lines) { return lines ? std::get<1>(*q) : std::get<2>(*q); }
int32_t& Across(Place* q, bool lines) { return lines ? std::get<2>(*q) : std::get<1>(*q); }

// A line or column insert, delete or swap on a box (kinds and the other
// coordinate in ranges) or on one kind.
bool StructureStep(ZorDyna* d, Model* m, Rng& r) {
  const bool lines = r.Chance(50), range = r.Chance(50);
  const int32_t kf = r.In(0, 2), kt = range ? r.In(kf, 3) : kf;
  const int32_t of = range ? r.In(0, 4) : INT32_MIN, ot = range ? r.In(of, 6) : INT32_MAX;
  const int32_t at = r.In(0, 8), count = r.In(0, 3), other = r.In(0, 8);
  auto in = [&](Place* q) {
    return std::get<0>(*q) >= kf && std::get<0>(*q) <= kt && Across(q, lines) >= of && Across(q, lines) <= ot;
  };
  switch (r.In(0, 2)) {
    case 0: {
      const bool want = Remap(m, [&](Place* q) {
        if (count > 0 && in(q) && Along(q, lines) >= at) Along(q, lines) += count;
        return true;
      });
      const bool got = range ? (lines ? d->InsLineRange(kf, kt, at, count, of, ot) : d->InsColRange(kf, kt, at, count, of, ot))
                             : (lines ? d->InsLine(kf, at, count) : d->InsCol(kf, at, count));
      return got == want;
    }
    case 1: {
      const bool want = Remap(m, [&](Place* q) {
        if (count < 1 || !in(q) || Along(q, lines) < at) return true;
        if (Along(q, lines) < at + count) return false;
        Along(q, lines) -= count;
        return true;
      });
      const bool got = range ? (lines ? d->DelLineRange(kf, kt, at, count, of, ot) : d->DelColRange(kf, kt, at, count, of, ot))
                             : (lines ? d->DelLine(kf, at, count) : d->DelCol(kf, at, count));
      return got == want;
    }
    default: {
      const bool want = Remap(m, [&](Place* q) {
        int32_t& v = Along(q, lines);
        if (at != other && in(q)) v = v == at ? other : v == other ? at : v;
        return true;
      });
      const bool got = range ? (lines ? d->SwapLineRange(kf, kt, at, other, of, ot) : d->SwapColRange(kf, kt, at, other, of, ot))
                             : (lines ? d->SwapLine(kf, at, other) : d->SwapCol(kf, at, other));
      return got == want;
    }
  }
}

// A sort key: the cell's first 4 bytes, zero-padded (texts sort as numbers
// under the Long type).
int32_t LongOf(const Model& m, Place p) {
  const auto it = m.find(p);
  uint8_t b[4] = {};
  if (it != m.end()) std::memcpy(b, it->second.data(), std::min<size_t>(4, it->second.size()));
  return static_cast<int32_t>(Le32(b));
}

bool SortStep(ZorDyna* d, Model* m, Rng& r) {
  const int32_t kind = r.In(0, 2), col = r.In(0, 3), from = r.In(0, 4), to = r.In(from, 9);
  const bool down = r.Chance(50);
  std::set<int32_t> present;
  for (const auto& [p, b] : *m)
    if (std::get<0>(p) == kind && std::get<1>(p) >= from && std::get<1>(p) <= to) present.insert(std::get<1>(p));
  std::vector<int32_t> before(present.begin(), present.end()), order = before;
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    const int32_t x = LongOf(*m, {kind, a, col}), y = LongOf(*m, {kind, b, col});
    return down ? x > y : x < y;
  });
  std::map<int32_t, int32_t> to_line;
  for (size_t i = 0; i < order.size(); ++i) to_line[order[i]] = before[i];
  const bool want = Remap(m, [&](Place* q) {
    if (std::get<0>(*q) == kind && to_line.count(std::get<1>(*q))) std::get<1>(*q) = to_line[std::get<1>(*q)];
    return true;
  });
  return d->Sort(kind, kZorPhysTypeLong, col, from, to, down ? uint32_t{kZorDynaSortDescending} : 0u) == want;
}

bool KindStep(ZorDyna* d, Model* m, Rng& r) {
  const int32_t a = r.In(0, 3), b = r.In(0, 3);
  if (r.Chance(50)) {
    std::set<std::pair<int32_t, int32_t>> moved;
    for (const auto& [p, bytes] : *m)
      if (std::get<0>(p) == a) moved.emplace(std::get<1>(p), std::get<2>(p));
    const bool want = a != b && !moved.empty() && Remap(m, [&](Place* q) {
      if (std::get<0>(*q) == b) return moved.count({std::get<1>(*q), std::get<2>(*q)}) == 0;
      if (std::get<0>(*q) == a) std::get<0>(*q) = b;
      return true;
    });
    return d->ChangeKind(a, b) == want;
  }
  const bool shift = r.Chance(50);
  const bool want = Remap(m, [&](Place* q) {
    if (std::get<0>(*q) == a) return false;
    if (shift && std::get<0>(*q) > a) --std::get<0>(*q);
    return true;
  });
  return d->DelKind(a, shift) == want;
}

bool CompactStep(ZorDyna* d, Model* m, Rng& r) {
  const bool lines = r.Chance(50);
  std::set<int32_t> values;
  for (const auto& [p, b] : *m) values.insert(lines ? std::get<1>(p) : std::get<2>(p));
  const std::vector<int32_t> sorted(values.begin(), values.end());
  const bool want = Remap(m, [&](Place* q) {
    int32_t& v = Along(q, lines);
    v = static_cast<int32_t>(std::lower_bound(sorted.begin(), sorted.end(), v) - sorted.begin()) + 1;
    return true;
  });
  return d->Compact(lines) == want;
}

void WriteStep(ZorDyna* d, Model* m, Rng& r) {
  const Place p{r.In(0, 3), r.In(-1, 9), r.In(-1, 5)};
  const auto [k, l, c] = p;
  const int32_t value = r.Chance(20) ? 0 : r.In(-3, 3) * 1000 + r.In(0, 9);
  Bytes want;
  if (r.Chance(50)) {
    d->SetData(k, l, c, value);
    if (value) want = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(uint32_t(value) >> 24)};
  } else {
    const std::string text = value ? std::string(r.In(1, 12), char('a' + r.In(0, 25))) : "";
    d->SetData(k, l, c, text.c_str());
    if (!text.empty()) want.assign(text.c_str(), text.c_str() + text.size() + 1);
  }
  if (want.empty())
    m->erase(p);
  else
    (*m)[p] = want;
}

}  // namespace

TEST(DynaModel, RandomSequencesMatchTheMap) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    Rng r{std::mt19937(seed)};
    ZorDyna d, copy;
    d.Init();
    copy.Init();
    Model m;
    for (int step = 0; step < 300; ++step) {
      const int what = r.In(0, 99);
      bool agreed = true;
      if (what < 55) {
        WriteStep(&d, &m, r);
      } else if (what < 80) {
        agreed = StructureStep(&d, &m, r);
      } else if (what < 86) {
        agreed = SortStep(&d, &m, r);
      } else if (what < 92) {
        agreed = KindStep(&d, &m, r);
      } else if (what < 95) {
        agreed = CompactStep(&d, &m, r);
      } else {
        const int32_t kf = r.In(0, 3), kt = r.In(kf, 3), lf = r.In(-1, 5), lt = r.In(lf, 9), cf = r.In(-1, 3),
                      ct = r.In(cf, 5);
        const bool want = Remap(&m, [&](Place* q) {
          const auto [k, l, c] = *q;
          return !(k >= kf && k <= kt && l >= lf && l <= lt && c >= cf && c <= ct);
        });
        agreed = d.Clear(kf, kt, lf, lt, cf, ct) == want;
      }
      ASSERT_TRUE(agreed) << "seed " << seed << " step " << step << " choice " << what;
      ExpectSame(d, m, step);
      if (HasFatalFailure()) return;
    }
    // A whole copy reproduces the model, into a container that had other cells.
    copy.SetData(9, 9, 9, "old");
    d.CopyTo(kZorDynaAnyKind, &copy, 0, false);
    Model withOld = m;
    withOld[{9, 9, 9}] = {'o', 'l', 'd', 0};
    ExpectSame(copy, withOld, -1);
  }
}
