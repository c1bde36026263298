// The global option flags: one atomic word, no other state.
#include <zorvane/global_flags.h>

#include <atomic>

namespace zorvane {

namespace {
std::atomic<uint32_t> g_flags{0};
}  // namespace

uint32_t ZorGetGlobalFlags() { return g_flags.load(std::memory_order_relaxed); }

uint32_t ZorSetGlobalFlags(uint32_t flags, uint32_t mask) {
  uint32_t old = g_flags.load(std::memory_order_relaxed);
  while (!g_flags.compare_exchange_weak(old, (old & ~mask) | (flags & mask), std::memory_order_relaxed)) {
  }
  return old;
}

}  // namespace zorvane
