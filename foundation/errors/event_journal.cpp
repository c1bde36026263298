// The event journal.
//
// An addition runs in one update of the registered store: optional emptying,
// then deletion by priority, then the new record. The deletion keeps the
// journal's size bounded without looking at single records: while the store
// holds kZorEventMax records or more, every record of the lowest priority
// level not yet deleted goes, level after level (0 = unknown types, 1 =
// application errors, 2 = connections, 4 = notes and alerts, 5 = tasks,
// 6 = system errors, 7 = disconnections, 8 = legal events). A level with no
// records costs one empty deletion per type; there are nine levels at most.
//
// The registered store is a process-wide pointer read and written atomically;
// the store itself is driven by one thread at a time.
#include <zorvane/event_journal.h>

#include <zorvane/string.h>

#include "platform/host.h"
#include "foundation/services/text_source.h"

#include <atomic>
#include <climits>

namespace zorvane {

namespace {

constexpr int32_t kEventTypeGroup = 235;
constexpr int32_t kLastType = ZorEvtLegal;
constexpr int32_t kLastPriority = 8;
// Priority of types 0..8.
constexpr int32_t kPriority[kLastType + 1] = {0, 4, 2, 7, 1, 6, 4, 5, 8};

std::atomic<iZorEventStore*> g_store{nullptr};

bool IsKnownRange(int32_t type) { return type >= 0 && type <= kLastType; }

// A type that the catalogue does not name is recorded as unknown.
int32_t RecordedType(int32_t type) {
  string name;
  return IsKnownRange(type) && *texts::Load(1, kEventTypeGroup, type, &name) ? type : ZorEvtUnknown;
}

void DeletePriority(iZorEventStore* store, int32_t priority) {
  if (priority == 0) {
    store->DeleteTypes(INT32_MIN, -1);
    store->DeleteTypes(kLastType + 1, INT32_MAX);
  }
  for (int32_t type = 0; type <= kLastType; ++type)
    if (kPriority[type] == priority) store->DeleteTypes(type, type);
}

void MakeRoom(iZorEventStore* store) {
  for (int32_t priority = 0; priority <= kLastPriority && store->Count() >= kZorEventMax; ++priority)
    DeletePriority(store, priority);
}

void Store(iZorEventStore* store, const sZorEventRecord& record, bool emptyFirst) {
  store->BeginUpdate();
  try {
    if (emptyFirst) store->Empty();
    MakeRoom(store);
    store->Add(record);
  } catch (...) {
    store->EndUpdate(false);
    throw;
  }
  store->EndUpdate(true);
}

}  // namespace

iZorEventStore::~iZorEventStore() = default;

const char* iZorEventStore::GetUserName(string* dst) { return dst->Clear(); }

iZorEventStore* ZorSetEventStore(iZorEventStore* store) { return g_store.exchange(store); }

iZorEventStore* ZorGetEventStore() { return g_store.load(); }

int32_t ZorEventPriority(int32_t type) { return IsKnownRange(type) ? kPriority[type] : 0; }

void ZorLogEvent(const char* text, int32_t type, uint32_t flags) {
  if (ZorStrIsEmpty(text) && type != ZorEvtConnect && type != ZorEvtDisconnect) return;
  string title(text), user, machine;
  title.Title(false);
  sZorEventRecord record;
  record.moment.ServerDate(true);
  record.type = RecordedType(type);
  record.text = title.CStr();
  record.machine = ZorDecodefromUTF8(platform::MachineName().c_str(), &machine);
  iZorEventStore* store = (flags & ZorEvtNoStore) ? nullptr : ZorGetEventStore();
  if (!store) return;
  record.user = store->GetUserName(&user);
  Store(store, record, (flags & ZorEvtEmptyFirst) != 0);
}

void ZorLegalEvent(const char* text) { ZorLogEvent(text, ZorEvtLegal, 0); }

}  // namespace zorvane
