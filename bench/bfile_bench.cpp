// The block file against SQLite 3 on the same workload, phase by phase, both
// files in one scratch directory under $TMPDIR (else /tmp):
//
//   create     100,000 blocks of 200 to 2,000 random bytes, transactions of
//              1,000 (SQLite: a table (id INTEGER PRIMARY KEY, data BLOB),
//              one prepared INSERT);
//   readwarm   100,000 random reads (BReadCopy / SELECT data WHERE id=?) on
//              an open file whose caches have seen the same reads;
//   readcold   the same reads right after opening (argument 1: the
//              operating system's page cache of the file dropped as well);
//   rewrite    10 % of the blocks rewritten 1 to 1,000 bytes larger,
//              transactions of 1,000 (BWriteCopy / UPDATE);
//   delete     10 % of the blocks deleted, transactions of 1,000;
//   compact    Compact(mode 2) / VACUUM;
//   single     10,000 blocks created one transaction each (SQLite in
//              autocommit);
//   commit     the same 10,000 single-block transactions, flushed, on a
//              copy-on-write block file (the crash-safe mode) against SQLite
//              with a write-ahead log and synchronous=FULL. A third side,
//              Floor, is what any durable commit costs on this disk: each
//              block written at the end of a preallocated file and one
//              fdatasync, nothing else.
//
// The argument of the writing phases is the durability: 1 flushes to the
// disk at every commit (block file opened normally; SQLite synchronous=FULL
// with its default rollback journal), 0 leaves it to the operating system
// (open flag ZorBfOpenNoFlush; synchronous=OFF). The PeerWal side is SQLite
// with a write-ahead log and the OursCow side the block file opened with
// copy-on-write (ZorBfOpenCopyOnWrite), both printed alone by bench/run. Jobs are named
// BM_bfile_<phase>_<side>, so that `bench/run <build> bfile` selects them.
//
// Each phase starts from a stored stage (created, rewritten, deleted) built
// once per engine, outside the timing, with durability off and synced to
// the disk; the timed part is the phase itself (open and close included for
// create and readcold only). Counters: the file's size in bytes after the
// phase (file_bytes) and the bytes read (read_bytes) as a cross-check that
// both engines return the same data.
#include <zorvane/zorvane.h>

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
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using benchfiles::CopyStage;
using benchfiles::RemoveFile;
using benchfiles::SyncFile;

namespace fs = std::filesystem;

constexpr int32_t kBlocks = 100000;
constexpr int32_t kPerTransaction = 1000;
constexpr int32_t kReads = 100000;
constexpr int32_t kChanged = kBlocks / 10;
constexpr int32_t kSingles = 10000;
constexpr uint32_t kPoolBytes = 8u << 20;

// ---------------------------------------------------------------- workload

struct Blob {
  const uint8_t* data;
  uint32_t size;
};

// Every byte string of the run is a slice of one pool of random bytes.
class Workload {
 public:
  Workload() : _pool(kPoolBytes) {
    std::mt19937 gen(20261205);
    for (uint8_t& b : _pool) b = static_cast<uint8_t>(gen());
    for (int32_t i = 0; i < kBlocks; ++i) _blocks.push_back(Slice(&gen, 200 + gen() % 1801));
    for (int32_t i = 0; i < kReads; ++i) _reads.push_back(static_cast<int32_t>(gen() % kBlocks));
    const std::vector<int32_t> order = Shuffled(&gen);
    for (int32_t i = 0; i < kChanged; ++i) {
      const int32_t k = order[i];
      _rewrites.push_back({k, Slice(&gen, _blocks[k].size + 1 + gen() % 1000)});
    }
    const std::vector<int32_t> gone = Shuffled(&gen);
    _deletes.assign(gone.begin(), gone.begin() + kChanged);
    for (int32_t i = 0; i < kSingles; ++i) _singles.push_back(Slice(&gen, 200 + gen() % 1801));
    for (int32_t k : _reads) _readBytes += _blocks[k].size;
  }

  const std::vector<Blob>& Blocks() const { return _blocks; }
  const std::vector<int32_t>& Reads() const { return _reads; }
  const std::vector<std::pair<int32_t, Blob>>& Rewrites() const { return _rewrites; }
  const std::vector<int32_t>& Deletes() const { return _deletes; }
  const std::vector<Blob>& Singles() const { return _singles; }
  // The bytes that the reads return on the created stage.
  uint64_t ReadBytes() const { return _readBytes; }

