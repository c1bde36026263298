// A table in the memory store against SQLite's in-memory database, phase by
// phase, on the same 1M records of 100 bytes: Id Long (a shuffled 1..N),
// Name AnsiString 30 (unique lower-case text of 12 to 30 letters), Qty and
// Price Long, Note AnsiString 56. Two indexes: Id and Name (SQLite: UNIQUE
// indexes, Name with NOCASE as our keys ignore case).
//   insert  every record written through the cursor (Write checks the keys
//           of both indexes); ours then makes its first ordered read on each
//           index, which sorts it (SQLite keeps its indexes sorted as it
//           inserts); counter sort_ms says how much of ours that is
//   lookup  200k reads by an existing key, half by Id, half by Name
//   range   1,000 scans of 100 records in key order (Read mode 1 and 99
//           Next; SQLite: key >= ? ORDER BY key LIMIT 100), half per index
//   scan    every record, First/Next in creation order (SQLite: rowid order)
//   scanix  every record in Name order
// Each record read yields Id and Qty on both sides. ZOR_TABLE_BENCH_N sets
// another record count (for profiling runs).
#include <zorvane/zorvane.h>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

using namespace zorvane;

namespace {

constexpr int32_t kLookups = 200000, kRanges = 1000, kRangeLen = 100;
enum Field : int32_t { kId = 1, kName = 2, kQty = 3, kPrice = 4, kNote = 5 };

int32_t Records() {
  static const int32_t n = [] {
    const char* s = std::getenv("ZOR_TABLE_BENCH_N");
    return s ? std::max(1000, std::atoi(s)) : 1000000;
  }();
  return n;
}

struct Row {
  int32_t id, qty, price;
  std::string name, note;
};

struct Workload {
  std::vector<Row> rows;
  std::vector<int32_t> lookups, ranges;  // row numbers
};

const Workload& Work() {
  static const Workload w = [] {
    Workload w;
    std::mt19937 rng(42);
    const int32_t n = Records();
    std::vector<int32_t> ids(n);
    std::iota(ids.begin(), ids.end(), 1);
    std::shuffle(ids.begin(), ids.end(), rng);
    auto letters = [&](int32_t len) {
      std::string s;
      for (int32_t i = 0; i < len; ++i) s += static_cast<char>('a' + rng() % 26);
      return s;
    };
    w.rows.resize(n);
    for (int32_t i = 0; i < n; ++i) {
      Row& r = w.rows[i];
      r.id = ids[i];
      r.name = letters(6 + static_cast<int32_t>(rng() % 19));
      for (int32_t k = 0, v = i; k < 6; ++k, v /= 26) r.name += static_cast<char>('a' + v % 26);  // unique
      r.qty = static_cast<int32_t>(rng() % 1000);
      r.price = static_cast<int32_t>(rng() % 100000);
      r.note = letters(static_cast<int32_t>(rng() % 57));
    }
    for (int32_t i = 0; i < kLookups; ++i) w.lookups.push_back(static_cast<int32_t>(rng() % n));
    for (int32_t i = 0; i < kRanges; ++i) w.ranges.push_back(static_cast<int32_t>(rng() % n));
    return w;
  }();
  return w;
}

// ---------------------------------------------------------------- ours

class Ours {
 public:
  Ours() {
    ZorTableDesc d;
    d.Create(kZorTblTypeStd, 0);
    d.AddField("Id", kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, 0);
    d.AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, 30, 0, 0, 0);
    d.AddField("Qty", kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, 0);
    d.AddField("Price", kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, 0);
    d.AddField("Note", kZorPhysTypeAnsiString, kZorLogTypeText, true, 56, 0, 0, 0);
    d.Validate();
    d.SetSubIndex(d.AddIndex(0), 1, kId, 0);
    d.SetSubIndex(d.AddIndex(0), 1, kName, 0);
    d.Validate();
    _t.Init(&d);
    int32_t len = 0, size = 0;
    _t.GetFieldInfo(kId, &len, &_idAt, &size);
    _t.GetFieldInfo(kQty, &len, &_qtyAt, &size);
  }
  void InsertAll() {
    for (const Row& r : Work().rows) {
      _t.Raz();
      _t.SetValLong(kId, r.id);
      _t.SetValStr(kName, r.name.c_str());
      _t.SetValLong(kQty, r.qty);
      _t.SetValLong(kPrice, r.price);
      _t.SetValStr(kNote, r.note.c_str());
      _t.Write();
    }
  }
  // The first ordered read of each index (it sorts the index).
  void Sort() {
    for (int32_t ix : {1, 2}) _t.SetCurIndex(ix), _t.First();
  }
  int64_t Lookup(const Row& r, bool byName) {
    SetKey(r, byName);
    return _t.Read(kZorTblFindEqual, byName ? 2 : 1) ? Yield() : -1;
  }
  int64_t Range(const Row& r, bool byName) {
    _t.SetCurIndex(byName ? 2 : 1);
    SetKey(r, byName);
    int64_t sum = 0;
    bool ok = _t.Read(kZorTblFindGreater, kZorTblIndexCur);
    for (int32_t i = 1; ok; ++i) {
      sum += Yield();
      ok = i < kRangeLen && _t.Next();
    }
    return sum;
  }
  int64_t Scan(int32_t index) {
    _t.SetCurIndex(index);
    int64_t sum = 0;
    for (bool ok = _t.First(); ok; ok = _t.Next()) sum += Yield();
    return sum;
  }

