// kill -9 of a process writing tables kept in a block file.
//
// A forked writer opens a copy-on-write block file holding two tables: a
// SeqIx table with three unique indexes (id, a text name, value + id), a
// small "Data max" and a small leaf budget, so that data blocks fill and
// leaves split all the time, and a Small table with two. It commits generation after generation: each transaction
// writes, updates (changing keys) and deletes a seeded random set of records
// of both, and only after the transaction ended reports "committed g"
// through a pipe. The parent kills it at a random moment, reopens the file
// and requires: the block file's checks and both stores' Verify are clean,
// and both tables hold, read in each index's order and in storage order, the
// model state of the last reported generation or of the next one.
//
// The writer is forked from the parent and starts from the parent's model;
// both draw a generation's changes from the same seeded generator.
#include <gtest/gtest.h>
#include <zorvane/zorvane.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/table_bfile_kit.h"
#include "tables/store/store_bfile_internal.h"
#include "support/temp_files.h"

using namespace zorvane;

namespace {

constexpr int32_t kFileType = 31, kSignature = 0x7B11;
constexpr int32_t kSeqTable = 1, kSmallTable = 2;
constexpr int32_t kDataMax = 8;
constexpr int32_t kLeafBudget = 200;  // 10 to 16 entries a leaf
constexpr size_t kSeqTarget = 150, kSmallTarget = 30;  // sizes the tables hover around
constexpr int32_t kOpened = -1;

struct Rec {
  int32_t id;
  std::string name;
  int32_t val;
  std::string note;  // the dynamic part, when not empty
  bool operator==(const Rec&) const = default;
};

struct Model {
  std::map<int32_t, Rec> seq;  // by id
  std::vector<Rec> small;      // storage order: a deletion moves the later records up
  int32_t nextId = 1;
};

// Fields: 1 id (Long), 2 name (text), 3 value (Long), 4 a note kept in the
// dynamic part. Indexes: id, name, and for SeqIx value + id.
void MakeDesc(ZorTableDesc* d, bool small) {
  d->Create(kZorTblTypeStd, 0);
  d->AddField("Id", kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, 0);
  d->AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, 12, 0, 0, 0);
  d->AddField("Val", kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, 0);
  d->AddField("Note", kZorPhysTypeAnsiString, kZorLogTypeText, true, 30, kZorTblFfDyna, 0, 0);
  d->Validate();
  d->SetSubIndex(d->AddIndex(0), 1, 1, 0);
  d->SetSubIndex(d->AddIndex(0), 1, 2, 0);
  if (!small) {
    const int32_t ix = d->AddIndex(0);
    d->SetSubIndex(ix, 1, 3, 0);
    d->SetSubIndex(ix, 2, 1, 0);
  }
  d->SetDefIndex(1);
  if (small) d->SetFlags(d->GetFlags() | kZorTblTfSmall);
  const int32_t dataMax = kDataMax;
  d->GetMaxData(&dataMax);
  d->Validate();
}

void Put(ZorTable* t, const Rec& r) {
  t->Raz();
  t->SetValLong(1, r.id);
  t->SetValStr(2, r.name.c_str());
  t->SetValLong(3, r.val);
  t->SetValStr(4, r.note.c_str());
}

Rec Get(ZorTable* t) {
  string s, n;
  return Rec{t->GetValLong(1), t->GetValStr(2, &s), t->GetValLong(3), t->GetValStr(4, &n)};
}

// Reads the record with this id into the buffer (it must exist).
void Find(ZorTable* t, int32_t id) {
  t->Raz();
  t->SetValLong(1, id);
  if (!t->Read(kZorTblFindEqual, 1)) throw std::runtime_error("record " + std::to_string(id) + " not found");
}

// A name of capital letters no record of the table has.
template <typename Taken>
std::string NewName(std::mt19937* rng, const Taken& taken) {
  for (;;) {
    std::string n(1 + (*rng)() % 10, 'A');
    for (char& c : n) c = static_cast<char>('A' + (*rng)() % 26);
    if (!taken(n)) return n;
  }
}

uint32_t g_seed = 1;

