// The global allocator and the raw memory helpers.
//
// Allocation is the C heap. A request that the heap cannot meet raises the
// library's out-of-memory error (module 1, code 1) with the source name and
// line that the error reports have always carried, so callers never test for
// null. A zero-byte request still returns a distinct block.
//
// ZorIsStackPtr compares against the stack bounds of the calling thread,
// read once per thread from the environment. The memory figures come from
// the environment too.
#include <zorvane/exception.h>
#include <zorvane/memory.h>

#include "platform/env.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zorvane {

namespace {

constexpr const char* kMemSource = "memory\\ZorMemoryManagement";

[[noreturn]] void RaiseOutOfMemory(uint32_t line) {
  throw ZorEBasic(kMemSource, line, 1, ZorErr(1, 1), nullptr, nullptr);
}

// A range of n bytes needs an address unless it is empty.
void CheckRange(const void* p, uint32_t n, uint32_t line = __builtin_LINE()) {
  if (n && !p) ZorRaiseBadParam(kMemSource, line);
}

struct StackBounds {
  const char* low = nullptr;
  const char* high = nullptr;
};

StackBounds ReadStackBounds() {
  StackBounds b;
  const void* low = nullptr;
  size_t size = 0;
  if (platform::CurrentEnv().ThreadStack(&low, &size) == 0) {
    b.low = static_cast<const char*>(low);
    b.high = b.low + size;
  }
  return b;
}

}  // namespace

void* ZorMemAlloc(uint32_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) RaiseOutOfMemory(17);
  return p;
}

void* ZorMemRealloc(void* p, uint32_t size) {
  void* q = std::realloc(p, size ? size : 1);
  if (!q) RaiseOutOfMemory(24);
  return q;
}

void ZorMemFree(void* p) { std::free(p); }

char* ZorCopyMemory(void* dst, const void* src, uint32_t n) {
  CheckRange(dst, n);
  CheckRange(src, n);
  if (dst != src && n) std::memcpy(dst, src, n);
  return static_cast<char*>(dst) + n;
}

char* ZorMoveMemory(void* dst, const void* src, uint32_t n) {
  CheckRange(dst, n);
  CheckRange(src, n);
  if (dst != src && n) std::memmove(dst, src, n);
  return static_cast<char*>(dst) + n;
}

void ZorZeroMemory(void* p, uint32_t n) {
  CheckRange(p, n);
  if (n) std::memset(p, 0, n);
}

void ZorFillMemory(void* p, uint32_t n, uint8_t byte) {
  CheckRange(p, n);
  if (n) std::memset(p, byte, n);
}

int16_t ZorCmpMemory(const void* a, const void* b, uint32_t n) {
  if (!n) return 0;
  CheckRange(a, n);
  CheckRange(b, n);
  const int r = std::memcmp(a, b, n);
  return static_cast<int16_t>(r < 0 ? -1 : (r > 0 ? 1 : 0));
}

void ZorSwapMemoryBuf(void* a, void* b, uint32_t n, void* tmp) {
  CheckRange(a, n);
  CheckRange(b, n);
  CheckRange(tmp, n);
  if (a == b || !n) return;
  std::memcpy(tmp, a, n);
  std::memcpy(a, b, n);
  std::memcpy(b, tmp, n);
}

void ZorSwapMemory(void* a, void* b, uint32_t n) {
  CheckRange(a, n);
  CheckRange(b, n);
  if (n <= 255) {
    unsigned char tmp[256];
    ZorSwapMemoryBuf(a, b, n, tmp);
    return;
  }
  auto* x = static_cast<unsigned char*>(a);
  auto* y = static_cast<unsigned char*>(b);
  for (uint32_t i = 0; i < n; ++i) {
    const unsigned char t = x[i];
    x[i] = y[i];
    y[i] = t;
  }
}

bool ZorIsStackPtr(const void* p) {
  thread_local const StackBounds bounds = ReadStackBounds();
  const char here = 0;
  const char* top = &here;  // the stack grows down: live frames lie above
  const char* q = static_cast<const char*>(p);
  return q && q >= top && q < bounds.high;
}

static uint32_t ClampTo32(int64_t v) {
  return v > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(v < 0 ? 0 : v);
}

static uint64_t AddressSpaceLimit(platform::Env& env) {
  uint64_t limit = UINT64_MAX;
  if (env.AddressSpaceLimit(&limit) == 0 && limit != UINT64_MAX) return limit;
  return uint64_t{1} << 47;
}

bool ZorGetMemInfo(sZorMemInfo* info) {
  platform::Env& env = platform::CurrentEnv();
  platform::MemoryFigures m;
  if (!info || env.GetMemoryFigures(&m) != 0) return false;
  info->totalPhys = static_cast<int64_t>(m.totalPhys);
  info->availPhys = static_cast<int64_t>(m.availPhys);
  info->totalSwap = static_cast<int64_t>(m.totalSwap);
  info->availSwap = static_cast<int64_t>(m.availSwap);
  info->memoryLoad = info->totalPhys
      ? static_cast<uint32_t>(100 - info->availPhys * 100 / info->totalPhys) : 0;
  info->processResident = std::max<int64_t>(m.resident, 0);
  info->processVirtual = std::max<int64_t>(m.virtualSize, 0);
  info->workingSet = ClampTo32(info->processResident);
  info->peakWorkingSet = ClampTo32(std::max<int64_t>(m.peakResident, 0));
  info->totalVirtual = AddressSpaceLimit(env);
  return true;
}

int64_t ZorSetMaxMem(int64_t max) { return max; }

}  // namespace zorvane