 private:
  void SetKey(const Row& r, bool byName) {
    if (byName) {
      _t.SetValStr(kName, r.name.c_str());
    } else {
      _t.SetValLong(kId, r.id);
    }
  }
  int64_t Yield() {
    int32_t id = 0, qty = 0;
    std::memcpy(&id, _t.GetRecord() + _idAt, 4);
    std::memcpy(&qty, _t.GetRecord() + _qtyAt, 4);
    return id + qty;
  }
  ZorTable _t;
  int32_t _idAt = 0, _qtyAt = 0;
};

// ---------------------------------------------------------------- SQLite

class Peer {
 public:
  Peer() {
    Check(sqlite3_open(":memory:", &_db));
    Exec("CREATE TABLE t (id INTEGER, name TEXT COLLATE NOCASE, qty INTEGER, price INTEGER, note TEXT)");
    Exec("CREATE UNIQUE INDEX t_id ON t (id)");
    Exec("CREATE UNIQUE INDEX t_name ON t (name)");
    _insert = Prepare("INSERT INTO t VALUES (?, ?, ?, ?, ?)");
    _byId = Prepare("SELECT id, qty FROM t WHERE id = ?");
    _byName = Prepare("SELECT id, qty FROM t WHERE name = ?");
    _rangeId = Prepare("SELECT id, qty FROM t WHERE id >= ? ORDER BY id LIMIT 100");
    _rangeName = Prepare("SELECT id, qty FROM t WHERE name >= ? ORDER BY name LIMIT 100");
    _scan = Prepare("SELECT id, qty FROM t ORDER BY rowid");
    _scanName = Prepare("SELECT id, qty FROM t ORDER BY name");
  }
  ~Peer() {
    for (sqlite3_stmt* s : {_insert, _byId, _byName, _rangeId, _rangeName, _scan, _scanName}) sqlite3_finalize(s);
    sqlite3_close(_db);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  void InsertAll() {
    Exec("BEGIN");
    for (const Row& r : Work().rows) {
      sqlite3_bind_int(_insert, 1, r.id);
      sqlite3_bind_text(_insert, 2, r.name.data(), static_cast<int>(r.name.size()), SQLITE_STATIC);
      sqlite3_bind_int(_insert, 3, r.qty);
      sqlite3_bind_int(_insert, 4, r.price);
      sqlite3_bind_text(_insert, 5, r.note.data(), static_cast<int>(r.note.size()), SQLITE_STATIC);
      if (sqlite3_step(_insert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(_db));
      sqlite3_reset(_insert);
    }
    Exec("COMMIT");
  }
  int64_t Lookup(const Row& r, bool byName) { return Run(Bind(r, byName, byName ? _byName : _byId)); }
  int64_t Range(const Row& r, bool byName) { return Run(Bind(r, byName, byName ? _rangeName : _rangeId)); }
  int64_t Scan(int32_t index) { return Run(index == 0 ? _scan : _scanName); }

 private:
  static sqlite3_stmt* Bind(const Row& r, bool byName, sqlite3_stmt* s) {
    if (byName) {
      sqlite3_bind_text(s, 1, r.name.data(), static_cast<int>(r.name.size()), SQLITE_STATIC);
    } else {
      sqlite3_bind_int(s, 1, r.id);
    }
    return s;
  }
  static int64_t Run(sqlite3_stmt* s) {
    int64_t sum = 0;
    while (sqlite3_step(s) == SQLITE_ROW) sum += sqlite3_column_int(s, 0) + sqlite3_column_int(s, 1);
    sqlite3_reset(s);
    return sum;
  }
  void Check(int rc) {
    if (rc != SQLITE_OK) throw std::runtime_error(std::string("sqlite: ") + sqlite3_errstr(rc));
  }
  void Exec(const char* sql) { Check(sqlite3_exec(_db, sql, nullptr, nullptr, nullptr)); }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    Check(sqlite3_prepare_v2(_db, sql, -1, &s, nullptr));
    return s;
  }

  sqlite3* _db = nullptr;
  sqlite3_stmt *_insert = nullptr, *_byId = nullptr, *_byName = nullptr, *_rangeId = nullptr,
               *_rangeName = nullptr, *_scan = nullptr, *_scanName = nullptr;
};

// ---------------------------------------------------------------- phases

// The loaded table of each side, shared by the read phases.
template <class E>
E& Loaded() {
  static E* e = [] {
    auto* loaded = new E;
    loaded->InsertAll();
    if constexpr (std::is_same_v<E, Ours>) loaded->Sort();
    return loaded;
  }();
  return *e;
}

template <class E>
void BM_Insert(benchmark::State& state) {
  double sortMs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto e = std::make_unique<E>();
    state.ResumeTiming();
    e->InsertAll();
    if constexpr (std::is_same_v<E, Ours>) {
      const auto start = std::chrono::steady_clock::now();
      e->Sort();
      sortMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    state.PauseTiming();
    e.reset();
    state.ResumeTiming();
  }
  state.counters["sort_ms"] = sortMs / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * Records());
}

