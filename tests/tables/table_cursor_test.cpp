// What the cursor does around the store, which the model test does not
// see: opening through a database and its errors, handler calls and change
// messages, the lock's nesting as a store sees it, the memory store saved
// into the description, temporary tables, selections and upgrades.
#include <gtest/gtest.h>
#include <zorvane/zorvane.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace zorvane {
namespace {

constexpr int32_t kModule = 7;
constexpr int64_t kTid = int64_t{kModule} << 32 | 0x30000;  // table 3 of module 7

// Id (Long, index 1) and Name (text 12, index 2).
void MakeDesc(ZorTableDesc* d, uint32_t tableFlags = 0, eZorTblStor storage = kZorTblStorMemory) {
  d->Create(kZorTblTypeStd, 0);
  d->SetTId(kTid, false);
  d->SetName("Clients");
  d->SetStorage(storage);
  d->SetFlags(tableFlags);
  const int32_t id = d->AddField("Id", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, 0);
  const int32_t name = d->AddField("Name", kZorPhysTypeAnsiString, kZorLogTypeText, true, 12, kZorTblFfValid, 0, 0);
  d->SetSubIndex(d->AddIndex(0), 1, id, 0);
  d->SetSubIndex(d->AddIndex(0), 1, name, 0);
  d->Validate();
}

// A table on a description of its own (MakeDesc's, then `more`), opened
// with `handler` (when given) installed for the module.
struct Clients {
  explicit Clients(uint32_t tableFlags = 0, eZorTblStor storage = kZorTblStorMemory, ZorTableHandler* handler = nullptr,
                   const std::function<void(ZorTableDesc*)>& more = nullptr) {
    if (handler) ZorSetTableHandler(kModule, handler);
    MakeDesc(&d, tableFlags, storage);
    if (more) more(&d);
    t.Init(&d);
    if (handler) ZorSetTableHandler(kModule, nullptr);
  }
  ZorTableDesc d;
  ZorTable t;
};

uint32_t Put(ZorTable* t, int32_t id, const char* name, int32_t action = 0) {
  t->Raz();
  t->SetValLong(1, id);
  t->SetValStr(2, name);
  return t->Write(action);
}

std::string Names(ZorTable* t) {
  std::string out;
  string s;
  for (bool ok = t->First(); ok; ok = t->Next()) out += std::string(t->GetValStr(2, &s)) + " ";
  return out;
}

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ZorEBasic& e) {
    return std::to_string(e.GetError() & 0xFFFF) + " " + e.GetMsgText();
  }
  return "no error";
}

class OneTableBase : public ZorDBase {
 public:
  bool GetTableHandle(int64_t tid, ZorHandle* out, bool) override {
    if (tid != kTid) return false;
    out->Copy(desc.GetHandle());
    return true;
  }
  ZorTableDesc desc;
};

TEST(TableCursor, OpenThroughADatabaseAndTheErrorsOfChanges) {
  OneTableBase base;
  MakeDesc(&base.desc);
  ZorTable t;
  EXPECT_EQ(MessageOf([&] { t.Open(nullptr, kTid); }), "41 La table 3 (module 7) est introuvable dans la base.");
  ZorSetCurDBase(&base);
  EXPECT_EQ(MessageOf([&] { t.Open(nullptr, kTid + 0x10000); }),
            "41 La table 4 (module 7) est introuvable dans la base.");
  t.Open(nullptr, kTid);
  ZorSetCurDBase(nullptr);
  EXPECT_EQ(t.GetDBase(), &base);
  EXPECT_EQ(t.GetCurIndex(), t.GetDefIndex());
  EXPECT_EQ(MessageOf([&] { t.UpDate(); }),
            "49 Erreur table 'Clients', il n'y a pas d'enregistrement \xE0 mettre \xE0 jour.");
  EXPECT_EQ(MessageOf([&] { t.Delete(); }), "49 Erreur table 'Clients', il n'y a pas d'enregistrement \xE0 supprimer");
  Put(&t, 1, "one");
  EXPECT_LIB_ERROR(48, Put(&t, 1, "other"));
  EXPECT_EQ(t.GetNbRecord(), 1);

  Clients rdOnly(kZorTblTfRdOnly);
  ZorTable& r = rdOnly.t;
  EXPECT_EQ(MessageOf([&] { Put(&r, 1, "x"); }), "24 La table 'Clients' est en lecture seule");
  EXPECT_LIB_ERROR(24, r.MakeEmpty());

  // A virtual table without a store of its own is an empty, read-only one.
  Clients virt(0, kZorTblStorVirtual);
  ZorTable& v = virt.t;
  EXPECT_TRUE(v.GetModeFlags() & kZorTblMfRdOnly);
  EXPECT_FALSE(v.First());
  v.SetModeFlags(kZorTblMfRdOnly, false);
  EXPECT_LIB_ERROR(25, Put(&v, 1, "x"));
  v.SetModeFlags(kZorTblMfAddOk, false);
  EXPECT_LIB_ERROR(25, v.Add());
}

