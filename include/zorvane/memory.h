// The global allocator and the raw memory helpers.
//
// ZorMemAlloc, ZorMemRealloc and ZorMemFree are the one allocator that the
// library uses for raw memory (strings, handles, zlib). An allocation never
// returns null: when memory runs out it raises ZorEBasic (module 1, code 1).
// A block from ZorMemAlloc or ZorMemRealloc is freed with ZorMemFree only.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

ZOR_API void* ZorMemAlloc(uint32_t size);
ZOR_API void* ZorMemRealloc(void* p, uint32_t size);
ZOR_API void ZorMemFree(void* p);  // null is allowed

// Both return dst + n and do nothing when dst == src or n is 0. The ranges of
// ZorCopyMemory must not overlap; ZorMoveMemory allows it.
ZOR_API char* ZorCopyMemory(void* dst, const void* src, uint32_t n);
ZOR_API char* ZorMoveMemory(void* dst, const void* src, uint32_t n);
ZOR_API void ZorZeroMemory(void* p, uint32_t n);
ZOR_API void ZorFillMemory(void* p, uint32_t n, uint8_t byte);
// Byte comparison: negative, 0 or positive as memcmp.
ZOR_API int16_t ZorCmpMemory(const void* a, const void* b, uint32_t n);
// Exchanges two non-overlapping ranges of n bytes; the Buf form goes through
// the caller's buffer `tmp` of n bytes.
ZOR_API void ZorSwapMemory(void* a, void* b, uint32_t n);
ZOR_API void ZorSwapMemoryBuf(void* a, void* b, uint32_t n, void* tmp);

// True when p lies between the current stack position and the base of the
// stack of the calling thread.
ZOR_API bool ZorIsStackPtr(const void* p);

// Memory status of the machine and of the process, in bytes.
struct ZOR_API sZorMemInfo {
  // Address space the process may use: its RLIMIT_AS when one is set, else
  // the user half of the 48-bit x86-64 address space.
  uint64_t totalVirtual = 0;
  // Resident set and its peak, in bytes, clamped to 32 bits.
  uint32_t workingSet = 0;
  uint32_t peakWorkingSet = 0;
  // Further figures of the machine and the process.
  uint32_t memoryLoad = 0;   // percentage of physical memory in use
  int64_t totalPhys = 0;
  int64_t availPhys = 0;
  int64_t totalSwap = 0;
  int64_t availSwap = 0;
  int64_t processResident = 0;
  int64_t processVirtual = 0;
};
// Fills info; false when the system does not tell.
ZOR_API bool ZorGetMemInfo(sZorMemInfo* info);
// Kept for the interface: returns its argument.
ZOR_API int64_t ZorSetMaxMem(int64_t max);

}  // namespace zorvane
