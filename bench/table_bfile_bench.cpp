// A table kept in a block file against an SQLite table on disk, phase by
// phase, on the same N records of 100 bytes (N = 100,000; ZOR_TABLE_BENCH_N
// sets another count, 1000000 for the large run): Id Long (1..N), Name
// AnsiString 20 (20 lower-case letters, unique, in the order of Id), Qty and
// Price Long, Note AnsiString 66. Two indexes, on Id and on Name (SQLite: a
// rowid table with two UNIQUE indexes, Name with NOCASE as our keys ignore
// case). Both files live in one scratch directory under $TMPDIR (else /tmp).
//
// Durability, the argument of the writing phases, is the same on both sides:
//   1  flushed at every commit: our file opened with copy-on-write
//      placement (ZorBfOpenCopyOnWrite), SQLite with a write-ahead log and
//      synchronous=FULL;
//   0  left to the operating system: our file opened with ZorBfOpenNoFlush,
//      SQLite with a write-ahead log and synchronous=OFF.
//
// Phases (jobs BM_table_bfile_<phase>_Ours / _Peer: `bench/run <build>
// table_bfile` selects them):
//   insseq   the N records written into a new file in Id order (both keys
//            ascending), transactions of 1,000; open and close included
//   insrand  the same in a random order
//   lookup   200k reads by an existing key, half by Id, half by Name, on an
//            open file that has seen the same reads
//   range    1,000 scans of 100 records in key order, half per index (ours:
//            Read mode 1 and 99 Next; SQLite: key >= ? ORDER BY key LIMIT 100)
//   scan     every record in the order of index 1 (Id) or 2 (Name)
//   update   10 % of the records read by Id and rewritten, transactions of
//            1,000; every other one changes a key (alternately Id and Name)
//   churn    10 % of the records deleted by Id, then as many new records
//            written, transactions of 1,000
//   cold     open the file, 10,000 reads by key (half per index), close. The
//            operating system's page cache cannot be dropped without root:
//            "cold" means our block cache and SQLite's page cache start
//            empty, the file's pages may well be in memory.
// Every record read yields Id + Qty on both sides; the sum is the checksum
// counter, the same on both sides. The read phases and cold run on a stage
// file built once per engine by the random-order insertion (durability off,
// synced to the disk); update and churn run on a fresh copy of it, the copy
// untimed. Counter file_bytes: the size of the file (and of the files beside
// it, journals, logs) after the phase and the close. Caches: the block file
// keeps its default (700 blocks, most of them 64 KiB data blocks and
// leaves), SQLite gets as much, 44 MiB of pages, instead of its default
// 2 MiB, which would send most of its reads to the operating system.
#include <zorvane/zorvane.h>

#include "tests/support/table_bfile_kit.h"

#include "bench/bench_files.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using benchfiles::CopyStage;
using benchfiles::RemoveFile;
using benchfiles::SyncFile;
using benchfiles::kSideFiles;

namespace fs = std::filesystem;

constexpr int32_t kLookups = 200000, kRanges = 1000, kRangeLen = 100, kCold = 10000;
constexpr int32_t kPerTransaction = 1000;
constexpr int32_t kNameLen = 20, kNoteMax = 66;
enum Field : int32_t { kId = 1, kName = 2, kQty = 3, kPrice = 4, kNote = 5 };

int32_t Records() {
  static const int32_t n = [] {
    const char* s = std::getenv("ZOR_TABLE_BENCH_N");
    return s ? std::max(10 * kPerTransaction, std::atoi(s)) : 100000;
  }();
  return n;
}

// ---------------------------------------------------------------- workload

struct Row {
  int32_t id, qty, price;
  std::string name, note;
};

// A change of the update phase: the record `row` (by its Id) takes the
// values of `to`, whose keys differ from it or not.
struct Change {
  int32_t row;
  Row to;
};