// A memory store that records the transaction calls it sees.
class CountingStore : public ZorTSMem {
 public:
  void PrimTransac(ZorTable*, bool begin, int32_t depth) override {
    calls += (begin ? "+" : "-") + std::to_string(depth) + " ";
  }
  std::string calls;
};

struct Recorder : ZorTableHandler {
  void BeforeHAction(ZorTable*, eZorTblHAction change, int32_t action, void*) override {
    log += "B" + std::to_string(change) + "/" + std::to_string(action) + " ";
  }
  void AfterHAction(ZorTable*, eZorTblHAction change, int32_t, void*) override {
    log += "A" + std::to_string(change) + " ";
  }
  ZorTableStocker* GetVirtStocker(ZorTable*) override { return store = new CountingStore(); }
  std::string log;
  CountingStore* store = nullptr;
};

std::string gMessages;
void Listen(void*, int32_t msg, int32_t sub, void*, int64_t key, int64_t kind, int64_t ud, int64_t, int64_t) {
  gMessages += std::to_string(msg) + "/" + std::to_string(sub) + "/" + std::to_string(key) + "/" +
               std::to_string(kind) + "/" + std::to_string(ud) + " ";
}

TEST(TableCursor, HandlerCallsMessagesAndLockNesting) {
  Recorder handler;
  struct Registered {
    explicit Registered(Recorder* h) {
      ZorSetTableHandler(kModule, h);
      ZorSetMessageListener(Listen, nullptr);
    }
    ~Registered() {
      ZorSetMessageListener(nullptr, nullptr);
      ZorSetTableHandler(kModule, nullptr);
    }
  } registered(&handler);
  Clients clients(kZorTblTfSendStdMess, kZorTblStorVirtual);
  ZorTable& t = clients.t;
  ASSERT_NE(handler.store, nullptr);
  EXPECT_EQ(t.GetStocker(), handler.store);
  EXPECT_EQ(MessageOf([&] { Put(&t, 2, "b", 5); }), "no error");
  Put(&t, 1, "a", kZorTblActInternal);
  t.ReadUD(1);
  t.SetValStr(2, "bb");
  t.UpDate();
  t.Swap(1, 2);
  t.ReadUD(2);
  t.Delete();
  t.MakeEmpty();
  const std::string key = std::to_string(kModule << 9 | 3);
  EXPECT_EQ(handler.log, "B1/5 A1 B3/0 A3 B6/0 A6 B4/0 A4 B5/0 A5 ");
  EXPECT_EQ(gMessages, "45/39/" + key + "/1/1 45/39/" + key + "/2/1 45/39/" + key + "/5/1 45/39/" + key +
                           "/5/2 45/39/" + key + "/4/2 45/39/" + key + "/6/0 ");
  EXPECT_EQ(handler.store->calls.substr(0, 8), "+1 -0 +1");

  handler.store->calls.clear();
  {
    ZorLock guard;
    t.Lock(&guard);
    Put(&t, 3, "c");
    EXPECT_EQ(t.GetLockDepth(), 1);
  }
  EXPECT_EQ(handler.store->calls, "+1 +2 -1 -0 ");
  EXPECT_EQ(t.GetLockDepth(), 0);
}

// A store that keeps deleted records in place: here, those with a negative id.
class KeepsDeleted : public ZorTSMem {
 public:
  void ShOpen(ZorTable* table) override {
    ZorTSMem::ShOpen(table);
    table->SetModeFlags(kZorTblMfKeepDel, true);
  }
  bool PrimIsDel(ZorTable* table) override { return table->GetValLong(1) < 0; }
};

struct KeepsDeletedHandler : ZorTableHandler {
  ZorTableStocker* GetVirtStocker(ZorTable*) override { return new KeepsDeleted(); }
};

