// Tables kept in a block file whose blocks hold arbitrary bytes. A small
// in-memory file with a SeqIx table and a Small table (some records with
// dynamic parts, some deleted; small leaves and data blocks) is built
// once; each input then patches the tables' blocks (directory, data,
// leaves, dynamic parts, reusable-id list) through the block file, so the
// file itself stays sound and only the stores see garbage. Both tables are
// reopened and walked in every way (First/Next, Last/Prev, ReadN, positions
// and UDs, searches in each mode on every index), verified, and changed
// once each (write, update, delete): only library errors may come out, no
// crash, leak or endless loop.
//
// Input: the patches of fuzz/block_patch.h. Each table's links are then
// checked and repaired as a database's verification does.
#include <zorvane/zorvane.h>

#include "fuzz/block_patch.h"
#include "fuzz/mem_stream.h"
#include "tables/store/store_bfile_internal.h"
#include "tests/support/table_bfile_kit.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace zorvane;
using fuzz_support::MemStream;

namespace {

constexpr int32_t kSeqTable = 1, kSmallTable = 2, kSteps = 100;

void MakeDesc(ZorTableDesc* d, bool small) {
  d->Create(kZorTblTypeStd, 0);
  d->AddField("Id", kZorPhysTypeLong, kZorLogTypeInt, true, 0, 0, 0, 0);
  d->AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, 10, 0, 0, 0);
  d->AddField("Note", kZorPhysTypeAnsiString, kZorLogTypeText, true, 40, kZorTblFfDyna, 0, 0);
  d->Validate();
  d->SetSubIndex(d->AddIndex(0), 1, 1, 0);
  d->SetSubIndex(d->AddIndex(0), 1, 2, 0);
  d->SetDefIndex(1);
  if (small) d->SetFlags(d->GetFlags() | kZorTblTfSmall);
  const int32_t dataMax = 3;
  d->GetMaxData(&dataMax);
  d->Validate();
}

void Fill(ZorTable* t, int32_t records) {
  for (int32_t i = 1; i <= records; ++i) {
    t->Raz();
    t->SetValLong(1, i * 7 % 101);
    const std::string name(1 + i % 5, static_cast<char>('A' + i % 26));
    t->SetValStr(2, (name + std::to_string(i)).c_str());
    if (i % 3 == 0) t->SetValStr(3, "note");
    t->Write();
  }
  for (int32_t i = 2; i <= records; i += 5) {
    t->Raz();
    t->SetValLong(1, i * 7 % 101);
    if (t->Read(kZorTblFindEqual, 1)) t->Delete();
  }
}

// The file with both tables, built once.
const std::string& BaseImage() {
  static const std::string image = [] {
    tbf::gLeafBudget = 60;  // leaves of 5 to 6 entries
    MemStream stream("");
    ZorBFile::CreateOnStream(&stream, 31, 0x7B11, "fuzz");
    ZorBFile f;
    f.OpenOnStream(&stream, nullptr, 0, 16, -1, -1);
    zortest::BFileTables base(&f);
    for (const int32_t n : {kSeqTable, kSmallTable}) {
      ZorTableDesc desc;
      MakeDesc(&desc, n == kSmallTable);
      base.CreateTable(&desc, zortest::TableIdOf(n));
      ZorTable t;
      t.Open(&base, zortest::TableIdOf(n));
      Fill(&t, n == kSeqTable ? 24 : 8);
    }
    f.Close(ZorBfCloseNormal);
    return stream.Image();
  }();
  return image;
}

// The tables' blocks but their descriptions.
std::vector<int32_t> TableBlocks(ZorBFile* f) {
  std::vector<int32_t> ids;
  for (const int32_t n : {kSeqTable, kSmallTable}) {
    const int32_t owner = ZorTableOwner(zortest::TableIdOf(n));
    ZorBGet list(0, 4);
    list.Init();
    f->BGetID(owner, owner, 0, kZorTbBlkReuse, &list, 0, true);
    for (int32_t i = 1; i <= list.GetNbItem(); ++i) {
      int32_t id;
      int16_t type;
      list.Get(i, &id);
      if (f->GetBlockInfo(id, nullptr, &type, nullptr, nullptr, nullptr) && type != kZorTbBlkDesc) ids.push_back(id);
    }
  }
  return ids;
}

// Every way of reading, each loop capped.
void Walk(ZorTable* t) {
  for (int32_t index = 0; index <= t->GetNbIndex(); ++index) {
    t->SetCurIndex(index);
    int32_t steps = 0;
    for (bool ok = t->First(); ok && steps < kSteps; ok = t->Next()) ++steps;
    steps = 0;
    for (bool ok = t->Last(); ok && steps < kSteps; ok = t->Prev()) ++steps;
    const int32_t count = std::min(t->GetNbN(), kSteps / 4);
    for (int32_t n = 1; n <= count + 1; ++n) {
      t->ReadN(n, n % 2 == 0);
      t->GetNFromUD(t->GetUDFromN(n));
      if (t->ReadUD(t->GetCurUD())) t->IsDeleted();
    }
    if (index == 0) continue;
    for (const eZorTblFind mode : {kZorTblFindEqual, kZorTblFindGreater, kZorTblFindLess}) {
      t->Raz();
      t->SetValLong(1, 30);
      t->SetValStr(2, "CC");
      t->Read(mode, index);
    }
  }
  t->GetNbRecord();
  t->GetNbDelRec();
  t->Exist();
}

// Library errors are a fair answer to damaged blocks.
template <typename F>
void Try(F f) {
  try {
    f();
  } catch (const ZorEBasic&) {
  }
}

void Exercise(zortest::BFileTables* base, int32_t table) {
  ZorTable t;
  Try([&] { t.Open(base, zortest::TableIdOf(table)); });
  if (!t.IsInit()) return;
  Try([&] { Walk(&t); });
  ZorVerif report;
  report.Init(false, 0);
  Try([&] { dynamic_cast<ZorTSBFile&>(*t.GetStocker()).Verify(&t, &report); });
  for (const int32_t step : {kZorDutOrphanDyna, kZorDutRecordDyna, kZorDutOrphanBlobs, kZorDutDeleted}) {
    Try([&] { dynamic_cast<ZorTSBFile&>(*t.GetStocker()).CheckLinks(&t, step, &report, true); });
  }
  Try([&] { t.Raz(), t.SetValLong(1, 500), t.SetValStr(2, "NEW"), t.SetValStr(3, "dyna"), t.Write(); });
  Try([&] { if (t.First()) t.SetValStr(2, "UPD"), t.UpDate(); });
  Try([&] { if (t.Last()) t.Delete(); });
  Try([&] { Walk(&t); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  MemStream stream(BaseImage());
  ZorBFile f;
  f.OpenOnStream(&stream, nullptr, 0, 16, -1, -1);
  fuzz_support::PatchBlocks(&f, TableBlocks(&f), data, size);
  zortest::BFileTables base(&f);
  Exercise(&base, kSeqTable);
  Exercise(&base, kSmallTable);
  f.Close(ZorBfCloseAbandon);
  return 0;
}