// Draws generation g's changes from the model and applies them to it, and
// to the tables when given.
void Step(Model* m, int32_t g, ZorTable* seq, ZorTable* small) {
  std::mt19937 rng(g_seed * 7919u + static_cast<uint32_t>(g));
  const int ops = 1 + static_cast<int>(rng() % 12);
  for (int k = 0; k < ops; ++k) {
    const bool toSmall = rng() % 4 == 0;
    const size_t size = toSmall ? m->small.size() : m->seq.size();
    const size_t target = toSmall ? kSmallTarget : kSeqTarget;
    const uint32_t r = rng() % 10;
    const auto taken = [&](const std::string& n) {
      if (toSmall) return std::any_of(m->small.begin(), m->small.end(), [&](const Rec& x) { return x.name == n; });
      return std::any_of(m->seq.begin(), m->seq.end(), [&](const auto& x) { return x.second.name == n; });
    };
    ZorTable* t = toSmall ? small : seq;
    Rec rec{m->nextId, NewName(&rng, taken), static_cast<int32_t>(rng() % 2001) - 1000};
    if (rng() % 2) rec.note = "note " + std::to_string(rng() % 1000000);
    if (size == 0 || r < (size < target ? 6u : 3u)) {  // write
      ++m->nextId;
      if (toSmall) m->small.push_back(rec);
      else m->seq[rec.id] = rec;
      if (t) {
        Put(t, rec);
        t->Write();
      }
      continue;
    }
    const size_t at = rng() % size;
    const int32_t old = toSmall ? m->small[at].id : std::next(m->seq.begin(), static_cast<long>(at))->first;
    if (t) Find(t, old);
    if (r < 7) {  // update, with a new id half of the time
      if (rng() % 2) ++m->nextId;
      else rec.id = old;
      if (toSmall) m->small[at] = rec;
      else m->seq.erase(old), m->seq[rec.id] = rec;
      if (t) {
        t->SetValLong(1, rec.id);
        t->SetValStr(2, rec.name.c_str());
        t->SetValLong(3, rec.val);
        t->SetValStr(4, rec.note.c_str());
        t->UpDate();
      }
    } else {
      if (toSmall) m->small.erase(m->small.begin() + static_cast<long>(at));
      else m->seq.erase(old);
      if (t) t->Delete();
    }
  }
}

void Send(int fd, int32_t value) {
  if (write(fd, &value, sizeof value) != sizeof value) _exit(4);
}

// The writer: runs until killed; exits with 3 on an error.
[[noreturn]] void Writer(const std::string& path, int fd, Model m, int32_t start, int32_t flags) {
  try {
    const ZorFsa fsa(path.c_str());
    ZorBFile f;
    f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, flags, 16, kFileType, kSignature);
    zortest::BFileTables base(&f);
    ZorTable seq, small;
    seq.Open(&base, zortest::TableIdOf(kSeqTable));
    small.Open(&base, zortest::TableIdOf(kSmallTable));
    Send(fd, kOpened);
    for (int32_t g = start + 1;; ++g) {
      f.StartTransaction();
      Step(&m, g, &seq, &small);
      f.EndTransaction();
      Send(fd, g);
    }
  } catch (const ZorException& e) {
    string s;
    fprintf(stderr, "writer: %s\n", e.GetFullText(&s, true));
  } catch (const std::exception& e) {
    fprintf(stderr, "writer: %s\n", e.what());
  }
  _exit(3);
}

struct Round {
  int32_t lastReported;
  bool exitedByItself = false;
};

Round KillWriter(const std::string& path, const Model& m, int32_t start, int32_t flags, int delayUs) {
  Round r{start};
  int fds[2];
  if (pipe(fds) != 0) return r;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Writer(path, fds[1], m, start, flags);
  }
  close(fds[1]);
  int32_t v;
  if (read(fds[0], &v, sizeof v) == sizeof v && v != kOpened) r.lastReported = v;
  std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitedByItself = !WIFSIGNALED(status);
  while (read(fds[0], &v, sizeof v) == sizeof v)
    if (v != kOpened) r.lastReported = v;
  close(fds[0]);
  return r;
}

std::string Faults(const char* what, const std::function<bool(ZorVerif*)>& check) {
  ZorVerif v;
  v.Init(false, 0);
  check(&v);
  if (!v.GetNbFault()) return "";
  string s;
  return std::string(what) + ": " + v.GetText(&s) + "\n";
}

std::string KeyOf(ZorTable* t, int32_t index, const Rec& r) {
  Put(t, r);
  std::string k(static_cast<size_t>(t->GetKeyLen(index)), '\0');
  t->BuildKey(index, nullptr, k.data());
  return k;
}

std::string Show(const std::vector<Rec>& v) {
  std::string s;
  for (const Rec& r : v) s += " " + std::to_string(r.id) + ":" + r.name + ":" + std::to_string(r.val) + ":" + r.note;
  return s;
}

// What differs between a table read in every order and the model's
// records (storage order: as given when inStorageOrder, else any).
std::string Diff(ZorTable* t, std::vector<Rec> want, bool inStorageOrder) {
  std::string why;
  if (t->GetNbRecord() != static_cast<int32_t>(want.size()))
    why += " count " + std::to_string(t->GetNbRecord()) + " for " + std::to_string(want.size());
  const auto byId = [](const Rec& a, const Rec& b) { return a.id < b.id; };
  for (int32_t index = 0; index <= t->GetNbIndex(); ++index) {
    std::vector<Rec> got;
    t->SetCurIndex(index);
    for (bool ok = t->First(); ok && got.size() <= want.size(); ok = t->Next()) got.push_back(Get(t));
    if (index == 0 && !inStorageOrder) std::sort(got.begin(), got.end(), byId), std::sort(want.begin(), want.end(), byId);
    if (index > 0) {
      std::map<int32_t, std::string> key;
      for (const Rec& r : want) key[r.id] = KeyOf(t, index, r);
      std::sort(want.begin(), want.end(), [&](const Rec& a, const Rec& b) {
        return ZorCompIndex(key[a.id].data(), key[b.id].data(), t->GetKeyLen(index)) < 0;
      });
    }
    if (got != want) why += "\n index " + std::to_string(index) + " holds" + Show(got) + "\n expected" + Show(want);
  }
  return why;
}