TEST(TableCursor, CreationOrderSkipsRecordsTheStoreKeepsDeleted) {
  KeepsDeletedHandler handler;
  Clients clients(0, kZorTblStorVirtual, &handler);
  ZorTable& t = clients.t;
  for (int32_t id : {-1, 2, -3, 4, -5}) Put(&t, id, std::to_string(id).c_str());
  t.SetCurIndex(0);
  std::string seen = Names(&t);
  string s;
  for (bool ok = t.Last(); ok; ok = t.Prev()) seen += std::string(t.GetValStr(2, &s)) + " ";
  EXPECT_EQ(seen, "2 4 4 2 ");
  EXPECT_FALSE(t.ReadN(3));
  EXPECT_TRUE(t.ReadN(3, false));
  EXPECT_TRUE(t.IsDeleted());
  EXPECT_EQ(t.SetModeNoDel(true), 2);
  t.SetCurIndex(1);
  EXPECT_TRUE(t.First());  // in an index order the store's records are all seen
  EXPECT_EQ(t.GetValLong(1), 2);
  t.SetModeFull();
  EXPECT_TRUE(t.First());
  EXPECT_EQ(t.GetValLong(1), -5);
}

TEST(TableCursor, MemoryStoreLivesInTheDescription) {
  Clients clients;
  ZorTable& t = clients.t;
  for (int32_t i = 1; i <= 3; ++i) Put(&t, i * 10, std::string(1, static_cast<char>('a' + i)).c_str());
  t.ReadUD(2);
  t.Delete();
  EXPECT_TRUE(t.ReadUD(2));
  EXPECT_EQ(t.GetValLong(1), 30);  // the former UD 3
  ZorHandle saved;
  saved.Copy(t.GetDescHandle());

  ZorTable again;
  again.Init(&saved);
  again.SetCurIndex(2);
  EXPECT_EQ(Names(&again), "b d ");
  ZorTable model;
  ZorOpenTmpTbl(&model, &again);
  EXPECT_EQ(model.GetNbRecord(), 0);
  ZorTable copy;
  ZorOpenTmpTbl(&copy, &saved);
  EXPECT_EQ(copy.GetNbRecord(), 2);
  EXPECT_LIB_ERROR(41, ZorOpenTmpTbl(&copy, int64_t{0x30000}));

  // From the current database when it has the table, with flag 0x20.
  OneTableBase base;
  MakeDesc(&base.desc);
  ZorSetCurDBase(&base);
  ZorTable tmp;
  ZorOpenTmpTbl(&tmp, kTid, kZorTmpTblFromBase);
  ZorSetCurDBase(nullptr);
  EXPECT_EQ(tmp.GetNbIndex(), 2);
  EXPECT_EQ(tmp.GetStorage(), kZorTblStorMemory);
}

