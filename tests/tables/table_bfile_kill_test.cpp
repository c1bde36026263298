// kill -9 of a process writing tables kept in a block file.
//
// A forked writer opens a copy-on-write block file holding two tables: a
// SeqIx table with three unique indexes (id, a text name, value + id), a
// small "Data max" and a small leaf budget, so that data blocks fill and
// leaves split all the time, and a Small table with two. Records carry a
// note in their dynamic part. The writer commits generation after
// generation: each transaction writes, updates (changing keys) and deletes
// a seeded random set of records of both, with writes refused for a
// duplicate key among them, and only after the transaction ended reports
// "committed g" through a pipe. The parent kills it at a random moment,
// reopens the file and requires: the block file's checks and both stores'
// Verify are clean, and both tables hold, read in each index's order and in
// storage order, the model state of the last reported generation or of the
// next one.
//
// The writer is forked from the parent and starts from the parent's model;
// both draw a generation's changes from the same seeded generator.
#include <gtest/gtest.h>
#include <zorvane/zorvane.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/killed_writer.h"
#include "support/table_bfile_kit.h"
#include "support/temp_files.h"
#include "tables/store/store_bfile_internal.h"

using namespace zorvane;

namespace {

constexpr int32_t kFileType = 31, kSignature = 0x7B11;
constexpr int32_t kDataMax = 8, kLeafBudget = 200;  // 8 records a data block, 10 to 16 entries a leaf
constexpr size_t kTarget[2] = {150, 30};              // the sizes the SeqIx and Small tables hover around

struct Rec {
  int32_t id;
  std::string name;
  int32_t val;
  std::string note;  // the dynamic part, when not empty
  bool operator==(const Rec&) const = default;
};

// Per table (0 SeqIx, 1 Small), the records in storage order (SeqIx: in any
// order; a Small table moves the records after a deleted one up).
struct Model {
  std::vector<Rec> recs[2];
  int32_t nextId = 1;
};

int64_t TableId(int which) { return zortest::TableIdOf(1 + which); }

// Fields: id (Long), name (text), value (Long), note (dynamic). Indexes: id,
// name, and for SeqIx value + id.
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
  d->GetMaxData(&kDataMax);
  d->Validate();
}

void Put(ZorTable* t, const Rec& r) {
  t->SetValLong(1, r.id);
  t->SetValStr(2, r.name.c_str());
  t->SetValLong(3, r.val);
  t->SetValStr(4, r.note.c_str());
}

Rec Get(ZorTable* t) {
  string s, n;
  return Rec{t->GetValLong(1), t->GetValStr(2, &s), t->GetValLong(3), t->GetValStr(4, &n)};
}

// Random letters, then the id in five letters: unique, in no particular order.
std::string NameFor(std::mt19937* rng, int32_t id) {
  std::string n(1 + (*rng)() % 6, 'A');
  for (char& c : n) c = static_cast<char>('A' + (*rng)() % 26);
  for (int k = 0; k < 5; ++k, id /= 26) n += static_cast<char>('A' + id % 26);
  return n;
}

uint32_t g_seed = 1;