 private:
  Blob Slice(std::mt19937* gen, uint32_t size) const {
    return {_pool.data() + (*gen)() % (kPoolBytes - size), size};
  }
  static std::vector<int32_t> Shuffled(std::mt19937* gen) {
    std::vector<int32_t> ids(kBlocks);
    for (int32_t i = 0; i < kBlocks; ++i) ids[i] = i;
    std::shuffle(ids.begin(), ids.end(), *gen);
    return ids;
  }

  std::vector<uint8_t> _pool;
  // Blocks are named by their creation order k, from 0.
  std::vector<Blob> _blocks;
  std::vector<int32_t> _reads;
  std::vector<std::pair<int32_t, Blob>> _rewrites;
  std::vector<int32_t> _deletes;
  std::vector<Blob> _singles;
  uint64_t _readBytes = 0;
};

const Workload& Work() {
  static const Workload w;
  return w;
}

// ---------------------------------------------------------------- files

const benchfiles::ScratchDir& Scratch() {
  static const benchfiles::ScratchDir dir("bfile_bench");
  return dir;
}




int64_t FileBytes(const std::string& path) {
  std::error_code ec;
  const auto n = fs::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(n);
}

// ---------------------------------------------------------------- SQLite

class Peer {
 public:
  explicit Peer(bool wal) : _wal(wal) {}
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  ~Peer() { Close(); }

  static constexpr const char* kName = "peer";
  static constexpr const char* kExt = ".db";

