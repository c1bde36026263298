// The shared-file stress (see zorvane/block_file_stress.h for the workload and
// what is verified).
//
// Each worker process writes, through its own pipe, one record per event:
// kBegin (the counter value v its transaction read), then what the
// transaction did (kCreated, kRewritten, kDeleted, kMismatch), all before
// EndTransaction, and kCommit after it returned. The parent reads every
// pipe while the workers run, replays the records of committed
// transactions into a model of who owns which block with which pattern,
// and compares the file with the model. A transaction is committed when
// its kCommit arrived; a killed worker's last transaction without one is
// undecided and settled by what it wrote (see Landed), so it must be in the
// file whole or not at all. With kills, a successor process under the next
// owner index runs the transactions a killed one had left.
//
// The records cross a pipe between a process and its own fork: same binary,
// same layout, so they travel as plain structs.
#include <zorvane/block_file_stress.h>

#include <zorvane/block_file.h>
#include <zorvane/format.h>
#include <zorvane/string.h>
#include <zorvane/verification.h>

#include "foundation/errors/raise.h"
#include "foundation/services/text_source.h"
#include "platform/env.h"
#include "platform/little_endian.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace zorvane {

namespace {

using platform::GetLE64;
using platform::PutLE64;

constexpr int32_t kFileType = 0x5354;    // "ST"
constexpr int32_t kSignature = 0x5A42;   // "ZB"
constexpr int32_t kCounterOwner = 0;
constexpr int16_t kCounterType = 1;
constexpr int16_t kTaggedType = 2;
constexpr int32_t kMessageGroup = 243;
constexpr int kExitFailure = 3;
constexpr char kSource[] = "ZorBFile";

enum RecKind : int32_t { kBegin = 1, kCreated, kRewritten, kDeleted, kMismatch, kCommit, kFailure };

struct Rec {
  int32_t kind = 0;
  int32_t id = 0;
  int64_t v = 0;
  uint32_t size = 0;
};

// ------------------------------------------------------------ patterns

uint64_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  return x ^ (x >> 33);
}

// The bytes of a tagged block: a function of its owner, the counter value
// of the transaction that wrote it, and its size.
void FillPattern(uint8_t* out, int32_t owner, int64_t v, uint32_t size) {
  uint64_t s = Mix((static_cast<uint64_t>(owner) << 48) ^ static_cast<uint64_t>(v) ^ (uint64_t{size} << 20)) | 1;
  for (uint32_t i = 0; i < size; ++i) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    out[i] = static_cast<uint8_t>(s >> 24);
  }
}

bool HasPattern(const ZorHandle& h, int32_t owner, int64_t v, uint32_t size) {
  if (h.GetSize() != size) return false;
  std::vector<uint8_t> want(size);
  FillPattern(want.data(), owner, v, size);
  return size == 0 || memcmp(h.GetDatas(), want.data(), size) == 0;
}

void MakePattern(ZorHandle* h, int32_t owner, int64_t v, uint32_t size) {
  h->Init(size);
  if (size) FillPattern(static_cast<uint8_t*>(h->GetDatas()), owner, v, size);
}

// Mostly small blocks, some of several chunks, a few large enough to split
// free extents and grow the file.
uint32_t PickSize(std::mt19937& rng) {
  const uint32_t r = rng() % 100;
  if (r < 5) return 0;
  if (r < 70) return 1 + rng() % 1000;
  if (r < 96) return 1000 + rng() % 8000;
  return 8000 + rng() % 70000;
}

// ------------------------------------------------------------ a worker

class Worker {
 public:
  Worker(const ZorFsa* path, const sZorBfStressOptions& opt, int32_t index, int32_t transactions, int fd)
      : _path(path), _opt(opt), _index(index), _transactions(transactions), _fd(fd),
        _rng(opt.seed * 7919u + static_cast<uint32_t>(index)) {}

  int Run() {
    _file.Open(_path, ZorPermReadWrite, ZorShareReadWrite, _opt.openFlags, _opt.cacheBlocks, kFileType, kSignature);
    for (int32_t t = 1; t <= _transactions; ++t) _transaction(t);
    _file.Close(ZorBfCloseNormal);
    return 0;
  }