// Draws generation g's changes from the model and applies them to it, and
// to the tables when given.
void Step(Model* m, int32_t g, ZorTable* const* tables) {
  std::mt19937 rng(g_seed * 7919u + static_cast<uint32_t>(g));
  for (int k = 0, ops = 1 + static_cast<int>(rng() % 12); k < ops; ++k) {
    const int which = rng() % 4 == 0 ? 1 : 0;
    std::vector<Rec>& recs = m->recs[which];
    ZorTable* t = tables ? tables[which] : nullptr;
    const uint32_t r = rng() % 10;
    Rec rec{m->nextId++, "", static_cast<int32_t>(rng() % 2001) - 1000, ""};
    rec.name = NameFor(&rng, rec.id);
    if (rng() % 2) rec.note = "note " + std::to_string(rng() % 1000000);
    if (recs.empty() || r < (recs.size() < kTarget[which] ? 6u : 2u)) {
      recs.push_back(rec);
      if (t) t->Raz(), Put(t, rec), t->Write();
      continue;
    }
    const size_t at = rng() % recs.size();
    if (t) {
      t->Raz();
      t->SetValLong(1, recs[at].id);
      if (!t->Read(kZorTblFindEqual, 1)) throw std::runtime_error("record " + std::to_string(recs[at].id) + " lost");
    }
    if (r == 9) {  // a duplicate name: refused before anything is written
      rec.name = recs[at].name;
      if (t) {
        try {
          t->Raz(), Put(t, rec), t->Write();
        } catch (const ZorEBasic& e) {
          if (e.GetError() == ZorErr(1, 48)) continue;
        }
        throw std::runtime_error("a duplicate name was not refused with 48");
      }
    } else if (r < 7) {  // an update: new keys, the same id half of the time
      if (rng() % 2) rec.id = recs[at].id;
      recs[at] = rec;
      if (t) Put(t, rec), t->UpDate();
    } else {
      recs.erase(recs.begin() + static_cast<long>(at));
      if (t) t->Delete();
    }
  }
}

// The writer: runs until killed; exits with 3 on an error.
[[noreturn]] void Writer(const ZorFsa& fsa, int fd, Model m, int32_t start, int32_t flags) {
  try {
    ZorBFile f;
    f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, flags, 16, kFileType, kSignature);
    zortest::BFileTables base(&f);
    ZorTable seq, small;
    seq.Open(&base, TableId(0));
    small.Open(&base, TableId(1));
    ZorTable* const tables[2] = {&seq, &small};
    zortest::ReportToParent(fd, zortest::kOpened);
    for (int32_t g = start + 1;; ++g) {
      f.StartTransaction();
      Step(&m, g, tables);
      f.EndTransaction();
      zortest::ReportToParent(fd, g);
    }
  } catch (const std::exception& e) {
    fprintf(stderr, "writer: %s\n", e.what());
  }
  _exit(3);
}

std::string Faults(const char* what, const std::function<bool(ZorVerif*)>& check) {
  ZorVerif v;
  v.Init(false, 0);
  check(&v);
  string s;
  return v.GetNbFault() ? std::string(what) + ": " + v.GetText(&s) + "\n" : "";
}

std::string Show(const std::vector<Rec>& v) {
  std::string s;
  for (const Rec& r : v) s += " " + std::to_string(r.id) + ":" + r.name + ":" + std::to_string(r.val) + ":" + r.note;
  return s;
}

// What differs between a table read in every order and the model's
// records (storage order compared as a set when anyOrder).
std::string Diff(ZorTable* t, std::vector<Rec> want, bool anyOrder) {
  std::string why;
  if (t->GetNbRecord() != static_cast<int32_t>(want.size())) why += " count " + std::to_string(t->GetNbRecord());
  for (int32_t index = 0; index <= t->GetNbIndex(); ++index) {
    std::vector<Rec> got;
    t->SetCurIndex(index);
    for (bool ok = t->First(); ok && got.size() <= want.size(); ok = t->Next()) got.push_back(Get(t));
    std::map<int32_t, std::string> key;  // by id: the record's key on this index
    for (const Rec& r : want) {
      if (!index) break;
      std::string& k = key[r.id];
      k.resize(static_cast<size_t>(t->GetKeyLen(index)));
      t->Raz(), Put(t, r), t->BuildKey(index, nullptr, k.data());
    }
    const auto less = [&](const Rec& a, const Rec& b) {
      return index ? ZorCompIndex(key[a.id].data(), key[b.id].data(), t->GetKeyLen(index)) < 0 : a.id < b.id;
    };
    if (index || anyOrder) std::sort(want.begin(), want.end(), less);
    if (index == 0 && anyOrder) std::sort(got.begin(), got.end(), less);
    if (got != want) why += "\n index " + std::to_string(index) + " holds" + Show(got) + "\n expected" + Show(want);
  }
  return why;
}