  void Open(const std::string& path, bool flush, bool readOnly) {
    const int how = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    Check(sqlite3_open_v2(path.c_str(), &_db, how, nullptr));
    if (!readOnly) {
      Exec(_wal ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=DELETE");
      Exec(flush ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
      Exec("CREATE TABLE IF NOT EXISTS blocks (id INTEGER PRIMARY KEY, data BLOB)");
      _insert = Prepare("INSERT INTO blocks (id, data) VALUES (?, ?)");
      _update = Prepare("UPDATE blocks SET data = ? WHERE id = ?");
      _delete = Prepare("DELETE FROM blocks WHERE id = ?");
    }
    _select = Prepare("SELECT data FROM blocks WHERE id = ?");
  }

  void Close() {
    for (sqlite3_stmt** s : {&_insert, &_update, &_delete, &_select}) {
      sqlite3_finalize(*s);
      *s = nullptr;
    }
    if (_db) sqlite3_close(_db);
    _db = nullptr;
    _nextId = 1;
  }

  void Begin() { Exec("BEGIN"); }
  void Commit() { Exec("COMMIT"); }

  int32_t Insert(const Blob& b) {
    const int32_t id = _nextId++;
    sqlite3_bind_int(_insert, 1, id);
    sqlite3_bind_blob(_insert, 2, b.data, static_cast<int>(b.size), SQLITE_STATIC);
    Step(_insert);
    return id;
  }

  // A private copy of the block, as BReadCopy gives; returns its length.
  uint32_t Read(int32_t id) {
    sqlite3_bind_int(_select, 1, id);
    uint32_t n = 0;
    if (sqlite3_step(_select) == SQLITE_ROW) {
      n = static_cast<uint32_t>(sqlite3_column_bytes(_select, 0));
      std::vector<uint8_t> copy(n);
      if (n) std::memcpy(copy.data(), sqlite3_column_blob(_select, 0), n);
      benchmark::DoNotOptimize(copy.data());
    }
    sqlite3_reset(_select);
    return n;
  }

  void Rewrite(int32_t id, const Blob& b) {
    sqlite3_bind_blob(_update, 1, b.data, static_cast<int>(b.size), SQLITE_STATIC);
    sqlite3_bind_int(_update, 2, id);
    Step(_update);
  }

  void Delete(int32_t id) {
    sqlite3_bind_int(_delete, 1, id);
    Step(_delete);
  }

  void Compact() { Exec("VACUUM"); }

  // The next id to insert: one past the largest stored.
  void SeekEnd() {
    sqlite3_stmt* s = Prepare("SELECT COALESCE(MAX(id), 0) FROM blocks");
    if (sqlite3_step(s) == SQLITE_ROW) _nextId = sqlite3_column_int(s, 0) + 1;
    sqlite3_finalize(s);
  }

 private:
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

  bool _wal;
  sqlite3* _db = nullptr;
  sqlite3_stmt* _insert = nullptr;
  sqlite3_stmt* _update = nullptr;
  sqlite3_stmt* _delete = nullptr;
  sqlite3_stmt* _select = nullptr;
  int32_t _nextId = 1;
};

struct PeerRollback : Peer {
  PeerRollback() : Peer(false) {}
};
struct PeerWal : Peer {
  PeerWal() : Peer(true) {}
};

// ---------------------------------------------------------------- phases
//
// An engine E offers: kName, kExt, Open(path, flush, readOnly), Close(),
// Begin(), Commit(), Insert(blob) -> id, Read(id) -> length, Rewrite(id,
// blob), Delete(id), Compact(), SeekEnd() (inserts continue after the last
// block). Both rollback and WAL SQLite share the stage files of "peer".

// The id that an engine gave to the k-th block created (k from 0): an
// engine picks its ids, which need not follow the creation order.
std::vector<int32_t>& Ids(const char* engine) {
  static std::map<std::string, std::vector<int32_t>> ids;
  return ids[engine];
}

template <class E>
int32_t IdOf(int32_t k) {
  return Ids(E::kName)[static_cast<size_t>(k)];
}

template <class E>
void CreateAll(E* e) {
  const std::vector<Blob>& blocks = Work().Blocks();
  std::vector<int32_t>& ids = Ids(E::kName);
  ids.assign(kBlocks, 0);
  for (int32_t i = 0; i < kBlocks; i += kPerTransaction) {
    e->Begin();
    for (int32_t k = i; k < i + kPerTransaction; ++k) ids[k] = e->Insert(blocks[k]);
    e->Commit();
  }
}

template <class E>
uint64_t ReadAll(E* e) {
  uint64_t bytes = 0;
  for (int32_t k : Work().Reads()) bytes += e->Read(IdOf<E>(k));
  return bytes;
}

template <class E>
void RewriteAll(E* e) {
  const auto& rewrites = Work().Rewrites();
  for (int32_t i = 0; i < kChanged; i += kPerTransaction) {
    e->Begin();
    for (int32_t k = i; k < i + kPerTransaction; ++k) e->Rewrite(IdOf<E>(rewrites[k].first), rewrites[k].second);
    e->Commit();
  }
}

template <class E>
void DeleteAll(E* e) {
  const std::vector<int32_t>& ids = Work().Deletes();
  for (int32_t i = 0; i < kChanged; i += kPerTransaction) {
    e->Begin();
    for (int32_t k = i; k < i + kPerTransaction; ++k) e->Delete(IdOf<E>(ids[k]));
    e->Commit();
  }
}

enum Stage { kCreated, kRewritten, kDeleted };

// The stage file of an engine, built at first need (durability off, synced).
template <class E>
std::string StageFile(Stage stage) {
  static std::map<int, std::string> built;
  const auto found = built.find(stage);
  if (found != built.end()) return found->second;
  const char* names[] = {"created", "rewritten", "deleted"};
  const std::string path = Scratch().File(std::string(E::kName) + "_" + names[stage] + E::kExt);
  if (stage == kCreated) {
    RemoveFile(path);
  } else {
    CopyStage(StageFile<E>(static_cast<Stage>(stage - 1)), path);
  }
  E e;
  e.Open(path, false, false);
  if (stage == kCreated) CreateAll(&e);
  if (stage == kRewritten) RewriteAll(&e);
  if (stage == kDeleted) DeleteAll(&e);
  e.Close();
  SyncFile(path, false);
  built[stage] = path;
  return path;
}

std::string WorkFile(const char* name, const char* ext) { return Scratch().File(std::string("work_") + name + ext); }

// The first creation of a process runs about twice as long as the next
// ones (heap growth, first use of the page-cache paths): each engine does
// one whole creation, untimed, before its first timed one.
template <class E>
void WarmUp() {
  static bool done = false;
  if (done) return;
  done = true;
  const std::string path = WorkFile(E::kName, E::kExt);
  RemoveFile(path);
  E e;
  e.Open(path, false, false);
  for (int32_t i = 0; i < kBlocks; i += kPerTransaction) {
    e.Begin();
    for (int32_t k = i; k < i + kPerTransaction; ++k) e.Insert(Work().Blocks()[k]);
    e.Commit();
  }
  e.Close();
  RemoveFile(path);
}

template <class E>
void BM_Create(benchmark::State& state) {
  const bool flush = state.range(0) != 0;
  const std::string path = WorkFile(E::kName, E::kExt);
  WarmUp<E>();
  for (auto _ : state) {
    state.PauseTiming();
    RemoveFile(path);
    E e;
    state.ResumeTiming();
    e.Open(path, flush, false);
    CreateAll(&e);
    e.Close();
  }
  state.counters["file_bytes"] = static_cast<double>(FileBytes(path));
  RemoveFile(path);
}

template <class E>
void BM_ReadWarm(benchmark::State& state) {
  E e;
  e.Open(StageFile<E>(kCreated), false, true);
  uint64_t bytes = ReadAll(&e);
  for (auto _ : state) bytes = ReadAll(&e);
  e.Close();
  if (bytes != Work().ReadBytes()) state.SkipWithError("wrong byte count read");
  state.counters["read_bytes"] = static_cast<double>(bytes);
}

template <class E>
void BM_ReadCold(benchmark::State& state) {
  const bool dropPageCache = state.range(0) != 0;
  const std::string path = StageFile<E>(kCreated);
  uint64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    SyncFile(path, dropPageCache);
    E e;
    state.ResumeTiming();
    e.Open(path, false, true);
    bytes = ReadAll(&e);
    e.Close();
  }
  if (bytes != Work().ReadBytes()) state.SkipWithError("wrong byte count read");
  state.counters["read_bytes"] = static_cast<double>(bytes);
}

// A writing phase from a copy of `from`; the timing covers `phase` only.
template <class E, class Base, class Phase>
void TimedChange(benchmark::State& state, Stage from, Phase phase) {
  const bool flush = state.range(0) != 0;
  const std::string path = WorkFile(E::kName, E::kExt);
  for (auto _ : state) {
    state.PauseTiming();
    CopyStage(StageFile<Base>(from), path);
    // The copy holds the base engine's ids (a filtered run may not have
    // created this engine's own file first).
    Ids(E::kName) = Ids(Base::kName);
    E e;
    e.Open(path, flush, false);
    state.ResumeTiming();
    phase(&e);
    state.PauseTiming();
    e.Close();
    state.ResumeTiming();
  }
  state.counters["file_bytes"] = static_cast<double>(FileBytes(path));
  RemoveFile(path);
}

template <class E, class Base = E>
void BM_Rewrite(benchmark::State& state) {
  TimedChange<E, Base>(state, kCreated, [](E* e) { RewriteAll(e); });
}

template <class E, class Base = E>
void BM_Delete(benchmark::State& state) {
  TimedChange<E, Base>(state, kRewritten, [](E* e) { DeleteAll(e); });
}

template <class E, class Base = E>
void BM_Compact(benchmark::State& state) {
  TimedChange<E, Base>(state, kDeleted, [](E* e) { e->Compact(); });
}

template <class E, class Base = E>
void BM_Single(benchmark::State& state) {
  TimedChange<E, Base>(state, kCreated, [](E* e) {
    e->SeekEnd();
    for (const Blob& b : Work().Singles()) e->Insert(b);
  });
}

// ---------------------------------------------------------------- ours

using namespace zorvane;

template <int32_t Extra>
class OursWith {
 public:
  static constexpr const char* kName = Extra ? "ourscow" : "ours";
  static constexpr const char* kExt = ".bf";
  static constexpr int32_t kFileType = 77;
  static constexpr int32_t kSignature = 0x42454E43;
  static constexpr int32_t kOwner = 513;
  static constexpr int16_t kType = 1;