struct Workload {
  std::vector<Row> rows;                 // rows[i].id == i + 1
  std::vector<int32_t> randomOrder;      // insertion order of insrand
  std::vector<int32_t> lookups, ranges, cold;  // row numbers
  std::vector<Change> updates;
  std::vector<int32_t> deletes;          // row numbers
  std::vector<Row> fresh;                // written after the deletes
};

class Maker {
 public:
  explicit Maker(uint32_t seed) : _rng(seed) {}
  uint32_t operator()() { return _rng(); }
  // Unique and in the order of k: k in base 26 on 6 letters, then random.
  std::string Name(int32_t k) {
    std::string s(6, 'a');
    for (int32_t i = 5, v = k; i >= 0; --i, v /= 26) s[i] = static_cast<char>('a' + v % 26);
    return s + Letters(kNameLen - 6);
  }
  std::string Letters(int32_t len) {
    std::string s;
    for (int32_t i = 0; i < len; ++i) s += static_cast<char>('a' + _rng() % 26);
    return s;
  }
  Row Record(int32_t id, int32_t nameRank) {
    return {id, static_cast<int32_t>(_rng() % 1000), static_cast<int32_t>(_rng() % 100000), Name(nameRank),
            Letters(static_cast<int32_t>(_rng() % (kNoteMax + 1)))};
  }
  std::vector<int32_t> Shuffled(int32_t n) {
    std::vector<int32_t> v(n);
    std::iota(v.begin(), v.end(), 0);
    std::shuffle(v.begin(), v.end(), _rng);
    return v;
  }

 private:
  std::mt19937 _rng;
};

const Workload& Work() {
  static const Workload w = [] {
    Workload w;
    Maker m(20261207);
    const int32_t n = Records(), tenth = n / 10;
    for (int32_t i = 0; i < n; ++i) w.rows.push_back(m.Record(i + 1, i));
    w.randomOrder = m.Shuffled(n);
    for (int32_t i = 0; i < kLookups; ++i) w.lookups.push_back(static_cast<int32_t>(m() % n));
    for (int32_t i = 0; i < kRanges; ++i) w.ranges.push_back(static_cast<int32_t>(m() % n));
    for (int32_t i = 0; i < kCold; ++i) w.cold.push_back(static_cast<int32_t>(m() % n));
    const std::vector<int32_t> changed = m.Shuffled(n);
    for (int32_t j = 0; j < tenth; ++j) {
      const Row& old = w.rows[changed[j]];
      Row to = m.Record(old.id, 0);
      to.name = old.name;
      if (j % 4 == 1) to.id = n + 1 + j;     // a new Id
      if (j % 4 == 3) to.name = m.Name(n + j);  // a new Name
      w.updates.push_back({changed[j], to});
    }
    const std::vector<int32_t> gone = m.Shuffled(n);
    w.deletes.assign(gone.begin(), gone.begin() + tenth);
    for (int32_t j = 0; j < tenth; ++j) w.fresh.push_back(m.Record(n + 1 + j, n + j));
    return w;
  }();
  return w;
}

// ---------------------------------------------------------------- files

const benchfiles::ScratchDir& Scratch() {
  static const benchfiles::ScratchDir dir("table_bfile_bench");
  return dir;
}




// The file and the files beside it.
double FileBytes(const std::string& path) {
  uintmax_t total = 0;
  for (const char* suffix : kSideFiles) {
    std::error_code ec;
    const uintmax_t n = fs::file_size(path + suffix, ec);
    if (!ec) total += n;
  }
  return static_cast<double>(total);
}

// ---------------------------------------------------------------- ours

using namespace zorvane;

class Ours {
 public:
  static constexpr const char* kEngine = "ours";
  static constexpr const char* kExt = ".bf";
  static constexpr int32_t kFileType = 78;
  static constexpr int32_t kSignature = 0x54424642;

  Ours() = default;
  Ours(const Ours&) = delete;
  Ours& operator=(const Ours&) = delete;
  ~Ours() { Close(); }