std::string DiffBoth(ZorTable* seq, ZorTable* small, const Model& m) {
  std::vector<Rec> seqRecs;
  for (const auto& [id, r] : m.seq) seqRecs.push_back(r);
  const std::string a = Diff(seq, seqRecs, false), b = Diff(small, m.small, true);
  return (a.empty() ? "" : "SeqIx:" + a + "\n") + (b.empty() ? "" : "Small:" + b);
}

std::string VerifyStore(ZorTable* t) {
  auto* store = dynamic_cast<ZorTSBFile*>(t->GetStocker());
  if (!store) return "no block-file store\n";
  return Faults("Verify", [&](ZorVerif* v) { return store->Verify(t, v); });
}

struct Tally {
  int kills = 0, generations = 0, ahead = 0;
};

void RunKills(int rounds, uint32_t seed, Tally* tally) {
  g_seed = seed;
  tbf::gLeafBudget = kLeafBudget;  // the forked writers inherit it
  zortest::TempDir dir;
  const std::string path = dir.File("tables.zbf");
  const ZorFsa fsa(path.c_str());
  ZorBFile::Create(&fsa, kFileType, kSignature, "tables", ZorFsaCreateAlways);
  {
    ZorBFile f;
    f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, 0, 16, kFileType, kSignature);
    zortest::BFileTables base(&f);
    ZorTableDesc seq, small;
    MakeDesc(&seq, false);
    MakeDesc(&small, true);
    base.CreateTable(&seq, zortest::TableIdOf(kSeqTable));
    base.CreateTable(&small, zortest::TableIdOf(kSmallTable));
    f.Close(ZorBfCloseNormal);
  }
  std::mt19937 rng(seed);
  Model model;
  int32_t g = 0;
  for (int round = 0; round < rounds; ++round) {
    int32_t flags = ZorBfOpenCopyOnWrite | (rng() % 4 ? ZorBfOpenNoFlush : 0);
    const int delay = static_cast<int>(rng() % 150000);
    const Round r = KillWriter(path, model, g, flags, delay);
    ASSERT_FALSE(r.exitedByItself) << "the writer failed (round " << round << ")";
    ++tally->kills;
    // The states the file may hold: the last reported generation, or the
    // next one when the kill came between its commit and its report.
    for (; g < r.lastReported; ++g) Step(&model, g + 1, nullptr, nullptr);
    Model next = model;
    Step(&next, g + 1, nullptr, nullptr);

    ZorBFile f;
    f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, ZorBfOpenNoFlush, 16, kFileType, kSignature);
    std::string why = Faults("CheckDir", [&](ZorVerif* v) { return f.CheckDir(v); }) +
                      Faults("CheckCrossBlock", [&](ZorVerif* v) { return f.CheckCrossBlock(v); });
    zortest::BFileTables base(&f);
    ZorTable seq, small;
    seq.Open(&base, zortest::TableIdOf(kSeqTable));
    small.Open(&base, zortest::TableIdOf(kSmallTable));
    why += VerifyStore(&seq) + VerifyStore(&small);
    const std::string atLast = DiffBoth(&seq, &small, model);
    const std::string atNext = atLast.empty() ? "" : DiffBoth(&seq, &small, next);
    if (!atLast.empty() && atNext.empty()) {
      model = next;
      ++g;
      ++tally->ahead;
    }
    EXPECT_TRUE(atLast.empty() || atNext.empty())
        << "neither generation " << g << " nor the next:\n" << atLast << "\nagainst the next:\n" << atNext;
    EXPECT_EQ(why, "");
    tally->generations = g;
    if (::testing::Test::HasFailure()) {
      printf("seed %u round %d flags %#x delay %d us\n", seed, round, flags, delay);
      return;
    }
  }
}

int Scale() {
  const char* s = std::getenv("ZOR_CRASH_SCALE");
  return s && std::atoi(s) > 0 ? std::atoi(s) : 1;
}

}  // namespace

// scripts/table_crash_runs multiplies the rounds (ZOR_CRASH_SCALE).
TEST(TableBFileKill, BothStoresKeepOneCommittedGenerationOfEveryIndex) {
  Tally t;
  const auto start = std::chrono::steady_clock::now();
  RunKills(120 * Scale(), 20260117 + static_cast<uint32_t>(Scale()), &t);
  printf("[ kill ] tables: %d kills, %d generations committed, %d states one generation ahead of the report, %.1f s\n",
         t.kills, t.generations, t.ahead,
         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}