std::string DiffBoth(ZorTable* const* tables, const Model& m) {
  std::string why;
  for (int which = 0; which < 2; ++which) {
    const std::string d = Diff(tables[which], m.recs[which], which == 0);
    if (!d.empty()) why += (which ? "Small:" : "SeqIx:") + d + "\n";
  }
  return why;
}

struct Tally {
  int kills = 0, generations = 0, ahead = 0;
};

void RunKills(int rounds, uint32_t seed, Tally* tally) {
  g_seed = seed;
  tbf::gLeafBudget = kLeafBudget;  // the forked writers inherit it
  zortest::TempDir dir;
  const ZorFsa fsa = dir.Fsa("tables.zbf");
  ZorBFile::Create(&fsa, kFileType, kSignature, "tables", ZorFsaCreateAlways);
  {
    ZorBFile f;
    f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, 0, 16, kFileType, kSignature);
    zortest::BFileTables base(&f);
    for (int which = 0; which < 2; ++which) {
      ZorTableDesc desc;
      MakeDesc(&desc, which == 1);
      base.CreateTable(&desc, TableId(which));
    }
    f.Close(ZorBfCloseNormal);
  }
  std::mt19937 rng(seed);
  Model model;
  for (int round = 0; round < rounds; ++round) {
    const int32_t flags = ZorBfOpenCopyOnWrite | (rng() % 4 ? ZorBfOpenNoFlush : 0);
    const int delay = static_cast<int>(rng() % 150000);
    const zortest::KilledRound r = zortest::KillWriter(tally->generations, delay, false,
                                                       [&](int fd) { Writer(fsa, fd, model, tally->generations, flags); });
    ASSERT_FALSE(r.exitedByItself) << "the writer failed (round " << round << ")";
    const int32_t reported = r.lastReported;
    ++tally->kills;
    // The file holds the last reported generation, or the next one when the
    // kill came between its commit and its report.
    for (; tally->generations < reported; ++tally->generations) Step(&model, tally->generations + 1, nullptr);
    Model next = model;
    Step(&next, tally->generations + 1, nullptr);

    ZorBFile f;
    f.Open(&fsa, ZorPermReadWrite, ZorShareExclusive, ZorBfOpenNoFlush, 16, kFileType, kSignature);
    std::string why = Faults("CheckDir", [&](ZorVerif* v) { return f.CheckDir(v); }) +
                      Faults("CheckCrossBlock", [&](ZorVerif* v) { return f.CheckCrossBlock(v); });
    zortest::BFileTables base(&f);
    ZorTable seq, small;
    seq.Open(&base, TableId(0));
    small.Open(&base, TableId(1));
    ZorTable* const tables[2] = {&seq, &small};
    for (ZorTable* t : tables)
      why += Faults("Verify", [&](ZorVerif* v) { return dynamic_cast<ZorTSBFile&>(*t->GetStocker()).Verify(t, v); });
    const std::string atLast = DiffBoth(tables, model);
    const std::string atNext = atLast.empty() ? "" : DiffBoth(tables, next);
    if (!atLast.empty() && atNext.empty()) model = next, ++tally->generations, ++tally->ahead;
    EXPECT_TRUE(atLast.empty() || atNext.empty()) << "neither generation " << tally->generations
                                                  << " nor the next:\n" << atLast << "against the next:\n" << atNext;
    EXPECT_EQ(why, "");
    if (::testing::Test::HasFailure()) {
      printf("seed %u round %d flags %#x delay %d us\n", seed, round, flags, delay);
      return;
    }
  }
}

}  // namespace

// scripts/table_crash_runs multiplies the rounds (ZOR_CRASH_SCALE) and
// takes a seed of its own.
TEST(TableBFileKill, BothStoresKeepOneCommittedGenerationOfEveryIndex) {
  Tally t;
  const auto start = std::chrono::steady_clock::now();
  RunKills(120 * zortest::CrashScale(), 20260117 + static_cast<uint32_t>(zortest::CrashScale()), &t);
  printf("[ kill ] tables: %d kills, %d generations committed, %d states one generation ahead of the report, %.1f s\n",
         t.kills, t.generations, t.ahead,
         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}