  void Fail() { _send({Rec{kFailure}}); }

 private:
  struct Owned {
    int32_t id;
    int64_t v;
    uint32_t size;
  };

  void _transaction(int32_t t) {
    std::vector<Rec> recs;
    _file.StartTransaction();
    const int64_t v = _incrementCounter();
    recs.push_back({kBegin, 0, v, 0});
    _create(v, &recs);
    const uint32_t r = _rng() % 100;
    if (r < 25) _rewrite(v, &recs);
    else if (r < 40) _delete(&recs);
    if (_rng() % 5 == 0) _readBack(&recs);
    _send(recs);
    if (_index == _opt.killProcess && t == _opt.killInTransaction && _opt.killAfterMs < 0) platform::CurrentEnv().Kill(getpid(), SIGKILL);
    _file.EndTransaction();
    _send({Rec{kCommit, 0, v, 0}});
  }

  int64_t _incrementCounter() {
    ZorHandle h;
    _file.BRead(1, &h);
    auto* p = static_cast<uint8_t*>(h.GetDatas());
    const int64_t v = static_cast<int64_t>(GetLE64(p));
    PutLE64(p, static_cast<uint64_t>(v + 1));
    _file.BWrite(1, 0);
    return v;
  }

  void _create(int64_t v, std::vector<Rec>* recs) {
    const uint32_t size = PickSize(_rng);
    ZorHandle h;
    MakePattern(&h, _index, v, size);
    const int32_t id = _file.BCreate(size ? &h : nullptr, _index, kTaggedType, _rng() % 2 ? 0 : size / 4, true);
    _own.push_back({id, v, size});
    recs->push_back({kCreated, id, v, size});
  }

  void _rewrite(int64_t v, std::vector<Rec>* recs) {
    if (_own.empty()) return;
    Owned& o = _own[_rng() % _own.size()];
    o.size = PickSize(_rng);
    o.v = v;
    ZorHandle h;
    MakePattern(&h, _index, v, o.size);
    _file.BWriteCopy(o.id, &h, 0);
    recs->push_back({kRewritten, o.id, v, o.size});
  }

  void _delete(std::vector<Rec>* recs) {
    if (_own.empty()) return;
    const size_t i = _rng() % _own.size();
    _file.BDelete(_own[i].id);
    recs->push_back({kDeleted, _own[i].id, 0, 0});
    _own.erase(_own.begin() + static_cast<ptrdiff_t>(i));
  }

  void _readBack(std::vector<Rec>* recs) {
    if (_own.empty()) return;
    const Owned& o = _own[_rng() % _own.size()];
    ZorHandle h;
    _file.BReadCopy(o.id, &h);
    int32_t owner = 0;
    int16_t type = 0;
    _file.GetBlockInfo(o.id, &owner, &type, nullptr, nullptr, nullptr);
    if (owner != _index || type != kTaggedType || !HasPattern(h, _index, o.v, o.size))
      recs->push_back({kMismatch, o.id, o.v, o.size});
  }

  void _send(const std::vector<Rec>& recs) {
    const char* p = reinterpret_cast<const char*>(recs.data());
    size_t left = recs.size() * sizeof(Rec);
    while (left > 0) {
      size_t n = 0;
      if (platform::CurrentEnv().Write(_fd, p, left, &n) != 0 || n == 0) _exit(kExitFailure);
      p += n;
      left -= n;
    }
  }

  const ZorFsa* _path;
  const sZorBfStressOptions& _opt;
  int32_t _index;
  int32_t _transactions;
  int _fd;
  std::mt19937 _rng;
  ZorBFile _file;
  std::vector<Owned> _own;
};

int RunWorker(const ZorFsa* path, const sZorBfStressOptions& opt, int32_t index, int32_t transactions, int fd) {
  Worker w(path, opt, index, transactions, fd);
  try {
    return w.Run();
  } catch (...) {
    w.Fail();
    return kExitFailure;
  }
}

// ------------------------------------------------------------ the parent