  void Open(const std::string& path, bool flush, bool readOnly) {
    _path = ZorFsa(path.c_str());
    const bool fresh = !fs::exists(path);
    if (fresh) ZorBFile::Create(&_path, kFileType, kSignature, "table_bfile_bench", ZorFsaCreateAlways, false, nullptr);
    const eZorStreamPerm access = readOnly ? ZorPermRead : ZorPermReadWrite;
    const eZorStreamPerm share = readOnly ? ZorShareRead : ZorShareExclusive;
    _file.Open(&_path, access, share, flush ? ZorBfOpenCopyOnWrite : ZorBfOpenNoFlush, -1, kFileType, kSignature);
    _base = std::make_unique<zortest::BFileTables>(&_file);
    if (fresh) {
      ZorTableDesc d;
      Describe(&d);
      _base->CreateTable(&d, zortest::TableIdOf(1));
    }
    _t.Open(_base.get(), zortest::TableIdOf(1));
    int32_t len = 0, size = 0;
    _t.GetFieldInfo(kId, &len, &_idAt, &size);
    _t.GetFieldInfo(kQty, &len, &_qtyAt, &size);
  }

  void Close() {
    if (!_base) return;
    _t.Trash();
    _base.reset();
    _file.Close(ZorBfCloseNormal);
  }

  void Begin() { _file.StartTransaction(); }
  void Commit() { _file.EndTransaction(); }

  void Insert(const Row& r) {
    _t.Raz();
    Set(r);
    _t.Write();
  }
  void Update(const Row& old, const Row& to) {
    if (!Find(old.id)) throw std::runtime_error("ours: no record to update");
    Set(to);
    _t.UpDate();
  }
  void Delete(const Row& r) {
    if (!Find(r.id)) throw std::runtime_error("ours: no record to delete");
    _t.Delete();
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
  static void Describe(ZorTableDesc* d) {
    d->Create(kZorTblTypeStd, 0);
    d->AddField("Id", kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, 0);
    d->AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, kNameLen, 0, 0, 0);
    d->AddField("Qty", kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, 0);
    d->AddField("Price", kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, 0);
    d->AddField("Note", kZorPhysTypeAnsiString, kZorLogTypeText, true, kNoteMax, 0, 0, 0);
    d->Validate();
    d->SetSubIndex(d->AddIndex(0), 1, kId, 0);
    d->SetSubIndex(d->AddIndex(0), 1, kName, 0);
    d->Validate();
  }
  bool Find(int32_t id) {
    _t.SetValLong(kId, id);
    return _t.Read(kZorTblFindEqual, 1);
  }
  void Set(const Row& r) {
    _t.SetValLong(kId, r.id);
    _t.SetValStr(kName, r.name.c_str());
    _t.SetValLong(kQty, r.qty);
    _t.SetValLong(kPrice, r.price);
    _t.SetValStr(kNote, r.note.c_str());
  }
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

  ZorFsa _path;
  ZorBFile _file;
  std::unique_ptr<zortest::BFileTables> _base;
  ZorTable _t;
  int32_t _idAt = 0, _qtyAt = 0;
};

// ---------------------------------------------------------------- SQLite

class Peer {
 public:
  static constexpr const char* kEngine = "peer";
  static constexpr const char* kExt = ".db";

  Peer() = default;
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  ~Peer() { Close(); }

