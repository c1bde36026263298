// The purger registry, the purge delay and the suspend counter.
//
// Invariants: a purger appears at most once in the registry; the delay and
// suspend counts never go below 0. A purge request walks a snapshot of the
// registry taken under the mutex, so that a purger may unregister itself (or
// another) while being called; the mutex is not held during the calls.
#include <zorvane/purger.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace zorvane {
namespace {

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
std::vector<iZorMemPurger*>& Registry() {
  static std::vector<iZorMemPurger*> r;
  return r;
}
std::atomic<int32_t> g_delay{0};
std::atomic<int32_t> g_suspend{0};

void DecrementFloor0(std::atomic<int32_t>& v) {
  int32_t cur = v.load();
  while (cur > 0 && !v.compare_exchange_weak(cur, cur - 1)) {
  }
}

}  // namespace

void ZorRegisterPurger(iZorMemPurger* purger) {
  if (!purger) return;
  std::lock_guard<std::mutex> g(RegistryMutex());
  auto& r = Registry();
  if (std::find(r.begin(), r.end(), purger) == r.end()) r.push_back(purger);
}

void ZorUnregisterPurger(iZorMemPurger* purger) {
  std::lock_guard<std::mutex> g(RegistryMutex());
  auto& r = Registry();
  r.erase(std::remove(r.begin(), r.end(), purger), r.end());
}

bool ZorIsPurgerRegistered(const iZorMemPurger* purger) {
  std::lock_guard<std::mutex> g(RegistryMutex());
  auto& r = Registry();
  return std::find(r.begin(), r.end(), purger) != r.end();
}

bool ZorIsPurgeDelayed() { return g_delay.load() > 0; }

bool ZorPurgeMemory(int32_t bytes) {
  if (ZorIsPurgeDelayed()) return false;
  std::vector<iZorMemPurger*> snapshot;
  {
    std::lock_guard<std::mutex> g(RegistryMutex());
    snapshot = Registry();
  }
  for (iZorMemPurger* p : snapshot) {
    if (!ZorIsPurgerRegistered(p)) continue;
    if (p->Purge(bytes)) return true;
  }
  return false;
}

ZorDelayPurger::ZorDelayPurger() { ++g_delay; }
ZorDelayPurger::~ZorDelayPurger() { DecrementFloor0(g_delay); }

void ZorSuspendDisabler::Raise() { ++g_suspend; }
void ZorSuspendDisabler::Lower() { DecrementFloor0(g_suspend); }
int32_t ZorSuspendDisabler::Count() { return g_suspend.load(); }

}  // namespace zorvane