struct Child {
  pid_t pid = -1;
  int fd = -1;
  std::vector<Rec> recs;
  std::string partial;  // bytes of an incomplete record
  int status = 0;
  int32_t transactions = 0;  // to run
  int32_t commits = 0;       // reported
  bool killed = false;       // on purpose
};

void CreateFile(const ZorFsa* path) {
  ZorBFile::Create(path, kFileType, kSignature, "stress", ZorFsaCreateAlways);
  ZorBFile f;
  f.Open(path, ZorPermReadWrite, ZorShareReadWrite, 0, -1, kFileType, kSignature);
  ZorHandle h;
  h.Init(8);
  PutLE64(static_cast<uint8_t*>(h.GetDatas()), 0);
  f.BCreate(&h, kCounterOwner, kCounterType, 0, false);
  f.Close(ZorBfCloseNormal);
}

// Forks the worker of owner index `index` (1-based) into (*children)[index - 1].
void SpawnOne(const ZorFsa* path, const sZorBfStressOptions& opt, int32_t index, std::vector<Child>* children) {
  platform::Env& env = platform::CurrentEnv();
  Child& me = (*children)[static_cast<size_t>(index - 1)];
  int fds[2];
  if (const int err = env.MakePipe(fds)) ZorRaiseErrno(kSource, err, path);
  pid_t pid = 0;
  if (const int err = env.Fork(&pid)) ZorRaiseErrno(kSource, err, path);
  if (pid == 0) {
    env.Close(fds[0]);
    for (const Child& c : *children)
      if (c.fd >= 0) env.Close(c.fd);
    _exit(RunWorker(path, opt, index, me.transactions, fds[1]));
  }
  env.Close(fds[1]);
  me.pid = pid;
  me.fd = fds[0];
}

void Spawn(const ZorFsa* path, const sZorBfStressOptions& opt, std::vector<Child>* children) {
  for (int32_t i = 1; i <= opt.processes; ++i) {
    (*children)[static_cast<size_t>(i - 1)].transactions = opt.transactions;
    SpawnOne(path, opt, i, children);
  }
}

// Returns the commits the bytes completed.
int32_t Absorb(Child* c, const char* bytes, size_t n) {
  c->partial.append(bytes, n);
  const size_t whole = c->partial.size() / sizeof(Rec);
  const size_t start = c->recs.size();
  c->recs.resize(start + whole);
  memcpy(c->recs.data() + start, c->partial.data(), whole * sizeof(Rec));
  c->partial.erase(0, whole * sizeof(Rec));
  int32_t commits = 0;
  for (size_t i = start; i < c->recs.size(); ++i) commits += c->recs[i].kind == kCommit;
  c->commits += commits;
  return commits;
}

// The random kills: after which total number of commits each one comes.
std::vector<int64_t> KillPoints(const sZorBfStressOptions& opt) {
  std::mt19937 rng(opt.seed * 104729u + 17);
  const int64_t total = int64_t{opt.processes} * opt.transactions;
  std::vector<int64_t> points;
  for (int32_t k = 0; k < opt.kills && total > 0; ++k)
    points.push_back(static_cast<int64_t>(rng() % static_cast<uint64_t>(total)));
  std::sort(points.begin(), points.end(), std::greater<int64_t>());
  return points;
}

// Kills a running worker at random and forks its successor (the next owner
// index), which runs the transactions it had left. The dead one's pipe is
// read to its end by Collect.
void KillOne(const ZorFsa* path, const sZorBfStressOptions& opt, std::mt19937& rng, std::vector<Child>* children) {
  std::vector<size_t> running;
  for (size_t i = 0; i < children->size(); ++i) {
    const Child& c = (*children)[i];
    if (c.fd >= 0 && !c.killed && c.commits < c.transactions) running.push_back(i);
  }
  if (running.empty()) return;
  // A random moment inside the chosen worker's work.
  std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
  Child& victim = (*children)[running[rng() % running.size()]];
  platform::CurrentEnv().Kill(victim.pid, SIGKILL);
  victim.killed = true;
  Child next;
  next.transactions = victim.transactions - victim.commits - 1;
  if (next.transactions <= 0) return;
  children->push_back(std::move(next));
  SpawnOne(path, opt, static_cast<int32_t>(children->size()), children);
}

