// A workspace resource of arbitrary bytes, over a database of customers and
// invoices linked by UD and by code. Each input becomes a workspace
// (ZorWs::InitFromData); when it is one, every field of every entry is
// named and resolved back, the main table is walked and every value read:
// only library errors may come out, no crash, leak or endless loop.
#include <zorvane/zorvane.h>

#include <unistd.h>

#include <string>

using namespace zorvane;

namespace {

constexpr int32_t kModule = 4400;
int64_t Tid(int32_t table) { return (int64_t{kModule} << 32) | (int64_t{table} << 16); }

void MakeTables(ZorDBase* db) {
  ZorTableDesc c, i;
  c.Create(kZorTblTypeStd, 0);
  c.SetTId(Tid(1), false);
  c.SetName("Customers");
  c.SetStorage(kZorTblStorDoc);
  c.SetSubIndex(c.AddIndex(0), 1, c.AddField("Code", kZorPhysTypeAnsiString, kZorLogTypeText, true, 8, kZorTblFfValid, 0, 0), 0);
  c.AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, 30, kZorTblFfValid, 0, 0);
  c.Validate();
  i.Create(kZorTblTypeStd, 0);
  i.SetTId(Tid(2), false);
  i.SetName("Invoices");
  i.SetStorage(kZorTblStorDoc);
  i.SetSubIndex(i.AddIndex(0), 1, i.AddField("Number", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0), 0);
  i.SetFieldLink(i.AddField("Customer", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0), Tid(1), 1);
  i.SetFieldLink(i.AddField("CustCode", kZorPhysTypeAnsiString, kZorLogTypeText, true, 8, kZorTblFfValid, 0, 0), Tid(1), 1);
  i.Validate();
  db->CreateTable(c.GetHandle());
  db->CreateTable(i.GetHandle());
  ZorTable ct, it;
  ct.Open(db, Tid(1));
  it.Open(db, Tid(2));
  for (int32_t n = 1; n <= 3; ++n) {
    const std::string code = "C" + std::to_string(n);
    ct.Raz();
    ct.SetValStr(1, code.c_str());
    ct.SetValStr(2, ("Name " + code).c_str());
    const uint32_t ud = ct.Write();
    it.Raz();
    it.SetValLong(1, n);
    it.SetValRef(2, n == 3 ? 99 : ud);  // invoice 3 points nowhere
    it.SetValStr(3, code.c_str());
    it.Write();
  }
}

ZorDBase* Base() {
  static ZorDBFile* db = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string file = std::string(dir) + "/zor_wsfuzz_" + std::to_string(getpid()) + ".zdb";
    const ZorFsa path(file.c_str());
    auto* base = new ZorDBFile;
    base->CreateBase(&path, 1, true);
    base->OpenBase(&path, 1, kZorDbOpenDelOnClose);
    MakeTables(base);
    return base;
  }();
  return db;
}

void Exercise(ZorWs* ws) {
  string name, value;
  for (int32_t n = 1; n <= ws->GetNbTable(); ++n) {
    ZorTable* table = ws->GetNTable(n);
    for (int32_t f = 1; f <= table->GetNbField() + 1; ++f) {
      const int64_t wsf = ws->GetWsf(table, f);
      if (ws->GetWsfName(wsf, &name, n % 2 == 0)) ws->NameToWsf(name.CStr(), false);
      ws->WsfIsSetOk(wsf);
      ws->GetParentWsf(wsf);
    }
  }
  for (bool ok = ws->First(); ok; ok = ws->Next())
    for (int32_t n = 1; n <= ws->GetNbTable(); ++n)
      for (int32_t f = 1; f <= 3; ++f) ws->GetValStrLog(ws->GetWsf(ws->GetNTable(n), f), &value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ZorDBase* db = Base();
  ZorHandle bytes;
  bytes.Init(data, static_cast<uint32_t>(size));
  ZorWs ws;
  try {
    ws.InitFromData(Tid(0) + 1, db, &bytes);
    Exercise(&ws);
  } catch (const ZorException&) {
  }
  return 0;
}