TEST(TableCursor, SelectionsAndTheirViews) {
  Clients clients;
  ZorTable& t = clients.t;
  const char* names[] = {"pear", "apple", "plum", "fig", "peach"};
  for (int32_t i = 0; i < 5; ++i) Put(&t, i + 1, names[i]);
  ZorTSel sel;
  sel.InitFromParam("5, 3 x 1;4");
  EXPECT_EQ(sel.GetNbSel(), 4);
  EXPECT_TRUE(sel.RemoveSel(0, 4));
  EXPECT_FALSE(sel.RemoveSel(9));
  EXPECT_EQ(sel.FindUD(1), 3);
  t.SetModeFromTSel(&sel, true);
  EXPECT_EQ(Names(&t), "peach plum pear ");
  sel.SortSel();  // shared: the view follows
  EXPECT_EQ(Names(&t), "pear plum peach ");
  int32_t pos = 0;
  std::string back;
  string s;
  while (sel.ReadNext(&t, &pos, true)) back += t.GetValStr(2, &s);
  EXPECT_EQ(back, "peachplumpear");

  t.SetModeFull();
  t.SetCurIndex(2);
  EXPECT_EQ(t.SetModeRangeWild(2, "P*A*"), 2);
  EXPECT_EQ(t.SetModeRangeWild(2, "P*A?"), 1);  // within the last view
  EXPECT_EQ(Names(&t), "pear ");
  t.SetModeFull();
  t.SetModeRangeWild(2, "P*A*");
  EXPECT_EQ(Names(&t), "peach pear ");
  t.SetModeFull();
  EXPECT_EQ(t.SetModeRangeStr(2, "pe", nullptr), 0);  // a lone bound is an exact value
  EXPECT_EQ(t.SetModeRangeStr(2, "FIG", "pear"), 3);
  EXPECT_EQ(t.GetMode(), kZorTblModeRange);
  EXPECT_EQ(t.SetModeRangeStr(2, "a", "peach", true), 2);  // only the view's records in [a, peach]
  EXPECT_EQ(Names(&t), "fig peach ");
  EXPECT_EQ(t.GetMode(), kZorTblModeSel);
  t.SetModeFull();
  t.SetCurIndex(0);
  EXPECT_EQ(t.SetModeRange(2, nullptr, nullptr), 0);
  t.SetModeFull();
  EXPECT_EQ(t.SetModeRangeSortIndex(2, true), 5);
  EXPECT_EQ(Names(&t), "plum pear peach fig apple ");
  ZorTSel view;
  view.Init(&t);
  EXPECT_EQ(view.GetFirstUD(), 3u);
  t.SetModeFull();
  EXPECT_EQ(t.SetModeRangeSort(2, false), 5);
  EXPECT_EQ(Names(&t), "apple fig peach pear plum ");
  t.SetModeFull();
  EXPECT_EQ(t.SetModeRangeSort(1, true), 5);
  EXPECT_EQ(Names(&t), "peach fig plum apple pear ");
  t.SetModeRangeN(1, 2);
  EXPECT_EQ(t.ReadPartial(2, true, true), 0);  // partial searches need the full view
  ZorTable closed;
  EXPECT_FALSE(closed.Read(kZorTblFindEqual) || closed.ReadUD(1) || closed.GetNbN() || closed.Exist());
  view.SetNbSel(0);
  view.InitFromParam("0 7");
  EXPECT_EQ(view.GetNbSel(), 1);
  EXPECT_FALSE(t.IsArray(1));
  EXPECT_TRUE(t.CanReorg());
  EXPECT_TRUE(t.Reorg(false));
  EXPECT_LIB_ERROR(25, t.DoBlob(2, nullptr));
}

TEST(TableCursor, StructureUpgradeKeepsRecordsByFieldName) {
  Clients clients(0, kZorTblStorMemory, nullptr, [](ZorTableDesc* d) { d->SetStructRelease(2); });
  ZorTable& t = clients.t;
  Put(&t, 7, "seven");
  ZorTableDesc older;
  MakeDesc(&older);
  older.SetStructRelease(1);
  ZorVerif report;
  report.Init();
  EXPECT_FALSE(t.StructUpgrade(&older, 0, &report));
  ZorTableDesc newer;
  MakeDesc(&newer);
  newer.SetStructRelease(3);
  newer.AddField("Extra", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid, 0, -1);
  newer.Validate();
  ASSERT_TRUE(t.StructUpgrade(&newer, 0, nullptr));
  EXPECT_EQ(t.GetNbField(), 3);
  ASSERT_TRUE(t.First());
  EXPECT_EQ(t.GetValLong(2), 7);
  EXPECT_TRUE(t.FastStructUpd(&newer));
  EXPECT_FALSE(t.FastStructUpd(&clients.d));
}

// Blob slots around the store, and the values a handler computes.
struct Computing : ZorTableHandler {
  bool GetVal(ZorTable* t, int32_t, eZorTblForm form, void* out, int32_t, int32_t) override {
    const int32_t twice = t->GetValLong(1) * 2;
    return SetGetValResult(t, 4, form, out, &twice);
  }
  bool RazDef(ZorTable*, int32_t field, void* value, bool) override {
    if (field != 1) return false;
    *static_cast<int32_t*>(value) = 99;
    return true;
  }
};