// Reads every pipe to its end; kills the chosen worker on time, and the
// random ones at their points.
void Collect(const ZorFsa* path, const sZorBfStressOptions& opt, std::vector<Child>* children) {
  platform::Env& env = platform::CurrentEnv();
  const auto start = std::chrono::steady_clock::now();
  bool killPending = opt.killProcess > 0 && opt.killAfterMs >= 0;
  std::vector<int64_t> killPoints = KillPoints(opt);
  std::mt19937 rng(opt.seed * 31u + 7);
  int64_t commits = 0;
  size_t open = children->size();
  std::vector<char> buf(65536);
  while (open > 0) {
    while (!killPoints.empty() && commits >= killPoints.back()) {
      killPoints.pop_back();
      const size_t before = children->size();
      KillOne(path, opt, rng, children);
      open += children->size() - before;
    }
    std::vector<pollfd> fds;
    std::vector<Child*> who;
    for (Child& c : *children)
      if (c.fd >= 0) {
        fds.push_back({c.fd, POLLIN, 0});
        who.push_back(&c);
      }
    int r = 0;
    env.Poll(fds.data(), fds.size(), killPending ? 1 : -1, &r);
    if (killPending && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(opt.killAfterMs)) {
      env.Kill((*children)[static_cast<size_t>(opt.killProcess - 1)].pid, SIGKILL);
      killPending = false;
    }
    if (r <= 0) continue;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      size_t n = 0;
      const int err = env.Read(fds[i].fd, buf.data(), buf.size(), &n);
      if (err == 0 && n > 0) {
        commits += Absorb(who[i], buf.data(), n);
      } else {
        env.Close(who[i]->fd);
        who[i]->fd = -1;
        --open;
      }
    }
  }
  for (Child& c : *children) env.WaitChild(c.pid, &c.status);
}

// ------------------------------------------------------------ the model

struct Expected {
  int32_t owner;
  int64_t v;
  uint32_t size;
};

struct Model {
  std::map<int32_t, Expected> blocks;  // by id
  std::vector<int64_t> values;         // counter values of committed transactions
  int32_t mismatches = 0;
};

// One transaction of a worker: its kBegin record, then what it did.
struct Txn {
  int32_t owner;
  std::vector<Rec> recs;
};

// Applies one transaction. Ids are reused across processes, so
// transactions must be applied in the order they committed: the order of
// the counter values they read.
void Apply(const Txn& t, Model* m) {
  m->values.push_back(t.recs.front().v);
  for (size_t i = 1; i < t.recs.size(); ++i) {
    const Rec& r = t.recs[i];
    if (r.kind == kCreated || r.kind == kRewritten) m->blocks[r.id] = {t.owner, r.v, r.size};
    if (r.kind == kDeleted) m->blocks.erase(r.id);
    if (r.kind == kMismatch) ++m->mismatches;
  }
}

// Splits a worker's records into committed transactions; its unfinished
// one, if any, goes to open. False when the worker reported a failure.
bool Split(int32_t owner, const std::vector<Rec>& recs, std::vector<Txn>* committed, Txn* open) {
  size_t begin = recs.size();
  bool failed = false;
  for (size_t i = 0; i < recs.size(); ++i) {
    if (recs[i].kind == kBegin) begin = i;
    if (recs[i].kind == kFailure) failed = true;
    if (recs[i].kind == kCommit && begin < i) {
      committed->push_back({owner, std::vector<Rec>(recs.begin() + static_cast<ptrdiff_t>(begin),
                                                    recs.begin() + static_cast<ptrdiff_t>(i))});
      begin = recs.size();
    }
  }
  if (begin < recs.size()) *open = {owner, std::vector<Rec>(recs.begin() + static_cast<ptrdiff_t>(begin), recs.end())};
  return !failed;
}

// ------------------------------------------------------------ verification

int64_t ReadCounter(ZorBFile* f) {
  ZorHandle h;
  f->BReadCopy(1, &h);
  return h.GetSize() == 8 ? static_cast<int64_t>(GetLE64(static_cast<const uint8_t*>(h.GetDatas()))) : -1;
}