  void Open(const std::string& path, bool flush, bool readOnly) {
    const int how = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    Check(sqlite3_open_v2(path.c_str(), &_db, how, nullptr));
    Exec("PRAGMA cache_size=-45000");
    if (!readOnly) {
      Exec("PRAGMA journal_mode=WAL");
      Exec(flush ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
      Exec("CREATE TABLE IF NOT EXISTS t"
           " (id INTEGER, name TEXT COLLATE NOCASE, qty INTEGER, price INTEGER, note TEXT)");
      Exec("CREATE UNIQUE INDEX IF NOT EXISTS t_id ON t (id)");
      Exec("CREATE UNIQUE INDEX IF NOT EXISTS t_name ON t (name)");
      _insert = Prepare("INSERT INTO t VALUES (?, ?, ?, ?, ?)");
      _update = Prepare("UPDATE t SET id = ?, name = ?, qty = ?, price = ?, note = ? WHERE id = ?");
      _delete = Prepare("DELETE FROM t WHERE id = ?");
    }
    _byId = Prepare("SELECT id, qty FROM t WHERE id = ?");
    _byName = Prepare("SELECT id, qty FROM t WHERE name = ?");
    _rangeId = Prepare("SELECT id, qty FROM t WHERE id >= ? ORDER BY id LIMIT 100");
    _rangeName = Prepare("SELECT id, qty FROM t WHERE name >= ? ORDER BY name LIMIT 100");
    _scanId = Prepare("SELECT id, qty FROM t ORDER BY id");
    _scanName = Prepare("SELECT id, qty FROM t ORDER BY name");
  }

  void Close() {
    for (sqlite3_stmt** s : {&_insert, &_update, &_delete, &_byId, &_byName, &_rangeId, &_rangeName, &_scanId,
                             &_scanName}) {
      sqlite3_finalize(*s);
      *s = nullptr;
    }
    if (_db) sqlite3_close(_db);
    _db = nullptr;
  }

  void Begin() { Exec("BEGIN"); }
  void Commit() { Exec("COMMIT"); }

  void Insert(const Row& r) { Step(BindRow(_insert, r, 1)); }
  void Update(const Row& old, const Row& to) {
    sqlite3_bind_int(BindRow(_update, to, 1), 6, old.id);
    Step(_update);
    if (sqlite3_changes(_db) != 1) throw std::runtime_error("peer: no record to update");
  }
  void Delete(const Row& r) {
    sqlite3_bind_int(_delete, 1, r.id);
    Step(_delete);
    if (sqlite3_changes(_db) != 1) throw std::runtime_error("peer: no record to delete");
  }
  int64_t Lookup(const Row& r, bool byName) {
    const int64_t sum = Run(BindKey(r, byName, byName ? _byName : _byId));
    return sum ? sum : -1;
  }
  int64_t Range(const Row& r, bool byName) { return Run(BindKey(r, byName, byName ? _rangeName : _rangeId)); }
  int64_t Scan(int32_t index) { return Run(index == 1 ? _scanId : _scanName); }

 private:
  static sqlite3_stmt* BindRow(sqlite3_stmt* s, const Row& r, int first) {
    sqlite3_bind_int(s, first, r.id);
    sqlite3_bind_text(s, first + 1, r.name.data(), static_cast<int>(r.name.size()), SQLITE_STATIC);
    sqlite3_bind_int(s, first + 2, r.qty);
    sqlite3_bind_int(s, first + 3, r.price);
    sqlite3_bind_text(s, first + 4, r.note.data(), static_cast<int>(r.note.size()), SQLITE_STATIC);
    return s;
  }
  static sqlite3_stmt* BindKey(const Row& r, bool byName, sqlite3_stmt* s) {
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
  void Check(int rc) const {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
      throw std::runtime_error(std::string("sqlite: ") + (_db ? sqlite3_errmsg(_db) : sqlite3_errstr(rc)));
  }
  void Exec(const char* sql) { Check(sqlite3_exec(_db, sql, nullptr, nullptr, nullptr)); }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    Check(sqlite3_prepare_v2(_db, sql, -1, &s, nullptr));
    return s;
  }
  void Step(sqlite3_stmt* s) {
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    Check(rc);
  }

  sqlite3* _db = nullptr;
  sqlite3_stmt *_insert = nullptr, *_update = nullptr, *_delete = nullptr, *_byId = nullptr, *_byName = nullptr,
               *_rangeId = nullptr, *_rangeName = nullptr, *_scanId = nullptr, *_scanName = nullptr;
};

// ---------------------------------------------------------------- phases
//
// An engine E offers: kEngine, kExt, Open(path, flush, readOnly), Close(),
// Begin(), Commit(), Insert(row), Update(old, to), Delete(row),
// Lookup(row, byName), Range(row, byName), Scan(index); the read operations
// return the checksum of what they read (-1 for a lookup that found
// nothing).

// Runs change(i) for i in [0, count), in transactions of kPerTransaction.
template <class E, class F>
void InTransactions(E* e, int32_t count, F change) {
  for (int32_t i = 0; i < count; i += kPerTransaction) {
    e->Begin();
    for (int32_t k = i; k < std::min(count, i + kPerTransaction); ++k) change(k);
    e->Commit();
  }
}

template <class E>
void InsertAll(E* e, bool random) {
  const Workload& w = Work();
  InTransactions(e, Records(), [&](int32_t k) { e->Insert(w.rows[random ? w.randomOrder[k] : k]); });
}

template <class E>
int64_t Lookups(E* e, const std::vector<int32_t>& rows) {
  int64_t sum = 0, i = 0;
  for (int32_t k : rows) {
    const int64_t got = e->Lookup(Work().rows[k], (i++ & 1) != 0);
    if (got < 0) throw std::runtime_error("lookup found nothing");
    sum += got;
  }
  return sum;
}

std::string WorkFile(const char* name, const char* ext) { return Scratch().File(std::string("work_") + name + ext); }

// The stage file of an engine (random-order insertion, durability off,
// synced), built at first need.
template <class E>
const std::string& StageFile() {
  static const std::string path = [] {
    const std::string p = Scratch().File(std::string(E::kEngine) + "_stage" + E::kExt);
    RemoveFile(p);
    E e;
    e.Open(p, false, false);
    InsertAll(&e, true);
    e.Close();
    SyncFile(p);
    return p;
  }();
  return path;
}

// The open stage file of the read phases, warmed up by the reads themselves.
template <class E>
E& Loaded() {
  static E* e = [] {
    auto* loaded = new E;
    loaded->Open(StageFile<E>(), false, true);
    return loaded;
  }();
  return *e;
}

template <class E>
void BM_Insert(benchmark::State& state, bool random) {
  const bool flush = state.range(0) != 0;
  const std::string path = WorkFile(E::kEngine, E::kExt);
  for (auto _ : state) {
    state.PauseTiming();
    RemoveFile(path);
    E e;
    state.ResumeTiming();
    e.Open(path, flush, false);
    InsertAll(&e, random);
    e.Close();
  }
  state.counters["file_bytes"] = FileBytes(path);
  state.SetItemsProcessed(state.iterations() * Records());
  RemoveFile(path);
}

template <class E>
void BM_InsSeq(benchmark::State& state) {
  BM_Insert<E>(state, false);
}

template <class E>
void BM_InsRand(benchmark::State& state) {
  BM_Insert<E>(state, true);
}

template <class E>
void BM_Lookup(benchmark::State& state) {
  E& e = Loaded<E>();
  int64_t sum = Lookups(&e, Work().lookups);
  for (auto _ : state) sum = Lookups(&e, Work().lookups);
  state.counters["checksum"] = static_cast<double>(sum);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

template <class E>
void BM_Range(benchmark::State& state) {
  E& e = Loaded<E>();
  auto ranges = [&e] {
    int64_t sum = 0, i = 0;
    for (int32_t k : Work().ranges) sum += e.Range(Work().rows[k], (i++ & 1) != 0);
    return sum;
  };
  int64_t sum = ranges();
  for (auto _ : state) sum = ranges();
  state.counters["checksum"] = static_cast<double>(sum);
  state.SetItemsProcessed(state.iterations() * kRanges * kRangeLen);
}

template <class E>
void BM_Scan(benchmark::State& state) {
  E& e = Loaded<E>();
  const int32_t index = static_cast<int32_t>(state.range(0));
  int64_t sum = e.Scan(index);
  for (auto _ : state) sum = e.Scan(index);
  state.counters["checksum"] = static_cast<double>(sum);
  state.SetItemsProcessed(state.iterations() * Records());
}

template <class E>
void BM_Cold(benchmark::State& state) {
  const std::string& path = StageFile<E>();
  int64_t sum = 0;
  for (auto _ : state) {
    E e;
    e.Open(path, false, true);
    sum = Lookups(&e, Work().cold);
    e.Close();
  }
  state.counters["checksum"] = static_cast<double>(sum);
  state.SetItemsProcessed(state.iterations() * kCold);
}

// A writing phase on a copy of the stage; the timing covers `phase` only.
template <class E, class Phase>
void TimedChange(benchmark::State& state, Phase phase) {
  const bool flush = state.range(0) != 0;
  const std::string path = WorkFile(E::kEngine, E::kExt);
  for (auto _ : state) {
    state.PauseTiming();
    CopyStage(StageFile<E>(), path);
    E e;
    e.Open(path, flush, false);
    state.ResumeTiming();
    phase(&e);
    state.PauseTiming();
    e.Close();
    state.ResumeTiming();
  }
  state.counters["file_bytes"] = FileBytes(path);
  RemoveFile(path);
}

template <class E>
void BM_Update(benchmark::State& state) {
  const Workload& w = Work();
  TimedChange<E>(state, [&w](E* e) {
    InTransactions(e, static_cast<int32_t>(w.updates.size()), [&](int32_t k) {
      const Change& c = w.updates[k];
      e->Update(w.rows[c.row], c.to);
    });
  });
}

template <class E>
void BM_Churn(benchmark::State& state) {
  const Workload& w = Work();
  TimedChange<E>(state, [&w](E* e) {
    InTransactions(e, static_cast<int32_t>(w.deletes.size()), [&](int32_t k) { e->Delete(w.rows[w.deletes[k]]); });
    InTransactions(e, static_cast<int32_t>(w.fresh.size()), [&](int32_t k) { e->Insert(w.fresh[k]); });
  });
}

// ---------------------------------------------------------------- registration

using BenchFn = void (*)(benchmark::State&);

// Both sides of a phase are registered together, so that they run one after
// the other and see the same load on the machine. No argument: a phase
// without one.
void RegisterPhase(const char* phase, BenchFn ours, BenchFn peer, std::initializer_list<int64_t> args) {
  std::vector<int64_t> list(args);
  if (list.empty()) list.push_back(-1);
  for (int64_t a : list) {
    for (auto [side, fn] : {std::pair{"Ours", ours}, std::pair{"Peer", peer}}) {
      const std::string name = std::string("BM_table_bfile_") + phase + "_" + side;
      benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(name.c_str(), fn);
      if (a >= 0) b->Arg(a);
      b->Unit(benchmark::kMillisecond);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterPhase("insseq", BM_InsSeq<Ours>, BM_InsSeq<Peer>, {0, 1});
  RegisterPhase("insrand", BM_InsRand<Ours>, BM_InsRand<Peer>, {0, 1});
  RegisterPhase("lookup", BM_Lookup<Ours>, BM_Lookup<Peer>, {});
  RegisterPhase("range", BM_Range<Ours>, BM_Range<Peer>, {});
  RegisterPhase("scan", BM_Scan<Ours>, BM_Scan<Peer>, {1, 2});
  RegisterPhase("update", BM_Update<Ours>, BM_Update<Peer>, {0, 1});
  RegisterPhase("churn", BM_Churn<Ours>, BM_Churn<Peer>, {0, 1});
  RegisterPhase("cold", BM_Cold<Ours>, BM_Cold<Peer>, {});
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Work();  // the workload is drawn before any timing
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
