// Memory purgers and the suspend disabler: two process-wide services that
// long-lived caches use.
//
// A memory purger is an object that can give memory back on request (the
// block file's cache). Purgers register themselves; ZorPurgeMemory asks each
// registered purger in registration order until the request is met. While a
// ZorDelayPurger exists anywhere in the process, requests are not passed on
// (they return false): an object that is moving its own arrays holds one so
// that no purge re-enters it half-way.
//
// The suspend disabler counts the reasons why the system should not suspend
// (an open transaction, for example); the count is only kept here for the
// host to read.
//
// The registry is process-wide and guarded by a mutex; purgers themselves
// are called on the thread that asked.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

class ZOR_API iZorMemPurger {
 public:
  // Frees up to `bytes` bytes; true when that many were freed.
  virtual bool Purge(int32_t bytes) = 0;
  virtual ~iZorMemPurger() = default;
};

// Registering twice is harmless (one entry); unregistering an unknown purger
// does nothing.
ZOR_API void ZorRegisterPurger(iZorMemPurger* purger);
ZOR_API void ZorUnregisterPurger(iZorMemPurger* purger);
ZOR_API bool ZorIsPurgerRegistered(const iZorMemPurger* purger);
// Asks the purgers for `bytes` bytes; false when purging is delayed or the
// purgers could not free that much.
ZOR_API bool ZorPurgeMemory(int32_t bytes);
ZOR_API bool ZorIsPurgeDelayed();

// Defers purging for its lifetime (nests).
class ZOR_API ZorDelayPurger {
 public:
  ZorDelayPurger();
  ~ZorDelayPurger();
  ZorDelayPurger(const ZorDelayPurger&) = delete;
  ZorDelayPurger& operator=(const ZorDelayPurger&) = delete;
};

// Process-wide count of reasons not to suspend the system.
class ZOR_API ZorSuspendDisabler {
 public:
  static void Raise();
  static void Lower();  // never below 0
  static int32_t Count();
};

}  // namespace zorvane