TEST(TableCursor, BlobsFollowTheirRecordsAndHandlersComputeValues) {
  Computing handler;
  int32_t blob = 0;
  Clients clients(0, kZorTblStorMemory, &handler, [&](ZorTableDesc* d) {
    blob = d->AddField("Photo", kZorPhysTypeBlobRef, kZorLogTypePict, true, 0, kZorTblFfValid, 0, 0);
    d->AddField("Twice", kZorPhysTypeLong, kZorLogTypeInt, true, 0, kZorTblFfValid | kZorTblFfVirtual, 0, 0);
    d->Validate();
  });
  ZorTable& t = clients.t;
  auto* store = t.GetStocker();
  int32_t offset = 0;
  t.GetFieldInfo(blob, nullptr, &offset, nullptr);
  auto refOf = [&] {
    uint32_t ref;
    std::memcpy(&ref, t.GetRecord() + offset, 4);
    return ref;
  };
  auto stored = [&] { return store->BlobInfo(&t, blob, refOf()); };

  t.FillDefault();
  EXPECT_EQ(t.GetValLong(1), 99);
  EXPECT_EQ(t.GetValLong(4), 198);
  t.SetValStr(2, "x");
  ZorHandle photo = test::HandleOf("0123456789");
  t.SetValHandle(blob, &photo);
  const uint32_t first = t.WriteRd();
  EXPECT_EQ(stored(), 10);
  t.SetValLong(1, 98);
  t.SetValStr(2, "y");
  const uint32_t second = t.WriteRd();  // the copy gets its own blob
  const uint32_t secondRef = refOf();
  t.ReadUD(first);
  EXPECT_NE(refOf(), secondRef);
  t.ReadUD(second);
  ZorHandle shorter = test::HandleOf("abc");
  t.SetValHandle(blob, &shorter);
  t.UpDate();
  EXPECT_EQ(stored(), 3);
  ZorHandle none;
  t.ReadUD(second);
  ZorHandle got;
  t.GetValHandle(blob, &got);
  EXPECT_EQ(got.GetSize(), 3u);
  t.SetValHandle(blob, &none);
  t.UpDate();
  EXPECT_EQ(refOf(), 0u);
  t.ReadUD(first);
  const uint32_t ref = refOf();
  t.Delete();
  EXPECT_EQ(store->BlobInfo(&t, blob, ref), 0);

  ZorTable other;
  other.Init(&clients.d);
  other.SetValStr(2, "b");
  EXPECT_TRUE(t.CopyVal(2, &other));
  std::string key(static_cast<size_t>(t.GetKeyLen(2)), '\0');
  t.GetIndexValue(2, key.data());
  EXPECT_EQ(key.substr(0, 2), "b\x01");
}

// Record references: the handler's answer first, else the hi-lock field.
struct References : ZorTableHandler {
  int32_t HGetRecRef(ZorTable*, string* out) override {
    if (answer > 0) *out = "handled";
    return answer;
  }
  int32_t HReadRecRef(ZorTable* t, const char*) override { return answer > 0 ? (t->ReadUD(2) ? 1 : -1) : answer; }
  int32_t DoNavig(ZorTable*, int32_t) override { return answer; }
  int32_t GetNavigIndex(ZorTable*) override { return 2; }
  int32_t answer = 0;
};

TEST(TableCursor, RecordReferencesAndNavigationAskTheHandlerFirst) {
  References handler;
  Clients clients(0, kZorTblStorMemory, &handler, [](ZorTableDesc* d) { d->SetHilFid(2); });
  ZorTable& t = clients.t;
  Put(&t, 1, "zed");
  Put(&t, 2, "amy");
  string ref;
  EXPECT_FALSE(t.GetRecRef(&ref));  // no current record
  ASSERT_TRUE(t.ReadRecRef("ZED"));
  EXPECT_EQ(t.GetCurUD(), 1u);
  EXPECT_TRUE(t.GetRecRef(&ref));
  EXPECT_STREQ(ref.CStr(), "zed");
  EXPECT_FALSE(t.ReadRecRef("bob"));
  EXPECT_TRUE(t.DoNavig(1));  // first in the handler's index: by name
  EXPECT_EQ(t.GetCurUD(), 2u);
  EXPECT_TRUE(t.DoNavig(4));
  EXPECT_EQ(t.GetCurUD(), 1u);
  EXPECT_FALSE(t.DoNavig(3));
  handler.answer = -1;
  EXPECT_FALSE(t.GetRecRef(&ref));
  EXPECT_FALSE(t.ReadRecRef("zed"));
  EXPECT_FALSE(t.DoNavig(1));
  handler.answer = 1;
  EXPECT_TRUE(t.GetRecRef(&ref));
  EXPECT_STREQ(ref.CStr(), "handled");
  EXPECT_TRUE(t.ReadRecRef("anything"));
  EXPECT_EQ(t.GetCurUD(), 2u);
  t.Trash();
}

}  // namespace
}  // namespace zorvane