  OursWith() = default;
  OursWith(const OursWith&) = delete;
  OursWith& operator=(const OursWith&) = delete;
  ~OursWith() { Close(); }

  void Open(const std::string& path, bool flush, bool readOnly) {
    _path = ZorFsa(path.c_str());
    if (!fs::exists(path)) ZorBFile::Create(&_path, kFileType, kSignature, "bfile_bench", ZorFsaCreateAlways, false, nullptr);
    const eZorStreamPerm access = readOnly ? ZorPermRead : ZorPermReadWrite;
    const eZorStreamPerm share = readOnly ? ZorShareRead : ZorShareExclusive;
    _file.Open(&_path, access, share, Extra | (flush ? 0 : ZorBfOpenNoFlush), -1, kFileType, kSignature);
    _open = true;
  }

  void Close() {
    if (_open) _file.Close(ZorBfCloseNormal);
    _open = false;
  }

  void Begin() { _file.StartTransaction(); }
  void Commit() { _file.EndTransaction(); }

  int32_t Insert(const Blob& b) {
    ZorHandle h;
    h.Init(b.data, b.size);
    return _file.BCreate(&h, kOwner, kType, 0, true);
  }

  uint32_t Read(int32_t id) {
    ZorHandle h;
    _file.BReadCopy(id, &h);
    return h.GetSize();
  }

  void Rewrite(int32_t id, const Blob& b) {
    ZorHandle h;
    h.Init(b.data, b.size);
    _file.BWriteCopy(id, &h, 0);
  }

  void Delete(int32_t id) { _file.BDelete(id); }
  void Compact() { _file.Compact(ZorBfCompactAny, false, false); }
  void SeekEnd() {}