void CompareBlocks(ZorBFile* f, int32_t workers, const Model& m, sZorBfStressResult* res) {
  const int32_t count = f->GetNbBlock(nullptr, nullptr);
  for (int32_t id = 2; id <= count; ++id) {
    int32_t owner = 0;
    int16_t type = 0;
    if (!f->GetBlockInfo(id, &owner, &type, nullptr, nullptr, nullptr)) continue;
    if (m.blocks.count(id) == 0) {
      if (type == kTaggedType || (owner >= 1 && owner <= workers)) ++res->blocksExtra;
      continue;
    }
    const Expected& e = m.blocks.at(id);
    ZorHandle h;
    f->BReadCopy(id, &h);
    if (owner == e.owner && type == kTaggedType && HasPattern(h, e.owner, e.v, e.size))
      ++res->blocksVerified;
    else
      ++res->blocksDamaged;
  }
  for (const auto& [id, e] : m.blocks)
    if (id > count || !f->BExist(id, nullptr)) ++res->blocksMissing;
}

// The four checks; their report's text goes to checkText when they find faults.
void RunChecks(ZorBFile* f, sZorBfStressResult* res, string* checkText) {
  ZorVerif v;
  v.Init(false);
  f->CheckDir(&v);
  f->CheckBlockOwnerType(&v);
  f->CheckCrossBlock(&v);
  const int32_t others = v.GetNbFault();
  f->CheckLostSpace(&v);
  res->checkFaults = v.GetNbFault();
  res->lostSpaceFaults = res->checkFaults - others;
  if (res->checkFaults > 0) v.GetText(checkText);
}

// Whether the undecided transaction of a killed worker is in the file: a
// block it created or rewrote holds its bytes (only its owner, dead now,
// ever changes it). When it deleted everything it wrote, the counter
// decides: the value it read is below the counter and nobody else's.
bool Landed(ZorBFile* f, const Txn& u, int64_t counter, std::set<int64_t>* values) {
  std::map<int32_t, const Rec*> last;
  for (const Rec& r : u.recs)
    if (r.kind == kCreated || r.kind == kRewritten || r.kind == kDeleted) last[r.id] = &r;
  for (const auto& [id, r] : last) {
    if (r->kind == kDeleted) continue;
    int32_t owner = 0;
    int16_t type = 0;
    if (!f->GetBlockInfo(id, &owner, &type, nullptr, nullptr, nullptr)) return false;
    ZorHandle h;
    f->BReadCopy(id, &h);
    return owner == u.owner && type == kTaggedType && HasPattern(h, u.owner, r->v, r->size);
  }
  const int64_t v = u.recs.front().v;
  return v < counter && values->insert(v).second;
}

bool IsSerialised(std::vector<int64_t> values, int64_t counter) {
  std::sort(values.begin(), values.end());
  if (static_cast<int64_t>(values.size()) != counter) return false;
  for (size_t i = 0; i < values.size(); ++i)
    if (values[i] != static_cast<int64_t>(i)) return false;
  return true;
}