template <class E>
void BM_Lookup(benchmark::State& state) {
  E& e = Loaded<E>();
  for (auto _ : state) {
    int64_t sum = 0, i = 0;
    for (int32_t k : Work().lookups) sum += e.Lookup(Work().rows[k], (i++ & 1) != 0);
    benchmark::DoNotOptimize(sum);
    state.counters["checksum"] = static_cast<double>(sum);  // the same on both sides
  }
  state.SetItemsProcessed(state.iterations() * kLookups);
}

template <class E>
void BM_Range(benchmark::State& state) {
  E& e = Loaded<E>();
  for (auto _ : state) {
    int64_t sum = 0, i = 0;
    for (int32_t k : Work().ranges) sum += e.Range(Work().rows[k], (i++ & 1) != 0);
    benchmark::DoNotOptimize(sum);
    state.counters["checksum"] = static_cast<double>(sum);  // the same on both sides
  }
  state.SetItemsProcessed(state.iterations() * kRanges * kRangeLen);
}

template <class E>
void BM_Scan(benchmark::State& state) {
  E& e = Loaded<E>();
  for (auto _ : state) state.counters["checksum"] = static_cast<double>(e.Scan(static_cast<int32_t>(state.range(0))));
  state.SetItemsProcessed(state.iterations() * Records());
}

}  // namespace

BENCHMARK(BM_Insert<Ours>)->Name("BM_insert_Ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Insert<Peer>)->Name("BM_insert_Peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup<Ours>)->Name("BM_lookup_Ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup<Peer>)->Name("BM_lookup_Peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Range<Ours>)->Name("BM_range_Ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Range<Peer>)->Name("BM_range_Peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan<Ours>)->Name("BM_scan_Ours")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan<Peer>)->Name("BM_scan_Peer")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan<Ours>)->Name("BM_scanix_Ours")->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan<Peer>)->Name("BM_scanix_Peer")->Arg(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