 private:
  ZorFsa _path;
  ZorBFile _file;
  bool _open = false;
};

using Ours = OursWith<0>;
using OursCow = OursWith<ZorBfOpenCopyOnWrite>;

// ---------------------------------------------------------------- floor

// The least a commit that survives a power cut can do: one write of the
// block into space allocated beforehand (so that the flush carries no size
// change) and one flush. No engine can commit faster on the same disk.
class Floor {
 public:
  static constexpr const char* kName = "floor";
  static constexpr const char* kExt = ".raw";

  Floor() = default;
  Floor(const Floor&) = delete;
  Floor& operator=(const Floor&) = delete;
  ~Floor() { Close(); }

  void Open(const std::string& path, bool flush, bool) {
    _flush = flush;
    _fd = ::open((path + ".floor").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (_fd < 0) throw std::runtime_error("floor: cannot create " + path + ".floor");
    _path = path + ".floor";
    static const std::vector<char> zeros(1 << 20, 0);
    for (uint64_t at = 0; at < kSpace; at += zeros.size()) Write(zeros.data(), zeros.size(), at);
    ::fsync(_fd);
  }
  void Close() {
    if (_fd >= 0) ::close(_fd), RemoveFile(_path);
    _fd = -1;
  }
  void Begin() {}
  void Commit() {
    if (_flush) ::fdatasync(_fd);
  }
  int32_t Insert(const Blob& b) {
    Write(b.data, b.size, _end);
    _end += b.size;
    Commit();
    return 0;
  }
  void SeekEnd() { _end = 0; }
  void Compact() {}

 private:
  static constexpr uint64_t kSpace = uint64_t(kSingles) * 2048;
  void Write(const void* p, size_t n, uint64_t at) {
    if (::pwrite(_fd, p, n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) throw std::runtime_error("floor: write");
  }
  int _fd = -1;
  bool _flush = false;
  uint64_t _end = 0;
  std::string _path;
};

// ---------------------------------------------------------------- registration

using BenchFn = void (*)(benchmark::State&);
struct Side {
  const char* name;
  BenchFn fn;
};

// The sides of a phase are registered together, so that they run one after
// the other and see the same load on the machine. No argument: a phase
// without one.
void RegisterPhase(const char* phase, std::initializer_list<Side> sides, std::initializer_list<int64_t> args) {
  std::vector<int64_t> list(args);
  if (list.empty()) list.push_back(-1);
  for (int64_t a : list) {
    for (const Side& side : sides) {
      const std::string name = std::string("BM_bfile_") + phase + "_" + side.name;
      benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(name.c_str(), side.fn);
      if (a >= 0) b->Arg(a);
      b->Unit(benchmark::kMillisecond);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  using Rb = PeerRollback;
  RegisterPhase("create",
                {{"Ours", BM_Create<Ours>}, {"Peer", BM_Create<Rb>}, {"PeerWal", BM_Create<PeerWal>},
                 {"OursCow", BM_Create<OursCow>}},
                {0, 1});
  RegisterPhase("readwarm", {{"Ours", BM_ReadWarm<Ours>}, {"Peer", BM_ReadWarm<Rb>}}, {});
  RegisterPhase("readcold", {{"Ours", BM_ReadCold<Ours>}, {"Peer", BM_ReadCold<Rb>}}, {0, 1});
  RegisterPhase("rewrite",
                {{"Ours", BM_Rewrite<Ours>}, {"Peer", BM_Rewrite<Rb>}, {"PeerWal", BM_Rewrite<PeerWal, Rb>},
                 {"OursCow", BM_Rewrite<OursCow, Ours>}},
                {0, 1});
  RegisterPhase("delete",
                {{"Ours", BM_Delete<Ours>}, {"Peer", BM_Delete<Rb>}, {"PeerWal", BM_Delete<PeerWal, Rb>},
                 {"OursCow", BM_Delete<OursCow, Ours>}},
                {0, 1});
  RegisterPhase("compact",
                {{"Ours", BM_Compact<Ours>}, {"Peer", BM_Compact<Rb>}, {"PeerWal", BM_Compact<PeerWal, Rb>},
                 {"OursCow", BM_Compact<OursCow, Ours>}},
                {0, 1});
  RegisterPhase("single", {{"Ours", BM_Single<Ours>}, {"Peer", BM_Single<Rb>}, {"PeerWal", BM_Single<PeerWal, Rb>}},
                {1});
  RegisterPhase("commit",
                {{"Ours", BM_Single<OursCow, Ours>}, {"Peer", BM_Single<PeerWal, Rb>}, {"Floor", BM_Single<Floor, Ours>}},
                {0, 1});
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Work();  // the workload is drawn before any timing
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