void Verify(const ZorFsa* path, const sZorBfStressOptions& opt, std::vector<Child>& children,
            sZorBfStressResult* res, string* checkText) {
  std::vector<Txn> committed, undecided;
  for (size_t i = 0; i < children.size(); ++i) {
    Txn open{0, {}};
    const bool ok = Split(static_cast<int32_t>(i + 1), children[i].recs, &committed, &open);
    const bool killed = (children[i].killed || static_cast<int32_t>(i + 1) == opt.killProcess) &&
                        WIFSIGNALED(children[i].status) && WTERMSIG(children[i].status) == SIGKILL;
    res->killed += killed;
    if (!killed && (!ok || !WIFEXITED(children[i].status) || WEXITSTATUS(children[i].status) != 0 ||
                    !open.recs.empty()))
      ++res->failedProcesses;
    if (killed && !open.recs.empty()) undecided.push_back(std::move(open));
  }
  res->undecided = static_cast<int32_t>(undecided.size());

  ZorBFile f;
  f.Open(path, ZorPermReadWrite, ZorShareReadWrite, 0, -1, kFileType, kSignature);
  f.StartTransaction();
  res->counter = ReadCounter(&f);
  std::set<int64_t> values;
  for (const Txn& t : committed) values.insert(t.recs.front().v);
  for (Txn& u : undecided)
    if (Landed(&f, u, res->counter, &values)) committed.push_back(std::move(u));
  std::sort(committed.begin(), committed.end(),
            [](const Txn& a, const Txn& b) { return a.recs.front().v < b.recs.front().v; });
  Model m;
  for (const Txn& t : committed) Apply(t, &m);
  res->committed = static_cast<int64_t>(m.values.size());
  res->mismatchesSeen = m.mismatches;
  res->serialised = IsSerialised(m.values, res->counter);
  CompareBlocks(&f, static_cast<int32_t>(children.size()), m, res);
  f.EndTransaction();
  RunChecks(&f, res, checkText);
  f.Close(ZorBfCloseNormal);
}

// ------------------------------------------------------------ report

void Line(ZorVerif* report, bool fault, int32_t id, ...) {
  string text;
  va_list args;
  va_start(args, id);
  string pattern;
  texts::Load(1, kMessageGroup, id, &pattern);
  ZorFormStringV(&text, pattern.CStr(), args);
  va_end(args);
  report->AddItem(fault ? kZorVerifError : kZorVerifNote, text.CStr());
}

void Report(ZorVerif* report, const ZorFsa* path, const sZorBfStressOptions& opt, const sZorBfStressResult& r,
            const string& checkText) {
  string name;
  report->AddSectionMsg(1, kMessageGroup, 1, path->GetSysPath(&name), opt.processes, opt.transactions);
  Line(report, r.counter != r.committed, 2, &r.counter, &r.committed, r.undecided);
  Line(report, !r.serialised, r.serialised ? 3 : 4);
  Line(report, r.blocksMissing + r.blocksDamaged + r.blocksExtra > 0, 5, r.blocksVerified, r.blocksMissing,
       r.blocksDamaged, r.blocksExtra);
  Line(report, r.mismatchesSeen > 0, 6, r.mismatchesSeen);
  Line(report, r.failedProcesses > 0, 7, r.failedProcesses);
  Line(report, r.checkFaults > 0, 8, r.checkFaults);
  if (r.checkFaults > 0) report->AddComment(checkText.CStr());
  char seconds[32], rate[32];
  snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  snprintf(rate, sizeof rate, "%.0f", r.seconds > 0 ? static_cast<double>(r.committed) / r.seconds : 0.0);
  Line(report, false, 9, seconds, rate);
  Line(report, r.discrepancies > 0, r.discrepancies ? 11 : 10, r.discrepancies);
}

}  // namespace

bool ZorBfStress(const ZorFsa* path, const sZorBfStressOptions* options, sZorBfStressResult* result,
                 ZorVerif* report) {
  const sZorBfStressOptions opt = options ? *options : sZorBfStressOptions();
  sZorBfStressResult local;
  sZorBfStressResult* res = result ? result : &local;
  *res = sZorBfStressResult();
  const bool wasForced = ZorGetForceDistant();
  if (opt.forceDistant) ZorSetForceDistant(true);
  struct Restore {
    bool forced;
    ~Restore() { ZorSetForceDistant(forced); }
  } restore{wasForced};

  CreateFile(path);
  std::vector<Child> children(static_cast<size_t>(std::max(opt.processes, 0)));
  const auto start = std::chrono::steady_clock::now();
  Spawn(path, opt, &children);
  Collect(path, opt, &children);
  res->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  string checkText;
  Verify(path, opt, children, res, &checkText);
  res->discrepancies = (res->counter != res->committed) + !res->serialised + res->blocksMissing +
                       res->blocksDamaged + res->blocksExtra + res->mismatchesSeen + res->failedProcesses +
                       res->checkFaults;
  if (report) Report(report, path, opt, *res, checkText);
  return res->discrepancies == 0;
}

}  // namespace zorvane
