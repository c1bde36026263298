// The event journal: events (connections, errors, legal acts ...) recorded as
// records of the current document's event table.
//
// ZorLogEvent composes the record (title-cased text, moment, type, user and
// machine) and keeps the journal below kZorEventMax records by deleting whole
// types, least important first. Where the records live is behind
// iZorEventStore, which the table layer implements on the document's event
// table; the store registered for the process (none by default) receives
// every event, and with no store nothing is written, as for a document
// without a database open for writing.
#pragma once

#include <zorvane/date.h>
#include <zorvane/types.h>

namespace zorvane {

class string;

// Event types: entry `type` of the catalogue list 235 of module 1 names each.
enum eZorEventType : int32_t {
  ZorEvtUnknown = 0,
  ZorEvtNote = 1,
  ZorEvtConnect = 2,
  ZorEvtDisconnect = 3,
  ZorEvtAppError = 4,
  ZorEvtSysError = 5,
  ZorEvtAlert = 6,
  ZorEvtTask = 7,
  ZorEvtLegal = 8,
};

// Flags of ZorLogEvent.
enum : uint32_t {
  ZorEvtNoStore = 0x02,     // compose the event but write nothing
  ZorEvtEmptyFirst = 0x20,  // empty the journal before adding the event
};

// The journal holds fewer than this many records after each addition's
// deletions (then one more with the new event).
constexpr uint32_t kZorEventMax = 1000;

// One event as handed to the store. The texts are valid during the call only.
struct sZorEventRecord {
  date moment;          // field 1: server date and time
  int32_t type;         // field 3: eZorEventType
  const char* text;     // field 4
  const char* user;     // field 5
  const char* machine;  // field 6
};

// Where journal records live. ZorLogEvent calls BeginUpdate, then any of
// Empty, Count, DeleteTypes and Add, then EndUpdate(true), or EndUpdate(false)
// when one of them raised (the store then undoes what it did, as a table
// transaction would). The store is used by one thread at a time.
class ZOR_API iZorEventStore {
 public:
  virtual ~iZorEventStore();
  virtual void BeginUpdate() {}
  virtual void EndUpdate(bool /*commit*/) {}
  virtual uint32_t Count() = 0;
  // Deletes every record whose type is in [first, last]; returns how many.
  virtual uint32_t DeleteTypes(int32_t first, int32_t last) = 0;
  virtual void Add(const sZorEventRecord& record) = 0;
  virtual void Empty() = 0;
  // The name of the document's current user (empty by default).
  virtual const char* GetUserName(string* dst);
};

// Registers the store of the current document (null: none) and returns the
// previous one. The library does not own it; it must stay alive while set.
ZOR_API iZorEventStore* ZorSetEventStore(iZorEventStore* store);
ZOR_API iZorEventStore* ZorGetEventStore();

// The deletion priority of a type: records of a lower priority go first.
// Types outside 0..8 count as unknown (priority 0).
ZOR_API int32_t ZorEventPriority(int32_t type);

// Records an event. An empty text records nothing, except for connections
// and disconnections (types 2 and 3). A type without a catalogue name is
// recorded as 0. Raises what the store raises.
ZOR_API void ZorLogEvent(const char* text, int32_t type, uint32_t flags = 0);
// A legal event: ZorLogEvent(text, 8, 0).
ZOR_API void ZorLegalEvent(const char* text);

}  // namespace zorvane
