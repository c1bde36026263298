// ZorWs: identifiers, linked entries that go stale and come back, names
// that read back, write permissions, the workspace resource, the module's
// handler and virtual fields.
#include <gtest/gtest.h>
#include <zorvane/zorvane.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_files.h"
#include "support/test_util.h"

namespace zorvane {
namespace {

constexpr int32_t kModule = 4400, kSig = 7;
int64_t Tid(int32_t module, int32_t table) { return (int64_t{module} << 32) | (int64_t{table} << 16); }
const int64_t kCustomers = Tid(kModule, 1), kInvoices = Tid(kModule, 2);
// Invoices' fields.
enum { kNumber = 1, kCustomer = 2, kCustCode = 3, kLocked = 4, kDay = 5 };

std::string Str(ZorWs& ws, int64_t wsf) {
  string s;
  return ws.GetValStr(wsf, &s);
}

// Customers (Code, Name) and invoices whose Customer field holds a
// customer's UD and whose CustCode holds a customer's code.
class InvoiceBase {
 public:
  InvoiceBase() {
    ZorTableDesc c, i;
    c.Create(kZorTblTypeStd, 0);
    c.SetTId(kCustomers, false);
    c.SetName("Customers");
    c.SetStorage(kZorTblStorDoc);
    c.SetSubIndex(c.AddIndex(0), 1, c.AddField("Code", kZorPhysTypeAnsiString, kZorLogTypeText, true, 8, kZorTblFfValid, 0, 0), 0);
    c.AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, 30, kZorTblFfValid, 0, 0);
    c.Validate();
    i.Create(kZorTblTypeStd, 0);
    i.SetTId(kInvoices, false);
    i.SetName("Factures");
    i.SetName("Invoices", ZorNameDev);
    i.SetStorage(kZorTblStorDoc);
    i.SetSubIndex(i.AddIndex(0), 1, i.AddField("Number", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0), 0);
    i.SetFieldLink(i.AddField("Customer", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0), kCustomers, 1);
    i.SetFieldLink(i.AddField("CustCode", kZorPhysTypeAnsiString, kZorLogTypeText, true, 8, kZorTblFfValid, 0, 0), kCustomers, 1);
    i.AddField("Locked", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid | kZorTblFfRdOnly, 0, 0);
    i.AddField("Day", kZorPhysTypeDate, kZorLogTypeDate, true, 0, kZorTblFfValid, 0, 0);
    i.Validate();
    path = ZorFsa(dir.File("ws.zdb").c_str());
    db.CreateBase(&path, kSig, false);
    db.OpenBase(&path, kSig, 0);
    db.CreateTable(c.GetHandle());
    db.CreateTable(i.GetHandle());
    ZorTable ct, it;
    ct.Open(&db, kCustomers);
    it.Open(&db, kInvoices);
    const char* names[] = {"Dupont", "L\xe9vy", "Martin"};
    for (int32_t n = 0; n < 3; ++n) {
      ct.Raz();
      ct.SetValStr(1, ("C" + std::to_string(n + 1)).c_str());
      ct.SetValStr(2, names[n]);
      uds.push_back(ct.Write());
    }
    // Invoice 4 has no customer.
    const int32_t customerOf[] = {-1, 0, 1, 2, -1};
    for (int32_t n = 1; n <= 4; ++n) {
      it.Raz();
      it.SetValLong(kNumber, n);
      date day;
      day.Set(n, 3, 2026);
      it.SetValDate(kDay, day);
      if (customerOf[n] >= 0) {
        it.SetValRef(kCustomer, uds[customerOf[n]]);
        it.SetValStr(kCustCode, ("C" + std::to_string(customerOf[n] + 1)).c_str());
      }
      it.Write();
    }
  }

