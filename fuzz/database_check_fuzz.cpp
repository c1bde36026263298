// A database file whose blocks hold arbitrary bytes: table descriptions,
// directories, records, indexes, blobs, the enumeration catalogue and the
// enumerations. A database with a sequential-index table, a small table
// and two enumerations is built once; each input patches any of its blocks
// (fuzz/block_patch.h), then the database is opened as the tool opens a
// damaged file, listed, asked for variable precisions, verified by every
// step, repaired by every step, and verified again: only library errors may
// come out, no crash, leak or endless loop.
#include <zorvane/zorvane.h>

#include "fuzz/block_patch.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace zorvane;

namespace {

constexpr int32_t kSig = 0x5E11;

int64_t Tid(int32_t table) { return (int64_t{1} << 32) | (int64_t{table} << 16); }

std::string ScratchPath(const char* name) {
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(dir) + "/zor_dbfuzz_" + std::to_string(getpid()) + "_" + name;
}

void MakeDesc(ZorTableDesc* d, int64_t tid, bool small) {
  d->Create(kZorTblTypeStd, 0);
  d->SetTId(tid, false);
  d->SetName(small ? "Small" : "Seq");
  d->SetStorage(kZorTblStorDoc);
  d->SetFlags(small ? kZorTblTfSmall : 0);
  d->AddField("Id", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0);
  d->AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, 10, kZorTblFfValid, 0, 0);
  d->AddField("Photo", kZorPhysTypeBlobRef, kZorLogTypePict, true, 0, kZorTblFfValid, 0, 0);
  d->AddField("Note", kZorPhysTypeAnsiString, kZorLogTypeText, true, 40, kZorTblFfValid | kZorTblFfDyna, 0, 0);
  const int32_t amount = d->AddField("Amount", kZorPhysTypeDecimal, kZorLogTypeDec2, true, 0, kZorTblFfValid, 0, 0);
  d->SetFieldVPrec(amount, 3);
  d->SetSubIndex(d->AddIndex(0), 1, 1, 0);
  d->SetSubIndex(d->AddIndex(0), 1, 2, 0);
  const int32_t dataMax = 3;
  d->GetMaxData(&dataMax);
  d->Validate();
}

void Fill(ZorDBase* db, int64_t tid) {
  ZorTable t;
  t.Open(db, tid);
  for (int32_t i = 1; i <= 12; ++i) {
    t.Raz();
    t.SetValLong(1, i);
    t.SetValStr(2, ("N" + std::to_string(i)).c_str());
    ZorHandle photo;
    photo.Init("photo", 5);
    if (i % 4 == 0) t.SetValHandle(3, &photo);
    if (i % 3 == 0) t.SetValStr(4, "note");
    t.Write();
  }
  if (t.First()) t.Delete();
}

// The database's bytes, built once.
const std::string& BaseImage() {
  static const std::string image = [] {
    const std::string file = ScratchPath("base.zdb");
    const ZorFsa path(file.c_str());
    ZorDBFile db;
    db.CreateBase(&path, kSig, true);
    db.OpenBase(&path, kSig, 0);
    for (const bool small : {false, true}) {
      ZorTableDesc desc;
      MakeDesc(&desc, Tid(small ? 2 : 1), small);
      db.CreateTable(desc.GetHandle());
      Fill(&db, Tid(small ? 2 : 1));
    }
    for (const int32_t n : {7, 8}) {
      ZorTableDesc e;
      e.Create(kZorTblTypeEnum, Tid(n));
      e.AddField("Code", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0);
      e.Validate();
      db.CreateEnum(e.GetHandle());
    }
    db.CloseBase(ZorBfCloseNormal);
    std::ostringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    unlink(file.c_str());
    return bytes.str();
  }();
  return image;
}

template <typename F>
void Try(F f) {
  try {
    f();
  } catch (const ZorEBasic&) {
  }
}

void Verify(ZorDBFile* db, bool repair) {
  ZorVerif report;
  report.Init(repair, 5);
  for (const int32_t step : {0x10, 0x11, 0x12, 0x13, 0x14, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26}) {
    Try([&] { db->RunDut(step, 0, &report, 0, nullptr); });
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  static const std::string file = [] {
    std::atexit([] { unlink(ScratchPath("case.zdb").c_str()); });
    return ScratchPath("case.zdb");
  }();
  std::ofstream(file, std::ios::binary | std::ios::trunc) << BaseImage();
  const ZorFsa path(file.c_str());
  {
    ZorBFile f;
    f.Open(&path, ZorPermReadWrite, ZorShareExclusive, 0, 16, -1, -1);
    std::vector<int32_t> ids;
    for (int32_t id = 1; id <= f.GetDirCount(); ++id) {
      if (f.BExist(id, nullptr)) ids.push_back(id);
    }
    fuzz_support::PatchBlocks(&f, ids, data, size);
    f.Close(ZorBfCloseNormal);
  }
  ZorDBFile db;
  Try([&] { db.OpenBase(&path, kSig, kZorDbOpenRepair); });
  if (db.IsOpen()) {
    ZorTable list;
    Try([&] { db.GetTableList(&list); });
    Try([&] { db.GetEnumList(&list); });
    for (const int32_t n : {7, 8, 9}) {
      ZorHandle h;
      Try([&] { db.GetEnumHandle(Tid(n), &h); });
    }
    eZorLogType type;
    Try([&] { db.GetVPrec(3, &type); });
    Verify(&db, false);
    Verify(&db, true);
    Verify(&db, false);
    Try([&] { db.CloseBase(ZorBfCloseNormal); });
  }
  return 0;
}