  zortest::TempDir dir;
  ZorFsa path;
  ZorDBFile db;
  std::vector<uint32_t> uds;
};

TEST(WorkspaceIds, BitLayoutEntriesAndIdentifiersWithoutEntry) {
  ZorTableDesc d;
  d.Create(kZorTblTypeStd, 0);
  d.SetTId(Tid(7, 5), false);
  for (const char* name : {"A", "B", "C"}) d.AddField(name, kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0);
  d.AddField("Hidden", kZorPhysTypeLong, kZorLogTypeInt, false, 0, kZorTblFfValid, 0, 0);
  d.Validate();
  ZorTable t;
  t.Init(&d);
  ZorWs ws;
  ws.Init(Tid(9, 1), nullptr);
  EXPECT_EQ(ws.AddTable(0, &t), 1);
  EXPECT_EQ(ws.GetWsf(&t, 3), 7 * (int64_t{1} << 32) + 5 * 65536 + 3);
  // A second entry of the same table is entry number 1.
  EXPECT_EQ(ws.AddTable(0, &t), 2);
  sZorWsTable second;
  ASSERT_TRUE(ws.GetEntry(2, &second));
  EXPECT_EQ(second.entry, 1);
  EXPECT_EQ(ws.GetWsf(Tid(7, 5), 3), ws.GetWsf(&t, 3));
  EXPECT_TRUE(ws.IsWsfValid(ws.GetWsf(&t, 3) | 1 << 24));
  EXPECT_FALSE(ws.IsWsfValid(ws.GetWsf(&t, 3) | 2 << 24));
  EXPECT_FALSE(ws.IsWsfValid(ws.GetWsf(&t, 4)));
  EXPECT_TRUE(ws.IsWsfValid(ws.GetWsf(&t, 4), true));
  EXPECT_FALSE(ws.IsWsfValid(ws.GetWsf(&t, 5), true));

  const int64_t foreign = Tid(8, 5) | 3;
  EXPECT_FALSE(ws.IsWsfValid(foreign, true));
  string text("stale");
  int32_t native = 0;
  EXPECT_FALSE(ws.GetVal(foreign, kZorTblFormNative, &native));
  EXPECT_TRUE(ws.GetValDate(foreign).IsEmpty());
  EXPECT_FALSE(ws.GetWsfName(foreign, &text));
  EXPECT_FALSE(ws.GetWsfName(ws.GetWsf(&t, 5), &text));  // no such field
  EXPECT_EQ(ws.NameToWsf(nullptr), 0);
  EXPECT_EQ(ws.NameToWsf(""), 0);
  EXPECT_EQ(ws.GetValStrLog(foreign, &text), kZorLogTypeText);
  EXPECT_STREQ(text.CStr(), "");
  int32_t log = -1, len = -1, off = -1, size = -1;
  uint32_t flags = 1;
  EXPECT_FALSE(ws.GetWsfInfo(0, &log, &len, &off, &size, &flags));
  EXPECT_EQ(std::vector<int64_t>({log, len, off, size, flags}), std::vector<int64_t>({9, 0, 0, 1, 0}));
  EXPECT_TRUE(ws.GetWsfInfo(ws.GetWsf(&t, 2), &log, &len, &off, &size, &flags));
  EXPECT_EQ(std::vector<int64_t>({log, off, size}), std::vector<int64_t>({kZorLogTypeInt, 4, 4}));
  EXPECT_EQ(ws.FindTableN(&t), 1);
  EXPECT_LIB_ERROR(23, ws.AddTable(0, static_cast<ZorTable*>(nullptr)));
  EXPECT_LIB_ERROR(23, ws.AddLocTable(0, nullptr));
  ZorWs fresh;
  EXPECT_LIB_ERROR(23, fresh.AddTable(0, &t));
  EXPECT_FALSE(fresh.First() || fresh.Next() || fresh.ReadN(1) || fresh.ReadUD(1) || fresh.Read(kZorTblFindEqual));
  EXPECT_EQ(fresh.GetNbN(), 0);
  ZorTable elsewhere;
  EXPECT_EQ(ws.GetWsf(&elsewhere, 1), 0);
  const int32_t local = ws.AddLocTable(kZorWsTblHidden, d.GetHandle());
  sZorWsTable e;
  ws.GetEntry(local, &e);
  EXPECT_EQ(e.flags, kZorWsTblHidden | kZorWsTblLocal);
  ZorWs hiddenFirst;
  hiddenFirst.Init(0, nullptr);
  hiddenFirst.AddLocTable(kZorWsTblHidden, d.GetHandle());
  hiddenFirst.AddTable(0, &t);
  EXPECT_EQ(hiddenFirst.GetFirstVisTable(), &t);
  // Positions and entry numbers are 8-bit.
  while (ws.GetNbTable() < 255) ws.AddTable(0, &t);
  EXPECT_LIB_ERROR(18, ws.AddTable(0, &t));
}

TEST(WorkspaceLinks, LinkedEntriesGoStaleOnMovesAndAreRepositionedOnFirstRead) {
  InvoiceBase base;
  ZorWs ws;
  ws.Init(Tid(kModule, 1), &base.db);
  ASSERT_EQ(ws.AddStdTable(kInvoices), 1);
  EXPECT_EQ(ws.GetFlags(), 0u);
  EXPECT_EQ(ws.NameToWsf("Invoices\\Customer\\Name", false), 0);
  const int64_t byUD = ws.NameToWsf("invoices\\customer\\NAME");
  const int64_t byCode = ws.NameToWsf("CustCode\\Name");
  ASSERT_NE(byUD, 0);
  ASSERT_NE(byCode, 0);
  EXPECT_EQ(ws.GetNbTable(), 3);
  sZorWsTable linked;
  ws.GetEntry(2, &linked);
  EXPECT_EQ(std::vector<int32_t>({linked.parent, linked.linkField, linked.entry}), std::vector<int32_t>({1, kCustomer, 0}));
  EXPECT_EQ(ws.GetWsfTable(byCode), ws.GetNTable(3));

  const std::vector<std::string> want = {"Dupont", "L\xe9vy", "Martin", ""};
  int32_t n = 0;
  for (bool ok = ws.First(); ok; ok = ws.Next(), ++n) {
    ws.GetEntry(2, &linked);
    EXPECT_FALSE(linked.state & kZorWsStateUpToDate) << n;
    EXPECT_EQ(Str(ws, byUD), want[n]) << n;
    EXPECT_EQ(Str(ws, byCode), want[n]) << n;
    int32_t native = 0;
    EXPECT_TRUE(ws.GetVal(ws.GetWsf(kInvoices, kNumber), kZorTblFormNative, &native));
    EXPECT_EQ(native, n + 1);
    EXPECT_EQ(ws.GetValDate(ws.GetWsf(kInvoices, kDay)).Get(ZorDateGetDay), n + 1);
    ws.GetEntry(2, &linked);
    EXPECT_TRUE(linked.state & kZorWsStateUpToDate) << n;
  }
  EXPECT_EQ(n, 4);
  // A link changed in the record, without a move, is followed.
  ASSERT_TRUE(ws.ReadN(1));
  EXPECT_EQ(Str(ws, byUD), "Dupont");
  ws.GetNTable(1)->SetValRef(kCustomer, base.uds[2]);
  ws.GetNTable(1)->SetValStr(kCustCode, "C2");
  EXPECT_EQ(Str(ws, byUD), "Martin");
  EXPECT_EQ(Str(ws, byCode), "L\xe9vy");

  // Every field of every entry has a name that reads back.
  string name;
  ws.GetWsfName(byUD, &name);
  EXPECT_STREQ(name.CStr(), "Invoices\\Customer\\Name");
  const int64_t number = ws.GetWsf(kInvoices, kNumber);
  ws.GetWsfName(number, &name);
  EXPECT_STREQ(name.CStr(), "Number");
  ws.GetWsfName(number, &name, true);
  EXPECT_STREQ(name.CStr(), "Invoices\\Number");
  for (int32_t e = 1; e <= ws.GetNbTable(); ++e)
    for (int32_t f = 1; f <= ws.GetNTable(e)->GetNbField(); ++f) {
      const int64_t wsf = ws.GetWsf(ws.GetNTable(e), f);
      ASSERT_TRUE(ws.GetWsfName(wsf, &name)) << wsf;
      EXPECT_EQ(ws.NameToWsf(name.CStr(), false), wsf) << name.CStr();
    }
  EXPECT_EQ(ws.NameToWsf("Factures\\Number"), number);  // the public name
  EXPECT_EQ(ws.NameToWsf("Invoices\\Number\\Name"), 0);  // not a link
  EXPECT_EQ(ws.NameToWsf("Nothing"), 0);
  EXPECT_EQ(ws.GetParentWsf(byUD), ws.GetWsf(kInvoices, kCustomer));
  EXPECT_EQ(ws.GetParentWsf(number), 0);
  EXPECT_EQ(ws.GetLinkedWsf(ws.GetWsf(kInvoices, kCustomer), 2, false), byUD);
  EXPECT_EQ(ws.GetLinkedWsf(Tid(kModule, 9) | kCustomer, 2, false), 0);
  EXPECT_EQ(ws.GetWsf(kCustomers, 2), byUD);  // only linked entries of the table

  // Entries linked from a table that stays keep their parent.
  ZorWs other;
  other.Init(0, &base.db);
  other.AddStdTable(kCustomers);
  other.AddStdTable(kInvoices);
  const int64_t linkedName = other.NameToWsf("Invoices\\Customer\\Name");
  EXPECT_TRUE(other.RemoveTable(kCustomers));
  EXPECT_EQ(other.GetNbTable(), 2);
  ASSERT_TRUE(other.First());
  EXPECT_EQ(Str(other, linkedName), "Dupont");

  ws.AddStdTable(kCustomers);
  EXPECT_TRUE(ws.RemoveTable(kCustomers));  // the direct entry, last in the list
  EXPECT_EQ(ws.GetNbTable(), 3);
  EXPECT_TRUE(ws.RemoveTable(kInvoices));
  EXPECT_EQ(ws.GetNbTable(), 0);
  EXPECT_FALSE(ws.IsWsfValid(byUD, true));
  EXPECT_FALSE(ws.First());
  EXPECT_FALSE(ws.RemoveTable(kInvoices));
}

class Recorder : public ZorWsHandler {
 public:
  void Attach(ZorWs*) override { calls += "attach "; }
  void Detach(ZorWs*) override { calls += "detach "; }
  void PatchContent(ZorWs* ws) override {
    calls += "patch ";
    total = ws->TVirAddField("Total", kZorLogTypeDec2);
  }
  bool ComputeVal(ZorWs*, int64_t wsf, string* out, eZorLogType* type) override {
    if (wsf != total) return false;
    *out = "12,50";
    *type = kZorLogTypeDec2;
    return true;
  }
  std::string calls;
  int64_t total = 0;
};

class WsModule : public ZorModule {
 public:
  ZorWsHandler* GetWorkSpaceHandler(int64_t) override { return &handler; }
  Recorder handler;
};

TEST(WorkspaceRsrc, ResourceHandlerPermissionsAndVirtualFields) {
  InvoiceBase base;
  std::filesystem::create_directories(base.dir.File("wsmod"));
  ZorFsa root(base.dir.Path().c_str());
  ZorFsa::KRegister(ZorKFsaModules, &root);
  WsModule module;
  test::RegisterModule(kModule, "wsmod", 0, false, &module);

  ZorDyna cells;
  cells.Init();
  cells.SetData(1, 1, 1, "Factures");
  cells.SetData(1, 1, 2, 5);
  cells.SetDataQuad(2, 1, 1, kInvoices);
  cells.SetData(2, 1, 2, static_cast<int32_t>(kZorWsTblWrite));
  cells.SetData(2, 2, 3, 1);
  cells.SetData(2, 2, 4, kCustomer);
  cells.SetData(2, 2, 5, kZorWsScpRwList);
  const int64_t listed = Tid(kModule, 1) | 2;  // the customer's name
  cells.SetDataQuad(3, 1, 1, listed);
  test::WriteHandleFile(base.dir.File("wsmod/12.WS"), cells.GetHandle());

  const int64_t id = int64_t{-kModule} * (int64_t{1} << 32) + 12;  // a negated module is the same owner
  ZorWs ws;
  ws.InitFromRsrc(id, &base.db);
  string text;
  EXPECT_STREQ(ws.GetName(&text), "Factures");
  EXPECT_EQ(ws.GetFlags(), 5u);
  EXPECT_EQ(module.handler.calls, "attach patch ");
  EXPECT_EQ(ws.GetNbTable(), 2);
  ASSERT_TRUE(ws.First());
  EXPECT_EQ(Str(ws, listed), "Dupont");
  EXPECT_EQ(ws.NameToWsf("Total"), module.handler.total);
  EXPECT_EQ(ws.GetValStrLog(module.handler.total, &text), kZorLogTypeDec2);
  EXPECT_STREQ(text.CStr(), "12,50");

  // Permissions: the entry's own flag (Locked is read-only, the customer's
  // code is not listed), then the setting.
  const std::pair<int64_t, bool> fields[] = {{ws.GetWsf(kInvoices, kNumber), true}, {ws.GetWsf(kInvoices, kLocked), false},
                                             {0, false}, {Tid(kModule, 9) | 1, false}, {listed, true},
                                             {Tid(kModule, 1) | 1, false}};
  for (const auto& [wsf, writable] : fields) EXPECT_EQ(ws.WsfIsSetOk(wsf), writable) << wsf;
  const struct {
    int32_t entry;
    eZorWsScpRw setting;
    bool writable;
  } settings[] = {{1, kZorWsScpRwRead, false}, {1, kZorWsScpRwWrite, true}, {1, static_cast<eZorWsScpRw>(2), false},
                  {2, kZorWsScpRwEntry, false}, {2, kZorWsScpRwWrite, true}};
  for (const auto& s : settings) {
    ws.SetScpRw(s.entry, s.setting);
    EXPECT_EQ(ws.WsfIsSetOk(ws.GetWsf(ws.GetNTable(s.entry), 1)), s.writable) << s.entry << " " << s.setting;
  }

  // Virtual fields keep their numbers and values as others come and go.
  const int64_t note = ws.TVirAddField("Note", kZorLogTypeText, 20);
  ws.GetWsfTable(note)->SetValStr(note & 0xFFFF, "urgent");
  EXPECT_EQ(ws.GetWsfTable(note)->GetTId(), Tid(kModule, 0));
  const int64_t count = ws.TVirAddField("Count", kZorLogTypeInt);
  EXPECT_EQ(Str(ws, note), "urgent");
  ws.GetWsfTable(count)->SetValLong(count & 0xFFFF, 3);
  EXPECT_TRUE(ws.TVirRemoveField(note & 0xFFFF));
  EXPECT_FALSE(ws.TVirRemoveField(note & 0xFFFF));
  EXPECT_EQ(ws.TVirGetWsf("Note"), 0);
  EXPECT_EQ(ws.GetValLong(count), 3);
  EXPECT_EQ(ws.TVirGetWsf("count"), count);
  EXPECT_LIB_ERROR(23, ws.TVirAddField("Count", kZorLogTypeInt));
  EXPECT_LIB_ERROR(23, ws.TVirAddField("Photo", kZorLogTypePict));
  EXPECT_NE(ws.TVirAddField("Units", kZorLogTypeDec0), 0);
  ws.Trash();
  EXPECT_EQ(module.handler.calls, "attach patch detach ");
  EXPECT_EQ(ws.GetId(), 0);

  // No resource; a line that names no table.
  EXPECT_LIB_ERROR(10, ws.InitFromRsrc(Tid(kModule, 0) + 13, &base.db));
  cells.SetDataQuad(2, 1, 1, 0);
  test::WriteHandleFile(base.dir.File("wsmod/14.WS"), cells.GetHandle());
  EXPECT_LIB_ERROR(19, ws.InitFromRsrc(Tid(kModule, 0) + 14, &base.db));
  ZorDyna empty;
  empty.Init();
  EXPECT_LIB_ERROR(19, ws.InitFromData(Tid(kModule, 0) + 15, &base.db, empty.GetHandle()));
  EXPECT_FALSE(ws.IsInit());
}

}  // namespace
}  // namespace zorvane
